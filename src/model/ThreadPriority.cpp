#include "model/ThreadPriority.h"

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

void GiveWayToOtherThreads()
{
    // A Linux thread has a niceness of its own; failing to change it only
    // costs the window some smoothness.
    auto nThread = static_cast<id_t>(::gettid());
    errno = 0;
    int nNice = ::getpriority(PRIO_PROCESS, nThread);
    if (errno == 0 && nNice < 5)
        (void)::setpriority(PRIO_PROCESS, nThread, 5);
}
