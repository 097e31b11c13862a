#include <atomic>
#include <deque>
#include <thread>

#include "doc/DocFixture.h"

namespace
{
// h: a/ {b/ {x.txt, y.txt}, a.txt}   c/ {c.txt}   root.txt
class RemovalTest : public DocTest
{
protected:
    void SetUp() override
    {
        DocTest::SetUp();
        m_pSite = AddAnonSite("h");
        CFTPDir* pRoot = m_pSite->m_pRoot.get();
        m_pA = AddDir(pRoot, "a");
        m_pB = AddDir(m_pA, "b");
        AddFile(m_pB, "x.txt");
        AddFile(m_pB, "y.txt");
        m_pAFile = AddFile(m_pA, "a.txt");
        m_pC = AddDir(pRoot, "c");
        AddFile(m_pC, "c.txt");
        AddFile(pRoot, "root.txt");
    }

    CFTPSite* m_pSite = nullptr;
    CFTPDir* m_pA = nullptr;
    CFTPDir* m_pB = nullptr;
    CFTPDir* m_pC = nullptr;
    CFTPFile* m_pAFile = nullptr;
};
} // namespace

TEST_F(RemovalTest, RemovedFolderLeavesListingResultsAndHistory)
{
    m_pDoc->NavigateTo(m_pSite->m_pRoot.get());
    m_pDoc->NavigateTo(m_pB);
    m_pDoc->NavigateTo(m_pC);
    m_pDoc->NavigateTo(m_pA); // listing: b, a.txt
    m_pDoc->GoBack();         // on c; forward: a
    m_pDoc->GoBack();         // on b; forward: a, c
    ASSERT_TRUE(m_pDoc->Search("t"));
    ASSERT_EQ(Found().size(), 5u);

    std::unique_ptr<CFTPDir> pGone = UnlinkDir(m_pB);
    m_pDoc->ForgetEntry(pGone.get(), 1);
    pGone.reset(); // freed: nothing may point at it any more

    EXPECT_EQ(m_pDoc->m_pCurrent, nullptr); // its folder is gone
    EXPECT_TRUE(Listing().empty());
    EXPECT_EQ(Found(), (Strings{"ftp://h/a/a.txt", "ftp://h/c/c.txt", "ftp://h/root.txt"}));
    ASSERT_EQ(m_pDoc->m_backList.size(), 1u);
    EXPECT_EQ(m_pDoc->m_backList[0]->m_pDir, m_pSite->m_pRoot.get());
    ASSERT_EQ(m_pDoc->m_forwardList.size(), 2u);
    m_pDoc->GoForward();
    EXPECT_EQ(m_pDoc->m_pCurrent->m_pDir, m_pC);
    m_pDoc->GoForward();
    EXPECT_EQ(Listing(), Strings{"ftp://h/a/a.txt"});

    std::unique_ptr<CFTPFile> pFile = UnlinkFile(m_pAFile);
    m_pDoc->ForgetEntry(pFile.get(), 0);
    pFile.reset();
    EXPECT_TRUE(Listing().empty());
    EXPECT_EQ(Found(), (Strings{"ftp://h/c/c.txt", "ftp://h/root.txt"}));
}

TEST_F(RemovalTest, ABatchForgetsEverythingInsideAnyRemovedEntry)
{
    CFTPDir* pRoot = m_pSite->m_pRoot.get();
    CFTPFile* pRootFile = pRoot->m_fileList[0].get();
    struct Row
    {
        const CObject* pEntry;
        const CFTPDir* pAncestor;
        bool bWithin;
    } rows[] = {
        {m_pB, m_pB, true},      {m_pB, m_pA, true},       {m_pA, m_pB, false},
        {m_pC, m_pA, false},     {m_pB, pRoot, true},      {m_pAFile, m_pA, true},
        {m_pAFile, m_pB, false}, {pRootFile, pRoot, true}, {m_pB, nullptr, false},
    };
    for (const Row& row : rows)
    {
        bool bWithin = row.pEntry->GetRuntimeClass() == CFTPDir::GetThisClass()
                           ? IsWithin(static_cast<const CFTPDir*>(row.pEntry), row.pAncestor)
                           : IsWithin(static_cast<const CFTPFile*>(row.pEntry), row.pAncestor);
        EXPECT_EQ(bWithin, row.bWithin);
    }

    m_pDoc->NavigateTo(m_pB);
    m_pDoc->NavigateTo(m_pC);
    ASSERT_TRUE(m_pDoc->Search("t"));
    CSubtreeSet removed;
    removed.Add(static_cast<CObject*>(m_pB));
    removed.Add(static_cast<CObject*>(m_pC->m_fileList[0].get()));
    m_pDoc->ForgetEntries(removed);
    EXPECT_EQ(Found(), (Strings{"ftp://h/a/a.txt", "ftp://h/root.txt"}));
    EXPECT_EQ(m_pDoc->m_pCurrent->m_pDir, m_pC); // c itself stays
    EXPECT_TRUE(Listing().empty());
    EXPECT_TRUE(m_pDoc->m_backList.empty());
}

TEST_F(RemovalTest, DeletedSiteLeavesNothingBehind)
{
    CFTPSite* pOther = AddAnonSite("o");
    CFTPDir* pKeep = AddDir(pOther->m_pRoot.get(), "keep");
    AddFile(pKeep, "t.txt");
    m_pDoc->NavigateTo(pKeep);
    m_pDoc->NavigateTo(m_pA);
    ASSERT_TRUE(m_pDoc->Search("t"));
    ASSERT_TRUE(m_pDoc->DeleteSite("h"));
    EXPECT_EQ(m_pDoc->m_pCurrent, nullptr);
    EXPECT_TRUE(Listing().empty());
    EXPECT_EQ(Found(), Strings{"ftp://o/keep/t.txt"});
    ASSERT_EQ(m_pDoc->m_backList.size(), 1u);
    EXPECT_EQ(m_pDoc->m_backList[0]->m_pDir, pKeep);
}

