#include "search/SiteIndex.h"

#include <shared_mutex>

#include "model/FTPSite.h"

void CSiteIndex::OnChildrenAdded(CFTPDir& dir)
{
    m_grown[&dir] = m_nEpoch.load();
    m_nChanges.fetch_add(1);
}

void CSiteIndex::OnEntryRemoved(CObject* pEntry, int nType)
{
    m_nChanges.fetch_add(1);
    // The folder's children are no longer those its signatures describe.
    CFTPDir* pParent = nType == 1 ? static_cast<CFTPDir*>(pEntry)->m_pParent
                                  : static_cast<CFTPFile*>(pEntry)->m_pParent;
    if (pParent != nullptr)
        m_grown[pParent] = m_nEpoch.load();
    if (nType != 1)
        return;
    std::vector<std::shared_ptr<CNameIndex>> indexes;
    if (m_pIndex != nullptr)
        indexes.push_back(m_pIndex);
    for (const auto& weak : m_retired)
    {
        if (auto pOld = weak.lock())
            indexes.push_back(std::move(pOld));
    }
    bool bBuilding = m_bBuilding.load();
    std::vector<CFTPDir*> stack{static_cast<CFTPDir*>(pEntry)};
    while (!stack.empty())
    {
        CFTPDir* pDir = stack.back();
        stack.pop_back();
        for (const auto& pIndex : indexes)
            pIndex->MarkRemoved(pDir);
        m_grown.erase(pDir);
        if (bBuilding)
            m_removedDuringBuild.push_back(pDir);
        for (const auto& pSub : pDir->m_dirList)
            stack.push_back(pSub.get());
    }
}

std::shared_ptr<CSiteIndex> GetSiteIndex(CFTPSite& site)
{
    {
        std::shared_lock lock(site.m_treeLock);
        if (auto pState = std::dynamic_pointer_cast<CSiteIndex>(site.m_pTreeListener))
            return pState;
    }
    std::unique_lock lock(site.m_treeLock);
    if (auto pState = std::dynamic_pointer_cast<CSiteIndex>(site.m_pTreeListener))
        return pState;
    auto pState = std::make_shared<CSiteIndex>();
    site.m_pTreeListener = pState;
    return pState;
}

bool BuildSiteIndex(CFTPSite& site, bool bTrigrams, const std::atomic<bool>* pStop)
{
    std::shared_ptr<CSiteIndex> pState = GetSiteIndex(site);
    std::lock_guard build(pState->m_buildLock);
    uint64_t nEpoch = 0;
    {
        // Changes from here on are the new index's to learn at the end.
        std::unique_lock lock(site.m_treeLock);
        nEpoch = pState->m_nEpoch.fetch_add(1) + 1;
        pState->m_bBuilding = true;
        pState->m_removedDuringBuild.clear();
        pState->m_nChanges = 0;
    }
    std::shared_ptr<CNameIndex> pIndex = CNameIndex::Build(site, bTrigrams, nEpoch, pStop);

    std::unique_lock lock(site.m_treeLock);
    pState->m_bBuilding = false;
    if (pIndex == nullptr)
    {
        pState->m_removedDuringBuild.clear();
        pState->m_nChanges.fetch_add(1); // still to be built
        return false;
    }
    for (const CFTPDir* pDir : pState->m_removedDuringBuild)
        pIndex->MarkRemoved(pDir);
    pState->m_removedDuringBuild.clear();
    std::erase_if(pState->m_retired, [](const auto& weak) { return weak.expired(); });
    if (pState->m_nSearches.load() == 0)
    {
        // Nobody holds the old index or the grown folders it needed.
        pState->m_retired.clear();
        std::erase_if(pState->m_grown, [nEpoch](const auto& item) { return item.second < nEpoch; });
    }
    else if (pState->m_pIndex != nullptr)
        pState->m_retired.push_back(pState->m_pIndex);
    pState->m_pIndex = std::move(pIndex);
    return true;
}
