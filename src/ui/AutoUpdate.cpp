#include "ui/AutoUpdate.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>

#include "doc/ChangeListing.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/SiteSettings.h"
#include "ui/Art.h"
#include "ui/AutoUpdateDlg.h"
#include "ui/MainFrame.h"
#include "ui/TarnSettings.h"
#include "update/UpdateEngine.h"

namespace
{
const char* const TEXT_COMMAND = "自动更新...";
const char* const TEXT_NEWS = "%1 个站点有 %2 个新文件";
const char* const TEXT_NEXT_RUN = "下次自动更新：%1";
const char* const TEXT_SHOW = "显示";
const char* const TEXT_TRAY_SHOW = "显示窗口";
const char* const TEXT_TRAY_QUIT = "退出";
const char* const TEXT_APP = "Tarn";

const char* const SETTING_MODE = "AutoUpdate/mode"; // off, hours, daily
const char* const SETTING_HOURS = "AutoUpdate/hours";
const char* const SETTING_TIME = "AutoUpdate/time"; // HH:MM
const char* const SETTING_CATCH_UP = "AutoUpdate/catchUp";
const char* const SETTING_ALL_SITES = "AutoUpdate/allSites";
const char* const SETTING_TRAY = "AutoUpdate/closeToTray";
const char* const SETTING_ANCHOR = "AutoUpdate/countsFrom"; // seconds since 1970

const char* const NOTIFY_SERVICE = "org.freedesktop.Notifications";
const char* const NOTIFY_PATH = "/org/freedesktop/Notifications";
const char* const NOTIFY_INTERFACE = "org.freedesktop.Notifications";

constexpr int CHECK_PERIOD_MS = 15000;
constexpr int RUN_POLL_MS = 500;

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

QSettings OpenSettings()
{
    return QSettings(TarnSettingsOrganization(), TarnSettingsApplication());
}

const char* ModeName(ScheduleKind nKind)
{
    switch (nKind)
    {
    case ScheduleKind::everyHours:
        return "hours";
    case ScheduleKind::daily:
        return "daily";
    case ScheduleKind::off:
        break;
    }
    return "off";
}

// New files in the lines a run wrote: added files, and what a first
// update found.
uint64_t CountNewFiles(const CFTPSite& site, CWallTime since)
{
    CChangeQuery query;
    query.since = since;
    uint64_t nFiles = 0;
    for (const CChangeRecord& record : ReadSiteChanges(site, query))
    {
        if (record.nKind == ChangeKind::added && !record.bFolder)
            ++nFiles;
        else if (record.nKind == ChangeKind::first)
            nFiles += record.nFiles;
    }
    return nFiles;
}
} // namespace

CAutoUpdate::CAutoUpdate(CMainFrame& frame)
    : QObject(&frame), m_frame(frame),
      m_schedule(
          [] { return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()); })
{
    m_pAction = new QAction(Text(TEXT_COMMAND), &frame);
    m_pAction->setObjectName("autoUpdate");
    connect(m_pAction, &QAction::triggered, this, &CAutoUpdate::OnSettingsCommand);
    if (auto* pMenu = frame.findChild<QMenu*>("settingsMenu"))
        pMenu->addAction(m_pAction);

    m_pNewsButton = new QToolButton;
    m_pNewsButton->setObjectName("autoUpdateNews");
    m_pNewsButton->setAutoRaise(true);
    m_pNewsButton->hide();
    connect(m_pNewsButton, &QToolButton::clicked, this, &CAutoUpdate::ShowNews);
    frame.statusBar()->addPermanentWidget(m_pNewsButton);

    m_checkTimer.setInterval(CHECK_PERIOD_MS);
    connect(&m_checkTimer, &QTimer::timeout, this, &CAutoUpdate::CheckNow);
    m_runTimer.setInterval(RUN_POLL_MS);
    connect(&m_runTimer, &QTimer::timeout, this, &CAutoUpdate::PollRun);
}

CAutoUpdate::~CAutoUpdate() = default;

