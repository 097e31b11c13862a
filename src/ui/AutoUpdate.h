#pragma once
// Updates on a schedule while the window runs ("设置 -> 自动更新..."): every N
// hours or daily at HH:MM (update/UpdateSchedule.h has the rules), over
// every site or every site but those marked "不自动更新". A due run is
// "更新全部" over the sites that take part and are idle, through the window's
// own engine; a site being updated by hand is left to that update. When a
// run brings new files, the status bar and a desktop notification say so,
// and clicking either shows the unread listing of those sites. Where the
// desktop has a tray, the window may close to it while runs are scheduled.
//
// The choices and the time the next run counts from are kept with the
// window's settings (QSettings, group "AutoUpdate").
//
// GUI thread only.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <vector>

#include "model/IsoTime.h"
#include "update/UpdateSchedule.h"

class CFTPSite;
class CMainFrame;
class QAction;
class QSystemTrayIcon;
class QToolButton;

class CAutoUpdate : public QObject
{
    Q_OBJECT

public:
    // A missed run is made up this long after the start, so the start stays quick.
    static constexpr std::chrono::seconds CATCH_UP_DELAY{60};

    struct CChoices
    {
        CScheduleRule rule;
        bool bAllSites = false;    // false: all but the sites marked "不自动更新"
        bool bCloseToTray = false; // "关闭时最小化到托盘"
        bool operator==(const CChoices&) const = default;
    };

    explicit CAutoUpdate(CMainFrame& frame);
    ~CAutoUpdate() override;

    // After the document is read: the kept choices, and a missed run planned.
    void Start();

    CChoices GetChoices() const { return m_choices; }
    // Keeps them (QSettings) and plans the next run by them.
    void SetChoices(const CChoices& choices);
    const CUpdateSchedule& GetSchedule() const { return m_schedule; }

    // "设置 -> 自动更新...".
    QAction* GetAction() const { return m_pAction; }
    void OnSettingsCommand();

    // Closing hides the window instead: a tray exists, the user chose it and
    // runs are scheduled.
    bool ClosesToTray() const;

    // The news of the last run ("" none) and its sites' unread listing.
    QString GetNews() const;
    void ShowNews();

    // Tests: another clock, and the check the timer makes.
    void SetClock(CUpdateSchedule::Clock clock);
    void CheckNow();
    bool IsRunning() const { return m_schedule.IsRunning(); }

signals:
    // A scheduled run has ended: how many sites brought how many new files.
    void RunEnded(int nSites, qulonglong nFiles);

private:
    void StartRun();
    void PollRun();
    void EndRun();
    void Notify(const QString& strText);
    Q_SLOT void OnNotificationAction(uint nId, const QString& strAction);
    void UpdateTray();
    void UpdateToolTip();
    void SaveAnchor() const;
    bool TakesPart(CFTPSite& site) const;

    CMainFrame& m_frame;
    CUpdateSchedule m_schedule;
    CChoices m_choices;
    QTimer m_checkTimer;
    QTimer m_runTimer;
    QAction* m_pAction = nullptr;
    QToolButton* m_pNewsButton = nullptr;
    QSystemTrayIcon* m_pTray = nullptr;
    std::vector<CFTPSite*> m_runSites;
    CWallTime m_runStart;
    std::vector<CFTPSite*> m_newsSites;
    uint m_nNotification = 0;
};
