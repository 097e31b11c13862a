// What two updates against the local test server changed, as the window
// shows it: "显示更改" lists the added, resized and removed entries (the
// removed one struck through and inert), the site's figures follow the
// served tree, and "导出..." writes the rows shown as a CSV other programs read.

#include <QHeaderView>
#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "support/FtpServer.h"
#include "ui/SiteInfoDlg.h"
#include "update/EngineState.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;

namespace
{
void WriteFile(const fs::path& path, const std::string& strText)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << strText;
}
} // namespace

class ChangesWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    std::unique_ptr<CTempDir> m_pServed;
    std::unique_ptr<CTestFtpServer> m_pServer;

    void UpdateAndWait()
    {
        m_pWindow->Frame().Action(ID_UPDATE_ALL)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(IsEngineIdle() && !IsSiteBusy(*m_pWindow->Doc().m_siteList[0]),
                                 30000);
        QCoreApplication::processEvents();
    }

    int RowNamed(const QString& strName) const
    {
        QStringList rows = m_pWindow->Rows();
        return int(rows.indexOf(strName));
    }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pServed = std::make_unique<CTempDir>();
        fs::path root = m_pServed->Path();
        WriteFile(root / "pub/a.txt", "aaa");
        WriteFile(root / "pub/keep.txt", "keep");
        WriteFile(root / "old/x.txt", "x");
        WriteFile(root / "readme", "readme");
        m_pServer = std::make_unique<CTestFtpServer>(m_pServed->Path());
    }

    void cleanup()
    {
        m_pWindow.reset();
        m_pServer.reset();
        m_pServed.reset();
    }

    void ShowChangesListsWhatTheSecondUpdateFoundAndExportWritesTheRowsShown()
    {
        CSiteInfo info;
        info.m_strHost = "127.0.0.1";
        info.m_nPort = m_pServer->GetPort();
        info.m_strUser = m_pServer->GetUser();
        info.m_strPassword = m_pServer->GetPassword();
        QVERIFY(m_pWindow->Doc().AddSite(info));
        m_pWindow->Tree().FillTree();
        CMessageBoxRecorder boxes;

        // A first crawl is one summary, shown as a note, not as a list.
        UpdateAndWait();
        m_pWindow->Select(m_pWindow->TopItem(0));
        QStringList browse = m_pWindow->Rows();
        m_pWindow->Frame().Action(ID_SHOW_CHANGES)->trigger();
        QVERIFY2(m_pWindow->Frame().StatusText().contains("首次更新"),
                 qPrintable(m_pWindow->Frame().StatusText()));
        QCOMPARE(m_pWindow->Rows(), browse);

        fs::path root = m_pServed->Path();
        WriteFile(root / "pub/a.txt", "aaaaaaa");
        WriteFile(root / "pub/new.txt", "new");
        fs::remove_all(root / "old");
        UpdateAndWait();

        m_pWindow->Select(m_pWindow->TopItem(0));
        m_pWindow->Frame().Action(ID_SHOW_CHANGES)->trigger();
        CTarnView& list = m_pWindow->List();
        QVERIFY(list.m_bResultMode);
        QStringList names = m_pWindow->Rows();
        QCOMPARE(names.size(), 3);
        QCOMPARE(names.first(), QStringLiteral("old")); // folder rows first
        QCOMPARE(QSet<QString>(names.begin(), names.end()),
                 QSet<QString>({"old", "a.txt", "new.txt"}));
        QStringList sizes = m_pWindow->Rows(CFileListModel::COLUMN_SIZE);
        QCOMPARE(sizes[RowNamed("a.txt")], QStringLiteral("7字节"));
        QVERIFY(list.model()
                    ->index(RowNamed("a.txt"), 0)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains("3字节"));
        // Not struck through (it is bold: unread).
        QVERIFY(!list.model()
                     ->index(RowNamed("new.txt"), 0)
                     .data(Qt::FontRole)
                     .value<QFont>()
                     .strikeOut());

        // The removed folder: struck through, and neither Enter nor copying
        // does anything with it.
        QModelIndex gone = list.model()->index(RowNamed("old"), 0);
        QVERIFY(gone.data(Qt::FontRole).value<QFont>().strikeOut());
        list.setCurrentIndex(gone);
        list.selectRow(gone.row());
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(m_pWindow->Rows(), names);
        m_pWindow->Frame().Action(ID_COPY_FILE_ADDRESS)->trigger();
        QCOMPARE(boxes.Requests().size(), 0);

        // The figures follow the served tree: pub; readme and pub's three files.
        QString strFolders;
        QString strFiles;
        QString strNewest;
        AnswerNextDialog<CSiteInfoDlg>(
            [&](CSiteInfoDlg& dlg)
            {
                strFolders = dlg.Value("文件夹");
                strFiles = dlg.Value("文件");
                strNewest = dlg.Value("最新文件时间");
                dlg.reject();
            });
        m_pWindow->Frame().Action(ID_SITE_STATS)->trigger();
        QCOMPARE(strFolders, QStringLiteral("1"));
        QCOMPARE(strFiles, QStringLiteral("4"));
        // The newest time in full, with its precision: UTC to the second from
        // MLSD, the server's minute from a STAT listing (which way a session
        // lists depends on how its replies came).
        QVERIFY2(strNewest.endsWith("（精确到秒，本地时间）") ||
                     strNewest.endsWith("（精确到分，服务器时间，时区未知）"),
                 qPrintable(strNewest));
        QVERIFY(m_pWindow->TopItem(0)->data(0, Qt::ToolTipRole).toString().contains("文件 4"));

        // Export writes the cached rows in the order shown (sorted by name,
        // descending), and Python's csv reads them back.
        list.horizontalHeader()->sectionClicked(CFileListModel::COLUMN_NAME);
        list.horizontalHeader()->sectionClicked(CFileListModel::COLUMN_NAME);
        CTempDir out;
        QString strPath = QString::fromStdString(out.Path()) + "/列表.csv";
        FileDialogHook previous = SetFileDialogHook(
            [&](const FileDialogRequest& request)
            {
                *request.pnSelectedFilter = 1; // the name's extension wins
                return strPath;
            });
        m_pWindow->Frame().Action(ID_EXPORT)->trigger();
        QCOMPARE(boxes.Requests().size(), 0);
        // A folder that is a file: the write fails and the user is told.
        QString strGood = strPath;
        strPath += "/x.csv";
        m_pWindow->Frame().Action(ID_EXPORT)->trigger();
        QVERIFY2(boxes.LastText().startsWith("无法导出"), qPrintable(boxes.LastText()));
        strPath = strGood;
        SetFileDialogHook(previous);
        QProcess python;
        python.start("python3", {"-c",
                                 "import csv,sys\n"
                                 "rows = list(csv.reader(open(sys.argv[1], encoding='utf-8-sig',"
                                 " newline='')))\n"
                                 "print('|'.join(r[0] + ':' + r[1] for r in rows))",
                                 strPath});
        QVERIFY(python.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
                 QStringLiteral("name:size|new.txt:3|a.txt:7"));

        // An empty list has nothing to export.
        list.ClearList();
        QVERIFY(!m_pWindow->Frame().Action(ID_EXPORT)->isEnabled());
    }
};

QTEST_MAIN(ChangesWindowTest)
#include "ChangesWindowTest.moc"
