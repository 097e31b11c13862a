#pragma once
// Interrupts of tarn-cli: SIGINT (Ctrl-C), SIGTERM (a polite kill) and
// SIGHUP (the terminal or SSH session went away) each count once. The first
// one stops an update the way the stop command does, so what was merged is
// saved; a second one closes every session at once. SIGPIPE is ignored so
// that a closed pipe is a write error, not a kill in the middle of a save.
//
// Threads: the handlers only touch an atomic counter; any thread may read it.
// Engine threads are started with the signals blocked (CBlockInterrupts), so
// the main thread is the one that receives them.

#include <csignal>

void InstallInterruptHandlers();
// Interrupts received so far.
int GetInterruptCount();

// Blocks the interrupt signals in the calling thread while it lives, so the
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
