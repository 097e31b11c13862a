// The main window itself: its parts, its settings, the engine's notices and
// closing. The commands are in MainFrameCommands.cpp.

#include "ui/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <algorithm>

#include "doc/Ancestry.h"
#include "doc/BrowseState.h"
#include "doc/CloseSequence.h"
#include "doc/FormatSize.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/SiteStats.h"
#include "ui/Art.h"
#include "ui/AutoUpdate.h"
#include "ui/CloseDlg.h"
#include "ui/DirView.h"
#include "ui/DisplayText.h"
#include "ui/Downloads.h"
#include "ui/FileListModel.h"
#include "ui/MainFrameTexts.h"
#include "ui/SearchBox.h"
#include "ui/TarnSettings.h"
#include "ui/TarnView.h"
#include "ui/WindowDocHost.h"
#include "ui/WindowObserver.h"
#include "update/UpdateEngine.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

// The toolbar's buttons, left to right; each shows the picture of its place.
const int TOOLBAR_COMMANDS[TOOLBAR_IMAGE_COUNT] = {
    ID_MARK_SHOWN_READ, ID_TOGGLE_VIEW, ID_SITE_EDIT,  ID_SITE_ADD, ID_SEARCH,
    ID_UPDATE_SELECTED, ID_GO_BACK,     ID_GO_FORWARD, ID_GO_UP,
};

// Commands that would disturb a running walk: another walk, a change of the
// file list's listing, or a change of the site list under it.
const int WALK_REFUSED[] = {
    ID_SEARCH,          ID_SHOW_UPDATE,      ID_SHOW_ALL_UNREAD, ID_SHOW_FOLDER_UPDATES,
    ID_MARK_SHOWN_READ, ID_MARK_UPDATE_READ, ID_MARK_ALL_READ,   ID_MARK_FOLDER_READ,
    ID_SITE_EDIT,       ID_SITE_DELETE,      ID_SITE_IMPORT,     ID_TOGGLE_VIEW,
    ID_GO_BACK,         ID_GO_FORWARD,       ID_GO_UP,           ID_SHOW_CHANGES,
    ID_SITE_STATS,      ID_EXPORT,
};

// How soon the end of an update shows after the engine lets go of the site.
constexpr int END_POLL_MS = 50;

const char* const SETTING_GEOMETRY = "MainFrame/geometry";
const char* const SETTING_STATE = "MainFrame/state";
const char* const SETTING_SPLITTER = "MainFrame/splitter";
} // namespace

