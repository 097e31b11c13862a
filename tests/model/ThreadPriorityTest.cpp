// A thread that gives way runs five steps below the main thread, however
// nice the program was started, and asking again takes it no further (nor a
// thread it starts, which asks for itself).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "model/ThreadPriority.h"

namespace
{
int NiceOf(pid_t nThread)
{
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(nThread));
}

// Whether threads that give way end where they should; the failures are
// printed.
bool GivingWayWorks()
{
    const int nMain = NiceOf(::getpid());
    const int nWanted = std::min(nMain + 5, 19);
    int nOnce = 0;
    int nTwice = 0;
    int nChild = 0;
    std::thread(
        [&]
        {
            GiveWayToOtherThreads();
            nOnce = NiceOf(::gettid());
            GiveWayToOtherThreads();
            nTwice = NiceOf(::gettid());
            std::thread(
                [&]
                {
                    GiveWayToOtherThreads();
                    nChild = NiceOf(::gettid());
                })
                .join();
        })
        .join();
    bool bOk = nOnce == nWanted && nTwice == nWanted && nChild == nWanted &&
               NiceOf(::getpid()) == nMain;
    if (!bOk)
        std::fprintf(stderr, "main %d: once %d, twice %d, child %d (wanted %d)\n", nMain, nOnce,
                     nTwice, nChild, nWanted);
    return bOk;
}
} // namespace

TEST(ThreadPriorityTest, FiveStepsBelowTheMainThreadAndNoFurther)
{
    EXPECT_TRUE(GivingWayWorks());
}

// Started with nice (as the benchmarks are): the order is the same. In a
// child process, whose niceness cannot be taken back.
TEST(ThreadPriorityTest, AProgramStartedNicedKeepsTheOrder)
{
    EXPECT_EXIT(
        {
            (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()),
                                NiceOf(::getpid()) + 3);
            std::_Exit(GivingWayWorks() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
