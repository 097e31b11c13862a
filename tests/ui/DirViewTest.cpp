// The site tree over the real document: the first selection, placeholders,
// building on selection and expansion, collapsing, unread folders, and
// folders that an update removes or adds while they are on display.

#include <QAbstractItemModelTester>
#include <QtTest>
#include <thread>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "ui/WindowObserver.h"

namespace
{
const QStringList WELCOME = {"欢迎使用Tarn!", "点击增加可以添加站点", "点击更新可以更新站点",
                             "选择左边站点可以查看站点内容"};

// What the update worker does with a folder that vanished from the server:
// unlinks it under the tree lock, announces it, then hands it over.
void RemoveLikeTheEngine(IUpdateObserver& observer, CFTPDir* pDir)
{
    std::thread worker(
        [&]
        {
            std::vector<std::unique_ptr<CObject>> removed;
            {
                std::unique_lock lock(pDir->GetSite()->m_treeLock);
                auto& list = pDir->m_pParent->m_dirList;
                auto it = std::find_if(list.begin(), list.end(),
                                       [&](const auto& p) { return p.get() == pDir; });
                removed.push_back(std::move(*it));
                list.erase(it);
            }
            observer.PostEntryRemoved(pDir, IUpdateObserver::entryFolder);
            observer.DisposeRemoved(std::move(removed));
        });
    worker.join();
}
} // namespace

class DirViewTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CWindowFixture> m_pWindow;
    std::unique_ptr<QAbstractItemModelTester> m_pTester;
    CFTPSite* m_pSite = nullptr;
    CFTPDir* m_pPub = nullptr;

    CDirView& Tree() const { return m_pWindow->Tree(); }

