// The window with the real update engine and the local test FTP server:
// sites updated from the window, their pictures, the served folders in the
// tree, a folder removed by the server while it is shown, and closing while
// workers block on a silent server.

#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "support/FtpServer.h"
#include "ui/CloseDlg.h"
#include "update/EngineState.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;

namespace
{
// The status values each watched site item showed, in order, without repeats.
class CStatusRecorder : public QObject
{
public:
    explicit CStatusRecorder(const QList<CDirItem*>& items) : m_items(items)
    {
        m_shown.resize(items.size());
        m_timer.setInterval(2);
        connect(&m_timer, &QTimer::timeout, this, &CStatusRecorder::Record);
        Record();
        m_timer.start();
    }
    void Record()
    {
        for (qsizetype i = 0; i < m_items.size(); ++i)
        {
            int nStatus = m_items[i]->data(0, CDirItem::STATUS_ROLE).toInt();
            if (m_shown[i].isEmpty() || m_shown[i].last() != nStatus)
                m_shown[i] << nStatus;
        }
    }
    QList<QList<int>> m_shown;

private:
    QList<CDirItem*> m_items;
    QTimer m_timer;
};

void WriteFile(const fs::path& path, const std::string& strText)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << strText;
}
} // namespace

class WindowEndToEndTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    std::unique_ptr<CTempDir> m_pServed;
    std::unique_ptr<CTestFtpServer> m_pServer;

    // A site of the local server: with the server's user, or anonymous.
    CFTPSite* AddServerSite(const std::string& strHost, bool bAnonymous,
                            const std::string& strNickname)
    {
        CSiteInfo info;
        info.m_strHost = strHost;
        info.m_nPort = m_pServer->GetPort();
        info.m_bAnonymous = bAnonymous;
        info.m_strUser = m_pServer->GetUser();
        info.m_strPassword = m_pServer->GetPassword();
        info.m_strNickname = strNickname;
        if (!m_pWindow->Doc().AddSite(info))
            return nullptr;
        return m_pWindow->Doc().m_siteList.back().get();
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

private slots:
    void init()
    {
        g_nThreadLimit = 5;
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pServed = std::make_unique<CTempDir>();
        fs::path root = m_pServed->Path();
        WriteFile(root / "pub/linux/README", "linux");
        WriteFile(root / "pub/index.txt", "index");
        WriteFile(root / "中文目录/说明.txt", "说明");
        WriteFile(root / "gone/old.txt", "old");
        WriteFile(root / "readme", "readme");
        m_pServer = std::make_unique<CTestFtpServer>(m_pServed->Path());
        CSessionTimeouts timeouts;
        timeouts.nControlReceiveTimeout = 30000;
        timeouts.nDataReceiveTimeout = 30000;
        SetEngineTimeouts(timeouts);
    }

    void cleanup()
    {
        m_pWindow.reset(); // ends the engine first
        m_pServer.reset();
        m_pServed.reset();
        SetEngineTimeouts(CSessionTimeouts{});
    }

    void TwoSitesUpdateAndAFolderRemovedByTheServerLeavesWhileShown()
    {
        AddServerSite("127.0.0.1", false, "one");
        AddServerSite("127.0.0.1", true, "two");
        m_pWindow->Tree().FillTree();
        // Slow listings, so that the running picture stays long enough to see.
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/", "action": "delay",
                                            "seconds": 0.3}]})");
        CStatusRecorder recorder({m_pWindow->TopItem(0), m_pWindow->TopItem(1)});
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        // Browse while the sites update: their items are built, rebuilt and
        // selected as the trees grow.
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; !AllIdle() && clock.elapsed() < 30000; ++n)
        {
            CDirItem* pSite = m_pWindow->TopItem(n % 2);
            m_pWindow->Select(pSite);
            if (pSite->childCount() > 0)
                m_pWindow->Select(pSite->child(n % pSite->childCount()));
            QTest::qWait(20);
        }
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        QTRY_COMPARE(recorder.m_shown, QList<QList<int>>({{0, 4, 2}, {0, 4, 2}}));
        QTRY_COMPARE(m_pWindow->Frame().StatusText(), QStringLiteral("更新完成"));
        m_pServer->ClearFaults();

        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        QStringList folders = CWindowFixture::Labels(pSite);
        folders.sort();
        QCOMPARE(folders, QStringList({"gone", "pub", "中文目录"}));

        // Show the folder, then let the server drop it and update again.
        QTreeWidgetItem* pGone = nullptr;
        for (int i = 0; i < pSite->childCount(); ++i)
            if (pSite->child(i)->text(0) == "gone")
                pGone = pSite->child(i);
        m_pWindow->Select(pGone);
        QCOMPARE(m_pWindow->Rows(), QStringList({"old.txt"}));
        fs::remove_all(fs::path(m_pServed->Path()) / "gone");
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        QTRY_VERIFY(!CWindowFixture::Labels(pSite).contains("gone"));
        QCOMPARE(CWindowFixture::Labels(pSite).size(), 2);
        QCOMPARE(m_pWindow->Rows(), QStringList());
        QCOMPARE(m_pWindow->Tree().currentItem(), pSite);
    }

    void ARunningUpdateShowsHowManyFoldersItListed()
    {
        AddServerSite("127.0.0.1", false, "one");
        m_pWindow->Tree().FillTree();
        // Slow listings: the counts are seen between them.
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "action": "delay", "seconds": 0.4}]})");
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        static const QRegularExpression s_listed(
            QString::fromUtf8("^更新0/1  one：已列出 (\\d+) 个文件夹$"));
        QList<int> seen;
        bool bTipSeen = false;
        QElapsedTimer clock;
        clock.start();
        while (!AllIdle() && clock.elapsed() < 30000)
        {
            QRegularExpressionMatch match = s_listed.match(m_pWindow->Frame().StatusText());
            if (match.hasMatch() && (seen.isEmpty() || seen.back() != match.captured(1).toInt()))
                seen << match.captured(1).toInt();
            QString strTip = m_pWindow->TopItem(0)->data(0, Qt::ToolTipRole).toString();
            bTipSeen = bTipSeen || strTip.contains(QString::fromUtf8("\n已列出 "));
            QTest::qWait(20);
        }
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        m_pServer->ClearFaults();
        // The count grew as folders were listed, and only ever grew.
        QVERIFY2(seen.size() >= 2, qPrintable(QStringLiteral("counts seen: %1").arg(seen.size())));
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(seen.back() <= 5);
        QVERIFY(bTipSeen);
        QTRY_COMPARE(m_pWindow->Frame().StatusText(), QStringLiteral("更新完成"));
        QVERIFY(!m_pWindow->TopItem(0)
                     ->data(0, Qt::ToolTipRole)
                     .toString()
                     .contains(QString::fromUtf8("已列出")));
    }

    void TheFolderOnShowFollowsTheUpdateKeepingSelectionAndScroll()
    {
        for (int i = 0; i < 200; ++i)
            WriteFile(fs::path(m_pServed->Path()) / "pub" / ("f" + std::to_string(1000 + i)), "");
        AddServerSite("127.0.0.1", true, "one");
        m_pWindow->Tree().FillTree();
        m_pWindow->Frame().show();
        // Shown before the site has any tree: empty until its update ends.
        m_pWindow->Select(m_pWindow->TopItem(0));
        QCOMPARE(m_pWindow->Rows(), QStringList());
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        auto sorted = [](QStringList rows)
        {
            rows.sort();
            return rows;
        };
        QTRY_COMPARE(sorted(m_pWindow->Rows()), QStringList({"gone", "pub", "readme", "中文目录"}));

        // Scrolled down a folder with a row selected; the server adds a file
        // and drops another.
        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        m_pWindow->Select(pSite->child(CWindowFixture::Labels(pSite).indexOf("pub")));
        CTarnView& list = m_pWindow->List();
        QTRY_COMPARE(m_pWindow->Rows().size(), 202);
        int nPicked = m_pWindow->Rows().indexOf("f1150");
        list.selectRow(nPicked);
        list.scrollTo(list.model()->index(120, 0), QAbstractItemView::PositionAtTop);
        QString strTop = list.indexAt(QPoint(0, 0)).data().toString();
        WriteFile(fs::path(m_pServed->Path()) / "pub" / "f0999", "");
        fs::remove(fs::path(m_pServed->Path()) / "pub" / "f1001");
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        QTRY_VERIFY(m_pWindow->Rows().contains("f0999"));
        QVERIFY(!m_pWindow->Rows().contains("f1001"));
        QModelIndexList selected = list.selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected[0].data().toString(), QStringLiteral("f1150"));
        QCOMPARE(list.indexAt(QPoint(0, 0)).data().toString(), strTop);
    }

    void OptionsThatCannotBeReadShowInTheSiteTips()
    {
        // One site's options.ini has a line it cannot read, the other's is
        // no options file at all (a TLS site must not update as plain FTP).
        CFTPSite* pDamaged = AddServerSite("127.0.0.1", false, "damaged line");
        CFTPSite* pUnreadable = AddServerSite("127.0.0.1", true, "unreadable");
        auto optionsPath = [this](const CFTPSite* pSite)
        {
            return fs::path(GetSiteFolderPath(m_pWindow->DataFolder(), pSite->GetKey())) /
                   SITE_OPTIONS_FILE;
        };
        WriteFile(optionsPath(pDamaged), "listing=list\nnot an option\n");
        WriteFile(optionsPath(pUnreadable),
                  "tls=explicit\n" + std::string(MAX_OPTIONS_FILE_SIZE, '#') + "\n");
        m_pWindow->Tree().FillTree();

        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(AllIdle(), 30000);
        QString strTip = m_pWindow->TopItem(0)->toolTip(0);
        QVERIFY2(
            strTip.startsWith(QStringLiteral("更新成功\n站点选项 options.ini 第 2 行不是“键=值”")),
            qPrintable(strTip));
        strTip = m_pWindow->TopItem(1)->toolTip(0);
        QVERIFY2(strTip.startsWith(QStringLiteral("更新失败:\n站点选项无法读取：")),
                 qPrintable(strTip));
        QCOMPARE(m_pWindow->TopItem(1)->data(0, CDirItem::STATUS_ROLE).toInt(), 1);
        QCOMPARE(m_pServer->CountSessions(), 1);
    }

    void ClosingWhileWorkersBlockShowsTheClosingDialogUntilTheyEndAndKeepsWhatWasMerged()
    {
        // Three keys: host@user, host, and another host; one listing
        // connection each, so that each worker blocks on exactly one listing.
        for (CFTPSite* pSite :
             {AddServerSite("127.0.0.1", false, "a"), AddServerSite("127.0.0.1", true, "b"),
              AddServerSite("localhost", true, "c")})
            pSite->UpdateSettings([](CSiteSettings& s)
                                  { s.Set(CSiteSettings::LISTING, ListingMode::list); });
        m_pWindow->Tree().FillTree();
        m_pWindow->Frame().show();
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/pub", "action": "silent"}]})");
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        auto blocked = [&]
        {
            auto listed = m_pServer->GetListedFolders();
            return std::count(listed.begin(), listed.end(), "/pub");
        };
        QTRY_COMPARE_WITH_TIMEOUT(blocked(), 3, 20000);
        QCOMPARE(g_nRunning.load(), 3u);

        bool bDialogSeen = false;
        QTimer watch;
        watch.setInterval(5);
        connect(&watch, &QTimer::timeout,
                [&]
                {
                    if (qobject_cast<CCloseDlg*>(QApplication::activeModalWidget()) == nullptr)
                        return;
                    bDialogSeen = true;
                });
        watch.start();
        QElapsedTimer clock;
        clock.start();
        m_pWindow->Frame().close();
        QVERIFY(m_pWindow->Frame().IsClosed());
        QVERIFY(bDialogSeen);
        QVERIFY(IsEngineIdle());
        QVERIFY(clock.elapsed() >= CCloseDlg::TICK_MS - 50); // up until its first tick
        QVERIFY(clock.elapsed() < 10000);                    // the cut, not a time-out

        // What the crawl merged before the block was saved, and the closing
        // is recorded as the user's stop, not as a connection the server cut.
        for (const auto& pSite : m_pWindow->Doc().m_siteList)
        {
            QCOMPARE(QString::fromStdString(pSite->GetStatusText()), QStringLiteral("更新终止！"));
            QCOMPARE(
                QString::fromStdString(pSite->GetSettings().Get(CSiteSettings::STAT_LAST_ERROR)),
                QStringLiteral("更新终止！"));
            CFTPSite reloaded;
            reloaded.m_strHost = pSite->m_strHost;
            reloaded.m_nPort = pSite->m_nPort;
            reloaded.m_strUser = pSite->m_strUser;
            reloaded.m_strPassword = pSite->m_strPassword;
            reloaded.EnsureLoaded();
            QVERIFY2(reloaded.m_pRoot->m_dirList.size() >= 1, pSite->GetKey().c_str());
        }
    }
};

QTEST_MAIN(WindowEndToEndTest)
#include "WindowEndToEndTest.moc"
