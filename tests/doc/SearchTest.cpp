#include "doc/DocFixture.h"

namespace
{
// s1:  Docs/ {readme.TXT, notes.txt}   软件/ {软件包.zip}
//      docs-old/* {sub/ {deep.txt*}, old.doc*}   read/ {new.txt*}
//      top.txt  Top2.DOC*
// s2:  DOCS2/ {}   doc.txt
// (* = unread)
class SearchTest : public DocTest
{
protected:
    void SetUp() override
    {
        DocTest::SetUp();
        m_pS1 = AddAnonSite("s1");
        CFTPDir* pRoot = m_pS1->m_pRoot.get();
        CFTPDir* pDocs = AddDir(pRoot, "Docs");
        AddFile(pDocs, "readme.TXT");
        AddFile(pDocs, "notes.txt");
        AddFile(AddDir(pRoot, "软件"), "软件包.zip");
        m_pOld = AddDir(pRoot, "docs-old", 1);
        AddFile(AddDir(m_pOld, "sub", 1), "deep.txt", 0, 1);
        AddFile(m_pOld, "old.doc", 0, 1);
        m_pRead = AddDir(pRoot, "read");
        AddFile(m_pRead, "new.txt", 0, 1);
        AddFile(pRoot, "top.txt");
        AddFile(pRoot, "Top2.DOC", 0, 1);

        m_pS2 = AddAnonSite("s2");
        AddDir(m_pS2->m_pRoot.get(), "DOCS2");
        AddFile(m_pS2->m_pRoot.get(), "doc.txt");
        m_host.m_calls.clear();
    }

    CFTPSite* m_pS1 = nullptr;
    CFTPSite* m_pS2 = nullptr;
    CFTPDir* m_pOld = nullptr;
    CFTPDir* m_pRead = nullptr;
};
} // namespace