void CAutoUpdate::Start()
{
    QSettings settings = OpenSettings();
    CChoices choices;
    QString strMode = settings.value(SETTING_MODE).toString();
    choices.rule.nKind = strMode == "hours"   ? ScheduleKind::everyHours
                         : strMode == "daily" ? ScheduleKind::daily
                                              : ScheduleKind::off;
    choices.rule.nEveryHours = settings.value(SETTING_HOURS, 6).toInt();
    int nMinute = 0;
    if (ParseDailyTime(settings.value(SETTING_TIME).toString().toStdString(), &nMinute))
        choices.rule.nDailyMinute = nMinute;
    choices.rule.bCatchUp = settings.value(SETTING_CATCH_UP, true).toBool();
    choices.bAllSites = settings.value(SETTING_ALL_SITES, false).toBool();
    choices.bCloseToTray = settings.value(SETTING_TRAY, false).toBool();
    m_choices = choices;
    m_choices.rule = choices.rule.Clamped();

    m_schedule.SetRule(m_choices.rule);
    bool bOk = false;
    qlonglong nAnchor = settings.value(SETTING_ANCHOR).toLongLong(&bOk);
    if (bOk)
        m_schedule.Restore(ScheduleTime{std::chrono::seconds{nAnchor}});
    (void)m_schedule.Start(CATCH_UP_DELAY);
    SaveAnchor();
    m_checkTimer.start();
    UpdateTray();
    UpdateToolTip();
}

void CAutoUpdate::SetChoices(const CChoices& choices)
{
    m_choices = choices;
    m_choices.rule = choices.rule.Clamped();
    m_schedule.SetRule(m_choices.rule);
    QSettings settings = OpenSettings();
    settings.setValue(SETTING_MODE, ModeName(m_choices.rule.nKind));
    settings.setValue(SETTING_HOURS, m_choices.rule.nEveryHours);
    settings.setValue(SETTING_TIME,
                      QString::fromStdString(FormatDailyTime(m_choices.rule.nDailyMinute)));
    settings.setValue(SETTING_CATCH_UP, m_choices.rule.bCatchUp);
    settings.setValue(SETTING_ALL_SITES, m_choices.bAllSites);
    settings.setValue(SETTING_TRAY, m_choices.bCloseToTray);
    SaveAnchor();
    UpdateTray();
    UpdateToolTip();
}

void CAutoUpdate::SaveAnchor() const
{
    QSettings settings = OpenSettings();
    if (std::optional<ScheduleTime> anchor = m_schedule.GetAnchor())
        settings.setValue(SETTING_ANCHOR, qlonglong(anchor->time_since_epoch().count()));
    else
        settings.remove(SETTING_ANCHOR);
}

void CAutoUpdate::OnSettingsCommand()
{
    CAutoUpdateDlg dlg(&m_frame, QSystemTrayIcon::isSystemTrayAvailable());
    dlg.m_choices = m_choices;
    if (dlg.exec() == QDialog::Accepted && !(dlg.m_choices == m_choices))
        SetChoices(dlg.m_choices);
}

bool CAutoUpdate::ClosesToTray() const
{
    return m_pTray != nullptr && m_pTray->isVisible() && m_choices.bCloseToTray &&
           m_choices.rule.nKind != ScheduleKind::off;
}

void CAutoUpdate::SetClock(CUpdateSchedule::Clock clock)
{
    m_schedule.SetClock(std::move(clock));
    UpdateToolTip();
}

bool CAutoUpdate::TakesPart(CFTPSite& site) const
{
    if (IsSiteBusy(site))
        return false; // being updated by hand (or by tarn-cli): left to that update
    return m_choices.bAllSites || site.GetSettings().Get(CSiteSettings::AUTO_UPDATE);
}

void CAutoUpdate::CheckNow()
{
    if (m_schedule.IsDue())
        StartRun();
    UpdateToolTip();
}

void CAutoUpdate::StartRun()
{
    m_schedule.OnRunStarted();
    SaveAnchor();
    m_runStart = std::chrono::system_clock::now();
    m_runSites.clear();
    std::vector<CFTPDir*> roots;
    for (const auto& pSite : m_frame.GetDoc().m_siteList)
    {
        if (!TakesPart(*pSite))
            continue;
        m_runSites.push_back(pSite.get());
        roots.push_back(pSite->m_pRoot.get());
    }
    if (roots.empty())
    {
        EndRun();
        return;
    }
    m_frame.UpdateFolders(roots);
    m_runTimer.start();
}

void CAutoUpdate::PollRun()
{
    CTarnDoc& doc = m_frame.GetDoc();
    for (CFTPSite* pSite : m_runSites)
    {
        if (doc.HasSite(pSite) && IsSiteBusy(*pSite))
            return;
    }
    EndRun();
}

