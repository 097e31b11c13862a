// The main window's commands. Each works on the document and then tells the
// views what changed; the document never refreshes a view by itself.

#include <QAction>
#include <QDesktopServices>
#include <QUrl>

#include "doc/Ancestry.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/File.h"
#include "model/ProgramFolder.h"
#include "ui/AboutDlg.h"
#include "ui/DirView.h"
#include "ui/Downloads.h"
#include "ui/DisplayText.h"
#include "ui/FindDialog.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameTexts.h"
#include "ui/MessageBox.h"
#include "ui/SearchBox.h"
#include "ui/SiteDlg.h"
#include "ui/TarnView.h"
#include "ui/UpdateNumSet.h"
#include "ui/WindowDocHost.h"
#include "update/EngineState.h"
#include "update/UpdateEngine.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

// A field shown from the site list and read back: unchanged text keeps the
// bytes it came from (a nickname in another code page stays as it was).
std::string TextBack(const QString& strField, const std::string& strOriginal)
{
    if (strField == DisplayText(strOriginal))
        return strOriginal;
    return strField.toStdString();
}

CSiteInfo InfoFromDialog(const CSiteDlg& dlg, const CFTPSite* pSite)
{
    static const CFTPSite s_none;
    const CFTPSite& site = pSite != nullptr ? *pSite : s_none;
    CSiteInfo info;
    info.m_strHost = TextBack(dlg.m_strHost, site.m_strHost);
    info.m_strUser = TextBack(dlg.m_strUser, site.m_strUser);
    info.m_strPassword = TextBack(dlg.m_strPassword, site.m_strPassword);
    info.m_bAnonymous = dlg.m_bAnonymous;
    info.m_nPort = int32_t(dlg.m_nPort); // the dialog let only 1-65535 through
    info.m_bAnonUpdate = dlg.m_bAnonUpdate;
    info.m_strNickname = TextBack(dlg.m_strNickname, site.m_strNickname);
    info.m_strRemark = TextBack(dlg.m_strRemark, site.m_strRemark);
    return info;
}
} // namespace

CFTPSite* CMainFrame::SelectedSite() const
{
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    return pDir != nullptr ? pDir->GetSite() : nullptr;
}

void CMainFrame::Repaint()
{
    m_pDirView->viewport()->update();
    m_pFileView->viewport()->update();
}

