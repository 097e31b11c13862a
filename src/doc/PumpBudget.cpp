#include "doc/PumpBudget.h"

void CPumpBudget::Start()
{
    m_bStop = false;
    m_nCountdown = m_nCheckEvery;
    m_lastPump = std::chrono::steady_clock::now();
}

bool CPumpBudget::Pump()
{
    if (m_bStop)
        return false;
    bool bGoOn = m_host.PumpWaitingMessages();
    m_lastPump = std::chrono::steady_clock::now();
    m_nCountdown = m_nCheckEvery;
    if (!bGoOn)
        m_bStop = true;
    // A stop requested while the host pumped counts at once.
    return !m_bStop;
}

void CPumpBudget::SetInterval(std::chrono::nanoseconds interval)
{
    m_interval = interval;
    m_nCheckEvery = interval.count() <= 0 ? 1 : 256;
    m_nCountdown = m_nCheckEvery;
}

bool CPumpBudget::IsDue()
{
    m_nCountdown = m_nCheckEvery;
    return m_interval.count() <= 0 || std::chrono::steady_clock::now() - m_lastPump >= m_interval;
}
