#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace signetrix::platform {

ThreadScheduling adjustCurrentThreadNice(int increment)
{
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && increment != 0) ::setpriority(PRIO_PROCESS, tid, std::clamp(base + increment, -20, 19));
    return {::getpriority(PRIO_PROCESS, tid), ::sched_getscheduler(0)};
}

} // namespace signetrix::platform
