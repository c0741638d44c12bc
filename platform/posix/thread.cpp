#include "platform/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace gifanim::platform {

void lower_thread_priority() {
#ifdef __linux__
    // On Linux a thread's nice value is its own: PRIO_PROCESS with a thread id changes only that
    // thread. Five steps give the other threads about three times its share when all are busy.
    const auto tid = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno != 0) return;
    setpriority(PRIO_PROCESS, tid, std::min(nice + 5, 19));
#endif
}

}  // namespace gifanim::platform
