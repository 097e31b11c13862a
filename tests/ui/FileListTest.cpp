// The file list over the real document: rows of both listings, result rows
// arriving in batches in their places, removal of rows, highlights, sorting
// and opening rows. QAbstractItemModelTester watches the model and its sort
// proxy through every step.

#include <QAbstractItemModelTester>
#include <QDesktopServices>
#include <QHeaderView>
#include <QSignalSpy>
#include <QtTest>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "doc/Ancestry.h"
#include "ui/Downloads.h"
#include "update/UpdateObserver.h"

namespace
{
// Receives the URLs the desktop would open.
class CUrlCatcher : public QObject
{
    Q_OBJECT

public:
    CUrlCatcher() { QDesktopServices::setUrlHandler("ftp", this, "Open"); }
    ~CUrlCatcher() override { QDesktopServices::unsetUrlHandler("ftp"); }
    QList<QUrl> m_urls;

public slots:
    void Open(const QUrl& url) { m_urls << url; }
};

// A desktop whose ftp:// program is not a web browser: "打开" hands it the URL.
class CFtpProgramDesktop : public IDesktop
{
public:
    std::string QueryDefaultHandler(const std::string&) override
    {
        return "org.example.FtpTool.desktop";
    }
    void OpenUrl(const std::string& strUrl) override
    {
        QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(strUrl)));
    }
    void OpenLocalFile(const std::string&) override {}
    bool Ask(const std::string&) override { return false; }
};

QModelIndex ViewIndex(const CTarnView& view, int nRow, int nColumn = 0)
{
    return view.model()->index(nRow, nColumn);
}

// File i of a sort test: "f" or "F" (odd i) and six digits, so names order by
// number whatever the case while addresses put the capitals first; pairs of
// files share a size that falls as i grows.
QString SortFileName(int i)
{
    return QString::asprintf("%s%06d", i % 2 ? "F" : "f", i);
}

// Runs the event loop until no sort is left running.
bool WaitForSort(CFileListModel& model)
{
    if (!model.IsSorting())
        return true;
    QSignalSpy finished(&model, &CFileListModel::SortFinished);
    return finished.wait(120000);
}
} // namespace

class FileListTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    std::unique_ptr<QAbstractItemModelTester> m_pModelTester;
    std::unique_ptr<QAbstractItemModelTester> m_pProxyTester;

    CTarnView& List() const { return m_pWindow->List(); }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        using Mode = QAbstractItemModelTester::FailureReportingMode;
        m_pModelTester = std::make_unique<QAbstractItemModelTester>(&List().Model(), Mode::QtTest);
        m_pProxyTester = std::make_unique<QAbstractItemModelTester>(&List().Proxy(), Mode::QtTest);
    }

    void cleanup()
    {
        m_pProxyTester.reset();
        m_pModelTester.reset();
        m_pWindow.reset();
    }

    void WelcomeLinesUntilAListingThenFoldersBeforeFiles()
    {
        QCOMPARE(m_pWindow->Rows(),
                 QStringList({"欢迎使用Tarn!", "点击增加可以添加站点", "点击更新可以更新站点",
                              "选择左边站点可以查看站点内容"}));
        QCOMPARE(m_pWindow->Rows(CFileListModel::COLUMN_SIZE), QStringList(4, QString()));
        QVERIFY(!ViewIndex(List(), 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        // A welcome line opens nothing.
        emit List().doubleClicked(ViewIndex(List(), 0));
        QVERIFY(!m_pWindow->Doc().m_pCurrent);

        CFTPSite* pSite = m_pWindow->AddSite("h");
        CFTPDir* pRoot = pSite->m_pRoot.get();
        AddFile(pRoot, "readme", 1536);
        AddDir(pRoot, "pub", 1);
        AddFile(pRoot, "\xD6\xD0\xCE\xC4.txt", 0); // GB18030 bytes: shown decoded
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "readme", "中文.txt"}));
        QCOMPARE(m_pWindow->Rows(CFileListModel::COLUMN_SIZE),
                 QStringList({"0", "1.50K", "0字节"}));
        QCOMPARE(m_pWindow->Rows(CFileListModel::COLUMN_ADDRESS),
                 QStringList({"ftp://h/pub", "ftp://h/readme", "ftp://h/中文.txt"}));
        QCOMPARE(m_pWindow->Highlights(), QList<bool>({true, false, false}));
        QVERIFY(!List().m_bResultMode);

        // A site that names its character set has its names read in it.
        CFTPSite* pBig5 = m_pWindow->AddSite("tw");
        pBig5->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "Big5"); });
        AddFile(pBig5->m_pRoot.get(), "\xA4\xA4\xA4\xE5"); // "中文" in Big5
        m_pWindow->Doc().NavigateTo(pBig5->m_pRoot.get());
        List().ShowBrowseListing();
        QCOMPARE(m_pWindow->Rows(), QStringList({"中文"}));
    }

    void ResultRowsTakeTheirPlacesWhetherShownAtOnceOrInBatches_data()
    {
        QTest::addColumn<QString>("arrivals"); // f = file, d = folder, | = rows shown
        QTest::addColumn<QStringList>("shownAtBars");
        QTest::newRow("a file first stays at row 0 until a folder comes")
            << "f|d|" << QStringList({"f1", "d1 f1"});
        QTest::newRow("folders go before every file")
            << "ffdfd|" << QStringList({"d1 d2 f1 f2 f3"});
        QTest::newRow("shown one by one")
            << "f|d|f|d|" << QStringList({"f1", "d1 f1", "d1 f1 f2", "d1 d2 f1 f2"});
        QTest::newRow("only folders") << "dd|d|" << QStringList({"d1 d2", "d1 d2 d3"});
    }

    void ResultRowsTakeTheirPlacesWhetherShownAtOnceOrInBatches()
    {
        QFETCH(QString, arrivals);
        QFETCH(QStringList, shownAtBars);
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        List().ClearList();
        List().AppendResultRow(nullptr, IUpdateObserver::entryFile);
        QVERIFY(List().m_bResultMode);
        int nDirs = 0;
        int nFiles = 0;
        QStringList shown;
        for (QChar c : arrivals)
        {
            if (c == 'd')
                List().AppendResultRow(AddDir(pRoot, "d" + std::to_string(++nDirs)),
                                       IUpdateObserver::entryFolder);
            else if (c == 'f')
                List().AppendResultRow(AddFile(pRoot, "f" + std::to_string(++nFiles)),
                                       IUpdateObserver::entryFile);
            else
                shown << m_pWindow->Rows().join(' ');
        }
        QCOMPARE(shown, shownAtBars);
    }

    // More rows than one turn of the event loop inserts: they come in over
    // many turns, each in its place, none lost or doubled, and a folder
    // found last still goes before every file.
    void ManyResultRowsComeInOverSeveralTurnsInTheirOrder()
    {
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        std::vector<CFTPFile*> files;
        for (int i = 0; i < 7; ++i)
            files.push_back(AddFile(pRoot, "f" + std::to_string(i)));
        CFTPDir* pDir = AddDir(pRoot, "d");
        List().ClearList();
        List().AppendResultRow(nullptr, IUpdateObserver::entryFile);
        constexpr int FILES = 20000;
        for (int i = 0; i < FILES; ++i)
            List().AppendResultRow(files[size_t(i) % files.size()], IUpdateObserver::entryFile);
        List().AppendResultRow(pDir, IUpdateObserver::entryFolder);
        CFileListModel& model = List().Model();
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QTRY_COMPARE_WITH_TIMEOUT(model.PendingCount(), size_t(0), 60000);
        QVERIFY(inserted.count() > FILES / int(CFileListModel::FLUSH_LIMIT));
        QCOMPARE(model.rowCount(), FILES + 1);
        QCOMPARE(model.EntryAt(0), pDir);
        for (int i = 0; i < FILES; ++i)
        {
            if (model.EntryAt(i + 1) != files[size_t(i) % files.size()])
                QFAIL(qPrintable(QString("row %1 out of place").arg(i + 1)));
        }
    }

    void RemovedEntriesLoseEveryRowTheyHave()
    {
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        CFTPDir* pPub = AddDir(pRoot, "pub");
        CFTPFile* pInner = AddFile(pPub, "inner");
        CFTPFile* pTwice = AddFile(pRoot, "twice");
        CFTPFile* pOther = AddFile(pRoot, "other");
        List().ClearList();
        List().AppendResultRow(nullptr, IUpdateObserver::entryFile);
        List().AppendResultRow(pTwice, IUpdateObserver::entryFile);
        List().AppendResultRow(pPub, IUpdateObserver::entryFolder);
        List().AppendResultRow(pTwice, IUpdateObserver::entryFile);
        List().AppendResultRow(pInner, IUpdateObserver::entryFile);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "twice", "twice", "inner"}));

        List().RemoveEntryRows(pTwice);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "inner"}));
        // A removed folder takes the rows of what was inside it, waiting ones too.
        List().AppendResultRow(pInner, IUpdateObserver::entryFile);
        CSubtreeSet removed;
        removed.Add(pPub);
        List().ForgetEntries(removed);
        QCOMPARE(m_pWindow->Rows(), QStringList());
        // The rows that come next still go in their places.
        List().AppendResultRow(pOther, IUpdateObserver::entryFile);
        List().AppendResultRow(pPub, IUpdateObserver::entryFolder);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "other"}));
        // An entry shown in no row changes nothing.
        List().RemoveEntryRows(pTwice);
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "other"}));
    }

    void ClearFileHighlightsLeavesFolderRowsAlone()
    {
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        AddDir(pRoot, "new", 1);
        AddFile(pRoot, "a", 0, 1);
        AddFile(pRoot, "b", 0, 1);
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        QCOMPARE(m_pWindow->Highlights(), QList<bool>({true, true, true}));
        m_pWindow->Frame().Action(ID_MARK_SHOWN_READ)->trigger();
        QCOMPARE(m_pWindow->Highlights(), QList<bool>({true, false, false}));
        QCOMPARE(pRoot->m_dirList[0]->m_nState, 1);
        QCOMPARE(pRoot->m_fileList[0]->m_nState, 0);
    }

    void HeaderClicksSortWithFoldersFirstThenRestoreTheListingOrder()
    {
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        AddFile(pRoot, "b", 30);
        AddFile(pRoot, "A", 10);
        AddDir(pRoot, "z");
        AddFile(pRoot, "c", 20);
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        QHeaderView* pHeader = List().horizontalHeader();
        auto click = [&](int nSection)
        {
            emit pHeader->sectionClicked(nSection);
            return m_pWindow->Rows();
        };
        QCOMPARE(click(CFileListModel::COLUMN_NAME), QStringList({"z", "A", "b", "c"}));
        QCOMPARE(click(CFileListModel::COLUMN_NAME), QStringList({"z", "c", "b", "A"}));
        QCOMPARE(click(CFileListModel::COLUMN_NAME), QStringList({"z", "b", "A", "c"}));
        QCOMPARE(click(CFileListModel::COLUMN_SIZE), QStringList({"z", "A", "c", "b"}));
        // New rows find their sorted place.
        List().ClearList();
        List().AppendResultRow(pRoot->m_fileList[0].get(), IUpdateObserver::entryFile);
        List().AppendResultRow(pRoot->m_fileList[1].get(), IUpdateObserver::entryFile);
        QCOMPARE(m_pWindow->Rows(), QStringList({"A", "b"}));
    }

    void TheDateColumnShowsSortsAndExplainsTimes()
    {
        qputenv("TZ", "Asia/Shanghai");
        tzset();
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        AddDir(pRoot, "old-dir")->m_time =
            CModTime(CivilToSeconds(2020, 5, 1, 8, 0), TimePrecision::minute, false);
        AddDir(pRoot, "undated-dir");
        AddFile(pRoot, "utc.txt")->m_time =
            CModTime(CivilToSeconds(2026, 12, 31, 20, 5) + 9, TimePrecision::second, true);
        AddFile(pRoot, "undated.txt");
        AddFile(pRoot, "day.txt")->m_time =
            CModTime(CivilToSeconds(2019, 3, 14), TimePrecision::day, false);
        AddFile(pRoot, "wall.txt")->m_time =
            CModTime(CivilToSeconds(2026, 12, 31, 23, 0), TimePrecision::minute, false);
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        QCOMPARE(List().model()->headerData(CFileListModel::COLUMN_MODIFIED, Qt::Horizontal)
                     .toString(),
                 QString("修改日期"));
        // A known zone shows in local time (UTC+8 here), a server's wall
        // clock as listed, a day as the date alone, no time as blank.
        QCOMPARE(m_pWindow->Rows(CFileListModel::COLUMN_MODIFIED),
                 QStringList({"2020-05-01 08:00", "", "2027-01-01 04:05", "", "2019-03-14",
                              "2026-12-31 23:00"}));

        QHeaderView* pHeader = List().horizontalHeader();
        auto click = [&]
        {
            emit pHeader->sectionClicked(CFileListModel::COLUMN_MODIFIED);
            return m_pWindow->Rows();
        };
        // Folders first, rows without a time last, in either direction.
        QCOMPARE(click(), QStringList({"old-dir", "undated-dir", "day.txt", "wall.txt", "utc.txt",
                                       "undated.txt"}));
        QCOMPARE(click(), QStringList({"old-dir", "undated-dir", "utc.txt", "wall.txt", "day.txt",
                                       "undated.txt"}));

        auto tip = [&](const QString& strName)
        {
            for (int i = 0; i < List().model()->rowCount(); ++i)
                if (ViewIndex(List(), i).data().toString() == strName)
                    return ViewIndex(List(), i).data(Qt::ToolTipRole).toString();
            return QString("(no row)");
        };
        QCOMPARE(tip("utc.txt"), QString("修改日期：2027-01-01 04:05:09（精确到秒，本地时间）"));
        QCOMPARE(tip("day.txt"), QString("修改日期：2019-03-14（精确到日，服务器时间，时区未知）"));
        QCOMPARE(tip("undated.txt"), QString());
        qunsetenv("TZ");
        tzset();
    }

    void EveryColumnSortsFoldersFirstWhetherSortedAtOnceOrOnTheWorker_data()
    {
        QTest::addColumn<int>("nFiles");
        QTest::addColumn<int>("nColumn");
        QTest::addColumn<bool>("bDescending");
        const int nLong = int(CFileListModel::SYNC_SORT_ROWS) + 5000;
        for (int nFiles : {40, nLong})
            for (int nColumn : {int(CFileListModel::COLUMN_NAME), int(CFileListModel::COLUMN_SIZE),
                                int(CFileListModel::COLUMN_ADDRESS),
                                int(CFileListModel::COLUMN_MODIFIED)})
                for (bool bDescending : {false, true})
                    QTest::addRow("%d files, column %d%s", nFiles, nColumn,
                                  bDescending ? ", descending" : "")
                        << nFiles << nColumn << bDescending;
    }

    void EveryColumnSortsFoldersFirstWhetherSortedAtOnceOrOnTheWorker()
    {
        QFETCH(int, nFiles);
        QFETCH(int, nColumn);
        QFETCH(bool, bDescending);
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        // The listing's order is a shuffle of the numbers. Every fifth file
        // and the odd folders have no time; the others' minutes fall as i
        // grows, three files to a minute; d2 is older than d0.
        const int64_t nBase = CivilToSeconds(2024, 1, 1);
        auto minute = [](int64_t nSeconds)
        { return CModTime(nSeconds, TimePrecision::minute, false); };
        auto fileMinute = [nFiles](int i) { return (nFiles - 1 - i) / 3; };
        for (int j = 0; j < nFiles; ++j)
        {
            int i = int((int64_t(j) * 7919) % nFiles);
            CFTPFile* pFile =
                AddFile(pRoot, SortFileName(i).toStdString(), uint64_t((nFiles - 1 - i) / 2) * 10);
            if (i % 5 != 4)
                pFile->m_time = minute(nBase + int64_t(fileMinute(i)) * 60);
            if (j % (nFiles / 4) == 0)
            {
                int nDir = j / (nFiles / 4);
                CFTPDir* pDir = AddDir(pRoot, "d" + std::to_string(nDir));
                if (nDir % 2 == 0)
                    pDir->m_time = minute(nBase - int64_t(nDir) * 3600);
            }
        }
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        QStringList listing = m_pWindow->Rows();

        QStringList folders({"d0", "d1", "d2", "d3"});
        QStringList files;
        for (int i = 0; i < nFiles; ++i)
            files << SortFileName(i);
        if (nColumn == CFileListModel::COLUMN_SIZE)
        {
            files.clear();
            for (int nPair = (nFiles - 1) / 2; nPair >= 0; --nPair)
                for (int i = nPair * 2; i < std::min(nFiles, nPair * 2 + 2); ++i)
                    files << SortFileName(i);
        }
        if (nColumn == CFileListModel::COLUMN_ADDRESS)
            std::stable_partition(files.begin(), files.end(),
                                  [](const QString& name) { return name.startsWith('F'); });
        if (nColumn == CFileListModel::COLUMN_MODIFIED)
        {
            // By minute, ties by name; the rows without a time after them,
            // by name, whichever the direction.
            std::vector<int> dated;
            QStringList undated;
            for (int i = 0; i < nFiles; ++i)
                if (i % 5 != 4)
                    dated.push_back(i);
                else
                    undated << SortFileName(i);
            std::stable_sort(dated.begin(), dated.end(), [&](int a, int b)
                             { return fileMinute(a) < fileMinute(b); });
            QStringList datedNames;
            for (int i : dated)
                datedNames << SortFileName(i);
            QStringList datedFolders({"d2", "d0"});
            QStringList undatedFolders({"d1", "d3"});
            if (bDescending)
            {
                std::reverse(datedNames.begin(), datedNames.end());
                std::reverse(undated.begin(), undated.end());
                std::reverse(datedFolders.begin(), datedFolders.end());
                std::reverse(undatedFolders.begin(), undatedFolders.end());
            }
            files = datedNames + undated;
            folders = datedFolders + undatedFolders;
        }
        else if (bDescending)
        {
            std::reverse(folders.begin(), folders.end());
            std::reverse(files.begin(), files.end());
        }

        QHeaderView* pHeader = List().horizontalHeader();
        for (int nClick = 0; nClick < (bDescending ? 2 : 1); ++nClick)
            emit pHeader->sectionClicked(nColumn);
        QVERIFY(WaitForSort(List().Model()));
        QCOMPARE(m_pWindow->Rows(), folders + files);
        QVERIFY(pHeader->isSortIndicatorShown());
        QCOMPARE(pHeader->sortIndicatorSection(), nColumn);
        QCOMPARE(pHeader->sortIndicatorOrder(),
                 bDescending ? Qt::DescendingOrder : Qt::AscendingOrder);

        // Clicked until it comes round again: the listing's own order.
        for (int nClick = bDescending ? 2 : 1; nClick < 3; ++nClick)
            emit pHeader->sectionClicked(nColumn);
        QVERIFY(WaitForSort(List().Model()));
        QCOMPARE(m_pWindow->Rows(), listing);
        QVERIFY(!pHeader->isSortIndicatorShown());
    }

    void ALongSortLeavesTheWindowAnsweringAndTheLatestRequestWins()
    {
        // The testers walk every row at each layout change: their time would
        // be the window's here.
        m_pProxyTester.reset();
        m_pModelTester.reset();
        const int nFiles = 200000;
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        for (int i = 0; i < nFiles; ++i)
            AddFile(pRoot, SortFileName(nFiles - 1 - i).toStdString(), uint64_t(i % 1000));
        CFTPFile* pGone = pRoot->m_fileList[7].get();
        CFTPFile* pChosen = pRoot->m_fileList[nFiles / 2].get();
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();
        List().selectRow(nFiles / 2);

        // A 10 ms timer ticks while the worker sorts.
        int nTicksWhileSorting = 0;
        qint64 nLargestGap = 0;
        QElapsedTimer clock;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout,
                [&]
                {
                    nLargestGap = std::max(nLargestGap, clock.restart());
                    nTicksWhileSorting += List().Model().IsSorting() ? 1 : 0;
                });
        QSignalSpy finished(&List().Model(), &CFileListModel::SortFinished);
        QHeaderView* pHeader = List().horizontalHeader();
        clock.start();
        ticker.start();
        emit pHeader->sectionClicked(CFileListModel::COLUMN_ADDRESS);
        QVERIFY(List().Model().IsSorting());
        QTest::qWait(30);
        // A new column supersedes the running sort; an entry dropped
        // meanwhile is never read again.
        emit pHeader->sectionClicked(CFileListModel::COLUMN_SIZE);
        List().RemoveEntryRows(pGone);
        QVERIFY(finished.wait(120000));
        ticker.stop();
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
        QVERIFY2(nTicksWhileSorting > 0, "the window did not answer during the sort");
        qInfo("largest gap of a 10 ms timer during the sort: %lld ms", nLargestGap);

        CFileListModel& model = List().Model();
        QCOMPARE(model.rowCount(), nFiles - 1);
        QCOMPARE(pHeader->sortIndicatorSection(), int(CFileListModel::COLUMN_SIZE));
        for (int nRow = 1; nRow < model.rowCount(); ++nRow)
        {
            QVERIFY(model.EntryAt(nRow) != pGone);
            QVERIFY2(model.SizeAt(nRow - 1) <= model.SizeAt(nRow),
                     qPrintable(QString::number(nRow)));
        }
        // The selected row moved with its entry.
        QModelIndexList selected = List().selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(model.EntryAt(List().Proxy().mapToSource(selected[0]).row()),
                 static_cast<CObject*>(pChosen));
    }

    void DoubleClickOpensAFolderOrHandsAFileUrlToTheDesktop()
    {
        CUrlCatcher catcher;
        // A desktop with a program of its own for ftp:// (not a web browser).
        m_pWindow->Frame().GetDownloads().SetDesktop(std::make_unique<CFtpProgramDesktop>());
        CFTPDir* pRoot = m_pWindow->AddSite("h")->m_pRoot.get();
        CFTPDir* pPub = AddDir(pRoot, "pub", 1);
        AddFile(pPub, "a b.txt");
        m_pWindow->Doc().NavigateTo(pRoot);
        List().ShowBrowseListing();

        emit List().doubleClicked(ViewIndex(List(), 0));
        QCOMPARE(m_pWindow->Rows(), QStringList({"a b.txt"}));
        QCOMPARE(pPub->m_nState, 0);
        QVERIFY(m_pWindow->Frame().Action(ID_GO_BACK)->isEnabled());
        QVERIFY(m_pWindow->Frame().Action(ID_GO_UP)->isEnabled());

        emit List().doubleClicked(ViewIndex(List(), 0));
        QCOMPARE(catcher.m_urls.size(), 1);
        QCOMPARE(catcher.m_urls[0].toString(QUrl::FullyEncoded),
                 QStringLiteral("ftp://h:21/pub/a%20b.txt"));
    }
};

QTEST_MAIN(FileListTest)
#include "FileListTest.moc"
