#include "model/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

void GiveWayToOtherThreads()
{
    // A Linux thread has a niceness of its own; failing to change it only
    // costs the window some smoothness. Five steps below the main thread's,
    // whatever that is: a program started with nice keeps the same order.
    errno = 0;
    int nMain = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    if (errno != 0)
        return;
    auto nThread = static_cast<id_t>(::gettid());
    int nNice = ::getpriority(PRIO_PROCESS, nThread);
    int nWanted = std::min(nMain + 5, 19);
    if (errno == 0 && nNice < nWanted)
        (void)::setpriority(PRIO_PROCESS, nThread, nWanted);
}
