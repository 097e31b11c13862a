#pragma once
// The main window: menus, the toolbar, the one-pane status bar, and the
// splitter with the site tree (left) and the file list (right). Every command
// of the program arrives here, from a menu, the toolbar, the keyboard or a
// view's context menu, and becomes calls on the document, the update engine,
// the dialogs and the two views. The window also owns the document's screen
// host and the update engine's observer, shows update progress, and on
// closing stops the engine, waits for it and writes the changed read marks.
//
// GUI thread only. While a walk of the document runs (search, unread
// listing, marking), the commands that would disturb it are refused and
// closing waits for it to end.

#include <QMainWindow>
#include <QMap>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "update/UpdateProgress.h"

class CAutoUpdate;
class CDirView;
class CDownloads;
struct CEntryRef;
class CFTPDir;
class CFTPSite;
class CSubtreeSet;
struct CSiteChoices;
class CSearchBox;
class CTarnDoc;
class CTarnView;
class CWindowDocHost;
class CWindowObserver;
class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    // Initial width of each pane in logical pixels.
    static constexpr int PANE_WIDTH = 250;

    explicit CMainFrame(QWidget* pParent = nullptr);
    ~CMainFrame() override;

    // After the document has read site.ds: the tree gets its sites and the
    // window its saved geometry.
    void OnInitialUpdate();

    CTarnDoc& GetDoc() const { return *m_pDoc; }
    CDirView& GetDirView() const { return *m_pDirView; }
    CTarnView& GetFileView() const { return *m_pFileView; }
    CWindowDocHost& GetHost() const { return *m_pHost; }
    CWindowObserver& GetObserver() const { return *m_pObserver; }
    QToolBar& GetToolBar() const { return *m_pToolBar; }
    CSearchBox& GetSearchBox() const { return *m_pSearchBox; }
    QAction* Action(int nId) const { return m_actions.value(nId); }
    CDownloads& GetDownloads() const { return *m_pDownloads; }
    // The text of the status pane (without a command's prompt over it).
    QString StatusText() const;

    // Enables the commands by the document's state (Back/Forward/Up, and
    // nothing that would disturb a running walk).
    void UpdateCommandUI();
    // A walk of the document (search, unread listing, marking) is running.
    bool IsWalking() const;

    // SIGTERM or SIGINT: closes the open dialogs, then the window, the
    // normal way.
    void CloseOnSignal();
    // The closing sequence has run: the window may go.
    bool IsClosed() const { return m_bClosed; }

    // Scheduled runs and tarn-cli's requests (MainFrameRemote.cpp): "更新" on
    // each folder, or "更新全部" when there is none; "终止更新"; read marks
    // set and saved at once ("" or why not).
    void UpdateFolders(const std::vector<CFTPDir*>& folders);
    void StopUpdates();
    std::string MarkEntriesRead(bool bAll, const std::vector<CEntryRef>& refs);
    CAutoUpdate& GetAutoUpdate() const { return *m_pAutoUpdate; }
    // The unread listing of these sites (a scheduled run's news).
    void ShowUnreadOf(const std::vector<CFTPSite*>& sites);
    // Closes even where closing would only hide the window in the tray.
    void CloseForGood();

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void LoadSettings();
    void SaveSettings() const;

    // The engine's notices, on the GUI thread.
    void OnSiteUpdated(CFTPSite* pSite);
    // The engine let go of the site (its update ended): the views follow
    // what the update found.
    void OnUpdateEnded(CFTPSite* pSite);
    void OnEndTimer();
    void OnEntriesRemoved(const CSubtreeSet& removed);
    void OnProgressTimer();
    void WaitForEngine(std::chrono::milliseconds wait);

    // Runs a walk of the document with the disturbing commands refused.
    void RunWalk(const std::function<void()>& fnWalk);
    CFTPSite* SelectedSite() const;
    // Writes the options the user changed in the site dialog; a new
    // character set relabels the site's names at once.
    void ApplySiteChoices(CFTPSite* pSite, const CSiteChoices& before, const CSiteChoices& after);
    void Repaint();
    // The status bar counts the rows shown (and, for a folder, their bytes).
    void ShowRowCounts();
    void FocusOtherPane(bool bNext);

    // The commands.
    void OnUpdateAll();
    void OnUpdateSelected();
    void OnStopUpdate();
    void OnSiteAdd();
    void OnSiteEdit();
    void OnSiteDelete();
    void OnSiteImport();
    void OnSearch();
    void OnShowUpdate(int nScope);
    void OnShowFolderUpdates();
    void OnMarkShownRead();
    void OnMarkSitesRead(int nScope);
    void OnMarkFolderRead();
    void OnCopyFileAddress();
    void OnGoBack();
    void OnGoForward();
    void OnGoUp();
    void OnToggleView();
    void OnSettings();
    void OnHelp();
    void OnAbout();
    // MainFrameChanges.cpp
    void OnShowChanges();
    void OnSiteStats();
    void OnExport();
    // MainFrameDownload.cpp
    void CreateDownloads();
    void OnDownload();
    void OnDownloadFolder();
    void OnDownloadSettings();

    std::unique_ptr<CWindowDocHost> m_pHost;
    std::unique_ptr<CTarnDoc> m_pDoc;
    CWindowObserver* m_pObserver;
    QSplitter* m_pSplitter;
    CTarnView* m_pFileView;
    CDirView* m_pDirView;
    QToolBar* m_pToolBar = nullptr;
    CSearchBox* m_pSearchBox = nullptr;
    QLabel* m_pStatusPane = nullptr;
    QMenu* m_pSiteMenu = nullptr;
    QMenu* m_pFolderMenu = nullptr;
    QMenu* m_pRowMenu = nullptr;
    QMap<int, QAction*> m_actions;

    CAutoUpdate* m_pAutoUpdate = nullptr;
    CUpdateProgress m_progress;
    QTimer m_progressTimer;
    static constexpr int PROGRESS_MS = 500;
    // The search box's last answer on the status bar; an update's end, seen
    // up to a tick late, does not cover it.
    QString m_strSearchStatus;
    // Sites whose last notice came while the engine still held them: the
    // engine lets go after its last notice, so the end is watched for.
    std::set<CFTPSite*> m_endingSites;
    QTimer m_endTimer;
    int m_nWalks = 0;
    bool m_bCloseAfterWalk = false;
    bool m_bClosing = false;
    bool m_bQuit = false; // closing really ends the window (not to the tray)
    bool m_bClosed = false;
    bool m_bCloseDlgShown = false;
    int m_nSignalTries = 0;
    // Last: its workers read sites of the document, so it goes first.
    std::unique_ptr<CDownloads> m_pDownloads;
};
