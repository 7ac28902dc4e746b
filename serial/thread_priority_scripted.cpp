// The scripted line's priority raise: nothing to raise in tests and fuzzing.
#include "serial/thread_priority.h"

// A scripted line has no timing to keep: its sessions (thousands of them under a fuzzer) run at the priority
// they were started with, so a runaway one cannot take a processor from the machine.
PriorityRaise raiseThreadPriority() {
    return PriorityRaise::None;
}
