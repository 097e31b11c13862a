// What the window does for others: scheduled runs (AutoUpdate.h) and the
// requests tarn-cli hands over (ControlServer.h).

#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/File.h"
#include "model/ProgramFolder.h"
#include "model/SiteStats.h"
#include "ui/DirView.h"
#include "ui/MainFrame.h"
#include "ui/TarnView.h"
#include "update/UpdateEngine.h"

void CMainFrame::UpdateFolders(const std::vector<CFTPDir*>& folders)
{
    if (folders.empty())
    {
        OnUpdateAll();
        return;
    }
    for (CFTPDir* pDir : folders)
    {
        UpdateSelected(m_pDoc->m_siteList, pDir, m_progress);
        m_pDirView->UpdateSiteItem(pDir->GetSite());
    }
}

void CMainFrame::StopUpdates()
{
    OnStopUpdate();
}

std::string CMainFrame::MarkEntriesRead(bool bAll, const std::vector<CEntryRef>& refs)
{
    if (IsWalking())
        return "the Tarn window is busy with a search or a listing; try again when it has ended";
    if (bAll)
        OnMarkSitesRead(UNREAD_ALL);
    for (const CEntryRef& ref : refs)
    {
        if (ref.pDir != nullptr)
        {
            // The folder itself, as opening it does, then everything below it.
            {
                std::unique_lock lock(ref.pSite->m_treeLock);
                if (ref.pDir->m_nState != 0)
                {
                    ref.pDir->m_nState = 0;
                    ref.pSite->m_bStateDirty = true;
                }
            }
            if (ref.pDir->m_pParent == nullptr)
                ref.pSite->m_bHasNew = false;
            RunWalk([&] { m_pDoc->MarkFolderRead(ref.pDir); });
            continue;
        }
        std::unique_lock lock(ref.pSite->m_treeLock);
        if (ref.pFile->m_nState != 0)
        {
            ref.pFile->m_nState = 0;
            ref.pSite->m_bStateDirty = true;
        }
    }
    // Saved now, not at closing: other programs read the folder meanwhile.
    // A site being updated saves its marks with its tree.
    std::string strError;
    for (const auto& pSite : m_pDoc->m_siteList)
    {
        if (!pSite->m_bStateDirty.load() || IsSiteBusy(*pSite))
            continue;
        try
        {
            pSite->SaveState(GetProgramFolder());
            pSite->m_bStateDirty.store(false);
            RefreshStoredTotals(*pSite);
        }
        catch (const CFileException& e)
        {
            strError = "cannot save the read marks of " + pSite->GetKey() + ": " + e.what();
        }
    }
    for (const auto& pSite : m_pDoc->m_siteList)
        m_pDirView->UpdateSiteItem(pSite.get());
    Repaint();
    return strError;
}

void CMainFrame::ShowUnreadOf(const std::vector<CFTPSite*>& sites)
{
    RunWalk([&] { (void)m_pDoc->ShowUnread(UNREAD_ALL, sites); });
}

void CMainFrame::CloseForGood()
{
    m_bQuit = true;
    close();
}
