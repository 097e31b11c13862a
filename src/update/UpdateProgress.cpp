#include "update/UpdateProgress.h"

#include <cstdio>

#include "update/UpdateEngine.h"

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
        m_bTimerActive = false;
        m_nUpdateTotal = 0;
        return "更新完成";
    }
    char szText[64];
    std::snprintf(szText, sizeof(szText), "更新%d/%d", m_nUpdateTotal - nWaiting - nRunning,
                  m_nUpdateTotal);
    return szText;
}