TEST_F(SearchTest, MatchingRules)
{
    struct Row
    {
        const char* pszKeyword;
        Strings found;
    } rows[] = {
        {"doc",
         {"ftp://s1/Docs", "ftp://s1/docs-old", "ftp://s2/DOCS2", "ftp://s1/docs-old/old.doc",
          "ftp://s2/doc.txt"}},
        {"Doc", {}}, // A-Z: no folder, and no file has it in this case
        {"DOC", {"ftp://s1/Top2.DOC"}},
        {"TXT", {"ftp://s1/Docs/readme.TXT"}},
        {".txt",
         {"ftp://s1/Docs/notes.txt", "ftp://s1/docs-old/sub/deep.txt", "ftp://s1/read/new.txt",
          "ftp://s1/top.txt", "ftp://s2/doc.txt"}},
        {"软件", {"ftp://s1/软件", "ftp://s1/软件/软件包.zip"}},
        {"#new", {"ftp://s1/docs-old", "ftp://s1/read/new.txt", "ftp://s1/Top2.DOC"}},
        {"",
         {"ftp://s1/Docs", "ftp://s1/软件", "ftp://s1/docs-old", "ftp://s1/docs-old/sub",
          "ftp://s1/read", "ftp://s2/DOCS2", "ftp://s1/Docs/readme.TXT", "ftp://s1/Docs/notes.txt",
          "ftp://s1/软件/软件包.zip", "ftp://s1/docs-old/sub/deep.txt", "ftp://s1/docs-old/old.doc",
          "ftp://s1/read/new.txt", "ftp://s1/top.txt", "ftp://s1/Top2.DOC", "ftp://s2/doc.txt"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszKeyword);
        m_host.m_messages.clear();
        m_host.m_nAppends = 0;
        EXPECT_TRUE(m_pDoc->Search(row.pszKeyword));
        EXPECT_EQ(Found(), row.found);
        // One reset, then one row per entry, each telling its entry and kind.
        EXPECT_EQ(m_host.m_nAppends, static_cast<int>(row.found.size()) + 1);
        EXPECT_EQ(m_host.Rows(), row.found);
        if (row.found.empty())
            EXPECT_EQ(m_host.m_messages, Strings{"对不起，没有找到你要的文件！"});
        else
            EXPECT_TRUE(m_host.m_messages.empty());
        EXPECT_EQ(m_host.m_nWaitCursor, 0);
        EXPECT_FALSE(m_host.m_bProgressOpen);
        EXPECT_EQ(m_host.m_nProgressPos, 2);
        EXPECT_FALSE(m_pDoc->IsBusy());
    }
}

TEST_F(SearchTest, ResultProtocolOrder)
{
    m_host.m_bRecordAppends = true;
    m_pDoc->m_foundFiles.push_back(m_pS2->m_pRoot->m_fileList[0].get()); // a stale result
    ASSERT_TRUE(m_pDoc->Search("软件"));
    EXPECT_EQ(m_host.m_calls,
              (Strings{"clear", "append", "progress 2", "append", "append", "close progress"}));
}

TEST_F(SearchTest, StopDuringTheFirstSiteKeepsPartialResults)
{
    int nPumps = 0;
    m_host.m_onPump = [&] { return ++nPumps < 3; };
    EXPECT_FALSE(m_pDoc->Search(""));
    EXPECT_EQ(Found(), (Strings{"ftp://s1/Docs", "ftp://s1/Docs/readme.TXT"}));
    EXPECT_TRUE(m_host.m_messages.empty());
    EXPECT_FALSE(m_host.m_bProgressOpen);
    EXPECT_EQ(m_host.m_nProgressPos, 1);
    EXPECT_EQ(m_host.m_nWaitCursor, 0);
    EXPECT_FALSE(m_pDoc->IsBusy());

    // The next search starts afresh.
    m_host.m_onPump = nullptr;
    EXPECT_TRUE(m_pDoc->Search("zip"));
    EXPECT_EQ(Found(), Strings{"ftp://s1/软件/软件包.zip"});
}

TEST_F(SearchTest, RequestStopEndsTheWalkAtTheNextPump)
{
    m_host.m_onPump = [&]
    {
        m_pDoc->RequestStop(); // e.g. the window is being closed
        return true;
    };
    EXPECT_FALSE(m_pDoc->Search(""));
    EXPECT_TRUE(Found().empty());
}

TEST_F(SearchTest, WithoutSitesNothingHappens)
{
    ASSERT_TRUE(m_pDoc->DeleteSite("s1"));
    ASSERT_TRUE(m_pDoc->DeleteSite("s2"));
    m_host.m_calls.clear();
    EXPECT_FALSE(m_pDoc->Search("x"));
    EXPECT_FALSE(m_pDoc->ShowUnread(UNREAD_ALL));
    EXPECT_EQ(m_host.m_calls, (Strings{"clear", "progress 0", "close progress", "clear",
                                       "progress 0", "close progress"}));
}

TEST_F(SearchTest, WalkRefusesToStartInsideAnotherWalk)
{
    bool bChecked = false;
    m_host.m_onPump = [&]
    {
        if (!bChecked)
        {
            bChecked = true;
            EXPECT_TRUE(m_pDoc->IsBusy());
            EXPECT_FALSE(m_pDoc->Search("x"));
            EXPECT_FALSE(m_pDoc->ShowUnread(UNREAD_ALL));
            EXPECT_FALSE(m_pDoc->MarkTreeRead(m_pOld));
            EXPECT_FALSE(m_pDoc->DeleteSite("s2"));
        }
        return true;
    };
    EXPECT_TRUE(m_pDoc->Search("doc"));
    EXPECT_TRUE(bChecked);
    EXPECT_EQ(Found().size(), 5u);
    EXPECT_EQ(m_pOld->m_dirList[0]->m_nState, 1);
    EXPECT_NE(m_pDoc->FindSite("s2"), nullptr);
}

TEST_F(SearchTest, SearchDirAndSearchDirList)
{
    EXPECT_TRUE(m_pDoc->SearchDir(m_pOld, ""));
    EXPECT_EQ(Found(), (Strings{"ftp://s1/docs-old/sub", "ftp://s1/docs-old/sub/deep.txt",
                                "ftp://s1/docs-old/old.doc"}));
    m_pDoc->m_foundDirs.clear();
    m_pDoc->m_foundFiles.clear();
    m_pDoc->NavigateTo(m_pS1->m_pRoot.get());
    EXPECT_TRUE(m_pDoc->SearchDirList(m_pDoc->m_listDirs, "#new"));
    EXPECT_EQ(Found(), (Strings{"ftp://s1/docs-old", "ftp://s1/read/new.txt"}));
}

TEST_F(SearchTest, UnreadListings)
{
    // Scope 1 before any update of this run: nothing, and it says why
    // (the marks of earlier runs are there, under the other command).
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_THIS_UPDATE));
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(m_host.m_messages,
              Strings{"本次运行中还没有更新过站点。要查看所有未读文件，请用“显示所有未读文件”。"});

    m_pS1->SetStatus("更新成功", 2);
    m_host.m_messages.clear();
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_THIS_UPDATE));
    EXPECT_EQ(Found(),
              (Strings{"ftp://s1/docs-old", "ftp://s1/read/new.txt", "ftp://s1/Top2.DOC"}));
    EXPECT_TRUE(m_host.m_messages.empty());

    // An updated site with nothing unread: plainly none.
    m_pS1->SetStatus("失败", 1);
    m_pS2->SetStatus("更新成功", 2);
    m_host.m_messages.clear();
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_THIS_UPDATE));
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(m_host.m_messages, Strings{"没有未读文件！"});

    AddFile(m_pS2->m_pRoot.get(), "fresh", 0, 1);
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_ALL));
    EXPECT_EQ(Found(), (Strings{"ftp://s1/docs-old", "ftp://s1/read/new.txt", "ftp://s1/Top2.DOC",
                                "ftp://s2/fresh"}));

    m_pDoc->ShowFolderUnread(m_pOld);
    EXPECT_EQ(Found(), (Strings{"ftp://s1/docs-old/sub", "ftp://s1/docs-old/old.doc"}));
}

