#pragma once
// The progress of an update run as the status bar shows it: "更新%d/%d" on
// every tick of a one-second timer, then "更新完成" once the engine is idle.
//
// Threads: the GUI thread (or the command line's main thread) only.

#include <string>

class CUpdateProgress
{
public:
    // Sites counted into the current run.
    int m_nUpdateTotal = 0;

    // Whether the one-second timer should run; update commands switch it on,
    // the tick that finds the engine idle switches it off.
    bool IsTimerActive() const { return m_bTimerActive; }
    void StartTimer() { m_bTimerActive = true; }

    // One timer tick: the text for the progress pane. When the engine is
    // idle the run ends: the timer stops and the total starts again at 0, so
    // it never carries over into a later run.
    std::string OnTimer();

private:
    bool m_bTimerActive = false;
};
