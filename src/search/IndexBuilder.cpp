#include "search/IndexBuilder.h"

#include <algorithm>
#include <shared_mutex>

#include "model/FTPSite.h"
#include "search/SiteIndex.h"

CIndexBuilder::CIndexBuilder() : m_thread([this] { Run(); }) {}

CIndexBuilder::~CIndexBuilder()
{
    {
        std::lock_guard lock(m_lock);
        m_bQuit = true;
        m_bStopBuild = true;
    }
    m_cv.notify_all();
    m_thread.join();
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
    if (m_pBuilding == pSite)
    {
        m_bStopBuild = true;
        m_cv.wait(lock, [&] { return m_pBuilding != pSite; });
    }
}

bool CIndexBuilder::IsIdle()
{
    std::lock_guard lock(m_lock);
    return m_queue.empty() && m_pBuilding == nullptr;
}

void CIndexBuilder::WaitIdle()
{
    std::unique_lock lock(m_lock);
    m_cv.wait(lock, [&] { return m_queue.empty() && m_pBuilding == nullptr; });
}

void CIndexBuilder::Run()
{
    std::unique_lock lock(m_lock);
    for (;;)
    {
        m_cv.wait(lock, [&] { return m_bQuit || !m_queue.empty(); });
        if (m_bQuit)
            return;
        CFTPSite* pSite = m_queue.front();
        m_queue.pop_front();
        m_pBuilding = pSite;
        m_bStopBuild = false;
        lock.unlock();

        pSite->EnsureLoaded();
        std::shared_ptr<CSiteIndex> pState = GetSiteIndex(*pSite);
        bool bNeeded = pState->m_nChanges.load() > 0;
        {
            std::shared_lock treeLock(pSite->m_treeLock);
            bNeeded = bNeeded || pState->m_pIndex == nullptr || !pState->m_pIndex->HasTrigrams() ||
                      !(pState->m_pIndex->Codec() == pSite->GetCodec());
        }
        if (bNeeded && !m_bStopBuild.load())
            (void)BuildSiteIndex(*pSite, true, &m_bStopBuild);

        lock.lock();
        m_pBuilding = nullptr;
        m_cv.notify_all();
    }
}
