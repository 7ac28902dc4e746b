// Scheduling priority of the thread that drives the line. Platform-neutral interface; one file per system.
#pragma once

enum class PriorityRaise { TimeCritical, Nice, None };  // TimeCritical: Windows

// Gives the calling thread, and only it, the top of the normal scheduling class that the process may take:
// on POSIX the lowest nice value its limits allow (down to -20), never a real-time policy; on Windows the
// time-critical priority of the process's class. Never fails loudly: without the right the thread simply
// keeps the priority it had.
PriorityRaise raiseThreadPriority();
