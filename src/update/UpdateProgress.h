#pragma once
// The progress of an update run as the status bar shows it: "更新%d/%d" on
// every tick of the host's timer, then "更新完成" once the engine is idle.
//
// Threads: the GUI thread (or the command line's main thread) only.

#include <functional>
#include <string>

class CUpdateProgress
{
public:
    // Sites counted into the current run.
    int m_nUpdateTotal = 0;

    // The host's one-second timer: switched on (true) when an update command
    // has queued sites, off (false) by the tick that finds the engine idle.
    // A host that ticks on its own needs none.
    void SetTimerSwitch(std::function<void(bool bRun)> fnSwitch)
    {
        m_fnTimerSwitch = std::move(fnSwitch);
    }
    // Called by the update commands.
    void StartTimer();

    // One timer tick: the text for the progress pane. When the engine is
    // idle the run ends: the timer stops and the total starts again at 0, so
    // it never carries over into a later run.
    std::string OnTimer();

private:
    std::function<void(bool bRun)> m_fnTimerSwitch;
};
