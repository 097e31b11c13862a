// The toolbar's search box in the real window: Ctrl+F, typing into the box
// (results replace the list, the status bar counts them), a new keystroke
// narrowing them, Esc back to the folder, an unreadable query's message, the
// current-folder button, and the kept history.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QToolButton>
#include <QtTest>

#include "WindowTestSupport.h"
#include "support/FtpServer.h"
#include "ui/SearchBox.h"
#include "ui/TarnSettings.h"
#include "update/EngineState.h"
#include "update/UpdateEngine.h"

#include <filesystem>
#include <fstream>

namespace
{
void Serve(const std::string& strRoot, const std::string& strPath)
{
    std::filesystem::path path = std::filesystem::path(strRoot) / strPath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}
} // namespace

class SearchBoxTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;

    CSearchBox& Box() const { return m_pWindow->Frame().GetSearchBox(); }
    QLineEdit* Edit() const { return Box().Combo()->lineEdit(); }
    QString Status() const { return m_pWindow->Frame().StatusText(); }
    QStringList SortedRows() const
    {
        QStringList rows = m_pWindow->Rows();
        rows.sort();
        return rows;
    }
    // Types as a user would and waits for the search to end.
    void Type(const QString& strKeys, const QString& strFound)
    {
        QTest::keyClicks(Edit(), strKeys);
        QTRY_VERIFY_WITH_TIMEOUT(Status().startsWith(strFound) && Box().IsIdle(), 20000);
        QCoreApplication::processEvents();
    }
    void SelectPub()
    {
        QTreeWidgetItem* pSite = m_pWindow->Tree().findItems("h", Qt::MatchExactly).value(0);
        QVERIFY(pSite != nullptr);
        pSite->setExpanded(true);
        m_pWindow->Select(CWindowFixture::Child(pSite, 0));
    }
    void OpenWindow()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        CFTPSite* pSite = m_pWindow->AddSite("h");
        CFTPDir* pPub = AddDir(pSite->m_pRoot.get(), "pub");
        AddFile(pPub, "linux-5.4.tar.gz", 170 << 20);
        AddFile(pPub, "debian.iso", 650 << 20);
        AddFile(pPub, "notes.txt");
        AddFile(pSite->m_pRoot.get(), "readme");
        CFTPSite* pOther = m_pWindow->AddSite("g");
        AddFile(AddDir(pOther->m_pRoot.get(), "iso"), "old.iso", 700 << 20);
        m_pWindow->Tree().FillTree();
        m_pWindow->Frame().show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_pWindow->Frame()));
    }

