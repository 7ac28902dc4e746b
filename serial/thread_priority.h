// Scheduling priority of the thread that drives the line. Platform-neutral interface; one file per system.
#pragma once

enum class PriorityRaise { RealTime, TimeCritical, Nice, None };  // TimeCritical: Windows

// Gives the calling thread, and only it, the highest priority the system allows this process: on POSIX the
// top real-time priority (or the highest the rtprio limit permits), else the lowest nice value permitted,
// else nothing; on Windows the time-critical priority. Never fails loudly: without the privilege the thread
// simply keeps the priority it had.
PriorityRaise raiseThreadPriority();
