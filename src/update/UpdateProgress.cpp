#include "update/UpdateProgress.h"

#include <cstdio>

#include "update/UpdateEngine.h"

void CUpdateProgress::StartTimer()
{
    if (m_fnTimerSwitch)
        m_fnTimerSwitch(true);
}

std::string CUpdateProgress::OnTimer()
{
    int nWaiting;
    {
        std::lock_guard lock(g_engineLock);
        nWaiting = static_cast<int>(g_taskQueue.size());
    }
    int nRunning = static_cast<int>(g_nRunning.load());
    if (nRunning == 0 && nWaiting == 0)
    {
        m_nUpdateTotal = 0;
        if (m_fnTimerSwitch)
            m_fnTimerSwitch(false);
        return "更新完成";
    }
    char szText[64];
    std::snprintf(szText, sizeof(szText), "更新%d/%d", m_nUpdateTotal - nWaiting - nRunning,
                  m_nUpdateTotal);
    return szText;
}
