// Raising the calling thread's priority on Windows.
#include <windows.h>

#include "serial/thread_priority.h"

// Windows has the priority for this: the highest of the process's class, for this thread alone.
PriorityRaise raiseThreadPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) ? PriorityRaise::TimeCritical
                                                                                : PriorityRaise::None;
}