TEST_F(RemovalTest, RemovalWhileASearchPumpsEndsThatBranchOnly)
{
    // The update removes b while the walk is inside it, between x.txt and
    // y.txt, and the GUI frees it in the same pump.
    int nPumps = 0;
    m_host.m_onPump = [&]
    {
        if (++nPumps == 4) // site, a, b, x.txt
        {
            std::unique_ptr<CFTPDir> pGone = UnlinkDir(m_pB);
            m_pDoc->ForgetEntry(pGone.get(), 1);
        }
        return true;
    };
    ASSERT_TRUE(m_pDoc->Search(""));
    EXPECT_EQ(Found(), (Strings{"ftp://h/a", "ftp://h/c", "ftp://h/a/a.txt", "ftp://h/c/c.txt",
                                "ftp://h/root.txt"}));
}

TEST_F(RemovalTest, RemovalOfTheStartFolderEndsAFolderWalk)
{
    AddFile(m_pB, "z.txt", 0, 1);
    AddFile(m_pB, "w.txt", 0, 1);
    int nPumps = 0;
    m_host.m_onPump = [&]
    {
        if (++nPumps == 1)
        {
            std::unique_ptr<CFTPDir> pGone = UnlinkDir(m_pB);
            m_pDoc->ForgetEntry(pGone.get(), 1);
        }
        return true;
    };
    m_pDoc->ShowFolderUnread(m_pB);
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(nPumps, 1);
    EXPECT_EQ(m_pA->m_dirList.size(), 0u);
}

TEST_F(RemovalTest, SiblingsRemovedBeforeTheWalkPositionKeepItOnTrack)
{
    // Folders r0..r9 below the root; while the walk is inside r5, r0..r4 go.
    std::vector<CFTPDir*> dirs;
    for (int i = 0; i < 10; ++i)
    {
        dirs.push_back(AddDir(m_pSite->m_pRoot.get(), "r" + std::to_string(i)));
        AddFile(dirs.back(), "f" + std::to_string(i), 0, 1);
        AddFile(dirs.back(), "g" + std::to_string(i), 0, 1);
    }
    bool bDone = false;
    m_host.m_onPump = [&]
    {
        if (!bDone && !m_pDoc->m_foundFiles.empty() &&
            m_pDoc->m_foundFiles.back()->m_strName == "f5")
        {
            bDone = true;
            for (int i = 0; i < 5; ++i)
            {
                std::unique_ptr<CFTPDir> pGone = UnlinkDir(dirs[i]);
                m_pDoc->ForgetEntry(pGone.get(), 1);
            }
        }
        return true;
    };
    ASSERT_TRUE(m_pDoc->Search("#new"));
    EXPECT_EQ(Found(), (Strings{"ftp://h/r5/f5", "ftp://h/r5/g5", "ftp://h/r6/f6", "ftp://h/r6/g6",
                                "ftp://h/r7/f7", "ftp://h/r7/g7", "ftp://h/r8/f8", "ftp://h/r8/g8",
                                "ftp://h/r9/f9", "ftp://h/r9/g9"}));
}

// An update worker adds and removes folders under the exclusive lock while
// the GUI thread searches; removed folders go to the GUI, which forgets and
// frees them in its pump, as the engine's notice does.
TEST_F(RemovalTest, ConcurrentUpdateDuringSearches)
{
    CFTPDir* pRoot = m_pSite->m_pRoot.get();
    for (int i = 0; i < 50; ++i)
        AddFile(AddDir(pRoot, "s" + std::to_string(i)), "f");
    std::mutex removedLock;
    std::deque<std::unique_ptr<CFTPDir>> removed;
    std::atomic<bool> bQuit{false};
    std::thread worker(
        [&]
        {
            for (int n = 0; !bQuit.load(); ++n)
            {
                {
                    std::unique_lock lock(m_pSite->m_treeLock);
                    CFTPDir* pNew = AddDir(pRoot, "n" + std::to_string(n));
                    AddFile(pNew, "f");
                    AddFile(AddDir(pNew, "deep"), "f");
                    if (pRoot->m_dirList.size() > 40)
                    {
                        std::unique_ptr<CFTPDir> pGone = std::move(pRoot->m_dirList[n % 40]);
                        pRoot->m_dirList.erase(pRoot->m_dirList.begin() + n % 40);
                        std::lock_guard guard(removedLock);
                        removed.push_back(std::move(pGone));
                    }
                }
                std::this_thread::yield();
            }
        });
    m_host.m_onPump = [&]
    {
        std::deque<std::unique_ptr<CFTPDir>> batch;
        {
            std::lock_guard guard(removedLock);
            batch.swap(removed);
        }
        for (auto& p : batch)
            m_pDoc->ForgetEntry(p.get(), 1);
        return true; // batch freed here
    };
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(m_pDoc->Search("f"));
    bQuit = true;
    worker.join();
    m_host.m_onPump();
    // Every result is still part of the tree.
    std::shared_lock lock(m_pSite->m_treeLock);
    for (CFTPFile* pFile : m_pDoc->m_foundFiles)
    {
        const CFTPDir* p = pFile->m_pParent;
        while (p->m_pParent != nullptr)
        {
            const auto& list = p->m_pParent->m_dirList;
            ASSERT_TRUE(
                std::any_of(list.begin(), list.end(), [p](const auto& q) { return q.get() == p; }));
            p = p->m_pParent;
        }
        EXPECT_EQ(p, pRoot);
    }
}