private slots:
    void init()
    {
        m_pWindow = std::make_unique<CWindowFixture>();
        // "h" is labelled by its key, "a.example" by its nickname "zz".
        m_pSite = m_pWindow->AddSite("h");
        m_pWindow->AddSite("a.example", "zz");
        CFTPDir* pRoot = m_pSite->m_pRoot.get();
        m_pPub = AddDir(pRoot, "pub");
        AddDir(m_pPub, "linux", 1);
        AddFile(m_pPub, "index");
        AddDir(pRoot, "empty");
        AddFile(pRoot, "readme");
        Tree().FillTree();
        m_pTester = std::make_unique<QAbstractItemModelTester>(
            Tree().model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_pTester.reset();
        m_pWindow.reset();
    }

    void TheFirstSelectionIsIgnored()
    {
        QCOMPARE(m_pWindow->TopLabels(), QStringList({"h", "zz"}));
        Tree().setCurrentItem(m_pWindow->TopItem(0));
        QCOMPARE(m_pWindow->Rows(), WELCOME);
        QVERIFY(!m_pWindow->Doc().m_pCurrent);

        Tree().setCurrentItem(m_pWindow->TopItem(1));
        Tree().setCurrentItem(m_pWindow->TopItem(0));
        QCOMPARE(m_pWindow->Rows(), QStringList({"pub", "empty", "readme"}));
        QCOMPARE(CWindowFixture::Labels(m_pWindow->TopItem(0)), QStringList({"pub", "empty"}));
        QVERIFY(m_pWindow->Frame().Action(ID_GO_BACK)->isEnabled());
    }

    void PlaceholdersStandForChildrenNotYetBuilt()
    {
        // A site never fetched: an empty list, and its one empty child stays,
        // also when expanded.
        CDirItem* pEmptySite = m_pWindow->TopItem(1);
        m_pWindow->Select(pEmptySite);
        QCOMPARE(m_pWindow->Rows(), QStringList());
        QCOMPARE(CWindowFixture::Labels(pEmptySite), QStringList({""}));
        pEmptySite->setExpanded(true);
        QCOMPARE(CWindowFixture::Labels(pEmptySite), QStringList({""}));
        QVERIFY(CWindowFixture::Child(pEmptySite, 0)->IsPlaceholder());
        // Making a hidden placeholder current neither expands nor rebuilds
        // anything under the change.
        pEmptySite->setExpanded(false);
        Tree().setCurrentItem(CWindowFixture::Child(pEmptySite, 0));
        QVERIFY(!pEmptySite->isExpanded());
        QCOMPARE(Tree().currentItem(), CWindowFixture::Child(pEmptySite, 0));

        // Expanding builds one level; a folder without sub-folders loses its
        // expand button.
        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        QCOMPARE(CWindowFixture::Labels(pSite), QStringList({"pub", "empty"}));
        CDirItem* pEmpty = CWindowFixture::Child(pSite, 1);
        QCOMPARE(CWindowFixture::Labels(pEmpty), QStringList({""}));
        pEmpty->setExpanded(true);
        QCOMPARE(pEmpty->childCount(), 0);
        // Expanding does not change the listing.
        QCOMPARE(m_pWindow->Rows(), QStringList());
    }

    void CollapsingDiscardsChildrenAndExpandingReadsThemAfresh()
    {
        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        CDirItem* pPubItem = CWindowFixture::Child(pSite, 0);
        pPubItem->setExpanded(true);
        QVERIFY(CWindowFixture::Child(pPubItem, 0)->font(0).bold()); // "linux" is unread

        pSite->setExpanded(false);
        QCOMPARE(CWindowFixture::Labels(pSite), QStringList({""}));
        m_pPub->m_dirList[0]->m_nState = 0;
        pSite->setExpanded(true);
        pPubItem = CWindowFixture::Child(pSite, 0);
        pPubItem->setExpanded(true);
        QVERIFY(!CWindowFixture::Child(pPubItem, 0)->font(0).bold());
    }

    void SelectingAnUnreadFolderClearsItsMarkButExpandingDoesNot()
    {
        CDirItem* pSite = m_pWindow->TopItem(0);
        pSite->setExpanded(true);
        CDirItem* pPubItem = CWindowFixture::Child(pSite, 0);
        pPubItem->setExpanded(true);
        CDirItem* pLinux = CWindowFixture::Child(pPubItem, 0);
        CFTPDir* pLinuxDir = m_pPub->m_dirList[0].get();
        pLinux->setExpanded(true);
        QVERIFY(pLinux->font(0).bold());
        QCOMPARE(pLinuxDir->m_nState, 1);

        m_pWindow->Select(pLinux);
        QVERIFY(!pLinux->font(0).bold());
        QCOMPARE(pLinuxDir->m_nState, 0);
        QVERIFY(m_pSite->m_bStateDirty.load());
    }

    void AFolderRemovedWhileShownLeavesTreeAndListAndANewOneAppearsAfterTheUpdate()
    {
        CDirItem* pSite = m_pWindow->TopItem(0);
        m_pWindow->Select(pSite);
        CDirItem* pPubItem = CWindowFixture::Child(pSite, 0);
        m_pWindow->Select(pPubItem);
        QCOMPARE(m_pWindow->Rows(), QStringList({"linux", "index"}));

        RemoveLikeTheEngine(m_pWindow->Frame().GetObserver(), m_pPub);
        QTRY_COMPARE(CWindowFixture::Labels(pSite), QStringList({"empty"}));
        QCOMPARE(m_pWindow->Rows(), QStringList());
        QCOMPARE(Tree().currentItem(), pSite);
        QVERIFY(!m_pWindow->Doc().m_pCurrent);

        // The update ends with a new folder: it gets an item, the selection stays.
        AddDir(m_pSite->m_pRoot.get(), "incoming");
        m_pSite->SetStatus("更新成功", 2);
        m_pWindow->Frame().GetObserver().PostSiteUpdated(m_pSite);
        QTRY_COMPARE(CWindowFixture::Labels(pSite), QStringList({"empty", "incoming"}));
        QCOMPARE(Tree().currentItem(), pSite);
        QCOMPARE(pSite->toolTip(0), QStringLiteral("更新成功"));
        QCOMPARE(pSite->data(0, CDirItem::STATUS_ROLE).toInt(), 2);
    }
};

QTEST_MAIN(DirViewTest)
#include "DirViewTest.moc"