CMainFrame::CMainFrame(QWidget* pParent)
    : QMainWindow(pParent), m_pHost(std::make_unique<CWindowDocHost>(this)),
      m_pDoc(std::make_unique<CTarnDoc>(*m_pHost)),
      m_pObserver(new CWindowObserver(
          [this](CFTPSite* pSite) { OnSiteUpdated(pSite); },
          [this](const CSubtreeSet& removed) { OnEntriesRemoved(removed); }, this)),
      m_pSplitter(new QSplitter(Qt::Horizontal, this)),
      m_pFileView(new CTarnView(*m_pDoc, m_pSplitter)),
      m_pDirView(new CDirView(*m_pDoc, *m_pFileView, m_pSplitter))
{
    setWindowTitle(Text(frame_text::TITLE));
    setWindowIcon(AppIcon());
    m_pHost->SetFileView(m_pFileView);

    // The tree on the left, the list taking what the window has beyond it.
    m_pSplitter->addWidget(m_pDirView);
    m_pSplitter->addWidget(m_pFileView);
    m_pSplitter->setStretchFactor(0, 0);
    m_pSplitter->setStretchFactor(1, 1);
    m_pSplitter->setChildrenCollapsible(false);
    m_pSplitter->setSizes({PANE_WIDTH, PANE_WIDTH});
    setCentralWidget(m_pSplitter);
    resize(PANE_WIDTH * 4, PANE_WIDTH * 5 / 2);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    m_pAutoUpdate = new CAutoUpdate(*this);

    connect(m_pDirView, &CDirView::Navigated, this, &CMainFrame::UpdateCommandUI);
    connect(m_pFileView, &CTarnView::FolderOpened, this, &CMainFrame::UpdateCommandUI);
    // The list shows a folder now: the box's results stop coming.
    connect(m_pDirView, &CDirView::Navigated, m_pSearchBox, &CSearchBox::Cancel);
    connect(m_pFileView, &CTarnView::FolderOpened, m_pSearchBox, &CSearchBox::Cancel);
    // After the box's last word: what the list shows now.
    connect(m_pDirView, &CDirView::Navigated, this, &CMainFrame::ShowRowCounts);
    connect(m_pFileView, &CTarnView::FolderOpened, this, &CMainFrame::ShowRowCounts);
    // "导出..." follows whether the list has rows to write.
    CFileListModel* pRows = &m_pFileView->Model();
    connect(pRows, &CFileListModel::modelReset, this, &CMainFrame::UpdateCommandUI);
    connect(pRows, &CFileListModel::rowsInserted, this, &CMainFrame::UpdateCommandUI);
    connect(pRows, &CFileListModel::rowsRemoved, this, &CMainFrame::UpdateCommandUI);

    m_endTimer.setInterval(END_POLL_MS);
    connect(&m_endTimer, &QTimer::timeout, this, &CMainFrame::OnEndTimer);
    // Twice a second: the folder counts move visibly without flooding the pane.
    m_progressTimer.setInterval(PROGRESS_MS);
    connect(&m_progressTimer, &QTimer::timeout, this, &CMainFrame::OnProgressTimer);
    m_progress.SetTimerSwitch(
        [this](bool bRun)
        {
            if (bRun && !m_progressTimer.isActive())
                m_progressTimer.start();
            else if (!bRun)
                m_progressTimer.stop();
        });
    SetUpdateObserver(m_pObserver);
    CreateDownloads();
    UpdateCommandUI();
}

CMainFrame::~CMainFrame()
{
    // Its searches read the document's trees.
    m_pSearchBox->Shutdown();
    // A window that was never closed (a test) still leaves no engine behind.
    if (!m_bClosed)
    {
        m_bCloseDlgShown = true; // no dialog over a window going away
        AbortForClose();
        while (!IsEngineIdle())
            WaitForEngine(CLOSE_WAIT_STEP);
        ShutdownEngine();
        m_pObserver->Drain();
    }
    if (GetUpdateObserver() == m_pObserver)
        SetUpdateObserver(nullptr);
    // The views point into the document: they go before it does.
    delete m_pSplitter;
}

