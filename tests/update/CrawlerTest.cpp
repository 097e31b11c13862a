#include <atomic>
#include <chrono>
#include <thread>

#include "CrawlerFixture.h"
#include "model/ProgramFolder.h"

namespace
{
class CrawlerTest : public CModeCrawlerFixture
{
};
} // namespace

TARN_ALL_LISTING_MODES(CrawlerTest);

TEST_P(CrawlerTest, FirstCrawlMirrorsTheServedTreeAndSecondCrawlMerges)
{
    Dir("a/sub");
    Dir("b/deep");
    File("a/x.txt", 3);
    File("a/Readme", 2);
    File("a/turn", 1);
    File("a/sub/y", 5);
    File("b/deep/f", 1);
    File("z.bin", 4096);
    std::filesystem::create_directory_symlink("..", m_served / "a/loop");
    StartServer();

    auto pSite = MakeSite();
    CFTPDir* pRoot = pSite->m_pRoot.get();
    ASSERT_EQ(Crawl(*pSite), 1);
    EXPECT_EQ(Sorted(DescribeTree(*pRoot)),
              Sorted({"d /a 1", "d /a/sub 1", "f /a/sub/y 5 1", "f /a/x.txt 3 1", "f /a/Readme 2 1",
                      "f /a/turn 1 1", "f /a/loop 2 1", "d /b 1", "d /b/deep 1", "f /b/deep/f 1 1",
                      "f /z.bin 4096 1"}));
    EXPECT_TRUE(pSite->m_bHasNew);
    EXPECT_TRUE(NoMarksLeft(*pRoot));
    EXPECT_TRUE(ParentLinksConsistent(*pRoot));
    EXPECT_TRUE(m_observer.m_notices.empty());

    // Between the updates: read everything, then change the server.
    MarkAllRead(*pRoot);
    pSite->m_bHasNew = false;
    CFTPDir* pA = FindDir(pRoot, "a");
    std::vector<std::string> filesBefore = FileNames(*pA);
    File("a/new.txt", 9);
    File("a/x.txt", 7);
    Remove("z.bin");
    Remove("b");
    std::filesystem::rename(m_served / "a/Readme", m_served / "a/README");
    Remove("a/turn");
    Dir("a/turn");

    // A reader on another thread, as the window would be.
    std::atomic<bool> bDone{false};
    std::thread reader(
        [&]
        {
            while (!bDone)
            {
                std::shared_lock lock(pSite->m_treeLock);
                (void)CountTree(*pRoot);
            }
        });
    ASSERT_EQ(Crawl(*pSite), 1);
    bDone = true;
    reader.join();

    // Survivors keep their place and marks; new entries follow, unread.
    std::vector<std::string> survivors;
    for (const std::string& str : filesBefore)
        if (str != "Readme" && str != "turn")
            survivors.push_back(str);
    std::vector<std::string> files = FileNames(*pA);
    ASSERT_EQ(files.size(), survivors.size() + 2);
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.begin() + survivors.size()), survivors);
    EXPECT_EQ(Sorted({files.end() - 2, files.end()}), Sorted({"README", "new.txt"}));
    EXPECT_EQ(FindFile(pA, "x.txt")->m_nSize, 7u);
    EXPECT_EQ(FindFile(pA, "x.txt")->m_nState, 0);
    EXPECT_EQ(FindFile(pA, "README")->m_nState, 1);
    EXPECT_EQ(FindFile(pA, "new.txt")->m_nState, 1);
    EXPECT_EQ(DirNames(*pA), (std::vector<std::string>{"sub", "turn"}));
    EXPECT_EQ(FindDir(pA, "sub")->m_nState, 0);
    EXPECT_EQ(FindDir(pA, "turn")->m_nState, 1);
    EXPECT_EQ(DirNames(*pRoot), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(pRoot->m_fileList.empty());
    EXPECT_TRUE(pSite->m_bHasNew);
    EXPECT_TRUE(NoMarksLeft(*pRoot));
    EXPECT_TRUE(ParentLinksConsistent(*pRoot));

    // Every removal announced (files of a folder before its folders), the
    // removed folder still whole when announced, and handed over after.
    std::vector<std::string> notices;
    for (const auto& notice : m_observer.m_notices)
        notices.push_back(notice.strName + ":" + std::to_string(notice.nType));
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(notices.begin(), notices.begin() + 2),
              (std::vector<std::string>{"z.bin:0", "b:1"}));
    EXPECT_EQ(Sorted({notices.begin() + 2, notices.end()}), Sorted({"Readme:0", "turn:0"}));
    EXPECT_EQ(m_observer.m_notices[1].nChildren, 2u);
    EXPECT_EQ(m_observer.m_nDisposed, 4u);

    // A file that disappears and comes back is unread again.
    MarkAllRead(*pRoot);
    Remove("a/new.txt");
    ASSERT_EQ(Crawl(*pSite), 1);
    EXPECT_EQ(FindFile(pA, "new.txt"), nullptr);
    File("a/new.txt", 9);
    ASSERT_EQ(Crawl(*pSite), 1);
    EXPECT_EQ(FindFile(pA, "new.txt")->m_nState, 1);
}

