#include "ui/WindowObserver.h"

#include <QThread>

#include "doc/Ancestry.h"

CWindowObserver::CWindowObserver(std::function<void(CFTPSite*)> onSite,
                                 std::function<void(const CSubtreeSet&)> onRemoved,
                                 QObject* pParent)
    : QObject(pParent), m_onSite(std::move(onSite)), m_onRemoved(std::move(onRemoved))
{
}

// Entries still waiting here were never shown after their removal was
// handled, or the engine is gone: they are freed with the queue.
CWindowObserver::~CWindowObserver() = default;

bool CWindowObserver::IsGuiThread() const
{
    return QThread::currentThread() == thread();
}

uint64_t CWindowObserver::Enqueue(CNotice notice, bool bSent)
{
    bool bAsk = false;
    uint64_t nTicket = 0;
    {
        std::lock_guard lock(m_lock);
        if (bSent)
            nTicket = notice.nTicket = m_nNextTicket++;
        m_queue.push_back(std::move(notice));
        bAsk = !m_bDrainQueued;
        m_bDrainQueued = true;
    }
    // One queued call drains whatever has arrived by the time it runs.
    if (bAsk)
        QMetaObject::invokeMethod(this, &CWindowObserver::Drain, Qt::QueuedConnection);
    return nTicket;
}

void CWindowObserver::PostSiteUpdated(CFTPSite* pSite)
{
    CNotice notice;
    notice.pSite = pSite;
    Enqueue(std::move(notice), false);
}

void CWindowObserver::SendSiteUpdated(CFTPSite* pSite)
{
    CNotice notice;
    notice.pSite = pSite;
    uint64_t nTicket = Enqueue(std::move(notice), true);
    if (IsGuiThread())
    {
        Drain(); // waiting for ourselves would never end
        return;
    }
    std::unique_lock lock(m_lock);
    m_cvHandled.wait(lock, [&] { return m_nHandledTicket >= nTicket; });
}

void CWindowObserver::PostEntryRemoved(CObject* pEntry, int nType)
{
    (void)nType; // the entry's own class tells
    CNotice notice;
    notice.nKind = CNotice::removed;
    notice.pEntry = pEntry;
    Enqueue(std::move(notice), false);
}

void CWindowObserver::DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries)
{
    CNotice notice;
    notice.nKind = CNotice::dispose;
    notice.entries = std::move(entries);
    Enqueue(std::move(notice), false);
}

void CWindowObserver::Drain()
{
    std::deque<CNotice> notices;
    {
        std::lock_guard lock(m_lock);
        notices.swap(m_queue);
        m_bDrainQueued = false;
    }
    for (CNotice& notice : notices)
    {
        switch (notice.nKind)
        {
        case CNotice::removed:
            m_removed.push_back(notice.pEntry);
            break;
        case CNotice::dispose:
            if (!m_removed.empty())
            {
                // Every removal announced so far, in one pass over each view.
                CSubtreeSet removed;
                for (CObject* pEntry : m_removed)
                    removed.Add(pEntry);
                m_removed.clear();
                m_onRemoved(removed);
            }
            notice.entries.clear(); // nothing points into them any more
            break;
        case CNotice::site:
            m_onSite(notice.pSite);
            break;
        }
        if (notice.nTicket != 0)
        {
            std::lock_guard lock(m_lock);
            m_nHandledTicket = std::max(m_nHandledTicket, notice.nTicket);
            m_cvHandled.notify_all();
        }
    }
}
