#pragma once
// The window benchmarks' measure of a responsive GUI thread: the largest gap
// between two ticks of a 10 ms timer while it runs.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <ctime>

class CStallMeter : public QObject
{
public:
    CStallMeter()
    {
        m_timer.setInterval(10);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this,
                [this]
                {
                    qint64 nGap = m_clock.restart();
                    double dCpu = ThreadCpuMs();
                    if (nGap > m_nLargest)
                    {
                        m_nLargest = nGap;
                        m_dLargestCpu = dCpu - m_dLastCpu;
                    }
                    m_dLastCpu = dCpu;
                });
        m_clock.start();
        m_dLastCpu = ThreadCpuMs();
        m_timer.start();
    }
    qint64 Largest() const { return m_nLargest; }
    // How much of the largest gap the GUI thread itself worked: far less
    // than the gap means it was waiting for a core, not busy.
    double LargestGapCpuMs() const { return m_dLargestCpu; }

private:
    static double ThreadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_nLargest = 0;
    double m_dLastCpu = 0;
    double m_dLargestCpu = 0;
};
