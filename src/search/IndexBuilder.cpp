#include "search/IndexBuilder.h"

#include <algorithm>
#include <shared_mutex>

#include "model/FTPSite.h"
#include "model/ThreadPriority.h"
#include "search/NameSearch.h"
#include "search/SiteIndex.h"

CIndexBuilder::CIndexBuilder()
{
    size_t nThreads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, THREADS);
    for (size_t i = 0; i < nThreads; ++i)
        m_workers.push_back(std::make_unique<CWorker>());
    for (auto& pWorker : m_workers)
        pWorker->thread = std::thread([this, &worker = *pWorker] { Run(worker); });
}

CIndexBuilder::~CIndexBuilder()
{
    {
        std::lock_guard lock(m_lock);
        m_bQuit = true;
        for (auto& pWorker : m_workers)
            pWorker->bStop = true;
    }
    m_cv.notify_all();
    for (auto& pWorker : m_workers)
        pWorker->thread.join();
}

void CIndexBuilder::Request(CFTPSite* pSite)
{
    {
        std::lock_guard lock(m_lock);
        if (std::find(m_queue.begin(), m_queue.end(), pSite) != m_queue.end())
            return;
        m_queue.push_back(pSite);
    }
    m_cv.notify_all();
}

void CIndexBuilder::Forget(CFTPSite* pSite)
{
    std::unique_lock lock(m_lock);
    std::erase(m_queue, pSite);
    for (auto& pWorker : m_workers)
    {
        if (pWorker->pBuilding == pSite)
            pWorker->bStop = true;
    }
    m_cv.wait(lock, [&] { return !IsBuilding(pSite); });
}

bool CIndexBuilder::IsIdle()
{
    std::lock_guard lock(m_lock);
    return m_queue.empty() && !IsBuilding(nullptr);
}

void CIndexBuilder::WaitIdle()
{
    std::unique_lock lock(m_lock);
    m_cv.wait(lock, [&] { return m_queue.empty() && !IsBuilding(nullptr); });
}

// m_lock held. pSite null: any site.
bool CIndexBuilder::IsBuilding(const CFTPSite* pSite) const
{
    return std::any_of(m_workers.begin(), m_workers.end(),
                       [pSite](const auto& pWorker) {
                           return pWorker->pBuilding != nullptr &&
                                  (pSite == nullptr || pWorker->pBuilding == pSite);
                       });
}

// m_lock held.
CFTPSite* CIndexBuilder::TakeNext()
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
    {
        if (!IsBuilding(*it))
        {
            CFTPSite* pSite = *it;
            m_queue.erase(it);
            return pSite;
        }
    }
    return nullptr;
}

void CIndexBuilder::Run(CWorker& worker)
{
    GiveWayToOtherThreads();
    std::unique_lock lock(m_lock);
    for (;;)
    {
        CFTPSite* pSite = nullptr;
        m_cv.wait(lock, [&] { return m_bQuit || (pSite = TakeNext()) != nullptr; });
        if (m_bQuit)
        {
            if (pSite != nullptr)
                m_queue.push_front(pSite);
            return;
        }
        worker.pBuilding = pSite;
        worker.bStop = false;
        lock.unlock();

        pSite->EnsureLoaded();
        std::shared_ptr<CSiteIndex> pState = GetSiteIndex(*pSite);
        bool bNeeded = pState->m_nChanges.load() > 0;
        {
            std::shared_lock treeLock(pSite->m_treeLock);
            bNeeded = bNeeded || pState->m_pIndex == nullptr || !pState->m_pIndex->HasTrigrams() ||
                      !(pState->m_pIndex->Codec() == pSite->GetCodec());
        }
        if (bNeeded && !worker.bStop.load())
            (void)BuildSiteIndex(*pSite, true, &worker.bStop);

        lock.lock();
        worker.pBuilding = nullptr;
        if (m_queue.empty())
        {
            // Nothing more to build for now: the working memory goes.
            lock.unlock();
            ReleaseIndexScratch();
            lock.lock();
        }
        m_cv.notify_all();
    }
}
