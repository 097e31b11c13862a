#include "update/EngineState.h"

std::atomic<int32_t> g_bStopUpdate{0};
std::atomic<uint32_t> g_nThreadLimit{5};
std::atomic<uint32_t> g_nRunning{0};
std::atomic<bool> g_bDispatching{false};
