#pragma once
// The window's downloads: the queue (kept in the data folder and offered
// again at the next start), the transfer list in a dock below the file list
// (shown when the first download starts), the download settings, and "打开"
// of a file on desktops whose web browser no longer opens ftp://.
//
// GUI thread only; the queue's workers reach it through one queued call.

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

#include "doc/DesktopOpen.h"
#include "transfer/DownloadQueue.h"

class CDownloadListModel;
class CFTPDir;
class CFTPFile;
class CFTPSite;
class CTarnDoc;
class QAction;
class QDockWidget;
class QLabel;
class QMainWindow;
class QTableView;

class CDownloads : public QObject
{
    Q_OBJECT

public:
    CDownloads(QMainWindow* pFrame, CTarnDoc& doc);
    ~CDownloads() override;

    // After the document read site.ds: the unfinished downloads of the last
    // run come back as stopped rows.
    void RestoreQueue();
    // Queues pFile, or every cached file below pDir, into the download folder.
    // False (with a message shown) when nothing could be queued.
    bool Download(CFTPSite& site, const CFTPDir* pDir, const CFTPFile* pFile);
    // "打开" of a cached file.
    void Open(CFTPSite& site, const CFTPFile& file, const std::string& strUrl);
    // Before a site is deleted: its downloads go.
    void ForgetSite(CFTPSite* pSite);
    // Stops every transfer (their .part files stay) and joins the workers.
    void Shutdown();
    // The desktop "打开" asks and opens with (tests give their own; the
    // window starts with the session's: xdg-mime and the desktop's services).
    void SetDesktop(std::unique_ptr<IDesktop> pDesktop);

    // The settings (QSettings, "Downloads/..."): folder and limits.
    QString GetFolder() const;
    CDownloadLimits GetLimits() const;
    void ApplySettings(const QString& strFolder, const CDownloadLimits& limits);

    QDockWidget* GetDock() const { return m_pDock; }
    QTableView* GetList() const { return m_pList; }
    CDownloadListModel& GetModel() const { return *m_pModel; }
    CDownloadQueue& GetQueue() { return m_queue; }
    QAction* GetAction(int nButton) const { return m_buttons[nButton]; }
    // Reads the queue into the list now (the workers' notices do it too).
    void Refresh();

    enum Button
    {
        BUTTON_STOP,
        BUTTON_RESUME,
        BUTTON_RETRY,
        BUTTON_REMOVE,
        BUTTON_SHOW_FOLDER,
        BUTTON_OPEN,
        BUTTON_COUNT,
    };

private:
    void OnButton(int nButton);
    void UpdateButtons();
    std::vector<uint64_t> SelectedIds() const;
    void ShowDock();

    QMainWindow* m_pFrame;
    CTarnDoc& m_doc;
    CDownloadQueue m_queue;
    std::unique_ptr<IDesktop> m_pDesktop;
    std::unique_ptr<CDesktopOpener> m_pOpener;
    QDockWidget* m_pDock;
    QTableView* m_pList;
    QLabel* m_pNote;
    CDownloadListModel* m_pModel;
    QAction* m_buttons[BUTTON_COUNT] = {};
    std::atomic<bool> m_bRefreshPosted{false};
    bool m_bShutdown = false;
};