void CMainFrame::CreateActions()
{
    const std::pair<int, std::function<void()>> handlers[] = {
        {ID_UPDATE_ALL, [this] { OnUpdateAll(); }},
        {ID_SITE_ADD, [this] { OnSiteAdd(); }},
        {ID_MARK_SHOWN_READ, [this] { OnMarkShownRead(); }},
        {ID_MARK_UPDATE_READ, [this] { OnMarkSitesRead(UNREAD_THIS_UPDATE); }},
        {ID_SEARCH, [this] { OnSearch(); }},
        {ID_SHOW_UPDATE, [this] { OnShowUpdate(UNREAD_THIS_UPDATE); }},
        {ID_SITE_DELETE, [this] { OnSiteDelete(); }},
        {ID_SITE_EDIT, [this] { OnSiteEdit(); }},
        {ID_SITE_IMPORT, [this] { OnSiteImport(); }},
        {ID_UPDATE_SELECTED, [this] { OnUpdateSelected(); }},
        {ID_MARK_ALL_READ, [this] { OnMarkSitesRead(UNREAD_ALL); }},
        {ID_SHOW_ALL_UNREAD, [this] { OnShowUpdate(UNREAD_ALL); }},
        {ID_COPY_FILE_ADDRESS, [this] { OnCopyFileAddress(); }},
        {ID_GO_FORWARD, [this] { OnGoForward(); }},
        {ID_GO_BACK, [this] { OnGoBack(); }},
        {ID_GO_UP, [this] { OnGoUp(); }},
        {ID_STOP_UPDATE, [this] { OnStopUpdate(); }},
        {ID_MARK_FOLDER_READ, [this] { OnMarkFolderRead(); }},
        {ID_SETTINGS, [this] { OnSettings(); }},
        {ID_TOGGLE_VIEW, [this] { OnToggleView(); }},
        {ID_SHOW_FOLDER_UPDATES, [this] { OnShowFolderUpdates(); }},
        {ID_COPY_FOLDER_ADDRESS, [this] { m_pDirView->OnCopyPath(); }},
        {ID_HELP_PDF, [this] { OnHelp(); }},
        {ID_SHOW_CHANGES, [this] { OnShowChanges(); }},
        {ID_SITE_STATS, [this] { OnSiteStats(); }},
        {ID_EXPORT, [this] { OnExport(); }},
        {ID_APP_ABOUT, [this] { OnAbout(); }},
        {ID_APP_EXIT, [this] { CloseForGood(); }},
        {ID_NEXT_PANE, [this] { FocusOtherPane(true); }},
        {ID_PREV_PANE, [this] { FocusOtherPane(false); }},
    };
    for (const auto& [nId, fnHandler] : handlers)
    {
        auto* pAction = new QAction(this);
        pAction->setObjectName(QString::number(nId));
        connect(pAction, &QAction::triggered, this, fnHandler);
        m_actions.insert(nId, pAction);
    }
    for (const frame_text::CCommandText& command : frame_text::COMMANDS)
    {
        QAction* pAction = m_actions.value(command.nId);
        if (pAction == nullptr)
            continue; // the two bars' own actions come with them
        pAction->setText(Text(command.pszText));
        if (command.pszLabel != nullptr)
            pAction->setIconText(Text(command.pszLabel));
        if (command.pszPrompt != nullptr)
            pAction->setStatusTip(Text(command.pszPrompt));
    }
    for (int i = 0; i < TOOLBAR_IMAGE_COUNT; ++i)
        m_actions.value(TOOLBAR_COMMANDS[i])->setIcon(ToolbarIcon(i));

    // Keys. Alt+D is already part of its menu text, so it is bound apart
    // from the action (the menu would show it twice).
    m_actions.value(ID_GO_BACK)->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    m_actions.value(ID_GO_FORWARD)->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    m_actions.value(ID_GO_UP)->setShortcuts(
        {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)});
    m_actions.value(ID_NEXT_PANE)->setShortcut(QKeySequence(Qt::Key_F6));
    m_actions.value(ID_PREV_PANE)->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(m_actions.value(ID_NEXT_PANE));
    addAction(m_actions.value(ID_PREV_PANE));
    auto* pMarkRead = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_D), this);
    connect(pMarkRead, &QShortcut::activated, m_actions.value(ID_MARK_SHOWN_READ),
            &QAction::trigger);
}

void CMainFrame::CreateMenus()
{
    auto add = [this](QMenu* pMenu, std::initializer_list<int> ids)
    {
        for (int nId : ids)
        {
            if (nId == 0)
                pMenu->addSeparator();
            else
                pMenu->addAction(m_actions.value(nId));
        }
    };
    QMenuBar* pBar = menuBar();
    add(pBar->addMenu(Text(frame_text::MENU_FILE)), {ID_SITE_IMPORT, ID_EXPORT, 0, ID_APP_EXIT});
    add(pBar->addMenu(Text(frame_text::MENU_EDIT)), {ID_SITE_ADD, ID_SITE_EDIT, ID_SITE_DELETE});
    QMenu* pView = pBar->addMenu(Text(frame_text::MENU_VIEW));
    pView->setObjectName("viewMenu");
    add(pBar->addMenu(Text(frame_text::MENU_ACTION)),
        {ID_UPDATE_SELECTED, ID_UPDATE_ALL, ID_STOP_UPDATE, 0, ID_SEARCH, ID_SHOW_UPDATE,
         ID_SHOW_ALL_UNREAD, ID_SHOW_CHANGES, 0, ID_MARK_SHOWN_READ, ID_MARK_UPDATE_READ,
         ID_MARK_ALL_READ});
    QMenu* pSettings = pBar->addMenu(Text(frame_text::MENU_SETTINGS));
    pSettings->setObjectName("settingsMenu");
    add(pSettings, {ID_SETTINGS});
    add(pBar->addMenu(Text(frame_text::MENU_HELP)), {ID_HELP_PDF, ID_APP_ABOUT});

    // The view menu's first two items come with the bars (CreateToolBar,
    // CreateStatusBar); the rest follow them.
    m_pSiteMenu = new QMenu(this);
    add(m_pSiteMenu,
        {ID_SHOW_FOLDER_UPDATES, ID_SHOW_CHANGES, ID_UPDATE_SELECTED, ID_MARK_FOLDER_READ,
         ID_SITE_EDIT, ID_SITE_DELETE, ID_COPY_FOLDER_ADDRESS, 0, ID_SITE_STATS});
    m_pFolderMenu = new QMenu(this);
    add(m_pFolderMenu, {ID_SHOW_FOLDER_UPDATES, ID_SHOW_CHANGES, ID_UPDATE_SELECTED,
                        ID_MARK_FOLDER_READ, ID_COPY_FOLDER_ADDRESS});
    m_pRowMenu = new QMenu(this);
    add(m_pRowMenu, {ID_COPY_FILE_ADDRESS});
    m_pDirView->SetContextMenus(m_pSiteMenu, m_pFolderMenu);
    m_pFileView->SetContextMenu(m_pRowMenu);
}

