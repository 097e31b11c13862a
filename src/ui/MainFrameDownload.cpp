// The main window's download commands: "下载" from the menus, the toolbar,
// Ctrl+S and the context menus, "下载设置...", and "打开" of a file handed to
// the downloads.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

#include "doc/TarnDoc.h"
#include "model/FTPEntry.h"
#include "model/FTPSite.h"
#include "ui/DirView.h"
#include "ui/DownloadSettingsDlg.h"
#include "ui/DownloadTexts.h"
#include "ui/Downloads.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameTexts.h"
#include "ui/MessageBox.h"
#include "ui/TarnView.h"
#include "ui/WindowDocHost.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

QMenu* FindMenu(QMenuBar* pBar, const char* pszTitle)
{
    for (QAction* pAction : pBar->actions())
        if (pAction->menu() != nullptr && pAction->text() == Text(pszTitle))
            return pAction->menu();
    return nullptr;
}
} // namespace

void CMainFrame::CreateDownloads()
{
    m_pDownloads = std::make_unique<CDownloads>(this, *m_pDoc);
    m_pHost->SetFileOpener([this](const std::string& strUrl, CFTPSite& site, const CFTPFile& file)
                           { m_pDownloads->Open(site, file, strUrl); });

    auto make =
        [this](int nId, const char* pszText, const char* pszPrompt, void (CMainFrame::*pfn)())
    {
        auto* pAction = new QAction(Text(pszText), this);
        pAction->setStatusTip(Text(pszPrompt));
        connect(pAction, &QAction::triggered, this, pfn);
        m_actions.insert(nId, pAction);
        return pAction;
    };
    QAction* pDownload = make(ID_DOWNLOAD, download_text::COMMAND, download_text::COMMAND_PROMPT,
                              &CMainFrame::OnDownload);
    pDownload->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    pDownload->setShortcutContext(Qt::WindowShortcut);
    pDownload->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    QAction* pFolder = make(ID_DOWNLOAD_FOLDER, download_text::COMMAND,
                            download_text::COMMAND_PROMPT, &CMainFrame::OnDownloadFolder);
    QAction* pSettings = make(ID_DOWNLOAD_SETTINGS, download_text::SETTINGS_COMMAND,
                              download_text::SETTINGS_PROMPT, &CMainFrame::OnDownloadSettings);
    addAction(pDownload);

    if (QMenu* pMenu = FindMenu(menuBar(), frame_text::MENU_ACTION))
    {
        pMenu->addSeparator();
        pMenu->addAction(pDownload);
    }
    if (QMenu* pMenu = FindMenu(menuBar(), frame_text::MENU_SETTINGS))
        pMenu->addAction(pSettings);
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(pDownload);
    m_pRowMenu->insertAction(m_pRowMenu->actions().value(0), pDownload);
    for (QMenu* pMenu : {m_pSiteMenu, m_pFolderMenu})
    {
        pMenu->addSeparator();
        pMenu->addAction(pFolder);
    }
}

void CMainFrame::OnDownload()
{
    // The list's selection, unless the tree has the focus or the list none.
    std::vector<std::pair<CObject*, bool>> entries;
    if (!m_pDirView->hasFocus())
        entries = m_pFileView->SelectedEntries();
    if (entries.empty())
    {
        OnDownloadFolder();
        return;
    }
    for (const auto& [pEntry, bFolder] : entries)
    {
        if (bFolder)
        {
            auto* pDir = static_cast<CFTPDir*>(pEntry);
            if (CFTPSite* pSite = pDir->GetSite())
                (void)m_pDownloads->Download(*pSite, pDir, nullptr);
        }
        else
        {
            auto* pFile = static_cast<CFTPFile*>(pEntry);
            if (CFTPSite* pSite = pFile->GetSite())
                (void)m_pDownloads->Download(*pSite, nullptr, pFile);
        }
    }
}

void CMainFrame::OnDownloadFolder()
{
    CFTPDir* pDir = m_pDirView->SelectedFolder();
    CFTPSite* pSite = pDir != nullptr ? pDir->GetSite() : nullptr;
    if (pSite == nullptr)
    {
        TarnMessageBox(this, Text(download_text::NOTHING_SELECTED));
        return;
    }
    pSite->EnsureLoaded();
    (void)m_pDownloads->Download(*pSite, pDir, nullptr);
}

void CMainFrame::OnDownloadSettings()
{
    CDownloadSettingsDlg dlg(this);
    dlg.m_strFolder = m_pDownloads->GetFolder();
    CDownloadLimits limits = m_pDownloads->GetLimits();
    dlg.m_nPerSite = int(limits.nPerSite);
    dlg.m_nTotal = int(limits.nTotal);
    if (dlg.exec() != QDialog::Accepted)
        return;
    limits.nPerSite = uint32_t(dlg.m_nPerSite);
    limits.nTotal = uint32_t(dlg.m_nTotal);
    m_pDownloads->ApplySettings(dlg.m_strFolder, limits);
}
