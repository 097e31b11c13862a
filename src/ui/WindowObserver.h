#pragma once
// The update engine's notices, brought to the GUI thread. Workers and the
// dispatcher only queue (under a mutex) and ask for one queued call to drain
// the queue; the GUI thread then handles everything waiting in one go, in
// order. Removed entries are collected into one set until the merge that
// removed them hands them over (DisposeRemoved): then every view lets go of
// them (onRemoved) and only after that are they freed. A sent site notice
// blocks its sender until the GUI thread has handled it; every event loop
// handles it, a modal dialog's too.
//
// Threads: the four IUpdateObserver calls from any thread; Drain and the
// handlers on the GUI thread (the thread that owns this object).

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "update/UpdateObserver.h"

class CSubtreeSet;

class CWindowObserver : public QObject, public IUpdateObserver
{
    Q_OBJECT

public:
    // onSite: a site's status changed (the site may have been deleted
    // meanwhile: the handler checks). onRemoved: these subtrees are leaving
    // their trees; drop everything that points into them.
    CWindowObserver(std::function<void(CFTPSite*)> onSite,
                    std::function<void(const CSubtreeSet&)> onRemoved, QObject* pParent = nullptr);
    ~CWindowObserver() override;

    void PostSiteUpdated(CFTPSite* pSite) override;
    void SendSiteUpdated(CFTPSite* pSite) override;
    void PostEntryRemoved(CObject* pEntry, int nType) override;
    void DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries) override;

    // GUI thread: handles every notice that is waiting.
    void Drain();

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
        CFTPSite* pSite = nullptr;
        CObject* pEntry = nullptr;
        std::vector<std::unique_ptr<CObject>> entries;
        uint64_t nTicket = 0; // a sent notice: its sender waits for it
    };

    // Queues the notice; returns its ticket (0 unless bSent).
    uint64_t Enqueue(CNotice notice, bool bSent);
    bool IsGuiThread() const;

    std::function<void(CFTPSite*)> m_onSite;
    std::function<void(const CSubtreeSet&)> m_onRemoved;
    std::mutex m_lock;
    std::condition_variable m_cvHandled;
    std::deque<CNotice> m_queue;
    bool m_bDrainQueued = false;
    uint64_t m_nNextTicket = 1;
    uint64_t m_nHandledTicket = 0;
    // Removal notices seen since the last hand-over (GUI thread).
    std::vector<CObject*> m_removed;
};
