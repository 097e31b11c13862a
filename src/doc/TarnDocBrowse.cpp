// The document's browsing side: the folder on display, Back/Forward/Up
// history, and letting go of entries that leave their tree.

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "doc/TarnDoc.h"

namespace
{
CBrowseState FolderState(CFTPDir* pDir)
{
    CBrowseState state;
    state.m_pDir = pDir;
    return state;
}
} // namespace

void CTarnDoc::PushLimited(std::vector<std::unique_ptr<CBrowseState>>& list,
                           const CBrowseState& state)
{
    list.push_back(std::make_unique<CBrowseState>(state));
    if (list.size() > HISTORY_LIMIT)
        list.erase(list.begin());
}

void CTarnDoc::SetListing(CFTPDir* pDir)
{
    m_listDirs.clear();
    m_listFiles.clear();
    if (pDir == nullptr)
        return;
    CFTPSite* pSite = pDir->GetSite();
    if (pSite == nullptr)
        return;
    std::shared_lock lock(pSite->m_treeLock);
    m_listDirs.reserve(pDir->m_dirList.size());
    for (const auto& p : pDir->m_dirList)
        m_listDirs.push_back(p.get());
    m_listFiles.reserve(pDir->m_fileList.size());
    for (const auto& p : pDir->m_fileList)
        m_listFiles.push_back(p.get());
}

void CTarnDoc::NavigateTo(CFTPDir* pDir)
{
    if (m_pCurrent)
        PushLimited(m_backList, *m_pCurrent);
    if (!m_pCurrent)
        m_pCurrent = std::make_unique<CBrowseState>();
    *m_pCurrent = FolderState(pDir);
    m_forwardList.clear();
    if (pDir != nullptr && pDir->m_pParent == nullptr && pDir->m_pSite != nullptr)
        pDir->m_pSite->EnsureLoaded();
    SetListing(pDir);
}

void CTarnDoc::OpenFolder(CFTPDir* pDir)
{
    if (pDir == nullptr)
        return;
    if (CFTPSite* pSite = pDir->GetSite())
    {
        std::unique_lock lock(pSite->m_treeLock);
        if (pDir->m_nState != 0)
        {
            pDir->m_nState = 0;
            pSite->m_bStateDirty = true;
        }
    }
    NavigateTo(pDir);
}

bool CTarnDoc::CanGoUp() const
{
    return m_pCurrent && m_pCurrent->m_pDir != nullptr && m_pCurrent->m_pDir->m_pParent != nullptr;
}

void CTarnDoc::GoUp()
{
    if (!CanGoUp())
        return;
    CFTPDir* pParent = m_pCurrent->m_pDir->m_pParent;
    PushLimited(m_backList, *m_pCurrent);
    m_forwardList.clear();
    *m_pCurrent = FolderState(pParent);
    SetListing(pParent);
}

void CTarnDoc::GoBack()
{
    if (m_backList.empty())
        return;
    if (m_pCurrent)
        PushLimited(m_forwardList, *m_pCurrent);
    std::unique_ptr<CBrowseState> pState = std::move(m_backList.back());
    m_backList.pop_back();
    SetListing(pState->m_pDir);
    if (!m_pCurrent)
        m_pCurrent = std::make_unique<CBrowseState>();
    *m_pCurrent = *pState;
}

void CTarnDoc::GoForward()
{
    if (m_forwardList.empty())
        return;
    if (m_pCurrent)
        PushLimited(m_backList, *m_pCurrent);
    std::unique_ptr<CBrowseState> pState = std::move(m_forwardList.back());
    m_forwardList.pop_back();
    SetListing(pState->m_pDir);
    if (!m_pCurrent)
        m_pCurrent = std::make_unique<CBrowseState>();
    *m_pCurrent = *pState;
}

void CTarnDoc::ForgetEntry(CObject* pEntry, int nType)
{
    if (pEntry == nullptr)
        return;
    // The entry is still allocated, so its own class decides; nType only
    // mirrors the engine's notice.
    (void)nType;
    if (pEntry->GetRuntimeClass() == CFTPDir::GetThisClass())
    {
        ForgetBelow(static_cast<CFTPDir*>(pEntry));
        return;
    }
    auto* pFile = static_cast<CFTPFile*>(pEntry);
    std::erase(m_listFiles, pFile);
    std::erase(m_foundFiles, pFile);
}

void CTarnDoc::ForgetSite(CFTPSite* pSite)
{
    if (pSite != nullptr)
        ForgetBelow(pSite->m_pRoot.get());
}

void CTarnDoc::ForgetBelow(const CFTPDir* pDir)
{
    // Parent links of entries that are still linked never change, and those
    // of a removed subtree stay intact until it is freed, so walking up is
    // safe without the tree lock.
    auto within = [pDir](const CFTPDir* p)
    {
        for (; p != nullptr; p = p->m_pParent)
        {
            if (p == pDir)
                return true;
        }
        return false;
    };
    auto fileWithin = [&](const CFTPFile* pFile) { return within(pFile->m_pParent); };
    auto stateWithin = [&](const std::unique_ptr<CBrowseState>& pState)
    { return within(pState->m_pDir); };
    std::erase_if(m_listDirs, within);
    std::erase_if(m_foundDirs, within);
    std::erase_if(m_listFiles, fileWithin);
    std::erase_if(m_foundFiles, fileWithin);
    std::erase_if(m_backList, stateWithin);
    std::erase_if(m_forwardList, stateWithin);
    if (m_pCurrent && within(m_pCurrent->m_pDir))
        m_pCurrent.reset();
}