TEST_P(CrawlerTest, RefusedFolderKeepsItsSubtreeAndFailedListingKeepsEntries)
{
    Dir("__refuse_cwd__");
    Dir("__refuse_list__");
    Dir("empty");
    Dir("after");
    File("after/seen.txt");
    StartServer();

    auto pSite = MakeSite();
    CFTPDir* pRoot = pSite->m_pRoot.get();
    CFTPDir* pRefused = AddDir(pRoot, "__refuse_cwd__");
    AddFile(AddDir(pRefused, "kept dir"), "deep.txt", 5);
    AddFile(pRefused, "kept.txt", 3);
    AddFile(AddDir(pRoot, "__refuse_list__"), "gone.txt", 1);
    CFTPDir* pEmpty = AddDir(pRoot, "empty");
    AddFile(pEmpty, "gone too", 1);
    AddDir(pEmpty, "gone dir");
    AddDir(pRoot, "after");
    std::vector<std::string> refusedBefore = DescribeTree(*pRefused);

    ASSERT_EQ(Crawl(*pSite), 1);
    EXPECT_EQ(DescribeTree(*pRefused), refusedBefore);
    // A failed listing is no empty folder.
    EXPECT_NE(FindFile(FindDir(pRoot, "__refuse_list__"), "gone.txt"), nullptr);
    EXPECT_EQ(Sorted(pSite->GetRefusedPaths()),
              Sorted({"/__refuse_cwd__", "/__refuse_list__"}));
    EXPECT_TRUE(pEmpty->m_fileList.empty());
    EXPECT_TRUE(pEmpty->m_dirList.empty());
    EXPECT_NE(FindFile(FindDir(pRoot, "after"), "seen.txt"), nullptr);
    std::vector<std::string> notices;
    for (const auto& notice : m_observer.m_notices)
        notices.push_back(notice.strName);
    EXPECT_EQ(Sorted(notices), Sorted({"gone too", "gone dir"}));
    // The refused folder is entered once and never listed; the crawl goes on
    // (after the refused STAT the normal way lists again what was fetched ahead).
    std::vector<std::string> listed = m_pServer->GetListedFolders();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "/__refuse_cwd__"), 0);
    auto nAfter = std::count(listed.begin(), listed.end(), "/after");
    EXPECT_TRUE(nAfter == 1 || (UsesStat() && nAfter == 2)) << nAfter;
}

