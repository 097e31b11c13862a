// The document's browsing side: the folder on display, Back/Forward/Up
// history, and letting go of entries that leave their tree.

#include <algorithm>
#include <mutex>
#include <shared_mutex>

#include "doc/FolderSnapshot.h"
#include "doc/TarnDoc.h"

namespace
{
// Shown while it lives, whichever way the scope is left.
class CWaitCursor
{
public:
    explicit CWaitCursor(IDocHost& host) : m_host(host) { m_host.BeginWaitCursor(); }
    ~CWaitCursor() { m_host.EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    IDocHost& m_host;
};

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
    CFolderSnapshot children = ReadChildren(pDir);
    m_listDirs = std::move(children.m_dirs);
    m_listFiles = std::move(children.m_files);
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
        EnsureLoaded(*pDir->m_pSite);
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

void CTarnDoc::ForgetEntries(const CSubtreeSet& removed)
{
    if (removed.IsEmpty())
        return;
    ++m_nForgets;
    auto dirGone = [&](const CFTPDir* p) { return removed.Covers(p); };
    auto fileGone = [&](const CFTPFile* p) { return removed.Covers(p); };
    auto stateGone = [&](const std::unique_ptr<CBrowseState>& pState)
    { return removed.Covers(pState->m_pDir); };
    std::erase_if(m_listDirs, dirGone);
    std::erase_if(m_foundDirs, dirGone);
    std::erase_if(m_listFiles, fileGone);
    std::erase_if(m_foundFiles, fileGone);
    std::erase_if(m_backList, stateGone);
    std::erase_if(m_forwardList, stateGone);
    if (m_pCurrent && removed.Covers(m_pCurrent->m_pDir))
        m_pCurrent.reset();
    // A change row outlives its entry (it says what happened), its site does not.
    std::erase_if(m_foundChanges, [&](const CChangeRow& row)
                  { return row.pSite != nullptr && removed.Covers(row.pSite->m_pRoot.get()); });
    for (CChangeRow& row : m_foundChanges)
    {
        if (row.pDir != nullptr && removed.Covers(row.pDir))
            row.pDir = nullptr;
        if (row.pFile != nullptr && removed.Covers(row.pFile))
            row.pFile = nullptr;
    }
}

void CTarnDoc::ForgetEntry(CObject* pEntry, int nType)
{
    // The entry is still allocated, so its own class decides; nType only
    // mirrors the engine's notice.
    (void)nType;
    CSubtreeSet removed;
    removed.Add(pEntry);
    ForgetEntries(removed);
}

void CTarnDoc::ForgetSite(CFTPSite* pSite)
{
    if (pSite == nullptr)
        return;
    CSubtreeSet removed;
    removed.Add(pSite->m_pRoot.get());
    ForgetEntries(removed);
}

void CTarnDoc::EnsureLoaded(CFTPSite& site)
{
    if (site.IsLoaded())
        return;
    CWaitCursor cursor(m_host);
    site.EnsureLoaded();
}