void CMainFrame::CreateToolBar()
{
    m_pToolBar = new QToolBar(Text(frame_text::TOOLBAR), this);
    m_pToolBar->setObjectName("toolBar");
    m_pToolBar->setIconSize(TOOLBAR_IMAGE_SIZE);
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (int nId : TOOLBAR_COMMANDS)
        m_pToolBar->addAction(m_actions.value(nId));
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    m_pSearchBox = new CSearchBox(*m_pDoc, *m_pFileView, this, m_pToolBar);
    m_pSearchBox->SetSelectedFolder([this] { return m_pDirView->SelectedFolder(); });
    m_pSearchBox->SetCanSearch([this] { return !IsWalking(); });
    connect(m_pSearchBox, &CSearchBox::StatusText, this,
            [this](const QString& strText)
            {
                m_strSearchStatus = strText;
                m_pStatusPane->setText(strText.isEmpty() ? Text(frame_text::READY) : strText);
            });
    m_pToolBar->addSeparator();
    m_pToolBar->addWidget(m_pSearchBox);

    QAction* pToggle = m_pToolBar->toggleViewAction();
    m_actions.insert(ID_VIEW_TOOLBAR, pToggle);
}

void CMainFrame::CreateStatusBar()
{
    m_pStatusPane = new QLabel(Text(frame_text::READY));
    m_pStatusPane->setObjectName("statusPane");
    // It shows names and the servers' replies.
    m_pStatusPane->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(m_pStatusPane, 1);

    auto* pToggle = new QAction(this);
    pToggle->setCheckable(true);
    pToggle->setChecked(true);
    connect(pToggle, &QAction::toggled, statusBar(), &QStatusBar::setVisible);
    m_actions.insert(ID_VIEW_STATUS_BAR, pToggle);

    for (int nId : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR})
    {
        for (const frame_text::CCommandText& command : frame_text::COMMANDS)
        {
            if (command.nId != nId)
                continue;
            m_actions.value(nId)->setText(Text(command.pszText));
            m_actions.value(nId)->setStatusTip(Text(command.pszPrompt));
        }
    }
    QMenu* pView = menuBar()->findChild<QMenu*>("viewMenu");
    for (int nId :
         {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_GO_FORWARD, ID_GO_BACK, ID_GO_UP, ID_TOGGLE_VIEW})
        pView->addAction(m_actions.value(nId));
}

QString CMainFrame::StatusText() const
{
    return m_pStatusPane->text();
}

void CMainFrame::OnInitialUpdate()
{
    // Sites left with unread entries last time are bold again, by their
    // stored count: no cache is loaded for it.
    for (const auto& pSite : m_pDoc->m_siteList)
    {
        CSiteStats stats = ReadStoredStats(pSite->GetSettings());
        if (stats.totals && stats.totals->nUnread > 0)
            pSite->m_bHasNew = true;
    }
    m_pDirView->FillTree();
    LoadSettings();
    m_pDownloads->RestoreQueue();
    m_pAutoUpdate->Start();
    UpdateCommandUI();
    // Keys go to the tree first, as they did to the tree on the left.
    m_pDirView->setFocus();
}

