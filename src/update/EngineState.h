#pragma once
// The update engine's process-wide state, shared by the GUI thread, the
// dispatcher and every worker. The flags and counters are atomics; the task
// queue and the session map are guarded by g_engineLock.

#include <atomic>
#include <cstdint>

// 1 once a stop was requested (stop command, closing); 0 after an update command.
extern std::atomic<int32_t> g_bStopUpdate;
// Most workers that may run at once (1 to 500; 5 at every start).
extern std::atomic<uint32_t> g_nThreadLimit;
// Workers that have begun and not yet ended.
extern std::atomic<uint32_t> g_nRunning;
// 1 while a dispatcher thread runs.
extern std::atomic<bool> g_bDispatching;
