// Read marks as the window shows and clears them: "已读" clears the rows on
// screen whatever the listing, clearing every mark unbolds every site, unread
// rows look unlike selected ones in a light and a dark palette, and the
// unread listing of this run says why it is empty after a restart.

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "doc/FormatSize.h"
#include "model/SiteStats.h"
#include "ui/FindDialog.h"

Q_DECLARE_METATYPE(std::function<void(CMainFrame&, CFTPDir*)>)

namespace
{
using ShowListing = std::function<void(CMainFrame&, CFTPDir*)>;

int Distance(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

QPalette DarkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    return dark;
}
} // namespace

class UnreadMarksTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    CFTPSite* m_pSite = nullptr;
    CFTPDir* m_pPub = nullptr;

    CMainFrame& Frame() const { return m_pWindow->Frame(); }
    void Run(int nId) const { Frame().Action(nId)->trigger(); }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        m_pSite = m_pWindow->AddSite("h");
        m_pPub = AddDir(m_pSite->m_pRoot.get(), "pub");
        AddFile(m_pPub, "apple", 0, 1);
        AddFile(m_pPub, "pear", 0, 1);
        AddFile(m_pSite->m_pRoot.get(), "top1", 0, 1);
        AddFile(m_pSite->m_pRoot.get(), "top2", 0, 1);
        m_pWindow->Tree().FillTree();
    }

    void cleanup() { m_pWindow.reset(); }

    void MarkShownReadClearsTheRowsOnScreenOnly_data()
    {
        QTest::addColumn<ShowListing>("show");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("search") << ShowListing(
                                       [](CMainFrame& frame, CFTPDir*)
                                       {
                                           AnswerNextDialog<CFindDialog>(
                                               [](CFindDialog& dlg)
                                               {
                                                   dlg.findChild<QLineEdit*>("keyword")->setText(
                                                       "apple");
                                                   dlg.accept();
                                               });
                                           frame.Action(ID_SEARCH)->trigger();
                                       })
                                << QStringList({"apple"});
        QTest::newRow("folder unread") << ShowListing([](CMainFrame& frame, CFTPDir* pPub)
                                                      { frame.GetDoc().ShowFolderUnread(pPub); })
                                       << QStringList({"apple", "pear"});
        QTest::newRow("folder listing")
            << ShowListing([](CMainFrame&, CFTPDir*) {}) << QStringList({"pub", "top1", "top2"});
    }

    void MarkShownReadClearsTheRowsOnScreenOnly()
    {
        QFETCH(ShowListing, show);
        QFETCH(QStringList, shown);
        CMessageBoxRecorder boxes;
        // The site's folder listing stays behind whatever is shown next.
        m_pWindow->Select(m_pWindow->TopItem(0));
        show(Frame(), m_pPub);
        QCOMPARE(m_pWindow->Rows(), shown);

        Run(ID_MARK_SHOWN_READ);
        const std::pair<const char*, CFTPFile*> files[] = {
            {"apple", m_pPub->m_fileList[0].get()},
            {"pear", m_pPub->m_fileList[1].get()},
            {"top1", m_pSite->m_pRoot->m_fileList[0].get()},
            {"top2", m_pSite->m_pRoot->m_fileList[1].get()},
        };
        for (const auto& [pszName, pFile] : files)
        {
            int nExpected = shown.contains(pszName) ? 0 : 1;
            if (pFile->m_nState != nExpected)
                QFAIL(qPrintable(QString("%1: mark %2").arg(pszName).arg(pFile->m_nState)));
        }
        QVERIFY(!m_pWindow->Highlights().contains(true));
        QVERIFY(m_pSite->m_bStateDirty);
    }

    void MarkingEverythingReadUnboldsEverySite_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("all") << int(ID_MARK_ALL_READ);
        QTest::newRow("this update") << int(ID_MARK_UPDATE_READ);
    }

    void MarkingEverythingReadUnboldsEverySite()
    {
        QFETCH(int, command);
        CFTPSite* pOther = m_pWindow->AddSite("other");
        AddFile(AddDir(pOther->m_pRoot.get(), "new", 1), "x", 0, 1);
        for (CFTPSite* pSite : {m_pSite, pOther})
        {
            pSite->m_bHasNew = true;
            pSite->SetStatus("更新成功", 2);
        }
        m_pWindow->Tree().FillTree();
        m_pWindow->Select(m_pWindow->TopItem(1));
        QCOMPARE(m_pWindow->Highlights(), QList<bool>({true}));
        QVERIFY(m_pWindow->TopItem(0)->font(0).bold());

        Run(command);
        for (int i : {0, 1})
            QVERIFY2(!m_pWindow->TopItem(i)->font(0).bold(), qPrintable(QString::number(i)));
        QVERIFY(!pOther->m_bHasNew);
        QCOMPARE(pOther->m_pRoot->m_dirList[0]->m_nState, 0);
        // The folder row shown loses its highlight with its mark.
        QCOMPARE(m_pWindow->Highlights(), QList<bool>({false}));
    }

    void UnreadRowsLookUnlikeSelectedAndReadRows_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::palette();
        QTest::newRow("dark") << DarkPalette();
    }

    void UnreadRowsLookUnlikeSelectedAndReadRows()
    {
        QFETCH(QPalette, palette);
        AddFile(m_pPub, "read", 0, 0);
        CTarnView& list = m_pWindow->List();
        list.setPalette(palette);
        m_pWindow->TopItem(0)->setExpanded(true);
        m_pWindow->Select(CWindowFixture::Child(m_pWindow->TopItem(0), 0));
        QCOMPARE(m_pWindow->Rows(), QStringList({"apple", "pear", "read"}));
        // "pear" (unread) is selected; "apple" unread, "read" read, neither selected.
        list.selectRow(1);
        Frame().resize(800, 400);
        Frame().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
        QImage image = list.viewport()->grab().toImage();
        auto background = [&](int nRow)
        {
            QRect rect = list.visualRect(list.model()->index(nRow, CFileListModel::COLUMN_SIZE));
            // The size column's far end holds no text for these short sizes.
            return image.pixelColor(rect.right() - 4, rect.center().y());
        };
        QColor unread = background(0);
        QColor selected = background(1);
        QColor read = background(2);
        QVERIFY2(Distance(unread, selected) > 40,
                 qPrintable(unread.name() + " vs selected " + selected.name()));
        QVERIFY2(Distance(unread, read) > 20,
                 qPrintable(unread.name() + " vs read " + read.name()));
        QCOMPARE(read, palette.color(QPalette::Base));
        QVERIFY(list.model()->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!list.model()->index(2, 0).data(Qt::FontRole).value<QFont>().bold());
    }

    void ARestartShowsEachSitesLastOutcomeAndUnreadSitesBoldWithoutLoading()
    {
        struct Stored
        {
            const char* pszHost;
            const char* pszError; // null: never updated
            uint64_t nUnread;
            int nPicture;
            QString strTipStart;
        } sites[] = {
            {"ok", "", 5, 2, QStringLiteral("更新成功")},
            {"bad", "更新失败: 连接被拒绝", 0, 1, QStringLiteral("更新失败: 连接被拒绝")},
            {"stopped", "更新终止！", 0, 3, QStringLiteral("更新终止！")},
            {"new", nullptr, 0, 0, QString()},
        };
        for (const Stored& stored : sites)
        {
            CFTPSite* pSite = m_pWindow->AddSite(stored.pszHost);
            if (stored.pszError == nullptr)
                continue;
            pSite->UpdateSettings(
                [&](CSiteSettings& settings)
                {
                    CRunFigures run;
                    run.strRun = run.strStart = "2026-01-01T00:00:00.000Z";
                    run.strEnd = "2026-01-01T00:00:05.000Z";
                    run.strLastError = stored.pszError;
                    StoreRunFigures(settings, run);
                    CTreeTotals totals;
                    totals.nFiles = 9;
                    totals.nUnread = stored.nUnread;
                    StoreTreeTotals(settings, totals);
                });
        }

        // The next run over the same data folder.
        CMainFrame next;
        QVERIFY(next.GetDoc().OnNewDocument());
        next.OnInitialUpdate();
        CDirView& tree = next.GetDirView();
        QCOMPARE(tree.topLevelItemCount(), 5);
        for (const Stored& stored : sites)
        {
            QList<QTreeWidgetItem*> found =
                tree.findItems(QString(stored.pszHost), Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            QTreeWidgetItem* pItem = found[0];
            QCOMPARE(pItem->data(0, CDirItem::STATUS_ROLE).toInt(), stored.nPicture);
            QCOMPARE(pItem->font(0).bold(), stored.nUnread > 0);
            QString strTip = pItem->data(0, Qt::ToolTipRole).toString();
            QVERIFY2(strTip.startsWith(stored.strTipStart), qPrintable(strTip));
        }
        for (const auto& pSite : next.GetDoc().m_siteList)
            QCOMPARE(pSite->m_nLoadState.load(), 0);
    }

    void TheStatusBarCountsTheRowsShownAndAFoldersBytes()
    {
        CMessageBoxRecorder boxes;
        AddFile(m_pPub, "big", 1536, 0);
        m_pWindow->TopItem(0)->setExpanded(true);
        m_pWindow->Select(CWindowFixture::Child(m_pWindow->TopItem(0), 0));
        QCOMPARE(Frame().StatusText(), QStringLiteral("0 个文件夹，3 个文件，共 ") +
                                           QString::fromStdString(FormatSize(1536)));
        m_pWindow->Select(m_pWindow->TopItem(0));
        QCOMPARE(Frame().StatusText(), QStringLiteral("1 个文件夹，2 个文件，共 ") +
                                           QString::fromStdString(FormatSize(0)));
        // A result listing: its rows, without a folder's total.
        Run(ID_SHOW_ALL_UNREAD);
        QCOMPARE(Frame().StatusText(), QStringLiteral("0 个文件夹，4 个文件"));
    }

    void UnreadOfThisRunAfterARestartSaysWhereTheMarksAre()
    {
        CMessageBoxRecorder boxes;
        Run(ID_SHOW_UPDATE);
        QCOMPARE(boxes.LastText(),
                 QStringLiteral(
                     "本次运行中还没有更新过站点。要查看所有未读文件，请用“显示所有未读文件”。"));
        Run(ID_SHOW_ALL_UNREAD);
        QCOMPARE(m_pWindow->Rows(), QStringList({"apple", "pear", "top1", "top2"}));
    }
};

QTEST_MAIN(UnreadMarksTest)
#include "UnreadMarksTest.moc"
