#pragma once
// An update observer for tests that behaves like the window: every notice is
// handled on a thread of its own, in order; SendSiteUpdated waits for its
// handling; removed entries are freed there after their notices.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/UpdateObserver.h"

class CRecordingObserver : public IUpdateObserver
{
public:
    struct CEvent
    {
        CFTPSite* pSite = nullptr;
        std::string strStatus;
        int nStatus = 0;
        bool bSent = false;
    };

    CRecordingObserver();
    ~CRecordingObserver() override;

    void PostSiteUpdated(CFTPSite* pSite) override;
    void SendSiteUpdated(CFTPSite* pSite) override;
    void PostEntryRemoved(CObject* pEntry, int nType) override;
    void DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries) override;

    // Site notices as handled: the site's status at handling time.
    std::vector<CEvent> GetEvents() const;
    std::vector<std::string> GetStatuses(const CFTPSite* pSite) const;
    int CountRemoved() const;
    // Waits until everything posted so far has been handled.
    void Drain();

private:
    void Run();
    void Enqueue(std::function<void()> fn);

    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    std::vector<CEvent> m_events;
    int m_nRemoved = 0;
    bool m_bQuit = false;
    std::thread m_thread;
};