void CMainFrame::LoadSettings()
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    restoreGeometry(settings.value(SETTING_GEOMETRY).toByteArray());
    restoreState(settings.value(SETTING_STATE).toByteArray());
    m_pSplitter->restoreState(settings.value(SETTING_SPLITTER).toByteArray());
}

void CMainFrame::SaveSettings() const
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    settings.setValue(SETTING_GEOMETRY, saveGeometry());
    settings.setValue(SETTING_STATE, saveState());
    settings.setValue(SETTING_SPLITTER, m_pSplitter->saveState());
}

bool CMainFrame::IsWalking() const
{
    return m_nWalks > 0 || m_pDoc->IsBusy();
}

void CMainFrame::UpdateCommandUI()
{
    bool bWalk = IsWalking();
    for (int nId : WALK_REFUSED)
        m_actions.value(nId)->setEnabled(!bWalk);
    m_actions.value(ID_GO_BACK)->setEnabled(!bWalk && m_pDoc->CanGoBack());
    m_actions.value(ID_GO_FORWARD)->setEnabled(!bWalk && m_pDoc->CanGoForward());
    m_actions.value(ID_GO_UP)->setEnabled(!bWalk && m_pDoc->CanGoUp());
    m_actions.value(ID_EXPORT)->setEnabled(!bWalk && m_pFileView->Model().HasEntries());
}

void CMainFrame::ShowRowCounts()
{
    CFileListModel& rows = m_pFileView->Model();
    rows.FlushPending();
    qulonglong nFolders = 0;
    qulonglong nFiles = 0;
    uint64_t nBytes = 0;
    for (int i = 0; i < rows.rowCount(); ++i)
    {
        const CFileListModel::CRow& row = rows.Row(i);
        if (row.m_pEntry == nullptr && !row.m_bGone)
            continue; // a welcome line
        if (row.m_bFolder)
            ++nFolders;
        else
        {
            ++nFiles;
            nBytes += rows.SizeAt(i);
        }
    }
    QString strText = Text(frame_text::ROWS_SHOWN).arg(nFolders).arg(nFiles);
    if (!m_pFileView->m_bResultMode)
        strText +=
            Text(frame_text::ROWS_TOTAL).arg(QString::fromStdString(FormatSize(int64_t(nBytes))));
    m_pStatusPane->setText(strText);
}