void CAutoUpdate::EndRun()
{
    m_runTimer.stop();
    m_schedule.OnRunEnded();
    CTarnDoc& doc = m_frame.GetDoc();
    std::vector<CFTPSite*> newsSites;
    uint64_t nFiles = 0;
    // A second's margin: a change line's "run" is the update's own start.
    CWallTime since = m_runStart - std::chrono::seconds(1);
    for (CFTPSite* pSite : m_runSites)
    {
        if (!doc.HasSite(pSite))
            continue;
        uint64_t nSiteFiles = CountNewFiles(*pSite, since);
        if (nSiteFiles == 0)
            continue;
        newsSites.push_back(pSite);
        nFiles += nSiteFiles;
    }
    m_runSites.clear();
    if (nFiles > 0)
    {
        m_newsSites = newsSites;
        QString strNews = Text(TEXT_NEWS).arg(newsSites.size()).arg(nFiles);
        m_pNewsButton->setText(strNews);
        m_pNewsButton->show();
        Notify(strNews);
    }
    UpdateToolTip();
    emit RunEnded(int(newsSites.size()), qulonglong(nFiles));
}

QString CAutoUpdate::GetNews() const
{
    return m_pNewsButton->isHidden() ? QString() : m_pNewsButton->text();
}

void CAutoUpdate::ShowNews()
{
    if (m_frame.isHidden())
        m_frame.show();
    m_frame.raise();
    m_frame.activateWindow();
    CTarnDoc& doc = m_frame.GetDoc();
    std::vector<CFTPSite*> sites;
    for (CFTPSite* pSite : m_newsSites)
    {
        if (doc.HasSite(pSite))
            sites.push_back(pSite);
    }
    if (sites.empty())
        return;
    m_pNewsButton->hide();
    m_frame.ShowUnreadOf(sites);
}

void CAutoUpdate::Notify(const QString& strText)
{
    if (m_pTray != nullptr && m_pTray->isVisible() && QSystemTrayIcon::supportsMessages())
    {
        m_pTray->showMessage(Text(TEXT_APP), strText);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusInterface notifications(NOTIFY_SERVICE, NOTIFY_PATH, NOTIFY_INTERFACE, bus);
    if (!notifications.isValid())
        return;
    static bool s_bListening = false;
    if (!s_bListening)
        s_bListening = bus.connect(NOTIFY_SERVICE, NOTIFY_PATH, NOTIFY_INTERFACE, "ActionInvoked",
                                   this, SLOT(OnNotificationAction(uint, QString)));
    QDBusPendingCall call = notifications.asyncCall(
        "Notify", Text(TEXT_APP), m_nNotification, QString("tarn"), Text(TEXT_APP), strText,
        QStringList{"default", Text(TEXT_SHOW)}, QVariantMap(), int(-1));
    auto* pWatcher = new QDBusPendingCallWatcher(call, this);
    connect(pWatcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* pDone)
            {
                QDBusPendingReply<uint> reply = *pDone;
                if (!reply.isError())
                    m_nNotification = reply.value();
                pDone->deleteLater();
            });
}

void CAutoUpdate::OnNotificationAction(uint nId, const QString& strAction)
{
    if (nId == m_nNotification && (strAction == "default" || !strAction.isEmpty()))
        ShowNews();
}

void CAutoUpdate::UpdateTray()
{
    bool bWanted =
        QSystemTrayIcon::isSystemTrayAvailable() && m_choices.rule.nKind != ScheduleKind::off;
    if (!bWanted)
    {
        if (m_pTray != nullptr)
            m_pTray->hide();
        return;
    }
    if (m_pTray == nullptr)
    {
        m_pTray = new QSystemTrayIcon(AppIcon(), this);
        auto* pMenu = new QMenu(&m_frame);
        connect(pMenu->addAction(Text(TEXT_TRAY_SHOW)), &QAction::triggered, this,
                [this]
                {
                    m_frame.show();
                    m_frame.raise();
                    m_frame.activateWindow();
                });
        connect(pMenu->addAction(Text(TEXT_TRAY_QUIT)), &QAction::triggered, &m_frame,
                &CMainFrame::CloseForGood);
        m_pTray->setContextMenu(pMenu);
        connect(m_pTray, &QSystemTrayIcon::messageClicked, this, &CAutoUpdate::ShowNews);
        connect(m_pTray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason nReason)
                {
                    if (nReason == QSystemTrayIcon::Trigger)
                    {
                        m_frame.show();
                        m_frame.raise();
                        m_frame.activateWindow();
                    }
                });
    }
    m_pTray->show();
}

void CAutoUpdate::UpdateToolTip()
{
    QString strTip;
    if (std::optional<ScheduleTime> next = m_schedule.GetNextRun())
        strTip = Text(TEXT_NEXT_RUN)
                     .arg(QDateTime::fromSecsSinceEpoch(next->time_since_epoch().count())
                              .toString("yyyy-MM-dd HH:mm"));
    m_frame.statusBar()->setToolTip(strTip);
    if (m_pTray != nullptr)
        m_pTray->setToolTip(strTip.isEmpty() ? Text(TEXT_APP) : Text(TEXT_APP) + "\n" + strTip);
}
