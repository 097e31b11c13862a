#include "support/RecordingObserver.h"

#include <future>

#include "model/FTPSite.h"

CRecordingObserver::CRecordingObserver() : m_thread([this] { Run(); }) {}

CRecordingObserver::~CRecordingObserver()
{
    {
        std::lock_guard lock(m_lock);
        m_bQuit = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void CRecordingObserver::Run()
{
    std::unique_lock lock(m_lock);
    for (;;)
    {
        m_cv.wait(lock, [this] { return m_bQuit || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        auto fn = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        fn();
        lock.lock();
    }
}

void CRecordingObserver::Enqueue(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back(std::move(fn));
    }
    m_cv.notify_all();
}

// The status is taken when the notice is posted: a worker may change it
// again before the notice is handled, and the tests check every step.
void CRecordingObserver::PostSiteUpdated(CFTPSite* pSite)
{
    CEvent event{pSite, pSite->GetStatusText(), pSite->m_nStatus.load(), false};
    Enqueue([this, event] {
        std::lock_guard lock(m_lock);
        m_events.push_back(event);
    });
}

void CRecordingObserver::SendSiteUpdated(CFTPSite* pSite)
{
    std::promise<void> done;
    CEvent event{pSite, pSite->GetStatusText(), pSite->m_nStatus.load(), true};
    Enqueue([this, event, &done] {
        {
            std::lock_guard lock(m_lock);
            m_events.push_back(event);
        }
        done.set_value();
    });
    done.get_future().wait();
}

void CRecordingObserver::PostEntryRemoved(CObject* pEntry, int nType)
{
    (void)pEntry;
    (void)nType;
    Enqueue([this] {
        std::lock_guard lock(m_lock);
        ++m_nRemoved;
    });
}

void CRecordingObserver::DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries)
{
    auto pEntries = std::make_shared<std::vector<std::unique_ptr<CObject>>>(std::move(entries));
    Enqueue([pEntries] { pEntries->clear(); });
}

std::vector<CRecordingObserver::CEvent> CRecordingObserver::GetEvents() const
{
    std::lock_guard lock(m_lock);
    return m_events;
}

std::vector<std::string> CRecordingObserver::GetStatuses(const CFTPSite* pSite) const
{
    std::vector<std::string> out;
    for (const CEvent& event : GetEvents())
        if (event.pSite == pSite)
            out.push_back(event.strStatus);
    return out;
}

int CRecordingObserver::CountRemoved() const
{
    std::lock_guard lock(m_lock);
    return m_nRemoved;
}

void CRecordingObserver::Drain()
{
    std::promise<void> done;
    Enqueue([&done] { done.set_value(); });
    done.get_future().wait();
}