TEST_P(CrawlerTest, DotsAndUnaddressableNamesAreSkipped)
{
    Dir("real");
    StartServer();
    for (bool bMlsd : {true, false})
    {
        SCOPED_TRACE(bMlsd ? "MLSD" : "LIST");
        m_pServer->SetFaults(
            bMlsd
                ? R"({"rules": [{"on": "LIST", "path": "/", "action": "inject", "lines": [
                "type=dir; .", "type=dir; ..", "type=cdir; /", "type=pdir; /x",
                "type=dir; x/..", "type=file;size=1; a/b", "type=file;size=1; nul\u0000name"]}]})"
                : R"({"no_mlsd": true, "rules": [{"on": "LIST", "path": "/", "action": "inject", "lines": [
                "drwxr-xr-x 2 o g 0 Jan 1 00:00 .", "drwxr-xr-x 2 o g 0 Jan 1 00:00 ..",
                "drwxr-xr-x 2 o g 0 Jan 1 00:00 up/../..", "-rw-r--r-- 1 o g 1 Jan 1 00:00 nul\u0000name"]}]})");
        m_pServer->ClearLog();
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot), (std::vector<std::string>{"d /real 1"}));
        for (const auto& command : m_pServer->GetCommands("CWD"))
            EXPECT_TRUE(command.strArgument == "/" || command.strArgument == "/real")
                << command.strArgument;
    }
}

TEST_P(CrawlerTest, StopFlagAtEachCheckpoint)
{
    Dir("a/a1");
    File("a/f1");
    File("gone-on-server");
    StartServer();

    struct CCase
    {
        const char* pszCheckpoint;
        const char* pszFaults; // slows the server so the flag lands in between
        bool bStartAtA;        // crawl /a (resume point a) or the root (none)
        bool bListedA;         // /a's listing reached the server
    };
    const CCase cases[] = {
        {"entry to a folder", "", true, false},
        {"after changing directory",
         R"({"rules": [{"on": "CWD", "path": "/a", "action": "delay", "seconds": 0.6}]})", true,
         false},
        {"before the entries of a listing",
         R"({"rules": [{"on": "LIST", "path": "/a", "action": "delay", "seconds": 0.6}]})", true,
         true},
        {"during a stalled listing",
         R"({"rules": [{"on": "LIST", "path": "/a", "action": "stall"}]})", true, true},
        {"before descending", "", false, false},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszCheckpoint);
        g_bStopUpdate = 0;
        m_pServer->SetFaults(c.pszFaults);
        auto pSite = MakeSite();
        CFTPDir* pRoot = pSite->m_pRoot.get();
        CFTPDir* pA = AddDir(pRoot, "a");
        AddFile(pA, "cached", 1);
        AddFile(pRoot, "cached-root", 1);
        std::vector<std::string> aBefore = DescribeTree(*pA);

        // The real 7-second receive time-outs: a stop must not wait for them.
        auto pSession = OpenSiteSession(CSessionTimeouts{});
        std::string strError;
        auto pConnection = OpenSiteConnection(*pSession, *pSite, &strError);
        ASSERT_TRUE(pConnection) << strError;
        m_pServer->ClearLog();
        std::thread stopper;
        if (std::string(c.pszCheckpoint) == "entry to a folder")
            g_bStopUpdate = 1;
        else if (std::string(c.pszCheckpoint) == "before descending")
            m_observer.m_onRemoved = [](CObject*, int) { g_bStopUpdate = 1; };
        else
            stopper = std::thread(
                []
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    g_bStopUpdate = 1;
                });

        auto start = std::chrono::steady_clock::now();
        int nResult = CrawlDir(pConnection.get(), pSite.get(), c.bStartAtA ? pA : pRoot, Plan());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        if (stopper.joinable())
            stopper.join();
        m_observer.m_onRemoved = nullptr;

        EXPECT_EQ(nResult, 0);
        EXPECT_EQ(pSite->GetStatusText(), "更新终止！");
        EXPECT_EQ(pSite->m_nStatus, 3);
        EXPECT_EQ(pSite->m_bResume, c.bStartAtA ? 1 : 0);
        if (c.bStartAtA)
        {
            EXPECT_EQ(pSite->m_pResumeDir.load(), pA);
        }
        // Over the control connection /a's listing may have been asked for
        // ahead; it is never merged.
        std::vector<std::string> listed = m_pServer->GetListedFolders();
        if (!UsesStat())
        {
            EXPECT_EQ(std::count(listed.begin(), listed.end(), "/a"), c.bListedA ? 1 : 0);
        }
        // Nothing under /a was merged or entered, and no crawl mark is left.
        EXPECT_EQ(DescribeTree(*pA), aBefore);
        EXPECT_EQ(m_pServer->CountCommands("CWD") > 0,
                  std::string(c.pszCheckpoint) != "entry to a folder");
        EXPECT_TRUE(NoMarksLeft(*pRoot));
    }
}

