#include "cli/CliSignals.h"

#include <atomic>
#include <pthread.h>

namespace
{
std::atomic<int> g_nInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

constexpr int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int)
{
    g_nInterrupts.fetch_add(1);
}
} // namespace

void InstallInterruptHandlers()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int nSignal : INTERRUPT_SIGNALS)
        sigaction(nSignal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int GetInterruptCount()
{
    return g_nInterrupts.load();
}

CBlockInterrupts::CBlockInterrupts()
{
    sigset_t set;
    sigemptyset(&set);
    for (int nSignal : INTERRUPT_SIGNALS)
        sigaddset(&set, nSignal);
    pthread_sigmask(SIG_BLOCK, &set, &m_old);
}

CBlockInterrupts::~CBlockInterrupts()
{
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}
