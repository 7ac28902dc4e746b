// Raising the calling thread's priority on POSIX.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/thread_priority.h"

namespace {

bool realTime(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    return priority > 0 && ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace

PriorityRaise raiseThreadPriority() {
    // CAP_SYS_NICE allows the top priority; otherwise the rtprio limit (limits.conf) is the ceiling.
    const int top = ::sched_get_priority_max(SCHED_FIFO);
    if (realTime(top)) return PriorityRaise::RealTime;
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0 &&
        realTime(static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(top)))))
        return PriorityRaise::RealTime;

    // Linux keeps a nice value per thread: setting it by thread id leaves the rest of the process alone.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, self);
    if (errno != 0) return PriorityRaise::None;
    if (::setpriority(PRIO_PROCESS, self, -20) == 0) return PriorityRaise::Nice;
    // Without the capability the nice limit allows down to 20 - limit.
    if (::getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const int lowest = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
        if (lowest < current && ::setpriority(PRIO_PROCESS, self, lowest) == 0) return PriorityRaise::Nice;
    }
    return PriorityRaise::None;
}