TEST_P(CrawlerTest, DeepestCrawlableTreeSurvivesSaveAndLoad)
{
    // A hostile server: every folder exists and holds one more folder.
    StartServer();
    m_pServer->SetFaults(R"({"rules": [
        {"on": "CWD", "action": "reply", "reply": "250 OK."},
        {"on": "LIST", "action": "inject", "lines": ["type=dir; d"]}]})");
    CTempDir data;
    SetProgramFolder(data.Path());
    auto pSite = MakeSite();
    ASSERT_EQ(Crawl(*pSite), 1);
    int nDepth = 0;
    for (CFTPDir* p = pSite->m_pRoot.get(); !p->m_dirList.empty(); p = p->m_dirList[0].get())
        ++nDepth;
    // The deepest folder is known from its parent's listing, not listed.
    EXPECT_EQ(nDepth, MAX_TREE_DEPTH);
    // Each folder above it once. (The PWD after STAT names "/" on this
    // server, so STAT turns to the normal way at the second folder, and
    // what was fetched ahead is listed again.)
    size_t nListed = m_pServer->GetListedFolders().size();
    if (!UsesStat())
    {
        EXPECT_EQ(nListed, static_cast<size_t>(MAX_TREE_DEPTH));
    }
    else
    {
        EXPECT_GE(nListed, static_cast<size_t>(MAX_TREE_DEPTH));
        EXPECT_LE(nListed, static_cast<size_t>(MAX_TREE_DEPTH) + DEFAULT_PIPELINE_DEPTH + 1);
    }

    // Whatever the crawler makes, the loader takes back whole.
    pSite->SaveTree();
    auto pLoaded = MakeSite();
    pLoaded->EnsureLoaded();
    EXPECT_FALSE(pLoaded->m_bContentDamaged);
    EXPECT_EQ(DescribeTree(*pLoaded->m_pRoot), DescribeTree(*pSite->m_pRoot));
}

TEST_P(CrawlerTest, UnreadableLinesKeepTheFoldersCachedEntries)
{
    Dir("sub");
    File("a.txt");
    File("b.txt");
    StartServer();
    auto pSite = MakeSite();
    ASSERT_EQ(Crawl(*pSite), 1);
    Remove("a.txt");
    Remove("sub");
    for (bool bMlsd : {true, false})
    {
        SCOPED_TRACE(bMlsd ? "MLSD" : "LIST");
        m_pServer->SetFaults(bMlsd ? R"({"rules": [{"on": "LIST", "path": "/", "action": "inject",
                                        "lines": ["no facts here"]}]})"
                                   : R"({"no_mlsd": true, "rules": [{"on": "LIST", "path": "/",
                                        "action": "inject", "lines": ["?? garbled ??"]}]})");
        pSite->m_nUnreadableLines = 0;
        ASSERT_EQ(Crawl(*pSite), 1);
        // The listing may have left them out: nothing goes on a partial reading.
        EXPECT_EQ(Sorted(FileNames(*pSite->m_pRoot)), Sorted({"a.txt", "b.txt"}));
        EXPECT_EQ(DirNames(*pSite->m_pRoot), std::vector<std::string>{"sub"});
        EXPECT_EQ(pSite->m_nUnreadableLines.load(), 1u);
        EXPECT_TRUE(NoMarksLeft(*pSite->m_pRoot));
    }
    m_pServer->ClearFaults();
    ASSERT_EQ(Crawl(*pSite), 1);
    EXPECT_EQ(FileNames(*pSite->m_pRoot), std::vector<std::string>{"b.txt"});
    EXPECT_TRUE(pSite->m_pRoot->m_dirList.empty());
}