private slots:
    void init()
    {
        QSettings(TarnSettingsOrganization(), TarnSettingsApplication()).remove("SearchBox");
        OpenWindow();
    }

    void cleanup() { m_pWindow.reset(); }

    void TypingReplacesTheListAndEscShowsTheFolderAgain()
    {
        SelectPub();
        QStringList folder = m_pWindow->Rows();
        QCOMPARE(folder.size(), 3);
        QCOMPARE(Edit()->placeholderText(), QStringLiteral("搜索文件名，如 *.iso size:>700M"));

        QTest::keyClick(&m_pWindow->Frame(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(Edit()->hasFocus());
        Type("*.iso", "找到 2 项，用时 ");
        QCOMPARE(SortedRows(), QStringList({"debian.iso", "old.iso"}));
        QVERIFY(m_pWindow->List().m_bResultMode);
        QVERIFY(Status().endsWith(" 毫秒"));
        QCOMPARE(m_pWindow->Doc().m_foundFiles.size(), size_t(2));

        // The next keys narrow what is shown.
        Type(" !old", "找到 1 项");
        QCOMPARE(SortedRows(), QStringList({"debian.iso"}));
        Edit()->clear();
        Type("size:>600M|readme", "找到 3 项");
        QCOMPARE(SortedRows(), QStringList({"debian.iso", "old.iso", "readme"}));

        QTest::keyClick(Edit(), Qt::Key_Escape);
        QCOMPARE(Edit()->text(), QString());
        QVERIFY(!m_pWindow->List().m_bResultMode);
        QCOMPARE(m_pWindow->Rows(), folder);
    }

    void AnUnreadableQuerySaysWhereAndKeepsTheList()
    {
        SelectPub();
        QStringList folder = m_pWindow->Rows();
        Edit()->setFocus();
        QTest::keyClicks(Edit(), "size:>x");
        QTRY_COMPARE(Status(),
                     QStringLiteral("无法理解的查询：第 7 个字符处无法理解的大小“>x”（例如 "
                                    "size:>700M、size:1M..10M）"));
        QCOMPARE(m_pWindow->Rows(), folder);
    }

    void CurrentFolderButtonNarrowsToTheSelectedSubtree()
    {
        SelectPub();
        Box().ScopeButton()->click();
        Edit()->setFocus();
        Type("iso", "找到 1 项");
        QCOMPARE(SortedRows(), QStringList({"debian.iso"}));
        Box().ScopeButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(Status().startsWith("找到 3 项") && Box().IsIdle(), 20000);
        QCOMPARE(SortedRows(), QStringList({"debian.iso", "iso", "old.iso"}));
    }

    // Results stay true to an update that removes and adds entries: shown
    // rows of removed entries go, and the next search over the index built
    // before the update finds what the tree holds now.
    void ResultsFollowAnUpdate()
    {
        CTempDir served;
        Serve(served.Path(), "pub/a.iso");
        Serve(served.Path(), "pub/b.iso");
        Serve(served.Path(), "gone/c.iso");
        Serve(served.Path(), "keep.txt");
        CTestFtpServer server(served.Path());
        CSiteInfo info;
        info.m_strHost = "127.0.0.1";
        info.m_nPort = server.GetPort();
        info.m_strUser = server.GetUser();
        info.m_strPassword = server.GetPassword();
        info.m_strNickname = "srv";
        QVERIFY(m_pWindow->Doc().AddSite(info));
        m_pWindow->Tree().FillTree();
        // Only this site: the others name no server.
        auto update = [this]
        {
            m_pWindow->Select(m_pWindow->Tree().findItems("srv", Qt::MatchExactly).value(0));
            m_pWindow->Frame().Action(ID_UPDATE_SELECTED)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(
                IsEngineIdle() && !IsSiteBusy(*m_pWindow->Doc().m_siteList.back()), 30000);
        };
        update();

        Edit()->setFocus();
        Type("*.iso", "找到 5 项"); // with debian.iso and old.iso of the sites without a server
        QCOMPARE(SortedRows(), QStringList({"a.iso", "b.iso", "c.iso", "debian.iso", "old.iso"}));
        // The update's end, told at the progress tick after it, leaves the
        // count the user asked for on the status bar.
        QTest::qWait(700);
        QVERIFY(Status().startsWith("找到 5 项"));

        std::filesystem::remove_all(std::filesystem::path(served.Path()) / "gone");
        Serve(served.Path(), "pub/new.iso");
        update();
        QTRY_COMPARE(SortedRows(), QStringList({"a.iso", "b.iso", "debian.iso", "old.iso"}));

        Edit()->clear();
        Type("*.iso", "找到 5 项");
        QCOMPARE(SortedRows(), QStringList({"a.iso", "b.iso", "debian.iso", "new.iso", "old.iso"}));
        Edit()->clear();
        Type("c.iso|new", "找到 1 项");
        QCOMPARE(SortedRows(), QStringList({"new.iso"}));
    }

    void QueriesAreKeptAcrossRuns()
    {
        Edit()->setFocus();
        Type("linux", "找到 1 项");
        QTest::keyClick(Edit(), Qt::Key_Return);
        Edit()->clear();
        Type("notes", "找到 1 项");
        QTest::keyClick(Edit(), Qt::Key_Return);
        m_pWindow.reset();

        OpenWindow();
        QComboBox* pCombo = Box().Combo();
        QCOMPARE(pCombo->count(), 2);
        QCOMPARE(pCombo->itemText(0), QStringLiteral("notes"));
        QCOMPARE(pCombo->itemText(1), QStringLiteral("linux"));
        QCOMPARE(Edit()->text(), QString());
    }
};

QTEST_MAIN(SearchBoxTest)
#include "SearchBoxTest.moc"
