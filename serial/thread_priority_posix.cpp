#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/thread_priority.h"

// The worker sleeps in its reads and writes: the top of the normal class is all it needs. A real-time thread
// would outrank the kernel's threaded interrupt handlers (the one that delivers the phone's bytes among
// them) and has no time limit should it ever run away.
PriorityRaise raiseThreadPriority() {
    // Linux keeps a nice value per thread: setting it by thread id leaves the rest of the process alone.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, self);
    if (errno != 0) return PriorityRaise::None;
    // CAP_SYS_NICE allows -20; without it the nice limit (limits.conf `nice`) allows down to 20 - limit.
    if (::setpriority(PRIO_PROCESS, self, -20) == 0) return PriorityRaise::Nice;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const int lowest = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
        if (lowest < current && ::setpriority(PRIO_PROCESS, self, lowest) == 0) return PriorityRaise::Nice;
    }
    return PriorityRaise::None;
}
