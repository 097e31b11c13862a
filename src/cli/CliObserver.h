#pragma once
// The update engine's observer without a window. Workers and the dispatcher
// hand their notices over; the main thread handles them in order
// (HandleWaiting): a site notice goes to the status callback, a removed
// entry is taken out of the document (CTarnDoc::ForgetEntries) and freed after
// its notices, exactly as the window does it.
//
// Each site notice carries the status as it was when it was posted, so a
// quick sequence of changes is reported change by change.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "update/UpdateObserver.h"

class CTarnDoc;

struct CSiteNotice
{
    CFTPSite* pSite = nullptr;
    int32_t nStatus = 0;
    std::string strText;
    uint64_t nUnreadable = 0; // listing lines of this run the parser could not read
    uint64_t nRefused = 0;    // folders of this run that could not be entered or listed
};

class CCliObserver : public IUpdateObserver
{
public:
    using SiteHandler = std::function<void(const CSiteNotice&)>;

    CCliObserver(CTarnDoc& doc, SiteHandler onSite);

    void PostSiteUpdated(CFTPSite* pSite) override;
    void SendSiteUpdated(CFTPSite* pSite) override;
    void PostEntryRemoved(CObject* pEntry, int nType) override;
    void DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries) override;

    // Main thread: waits up to wait for a notice, then handles every notice
    // that is waiting.
    void HandleWaiting(std::chrono::milliseconds wait);

private:
    struct CNotice
    {
        enum Kind
        {
            site,
            removed,
            dispose,
        };
        Kind nKind = site;
        CSiteNotice siteNotice;
        CObject* pEntry = nullptr;
        int nType = 0;
        std::vector<std::unique_ptr<CObject>> entries;
        uint64_t nTicket = 0; // a sent notice: its sender waits for it
    };

    uint64_t Enqueue(CNotice notice);
    CSiteNotice Snapshot(CFTPSite* pSite) const;

    CTarnDoc& m_doc;
    SiteHandler m_onSite;
    std::mutex m_lock;
    std::condition_variable m_cvQueued;
    std::condition_variable m_cvHandled;
    std::deque<CNotice> m_queue;
    uint64_t m_nNextTicket = 1;
    uint64_t m_nHandledTicket = 0; // sent notices are handled in ticket order
};
