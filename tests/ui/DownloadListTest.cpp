// The window's downloads: "下载" (Ctrl+S) on the list's selection and on the
// tree's folder fills the transfer list, which appears with the first
// download; its buttons follow each row's state; unfinished downloads of
// the last run come back stopped and continue. TARN_TRANSFER_SHOT=FILE
// saves a picture of the window with the list.

#include <QDockWidget>
#include <QTableView>
#include <QtTest>
#include <filesystem>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "support/FtpServer.h"
#include "transfer/DownloadQueue.h"
#include "ui/DownloadListModel.h"
#include "ui/Downloads.h"

namespace fs = std::filesystem;

class DownloadListTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CTempDir> m_pServed;
    std::unique_ptr<CTempDir> m_pOut;
    std::unique_ptr<CTestFtpServer> m_pServer;
    std::unique_ptr<CWindowFixture> m_pWindow;
    CFTPSite* m_pSite = nullptr;

    CDownloads& Downloads() const { return m_pWindow->Frame().GetDownloads(); }
    void WaitForDownloads()
    {
        QVERIFY(Downloads().GetQueue().WaitIdle(std::chrono::seconds(30)));
        Downloads().Refresh();
    }
    QString Cell(int nRow, int nColumn) const
    {
        return Downloads().GetModel().index(nRow, nColumn).data().toString();
    }
    void SelectRow(int nRow)
    {
        QTableView* pList = Downloads().GetList();
        pList->selectionModel()->select(Downloads().GetModel().index(nRow, 0),
                                        QItemSelectionModel::ClearAndSelect |
                                            QItemSelectionModel::Rows);
    }

