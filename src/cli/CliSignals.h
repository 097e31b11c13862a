#pragma once
// Interrupts of tarn-cli: SIGINT is counted (the first one stops an update,
// the second one closes every session at once), SIGTERM counts as two.
// SIGPIPE is ignored so that a closed pipe is a write error, not a kill in
// the middle of a save.
//
// Threads: the handlers only touch an atomic counter; any thread may read it.
// Engine threads are started with the signals blocked (CBlockInterrupts), so
// the main thread is the one that receives them.

#include <csignal>

void InstallInterruptHandlers();
// Interrupts received so far.
int GetInterruptCount();

// Blocks SIGINT and SIGTERM in the calling thread while it lives, so the
// threads it starts inherit a mask without them.
class CBlockInterrupts
{
public:
    CBlockInterrupts();
    ~CBlockInterrupts();
    CBlockInterrupts(const CBlockInterrupts&) = delete;
    CBlockInterrupts& operator=(const CBlockInterrupts&) = delete;

private:
    sigset_t m_old;
};