void CMainFrame::RunWalk(const std::function<void()>& fnWalk)
{
    if (IsWalking())
        return;
    m_pHost->ResetStop();
    m_pSearchBox->Cancel(); // the walk's listing replaces the box's
    ++m_nWalks;
    UpdateCommandUI();
    fnWalk();
    --m_nWalks;
    UpdateCommandUI();
    if (m_bCloseAfterWalk)
        QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::OnSiteUpdated(CFTPSite* pSite)
{
    // The site may have been deleted since the notice was sent.
    if (!m_pDoc->HasSite(pSite))
        return;
    m_pDirView->UpdateSiteItem(pSite);
    if (IsSiteBusy(*pSite))
    {
        m_endingSites.insert(pSite);
        if (!m_endTimer.isActive())
            m_endTimer.start();
        return;
    }
    OnUpdateEnded(pSite);
}

void CMainFrame::OnUpdateEnded(CFTPSite* pSite)
{
    m_endingSites.erase(pSite);
    m_pDirView->UpdateSiteItem(pSite);
    // An update that ended may have added folders: the built items follow.
    m_pDirView->RefreshSiteFolders(pSite);
    m_pSearchBox->OnSiteUpdated(pSite);
    // The folder on show follows what the update found (not under a walk,
    // which may be reading the listing).
    const CFTPDir* pShown = m_pDoc->m_pCurrent ? m_pDoc->m_pCurrent->m_pDir : nullptr;
    if (pShown != nullptr && pShown->GetSite() == pSite && !IsWalking())
    {
        m_pFileView->RefreshBrowseListing();
        UpdateCommandUI();
    }
}

void CMainFrame::OnEndTimer()
{
    std::vector<CFTPSite*> sites(m_endingSites.begin(), m_endingSites.end());
    for (CFTPSite* pSite : sites)
    {
        if (!m_pDoc->HasSite(pSite))
            m_endingSites.erase(pSite);
        else if (!IsSiteBusy(*pSite))
            OnUpdateEnded(pSite);
    }
    if (m_endingSites.empty())
        m_endTimer.stop();
}

void CMainFrame::OnEntriesRemoved(const CSubtreeSet& removed)
{
    m_pSearchBox->ForgetEntries(removed);
    m_pDoc->ForgetEntries(removed);
    m_pFileView->ForgetEntries(removed);
    m_pDirView->ForgetEntries(removed);
    UpdateCommandUI();
}

void CMainFrame::OnProgressTimer()
{
    QString strText = QString::fromStdString(m_progress.OnTimer());
    bool bRunEnded = !m_progressTimer.isActive();
    if (bRunEnded && !m_strSearchStatus.isEmpty() && m_pStatusPane->text() == m_strSearchStatus)
        return;
    // How far one running site got: the one on show, else the first.
    const CFTPSite* pShown = m_pDoc->m_pCurrent ? m_pDoc->m_pCurrent->m_pDir->GetSite() : nullptr;
    const CFTPSite* pRunning = nullptr;
    if (pShown != nullptr && !ListedFoldersText(*pShown).isEmpty())
        pRunning = pShown;
    for (size_t i = 0; pRunning == nullptr && i < m_pDoc->m_siteList.size(); ++i)
        if (!ListedFoldersText(*m_pDoc->m_siteList[i]).isEmpty())
            pRunning = m_pDoc->m_siteList[i].get();
    if (pRunning != nullptr)
        strText += QStringLiteral("  ") + SiteLabel(*pRunning) + QString::fromUtf8("：") +
                   ListedFoldersText(*pRunning);
    m_pStatusPane->setText(strText);
}

void CMainFrame::WaitForEngine(std::chrono::milliseconds wait)
{
    if (wait.count() == 0)
    {
        m_pObserver->Drain();
        return;
    }
    if (!m_bCloseDlgShown && isVisible())
    {
        // Shown once; it ends by itself at the first tick that finds the
        // engine idle, answering the engine's notices meanwhile.
        m_bCloseDlgShown = true;
        CCloseDlg dlg(this);
        dlg.exec();
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, int(wait.count()));
    m_pObserver->Drain();
    QThread::msleep(std::min<qint64>(wait.count(), 10));
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    if (m_bClosed)
    {
        pEvent->accept();
        return;
    }
    if (m_bClosing)
    {
        pEvent->ignore();
        return;
    }
    if (!m_bQuit && m_pAutoUpdate->ClosesToTray())
    {
        hide();
        pEvent->ignore();
        return;
    }
    if (IsWalking())
    {
        // The walk ends at its next pump; the window closes after it.
        m_bCloseAfterWalk = true;
        m_pDoc->RequestStop();
        pEvent->ignore();
        return;
    }
    m_bClosing = true;
    m_pSearchBox->Shutdown();
    m_pDownloads->Shutdown();
    SaveSettings();
    m_progressTimer.stop();
    m_endTimer.stop();
    RunCloseSequence(*m_pDoc, [this](std::chrono::milliseconds wait) { WaitForEngine(wait); });
    SetUpdateObserver(nullptr);
    m_bClosed = true;
    pEvent->accept();
}

void CMainFrame::CloseOnSignal()
{
    if (m_bClosing || m_bClosed)
        return;
    m_bQuit = true;
    // A modal dialog runs its own loop above ours: end it first, then try
    // again from the main loop (a few times: a dialog may refuse to go).
    static constexpr int MAX_TRIES = 20;
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal != nullptr && pModal != this && m_nSignalTries < MAX_TRIES)
    {
        ++m_nSignalTries;
        pModal->close();
        QTimer::singleShot(0, this, &CMainFrame::CloseOnSignal);
        return;
    }
    close();
}