private slots:
    void init()
    {
        m_pServed = std::make_unique<CTempDir>();
        m_pOut = std::make_unique<CTempDir>();
        fs::create_directories(*m_pServed / "pub/docs");
        WriteFileBytes(*m_pServed / "pub/linux.iso", std::string(300000, 'L'));
        WriteFileBytes(*m_pServed / "pub/readme.txt", "read me");
        WriteFileBytes(*m_pServed / "pub/docs/guide.pdf", "pdf");
        m_pServer = std::make_unique<CTestFtpServer>(m_pServed->Path());
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pSite = m_pWindow->AddSite("127.0.0.1", "镜像");
        m_pSite->m_nPort = m_pServer->GetPort();
        CFTPDir* pPub = AddDir(m_pSite->m_pRoot.get(), "pub");
        AddFile(pPub, "linux.iso", 300000);
        AddFile(pPub, "readme.txt", 7);
        AddFile(AddDir(pPub, "docs"), "guide.pdf", 3);
        m_pWindow->Tree().FillTree();
        Downloads().ApplySettings(QString::fromStdString(m_pOut->Path()), CDownloadLimits{});
    }

    void cleanup()
    {
        m_pWindow.reset();
        m_pServer.reset();
    }

    void DownloadOfTheSelectionFillsTheListAndTheFolder()
    {
        CMainFrame& frame = m_pWindow->Frame();
        frame.show();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QVERIFY(Downloads().GetDock()->isHidden());
        CDirItem* pSiteItem = m_pWindow->TopItem(0);
        pSiteItem->setExpanded(true);
        m_pWindow->Select(CWindowFixture::Child(pSiteItem, 0)); // pub
        frame.GetFileView().setFocus();
        frame.GetFileView().selectAll();
        QTest::keyClick(&frame.GetFileView(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!Downloads().GetDock()->isHidden());
        WaitForDownloads();

        // The folder row "docs" and both files.
        CDownloadListModel& model = Downloads().GetModel();
        QCOMPARE(model.rowCount(), 3);
        QStringList names;
        for (int i = 0; i < model.rowCount(); ++i)
        {
            names << Cell(i, CDownloadListModel::COL_NAME);
            QCOMPARE(Cell(i, CDownloadListModel::COL_STATE), QStringLiteral("完成"));
            QCOMPARE(model.index(i, CDownloadListModel::COL_PROGRESS)
                         .data(CDownloadListModel::PROGRESS_ROLE)
                         .toInt(),
                     1000);
        }
        names.sort();
        QCOMPARE(names, QStringList({"guide.pdf", "linux.iso", "readme.txt"}));
        QCOMPARE(QString::fromStdString(ReadFileBytes(*m_pOut / "docs/guide.pdf")),
                 QStringLiteral("pdf"));
        QCOMPARE(fs::file_size(*m_pOut / "linux.iso"), 300000u);

        // The tree's folder: every cached file below it, its folders recreated.
        frame.Action(ID_DOWNLOAD_FOLDER)->trigger();
        WaitForDownloads();
        QCOMPARE(ReadFileBytes(*m_pOut / "pub/readme.txt"), std::string("read me"));
        QCOMPARE(ReadFileBytes(*m_pOut / "pub/docs/guide.pdf"), std::string("pdf"));

        // A finished row opens; it cannot be stopped or resumed.
        SelectRow(0);
        QVERIFY(Downloads().GetAction(CDownloads::BUTTON_OPEN)->isEnabled());
        QVERIFY(Downloads().GetAction(CDownloads::BUTTON_SHOW_FOLDER)->isEnabled());
        QVERIFY(!Downloads().GetAction(CDownloads::BUTTON_STOP)->isEnabled());
        QVERIFY(!Downloads().GetAction(CDownloads::BUTTON_RESUME)->isEnabled());
        Downloads().GetAction(CDownloads::BUTTON_REMOVE)->trigger();
        QCOMPARE(Downloads().GetModel().rowCount(), 5);
    }

    void LastRunsDownloadsComeBackStoppedAndContinue()
    {
        // What an earlier run left: a stopped job with half its bytes, a failed one.
        WriteFileBytes(*m_pOut / "linux.iso.part", std::string(150000, 'L'));
        {
            CDownloadQueue queue;
            queue.SetQueueFile(m_pWindow->DataFolder() + "/" + DOWNLOAD_QUEUE_FILE);
            CDownloadJob job;
            job.strSiteKey = m_pSite->GetKey();
            job.strServerPath = "/pub/linux.iso";
            job.strFolder = m_pOut->Path();
            job.strRelative = "linux.iso";
            job.nListedSize = 300000;
            job.nState = DownloadState::stopped;
            queue.Add(job, m_pSite);
            job.strServerPath = "/pub/gone.txt";
            job.strRelative = "gone.txt";
            job.nState = DownloadState::failed;
            queue.Add(job, m_pSite);
        }
        CMessageBoxRecorder boxes;
        Downloads().RestoreQueue();
        QVERIFY(!Downloads().GetDock()->isHidden());
        QCOMPARE(Downloads().GetModel().rowCount(), 2);
        QCOMPARE(Cell(0, CDownloadListModel::COL_STATE), QStringLiteral("已停止"));
        QCOMPARE(Downloads()
                     .GetModel()
                     .index(0, CDownloadListModel::COL_PROGRESS)
                     .data(CDownloadListModel::PROGRESS_ROLE)
                     .toInt(),
                 500);

        SelectRow(0);
        QVERIFY(Downloads().GetAction(CDownloads::BUTTON_RESUME)->isEnabled());
        QVERIFY(!Downloads().GetAction(CDownloads::BUTTON_RETRY)->isEnabled());
        SelectRow(1);
        QVERIFY(Downloads().GetAction(CDownloads::BUTTON_RETRY)->isEnabled());
        QVERIFY(!Downloads().GetAction(CDownloads::BUTTON_OPEN)->isEnabled());

        SelectRow(0);
        Downloads().GetAction(CDownloads::BUTTON_RESUME)->trigger();
        WaitForDownloads();
        QCOMPARE(Cell(0, CDownloadListModel::COL_STATE), QStringLiteral("完成"));
        QCOMPARE(ReadFileBytes(*m_pOut / "linux.iso"), std::string(300000, 'L'));
        // Continued from the bytes on disk.
        std::vector<CTestFtpServer::CCommand> rests = m_pServer->GetCommands("REST");
        QCOMPARE(rests.size(), size_t(1));
        QCOMPARE(rests[0].strArgument, std::string("150000"));
        QVERIFY(boxes.Requests().isEmpty());
    }

    void PictureOfTheTransferList()
    {
        QString strShot = qEnvironmentVariable("TARN_TRANSFER_SHOT");
        if (strShot.isEmpty())
            QSKIP("TARN_TRANSFER_SHOT not set");
        CMainFrame& frame = m_pWindow->Frame();
        frame.resize(1000, 640);
        frame.show();
        CDirItem* pSiteItem = m_pWindow->TopItem(0);
        pSiteItem->setExpanded(true);
        m_pWindow->Select(CWindowFixture::Child(pSiteItem, 0));
        frame.GetFileView().setFocus();
        frame.GetFileView().selectAll();
        frame.Action(ID_DOWNLOAD)->trigger();
        WaitForDownloads();
        // A stopped row and a failed one beside the finished ones.
        m_pServer->SetFaults(R"({"rules": [{"on": "RETR", "action": "cut", "bytes": 120000}]})");
        WriteFileBytes(*m_pServed / "pub/big.img", std::string(400000, 'b'));
        CDownloadJob job;
        job.strSiteKey = m_pSite->GetKey();
        job.strServerPath = "/pub/big.img";
        job.strFolder = m_pOut->Path();
        job.strRelative = "big.img";
        job.nListedSize = 400000;
        Downloads().GetQueue().Add(job, m_pSite);
        job.strServerPath = "/pub/missing.zip";
        job.strRelative = "missing.zip";
        Downloads().GetQueue().Add(job, m_pSite);
        WaitForDownloads();
        SelectRow(1);
        QTest::qWait(100);
        QVERIFY(frame.grab().save(strShot));
    }
};

QTEST_MAIN(DownloadListTest)
#include "DownloadListTest.moc"
