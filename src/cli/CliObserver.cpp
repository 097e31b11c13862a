#include "cli/CliObserver.h"

#include "doc/Ancestry.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"

CCliObserver::CCliObserver(CTarnDoc& doc, SiteHandler onSite)
    : m_doc(doc), m_onSite(std::move(onSite))
{
}

CSiteNotice CCliObserver::Snapshot(CFTPSite* pSite) const
{
    CSiteNotice notice;
    notice.pSite = pSite;
    notice.strText = pSite->GetStatusText();
    notice.nStatus = pSite->m_nStatus.load();
    notice.nUnreadable = pSite->m_nUnreadableLines.load();
    notice.nRefused = pSite->GetRefusedCount();
    return notice;
}

uint64_t CCliObserver::Enqueue(CNotice notice)
{
    std::lock_guard lock(m_lock);
    uint64_t nTicket = 0;
    if (notice.nTicket != 0)
        nTicket = notice.nTicket = m_nNextTicket++;
    m_queue.push_back(std::move(notice));
    m_cvQueued.notify_one();
    return nTicket;
}

void CCliObserver::PostSiteUpdated(CFTPSite* pSite)
{
    CNotice notice;
    notice.siteNotice = Snapshot(pSite);
    Enqueue(std::move(notice));
}

void CCliObserver::SendSiteUpdated(CFTPSite* pSite)
{
    CNotice notice;
    notice.siteNotice = Snapshot(pSite);
    notice.nTicket = 1; // replaced by the real ticket
    uint64_t nTicket = Enqueue(std::move(notice));
    std::unique_lock lock(m_lock);
    m_cvHandled.wait(lock, [&] { return m_nHandledTicket >= nTicket; });
}

void CCliObserver::PostEntryRemoved(CObject* pEntry, int nType)
{
    CNotice notice;
    notice.nKind = CNotice::removed;
    notice.pEntry = pEntry;
    notice.nType = nType;
    Enqueue(std::move(notice));
}

void CCliObserver::DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries)
{
    CNotice notice;
    notice.nKind = CNotice::dispose;
    notice.entries = std::move(entries);
    Enqueue(std::move(notice));
}

void CCliObserver::HandleWaiting(std::chrono::milliseconds wait)
{
    std::deque<CNotice> notices;
    {
        std::unique_lock lock(m_lock);
        m_cvQueued.wait_for(lock, wait, [&] { return !m_queue.empty(); });
        notices.swap(m_queue);
    }
    // Removals that follow each other are forgotten in one pass, before the
    // next notice (a dispose frees them) is handled.
    CSubtreeSet removed;
    auto forgetRemoved = [&]
    {
        m_doc.ForgetEntries(removed);
        removed = CSubtreeSet();
    };
    for (CNotice& notice : notices)
    {
        if (notice.nKind == CNotice::removed)
        {
            removed.Add(notice.pEntry);
            continue;
        }
        forgetRemoved();
        if (notice.nKind == CNotice::site)
            m_onSite(notice.siteNotice);
        else
            notice.entries.clear(); // nothing points into them any more
        if (notice.nTicket != 0)
        {
            std::lock_guard lock(m_lock);
            m_nHandledTicket = notice.nTicket;
            m_cvHandled.notify_all();
        }
    }
    forgetRemoved();
}