TEST_F(SearchTest, UnreadListingLoadsOnlyForScopeAll)
{
    {
        CFTPSite stored;
        stored.m_strHost = "lazy";
        stored.m_strUser = "anonymous";
        stored.m_strPassword = ANON_PASSWORD;
        AddFile(AddDir(stored.m_pRoot.get(), "pub"), "a.txt", 5, 1);
        stored.SaveContent();
        stored.SaveState();
    }
    WriteFileBytes(m_dir / "import.txt", "lazy\n");
    m_pDoc->ImportSites(m_dir / "import.txt");
    CFTPSite* pLazy = m_pDoc->FindSite("lazy");
    ASSERT_NE(pLazy, nullptr);
    pLazy->SetStatus("更新成功", 2);
    // Scope 1 never loads (an updated site is in memory already).
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_THIS_UPDATE));
    EXPECT_FALSE(pLazy->IsLoaded());
    EXPECT_TRUE(m_pDoc->ShowUnread(UNREAD_ALL));
    EXPECT_TRUE(pLazy->IsLoaded());
    EXPECT_EQ(Found().back(), "ftp://lazy/pub/a.txt");
}

TEST_F(SearchTest, MarkingSetsStateDirtyOnlyWhenItClearedAMark)
{
    CFTPDir* pDocs = m_pS1->m_pRoot->m_dirList[0].get();
    struct Row
    {
        const char* pszName;
        std::function<void()> run;
        bool bS1Dirty;
        bool bS2Dirty;
    } rows[] = {
        {"open a read folder", [&] { m_pDoc->OpenFolder(pDocs); }, false, false},
        {"open an unread folder", [&] { m_pDoc->OpenFolder(m_pOld); }, true, false},
        {"again", [&] { m_pDoc->OpenFolder(m_pOld); }, false, false},
        {"folder without marks", [&] { m_pDoc->MarkFolderRead(pDocs); }, false, false},
        {"folder with marks", [&] { m_pDoc->MarkFolderRead(m_pOld); }, true, false},
        {"listing without marks", [&] { m_pDoc->MarkShownRead(); }, false, false},
        {"scope 1, nothing updated", [&] { m_pDoc->MarkSitesRead(UNREAD_THIS_UPDATE); }, false,
         false},
        {"scope 2", [&] { m_pDoc->MarkSitesRead(UNREAD_ALL); }, true, false},
        {"scope 2 again", [&] { m_pDoc->MarkSitesRead(UNREAD_ALL); }, false, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        m_pS1->m_bStateDirty = false;
        m_pS2->m_bStateDirty = false;
        row.run();
        EXPECT_EQ(m_pS1->m_bStateDirty.load(), row.bS1Dirty);
        EXPECT_EQ(m_pS2->m_bStateDirty.load(), row.bS2Dirty);
    }
    EXPECT_TRUE(m_pDoc->Search("#new"));
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(m_pS1->m_pRoot->m_nState, 0);
}

TEST_F(SearchTest, MarkFolderReadLeavesTheFolderItself)
{
    m_pDoc->MarkFolderRead(m_pOld);
    EXPECT_EQ(m_pOld->m_nState, 1);
    EXPECT_EQ(m_pOld->m_dirList[0]->m_nState, 0);
    EXPECT_EQ(m_pOld->m_dirList[0]->m_fileList[0]->m_nState, 0);
    EXPECT_EQ(m_pOld->m_fileList[0]->m_nState, 0);
    EXPECT_EQ(m_pRead->m_fileList[0]->m_nState, 1);
}

TEST_F(SearchTest, MarkSitesReadOfThisUpdateOnly)
{
    AddFile(m_pS2->m_pRoot.get(), "fresh", 0, 1);
    m_pS2->SetStatus("更新成功", 2);
    m_pDoc->MarkSitesRead(UNREAD_THIS_UPDATE);
    EXPECT_EQ(m_pS2->m_pRoot->m_fileList.back()->m_nState, 0);
    EXPECT_EQ(m_pOld->m_nState, 1); // s1 was not updated in this run
    EXPECT_TRUE(m_pS2->m_bStateDirty.load());
}

TEST_F(SearchTest, MarkShownReadInResultModeMarksTheFolderListing)
{
    m_pDoc->NavigateTo(m_pRead);
    ASSERT_TRUE(m_pDoc->Search("#new"));
    m_pDoc->MarkShownRead();
    EXPECT_EQ(m_pRead->m_fileList[0]->m_nState, 0);
    EXPECT_EQ(m_pOld->m_nState, 1);                        // a result, not listed
    EXPECT_EQ(m_pS1->m_pRoot->m_fileList[1]->m_nState, 1); // Top2.DOC, a result
    EXPECT_TRUE(m_pS1->m_bStateDirty.load());
}

TEST_F(SearchTest, StopDuringMarkingKeepsWhatWasCleared)
{
    int nPumps = 0;
    // Pumps: the site, then Docs, readme.TXT, notes.txt, 软件, 软件包.zip, docs-old.
    m_host.m_onPump = [&] { return ++nPumps < 7; };
    m_pDoc->MarkSitesRead(UNREAD_ALL);
    EXPECT_EQ(m_pOld->m_nState, 0);
    EXPECT_EQ(m_pOld->m_dirList[0]->m_nState, 1);
    EXPECT_EQ(m_pRead->m_fileList[0]->m_nState, 1);
    EXPECT_TRUE(m_pS1->m_bStateDirty.load());
    EXPECT_FALSE(m_pDoc->IsBusy());
}
