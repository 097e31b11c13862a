#pragma once
// Keeps the window alive during long walks without paying for an event-loop
// round trip per entry: a walk ticks once per entry, and only when about
// 10 ms have passed since the last pump does it give up its tree lock and
// let the host dispatch events.
//
// Thread: the GUI thread (owned by the document).

#include <chrono>

#include "doc/DocHost.h"

class CPumpBudget
{
public:
    explicit CPumpBudget(IDocHost& host) : m_host(host) {}

    // A new walk: forgets an old stop and starts the clock.
    void Start();
    // Once per entry; true when the walk should pump now.
    bool Tick()
    {
        if (--m_nCountdown > 0)
            return false;
        return IsDue();
    }
    // Pumps the host now. Once it answered false (stop or quit), every later
    // call answers false too, until the next Start.
    [[nodiscard]] bool Pump();
    void RequestStop() { m_bStop = true; }
    bool IsStopped() const { return m_bStop; }

    // Zero pumps at every entry (tests); the default is 10 ms.
    void SetInterval(std::chrono::nanoseconds interval);

private:
    bool IsDue();

    IDocHost& m_host;
    std::chrono::nanoseconds m_interval = std::chrono::milliseconds(10);
    // Reading the clock costs as much as testing a few entries: look at it
    // only every m_nCheckEvery ticks.
    int m_nCheckEvery = 256;
    int m_nCountdown = 256;
    std::chrono::steady_clock::time_point m_lastPump = std::chrono::steady_clock::now();
    bool m_bStop = false;
};
