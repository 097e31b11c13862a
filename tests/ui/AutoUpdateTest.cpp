// Scheduled updates in the window, and tarn-cli's requests handed to it:
// a scheduled run through the real engine against the local FTP server
// (new files told, marked and busy sites left out, a manual update during
// it), the choices kept across runs with a missed run made up, tarn-cli
// update and read run by the window with the output of a direct run, other
// writers refused, and the wait for a background update at start.

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "model/ControlSocket.h"
#include "model/DataFolderLock.h"
#include "model/SiteSettings.h"
#include "support/FtpServer.h"
#include "ui/AutoUpdate.h"
#include "ui/ControlServer.h"
#include "ui/FolderWait.h"
#include "ui/TarnSettings.h"
#include "update/EngineState.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
void WriteFile(const fs::path& path, const std::string& strText)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << strText;
}

ScheduleTime Now()
{
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

struct CRun
{
    int nExit = -1;
    QString strOut;
    QString strErr;
};

// tarn-cli as a child, the window's event loop running meanwhile.
CRun RunCli(const QStringList& args, int nTimeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(TARN_CLI_PATH), args);
    CRun run;
    if (!process.waitForStarted())
        return run;
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < nTimeoutMs)
        QTest::qWait(10);
    if (process.state() != QProcess::NotRunning)
    {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.nExit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.strOut = QString::fromUtf8(process.readAllStandardOutput());
    run.strErr = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The output without the progress lines, whose number depends on timing.
QString WithoutProgress(const QString& strOut)
{
    QStringList kept;
    for (const QString& strLine : strOut.split('\n'))
        if (!strLine.startsWith(QStringLiteral("更新")))
            kept << strLine;
    return kept.join('\n');
}

void ClearAutoUpdateSettings()
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    settings.remove("AutoUpdate");
}
} // namespace

class AutoUpdateTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    std::unique_ptr<CTempDir> m_pServed;
    std::unique_ptr<CTestFtpServer> m_pServer;

    CFTPSite* AddServerSite(CTarnDoc& doc, const std::string& strHost, bool bAnonymous,
                            const std::string& strPassword = "")
    {
        CSiteInfo info;
        info.m_strHost = strHost;
        info.m_nPort = m_pServer->GetPort();
        info.m_bAnonymous = bAnonymous;
        info.m_strUser = m_pServer->GetUser();
        info.m_strPassword = strPassword.empty() ? m_pServer->GetPassword() : strPassword;
        if (!doc.AddSite(info))
            return nullptr;
        return doc.m_siteList.back().get();
    }

    bool AllIdle() const
    {
        if (!IsEngineIdle())
            return false;
        for (const auto& pSite : m_pWindow->Doc().m_siteList)
            if (IsSiteBusy(*pSite))
                return false;
        return true;
    }

    int UnreadRows() const { return int(m_pWindow->Highlights().count(true)); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        ClearAutoUpdateSettings();
        g_nThreadLimit = 5;
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pServed = std::make_unique<CTempDir>();
        fs::path root = m_pServed->Path();
        WriteFile(root / "pub/a.txt", "a");
        WriteFile(root / "pub/b.txt", "b");
        WriteFile(root / "readme", "readme");
        m_pServer = std::make_unique<CTestFtpServer>(m_pServed->Path());
    }

    void cleanup()
    {
        m_pWindow.reset();
        m_pServer.reset();
        m_pServed.reset();
        ClearAutoUpdateSettings();
    }

    void ScheduledRunTellsNewFilesAndLeavesOutMarkedAndBusySites()
    {
        CTarnDoc& doc = m_pWindow->Doc();
        CFTPSite* pTakesPart = AddServerSite(doc, "127.0.0.1", true);
        CFTPSite* pMarked = AddServerSite(doc, "127.0.0.1", false);
        CFTPSite* pByHand = AddServerSite(doc, "localhost", true);
        pMarked->UpdateSettings([](CSiteSettings& settings)
                                { settings.Set(CSiteSettings::AUTO_UPDATE, false); });
        // One connection per update, so that the sessions count the updates.
        for (CFTPSite* pSite : {pTakesPart, pMarked, pByHand})
            pSite->UpdateSettings([](CSiteSettings& settings)
                                  { settings.Set(CSiteSettings::LISTING, ListingMode::list); });
        m_pWindow->Tree().FillTree();
        // Listings slow enough that the updates overlap.
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/", "action": "delay",
                                            "seconds": 0.5},
                                           {"on": "MLSD", "path": "/", "action": "delay",
                                            "seconds": 0.5}]})");
        CMainFrame& frame = m_pWindow->Frame();
        CAutoUpdate& autoUpdate = frame.GetAutoUpdate();
        ScheduleTime now = Now();
        autoUpdate.SetClock([&now] { return now; });
        CAutoUpdate::CChoices choices;
        choices.rule.nKind = ScheduleKind::everyHours;
        choices.rule.nEveryHours = 1;
        autoUpdate.SetChoices(choices);
        QVERIFY2(frame.statusBar()->toolTip().startsWith(QStringLiteral("下次自动更新：")),
                 qPrintable(frame.statusBar()->toolTip()));

        // One site by hand first, then the due time.
        frame.UpdateFolders({pByHand->m_pRoot.get()});
        QVERIFY(IsSiteBusy(*pByHand));
        now += 1h;
        QSignalSpy ended(&autoUpdate, &CAutoUpdate::RunEnded);
        autoUpdate.CheckNow();
        QVERIFY(autoUpdate.IsRunning());
        QVERIFY(IsSiteBusy(*pTakesPart));
        QCOMPARE(pMarked->m_nStatus.load(), 0);
        // A manual "更新全部" meanwhile queues only what is idle.
        frame.Action(ID_UPDATE_ALL)->trigger();
        autoUpdate.CheckNow(); // not due twice
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() == 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        QCOMPARE(ended[0][0].toInt(), 1);
        QCOMPARE(ended[0][1].toULongLong(), 3ull);
        QCOMPARE(autoUpdate.GetNews(), QStringLiteral("1 个站点有 3 个新文件"));
        // Each site was crawled once: nothing started twice.
        QCOMPARE(m_pServer->CountSessions(), 3);
        for (const auto& pSite : doc.m_siteList)
            QCOMPARE(pSite->m_nStatus.load(), 2);

        // Clicking the news lists the unread files of that site only.
        auto* pNews = frame.findChild<QToolButton*>("autoUpdateNews");
        QVERIFY(pNews != nullptr && !pNews->isHidden());
        QTest::mouseClick(pNews, Qt::LeftButton);
        // pub (standing for what it holds) and readme; the other two sites would add 4.
        QTRY_COMPARE(UnreadRows(), 2);
        QVERIFY(pNews->isHidden());
        // The next run counts from this one.
        QCOMPARE(*autoUpdate.GetSchedule().GetNextRun(), now + 1h);
    }

    void ChoicesLastAcrossRunsAndAMissedRunIsMadeUpAfterTheStart()
    {
        CAutoUpdate::CChoices choices;
        choices.rule.nKind = ScheduleKind::daily;
        choices.rule.nDailyMinute = 7 * 60 + 5;
        choices.rule.bCatchUp = false;
        choices.bAllSites = true;
        choices.bCloseToTray = true;
        m_pWindow->Frame().GetAutoUpdate().SetChoices(choices);
        m_pWindow.reset();
        m_pWindow = std::make_unique<CWindowFixture>();
        QCOMPARE(m_pWindow->Frame().GetAutoUpdate().GetChoices(), choices);
        // No tray offscreen: closing closes.
        QVERIFY(!m_pWindow->Frame().GetAutoUpdate().ClosesToTray());

        // Every hour, the last run two days ago: one run a minute after the start.
        {
            QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
            settings.setValue("AutoUpdate/mode", "hours");
            settings.setValue("AutoUpdate/hours", 1);
            settings.setValue("AutoUpdate/catchUp", true);
            settings.setValue("AutoUpdate/countsFrom",
                              qlonglong((Now() - 48h).time_since_epoch().count()));
        }
        m_pWindow.reset();
        ScheduleTime start = Now();
        m_pWindow = std::make_unique<CWindowFixture>();
        CAutoUpdate& autoUpdate = m_pWindow->Frame().GetAutoUpdate();
        std::optional<ScheduleTime> next = autoUpdate.GetSchedule().GetNextRun();
        QVERIFY(next.has_value());
        QVERIFY(*next >= start + CAutoUpdate::CATCH_UP_DELAY &&
                *next <= Now() + CAutoUpdate::CATCH_UP_DELAY);
        ScheduleTime now = Now();
        autoUpdate.SetClock([&now] { return now; });
        autoUpdate.CheckNow();
        QVERIFY(!autoUpdate.IsRunning());
        now = *next;
        QSignalSpy ended(&autoUpdate, &CAutoUpdate::RunEnded);
        autoUpdate.CheckNow();
        QCOMPARE(ended.count(), 1); // no sites: over at once
        QCOMPARE(*autoUpdate.GetSchedule().GetNextRun(), *next + 1h);
    }

    void SettingsDialogChangesTheChoices()
    {
        CAutoUpdate& autoUpdate = m_pWindow->Frame().GetAutoUpdate();
        AnswerNextDialog<QDialog>(
            [](QDialog& dlg)
            {
                dlg.findChild<QRadioButton*>("every")->setChecked(true);
                dlg.findChild<QSpinBox*>("hours")->setValue(500); // held to 168
                dlg.findChild<QRadioButton*>("allSites")->setChecked(true);
                dlg.findChild<QCheckBox*>("catchUp")->setChecked(false);
                dlg.accept();
            });
        autoUpdate.GetAction()->trigger();
        CAutoUpdate::CChoices choices = autoUpdate.GetChoices();
        QCOMPARE(choices.rule.nKind, ScheduleKind::everyHours);
        QCOMPARE(choices.rule.nEveryHours, 168);
        QVERIFY(choices.bAllSites);
        QVERIFY(!choices.rule.bCatchUp);
    }

    void CliUpdateHandedToTheWindowPrintsWhatADirectRunPrints()
    {
        CTarnDoc& doc = m_pWindow->Doc();
        AddServerSite(doc, "127.0.0.1", true);
        AddServerSite(doc, "127.0.0.1", false, "wrong"); // its login fails
        m_pWindow->Tree().FillTree();
        QString strData = QString::fromStdString(m_pWindow->DataFolder());
        // The same sites in a folder of their own, for the direct run.
        CTempDir direct;
        fs::copy_file(fs::path(m_pWindow->DataFolder()) / "site.ds",
                      fs::path(direct.Path()) / "site.ds");

        CDataFolderLock lock;
        lock.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
        std::string strError;
        QVERIFY(lock.Acquire(m_pWindow->DataFolder(), 0ms, &strError) ==
                CDataFolderLock::Result::taken);
        CControlServer server(m_pWindow->Frame());
        QVERIFY(server.Listen(m_pWindow->DataFolder(), &strError));
        QCOMPARE(fs::status(GetControlSocketPath(m_pWindow->DataFolder())).permissions() &
                     fs::perms::all,
                 fs::perms::owner_read | fs::perms::owner_write);

        CRun handed = RunCli({"--data-dir", strData, "update"});
        CRun directRun = RunCli({"--data-dir", QString::fromStdString(direct.Path()), "update"});
        QCOMPARE(handed.nExit, 1);
        QCOMPARE(handed.nExit, directRun.nExit);
        QCOMPARE(WithoutProgress(handed.strOut), WithoutProgress(directRun.strOut));
        QCOMPARE(handed.strErr, directRun.strErr);
        QVERIFY2(handed.strOut.contains(QStringLiteral("更新成功")), qPrintable(handed.strOut));
        // The window did the work and shows it.
        QTRY_VERIFY(AllIdle());
        QCOMPARE(m_pWindow->TopItem(0)->data(0, CDirItem::STATUS_ROLE).toInt(), 2);
        QCOMPARE(m_pWindow->TopItem(1)->data(0, CDirItem::STATUS_ROLE).toInt(), 1);

        // One site by key, JSON: the same last line.
        // The key holds the port: the test server's is never 21.
        const QString strKey = QStringLiteral("127.0.0.1:%1").arg(m_pServer->GetPort());
        handed = RunCli({"--data-dir", strData, "--json", "update", strKey});
        directRun = RunCli(
            {"--data-dir", QString::fromStdString(direct.Path()), "--json", "update", strKey});
        QCOMPARE(handed.nExit, 0);
        QCOMPARE(handed.nExit, directRun.nExit);
        QCOMPARE(handed.strOut.trimmed().split('\n').last(),
                 directRun.strOut.trimmed().split('\n').last());

        // read is run by the window and saved at once: readers see it.
        CRun unread = RunCli({"--data-dir", strData, "new"});
        QVERIFY2(unread.strOut.contains("readme"), qPrintable(unread.strOut));
        CRun read = RunCli({"--data-dir", strData, "read", strKey + "/pub"});
        QCOMPARE(read.nExit, 0);
        unread = RunCli({"--data-dir", strData, "new"});
        QVERIFY2(!unread.strOut.contains("pub") && unread.strOut.contains("readme"),
                 qPrintable(unread.strOut));
        read = RunCli({"--data-dir", strData, "read", strKey + "/nothing"});
        QCOMPARE(read.nExit, 1); // checked by tarn-cli, as a direct run does
        read = RunCli({"--data-dir", strData, "read", "--all"});
        QCOMPARE(read.nExit, 0);
        QCOMPARE(UnreadRows(), 0);
        unread = RunCli({"--data-dir", strData, "new"});
        QVERIFY2(!unread.strOut.contains("readme"), qPrintable(unread.strOut));

        // Other writers are refused at once, naming the window.
        QElapsedTimer clock;
        clock.start();
        CRun add = RunCli({"--data-dir", strData, "add", "--host", "example.org"});
        QCOMPARE(add.nExit, 1);
        QVERIFY2(add.strErr.contains("Tarn window"), qPrintable(add.strErr));
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(doc.m_siteList.size(), size_t(2));
    }

    void WindowWaitsForABackgroundUpdateAndOpensWhenItEnds()
    {
        CTempDir folder;
        CDataFolderLock cli;
        cli.SetHolderName(CDataFolderLock::HOLDER_CLI);
        std::string strError;
        QVERIFY(cli.Acquire(folder.Path(), 0ms, &strError) == CDataFolderLock::Result::taken);
        bool bShown = false;
        QTimer::singleShot(
            300,
            [&]
            {
                auto* pDlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                bShown = pDlg != nullptr && pDlg->findChild<QLabel*>()->text() ==
                                                QStringLiteral("后台更新正在进行，完成后自动打开");
                cli.Release();
            });
        CDataFolderLock window;
        window.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
        QVERIFY(WaitForBackgroundUpdate(&window, folder.Path()));
        QVERIFY(bShown);
        QVERIFY(window.IsHeld());

        // Cancelled: the window does not open.
        window.Release();
        QVERIFY(cli.Acquire(folder.Path(), 0ms, &strError) == CDataFolderLock::Result::taken);
        AnswerNextDialog<QDialog>([](QDialog& dlg) { dlg.reject(); });
        CDataFolderLock second;
        QVERIFY(!WaitForBackgroundUpdate(&second, folder.Path()));
        QVERIFY(!second.IsHeld());
    }
};

QTEST_MAIN(AutoUpdateTest)
#include "AutoUpdateTest.moc"