void CMainFrame::FocusOtherPane(bool bNext)
{
    (void)bNext; // two panes: either way leads to the other one
    if (m_pDirView->hasFocus())
        m_pFileView->setFocus(Qt::ShortcutFocusReason);
    else
        m_pDirView->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::OnUpdateAll()
{
    UpdateAll(m_pDoc->m_siteList, m_progress);
    for (const auto& pSite : m_pDoc->m_siteList)
        m_pDirView->UpdateSiteItem(pSite.get());
}

void CMainFrame::OnUpdateSelected()
{
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    if (pDir == nullptr)
        return;
    UpdateSelected(m_pDoc->m_siteList, pDir, m_progress);
    m_pDirView->UpdateSiteItem(pDir->GetSite());
}

void CMainFrame::OnStopUpdate()
{
    StopUpdate();
}

void CMainFrame::ApplySiteChoices(CFTPSite* pSite, const CSiteChoices& before,
                                  const CSiteChoices& after)
{
    if (after == before)
        return;
    CNameCodec oldCodec = pSite->GetCodec();
    try
    {
        // Only what the user changed: the engine may have noted something
        // in the same file since the dialog opened.
        pSite->UpdateSettings([&](CSiteSettings& settings)
                              { after.WriteChanges(before, &settings); });
    }
    catch (const CFileException& e)
    {
        TarnMessageBox(this, Text(frame_text::OPTIONS_NOT_SAVED) + DisplayText(e.what()));
        return;
    }
    // Names are decoded when shown: the views only need to read them again.
    if (pSite->GetCodec() != oldCodec)
    {
        m_pDirView->RelabelSiteFolders(pSite);
        m_pFileView->RefreshNames();
        // Its names index anew in the new set (searches meanwhile read them all).
        m_pSearchBox->OnSiteUpdated(pSite);
    }
}

void CMainFrame::OnSiteAdd()
{
    CSiteDlg dlg(this);
    for (;;)
    {
        if (dlg.exec() != QDialog::Accepted)
            return;
        if (m_pDoc->AddSite(InfoFromDialog(dlg, nullptr)))
            break;
        // "站点已有！" was said: the dialog comes back with everything typed,
        // for another port or user. A list that cannot change ends it.
        if (m_pDoc->IsSiteListUnreadable())
            return;
    }
    CFTPSite* pSite = m_pDoc->m_siteList.back().get();
    m_pDirView->AddSiteItem(pSite);
    ApplySiteChoices(pSite, CSiteChoices(), dlg.m_choices);
}

void CMainFrame::OnSiteEdit()
{
    if (IsWalking())
        return;
    CFTPSite* pSite = SelectedSite();
    if (pSite == nullptr)
        return;
    CSiteDlg dlg(this);
    dlg.m_strHost = DisplayText(pSite->m_strHost);
    dlg.m_nPort = unsigned(pSite->m_nPort);
    dlg.m_bAnonymous = pSite->IsAnonymous();
    if (!dlg.m_bAnonymous)
    {
        dlg.m_strUser = DisplayText(pSite->m_strUser);
        dlg.m_strPassword = DisplayText(pSite->m_strPassword);
    }
    dlg.m_bAnonUpdate = pSite->m_bAnonUpdate;
    dlg.m_strNickname = DisplayText(pSite->m_strNickname);
    dlg.m_strRemark = DisplayText(pSite->m_strRemark);
    const CSiteChoices before = CSiteChoices::FromSettings(pSite->GetSettings());
    dlg.m_choices = before;
    if (dlg.exec() != QDialog::Accepted)
        return;
    // The dialog ran its own event loop: the site may be gone by now.
    if (!m_pDoc->HasSite(pSite))
        return;
    // A search of the box may be loading the site, which reads its key.
    m_pSearchBox->ForgetSite(pSite);
    m_pDownloads->ForgetSite(pSite);
    if (!m_pDoc->ModifySite(pSite, InfoFromDialog(dlg, pSite)))
        return;
    m_pDirView->RelabelSiteItem(pSite);
    // A site being updated may change its options too: a running session
    // keeps the way it lists, the names show in the new set at once.
    ApplySiteChoices(pSite, before, dlg.m_choices);
}

void CMainFrame::OnSiteDelete()
{
    if (IsWalking())
        return;
    if (TarnMessageBox(
            this, Text(frame_text::CONFIRM_DELETE), Text(frame_text::CONFIRM_DELETE_CAPTION),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Warning) != QMessageBox::Ok)
        return;
    CFTPSite* pSelected = SelectedSite();
    if (pSelected == nullptr)
        return;
    std::string strKey = pSelected->GetKey();
    // The document deletes the first site with the key.
    CFTPSite* pSite = m_pDoc->FindSite(strKey);
    // The engine still uses a site that waits or updates: nothing changes.
    if (IsSiteBusy(*pSite))
    {
        TarnMessageBox(this, Text(frame_text::SITE_UPDATING));
        return;
    }
    if (m_pDoc->IsSiteListUnreadable())
    {
        (void)m_pDoc->DeleteSite(strKey); // refuses, and says why
        return;
    }
    // Nothing on screen may point into the site once it is gone: its rows
    // and items go first.
    CSubtreeSet removed;
    removed.Add(pSite->m_pRoot.get());
    m_pSearchBox->ForgetSite(pSite);
    m_pFileView->ForgetEntries(removed);
    m_pDirView->RemoveSiteItem(pSite);
    if (!m_pDoc->DeleteSite(strKey))
        m_pDirView->FillTree();
    UpdateCommandUI();
}

void CMainFrame::OnSiteImport()
{
    if (IsWalking())
        return;
    QString strPath =
        TarnGetOpenFileName(this, {Text(frame_text::FILTER_TEXT), Text(frame_text::FILTER_ALL)},
                            Text(frame_text::DEFAULT_SUFFIX));
    if (strPath.isEmpty())
        return;
    CImportResult result;
    bool bImported = m_pDoc->ImportSites(strPath.toStdString(), &result);
    m_pDirView->FillTree();
    UpdateCommandUI();
    // Lines that gave no site are not left for the user to discover.
    if (std::string strSkipped = DescribeImport(result); bImported && !strSkipped.empty())
        TarnMessageBox(this, QString::fromStdString(strSkipped));
}

void CMainFrame::OnSearch()
{
    if (IsWalking())
        return;
    CFindDialog dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    std::string strKeyword = dlg.m_strKeyword.toStdString();
    RunWalk([&] { (void)m_pDoc->Search(strKeyword); });
    ShowRowCounts();
}

void CMainFrame::OnShowUpdate(int nScope)
{
    RunWalk([&] { (void)m_pDoc->ShowUnread(nScope); });
    ShowRowCounts();
}

void CMainFrame::OnShowFolderUpdates()
{
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    if (pDir == nullptr)
        return;
    RunWalk([&] { m_pDoc->ShowFolderUnread(pDir); });
    ShowRowCounts();
}

void CMainFrame::OnMarkShownRead()
{
    if (IsWalking())
        return;
    // The rows on screen, not the folder listing a result listing hides.
    m_pDoc->MarkFilesRead(m_pFileView->ShownFiles());
    m_pFileView->ClearFileHighlights();
    Repaint();
}

void CMainFrame::OnMarkSitesRead(int nScope)
{
    RunWalk([&] { m_pDoc->MarkSitesRead(nScope); });
    // Sites whose marks all went are no longer bold; rows show what is left.
    for (const auto& pSite : m_pDoc->m_siteList)
        m_pDirView->UpdateSiteItem(pSite.get());
    m_pFileView->RefreshHighlights();
    Repaint();
}

void CMainFrame::OnMarkFolderRead()
{
    if (IsWalking())
        return;
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    if (pDir == nullptr)
        return;
    if (pDir->m_pParent == nullptr)
    {
        if (CFTPSite* pSite = pDir->GetSite())
        {
            pSite->m_bHasNew = false;
            m_pDirView->UpdateSiteItem(pSite);
        }
    }
    RunWalk([&] { m_pDoc->MarkFolderRead(pDir); });
}

void CMainFrame::OnCopyFileAddress()
{
    std::string strAddress = m_pFileView->FirstSelectedAddress();
    // A welcome line has no address: nothing is copied, nothing claimed.
    if (strAddress.empty() || !m_pDoc->CopyAddress(strAddress))
        return;
    size_t nPathStart = 0;
    const CFTPSite* pSite = m_pDoc->FindSiteByAddress(strAddress, &nPathStart);
    TarnMessageBox(
        this, Text(frame_text::PATH_COPIED) + "\n\n" +
                  CopiedUrlText(m_pDoc->GetUrl(strAddress), DisplayName(strAddress, pSite), pSite));
}

void CMainFrame::OnGoBack()
{
    if (IsWalking() || !m_pDoc->CanGoBack())
        return;
    m_pDoc->GoBack();
    m_pFileView->ShowBrowseListing();
    UpdateCommandUI();
    ShowRowCounts();
}

void CMainFrame::OnGoForward()
{
    if (IsWalking() || !m_pDoc->CanGoForward())
        return;
    m_pDoc->GoForward();
    m_pFileView->ShowBrowseListing();
    UpdateCommandUI();
    ShowRowCounts();
}

void CMainFrame::OnGoUp()
{
    if (IsWalking() || !m_pDoc->CanGoUp())
        return;
    m_pDoc->GoUp();
    m_pFileView->ShowBrowseListing();
    UpdateCommandUI();
    ShowRowCounts();
}

void CMainFrame::OnToggleView()
{
    if (IsWalking())
        return;
    m_pFileView->m_bResultMode = !m_pFileView->m_bResultMode;
    if (m_pFileView->m_bResultMode)
        m_pFileView->ShowResultListing();
    else
        m_pFileView->ShowBrowseListing();
}

void CMainFrame::OnSettings()
{
    CUpdateNumSet dlg(this);
    dlg.m_nThreads = int(g_nThreadLimit.load());
    if (dlg.exec() == QDialog::Accepted)
        g_nThreadLimit = uint32_t(dlg.m_nThreads);
}

void CMainFrame::OnHelp()
{
    // The guide installed with the program, wherever it was started from.
    std::string strPath = FindHelpFile(GetExecutableFolder());
    if (strPath.empty())
    {
        TarnMessageBox(this, Text(frame_text::HELP_MISSING));
        return;
    }
    QString strFile = QString::fromStdString(strPath);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(strFile)))
        TarnMessageBox(this, Text(frame_text::HELP_NOT_OPENED) + strFile);
}

void CMainFrame::OnAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}
