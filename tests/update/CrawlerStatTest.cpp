// Listings over the control connection: the same cache as the normal way,
// the ways back to the normal way, and the pipeline's drop and stop rules.

#include <algorithm>
#include <set>

#include "CrawlerFixture.h"
#include "model/ProgramFolder.h"
#include "net/InternetError.h"
#include "support/Vsftpd.h"

namespace
{
class CrawlerStatTest : public CCrawlerFixture
{
protected:
    // content.ct and state.st as a save of the site writes them.
    std::string SavedBytes(CFTPSite& site)
    {
        CTempDir data;
        SetProgramFolder(data.Path());
        site.SaveTree();
        std::string strFolder = GetSiteFolderPath(data.Path(), site.GetKey());
        return ReadFileBytes(strFolder + "/content.ct") + "|" +
               ReadFileBytes(strFolder + "/state.st");
    }

    // 1 + 5 + 20 folders, an old.txt in each.
    void BuildGrid()
    {
        File("old.txt");
        for (int a = 0; a < 5; ++a)
        {
            for (int b = 0; b < 4; ++b)
            {
                std::string strDir = "d" + std::to_string(a) + "/e" + std::to_string(b);
                Dir(strDir);
                File(strDir + "/old.txt", 2);
            }
            File("d" + std::to_string(a) + "/old.txt", 1);
        }
    }

    // Every folder gets a new.txt; with bDropOld the old.txt files go.
    void ChangeGrid(bool bDropOld)
    {
        for (const std::string& strPath : m_grid)
        {
            File(strPath.substr(1) + (strPath == "/" ? "" : "/") + "new.txt", 3);
            if (bDropOld)
                Remove(strPath.substr(1) + (strPath == "/" ? "" : "/") + "old.txt");
        }
    }

    std::vector<std::string> CleanTree()
    {
        ListingMode nMode = m_nMode;
        m_nMode = ListingMode::list;
        m_pServer->ClearFaults();
        auto pClean = MakeSite();
        EXPECT_EQ(Crawl(*pClean), 1);
        m_nMode = nMode;
        return DescribeTree(*pClean->m_pRoot);
    }

    std::vector<std::string> m_grid; // crawl order of the grid, set by the tests
};
} // namespace

TEST_F(CrawlerStatTest, StatCrawlSavesTheSameBytesAsAListCrawl)
{
    // Names a careless client would glob, split or trim; names beginning
    // with "."; a refused folder among siblings (its STAT answer lists the
    // folder entered before it and must go nowhere).
    for (const char* psz : {"g[l]ob*/x?y", "with space/in it", " leading", "中文目录/子目录",
                            "-dash", ".hidden/inner", "__refuse_cwd__/kept", "after/deep/deeper"})
        Dir(psz);
    File("g[l]ob*/x?y/f 1", 11);
    File("中文目录/子目录/文件.txt", 22);
    File(" leading/ lead file", 3);
    File(".hidden/inner/.dot", 4);
    File("after/deep/deeper/z", 5);
    File("-dash/-f", 6);
    File(".profile", 7);
    File("top.bin", 4096);
    StartServer();

    // Two crawls each: the second merges a changed server into the cache.
    auto crawlTwice = [this](ListingMode nMode, size_t nPipeline, uint64_t nHoldAhead)
    {
        m_nMode = nMode;
        m_nPipelineDepth = nPipeline;
        m_nHoldAheadBytes = nHoldAhead;
        auto pSite = MakeSite();
        AddFile(AddDir(pSite->m_pRoot.get(), "__refuse_cwd__"), "cached", 9);
        EXPECT_EQ(Crawl(*pSite), 1);
        File("after/deep/new file", 8);
        Remove("-dash");
        Dir("g[l]ob*/x?y/more");
        EXPECT_EQ(Crawl(*pSite), 1);
        Remove("after/deep/new file");
        Remove("g[l]ob*/x?y/more");
        File("-dash/-f", 6);
        return SavedBytes(*pSite);
    };
    std::string strList =
        crawlTwice(ListingMode::list, DEFAULT_PIPELINE_DEPTH, DEFAULT_HOLD_AHEAD_BYTES);
    EXPECT_NE(strList.find("cached"), std::string::npos); // the refused folder's
    struct CCase
    {
        const char* pszName;
        ListingMode nMode;
        size_t nPipeline;
        uint64_t nHoldAhead;
    };
    const CCase cases[] = {
        {"stat", ListingMode::stat, DEFAULT_PIPELINE_DEPTH, DEFAULT_HOLD_AHEAD_BYTES},
        {"auto", ListingMode::automatic, DEFAULT_PIPELINE_DEPTH, DEFAULT_HOLD_AHEAD_BYTES},
        {"auto, nothing fetched ahead", ListingMode::automatic, 1, DEFAULT_HOLD_AHEAD_BYTES},
        // Topped up one folder at a time, and in batches of two with a
        // window smaller than the tree: a refill that came too late or
        // never would stall or reorder the crawl.
        {"stat, a window of three", ListingMode::stat, 3, DEFAULT_HOLD_AHEAD_BYTES},
        {"stat, a window of nine", ListingMode::stat, 9, DEFAULT_HOLD_AHEAD_BYTES},
        {"auto, every listing held ahead dropped", ListingMode::automatic, DEFAULT_PIPELINE_DEPTH,
         1},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        m_pServer->ClearLog();
        EXPECT_EQ(crawlTwice(c.nMode, c.nPipeline, c.nHoldAhead), strList);
        // The local server gives the same listing both ways: auto picks STAT.
        EXPECT_TRUE(m_report.bUsedStat && !m_report.bFellBack) << m_report.strWhy;
        EXPECT_GT(m_report.nStatFolders, 5u);
        EXPECT_EQ(m_report.nDroppedAhead > 0, c.nHoldAhead == 1);
        EXPECT_GT(m_pServer->CountCommands("STAT"), 0);
    }
}

TEST_F(CrawlerStatTest, NamesBeginningWithADotFollowWhatListShows)
{
    // vsftpd's way: STAT shows every name, LIST hides those beginning with
    // "."; auto then drops them from STAT listings, a stat session keeps them.
    Dir("a/.git/objects");
    Dir("a/b");
    File("a/.message", 5);
    File("a/b/f", 1);
    StartServer();
    for (bool bAtRoot : {false, true})
    {
        SCOPED_TRACE(bAtRoot ? "first names with a dot at the root" : "first ones below it");
        if (bAtRoot)
            File(".welcome", 2);
        m_pServer->SetFaults(R"({"hidden_dots": true})");
        m_nMode = ListingMode::list;
        auto pList = MakeSite();
        ASSERT_EQ(Crawl(*pList), 1);
        EXPECT_EQ(FindDir(FindDir(pList->m_pRoot.get(), "a"), ".git"), nullptr);

        m_nMode = ListingMode::automatic;
        auto pAuto = MakeSite();
        ASSERT_EQ(Crawl(*pAuto), 1);
        EXPECT_EQ(SavedBytes(*pAuto), SavedBytes(*pList));
        EXPECT_TRUE(m_report.bUsedStat && !m_report.bFellBack) << m_report.strWhy;

        m_nMode = ListingMode::stat;
        auto pStat = MakeSite();
        ASSERT_EQ(Crawl(*pStat), 1);
        EXPECT_NE(FindPath(pStat->m_pRoot.get(), "/a/.git/objects"), nullptr);
    }
}

TEST_F(CrawlerStatTest, AnswersThatAreNoListingTurnTheSessionToTheNormalWay)
{
    BuildGrid();
    StartServer();
    std::vector<std::string> clean = CleanTree();
    struct CCase
    {
        const char* pszName;
        const char* pszFaults;
        bool bBelow; // the fault meets a folder after STAT listings were merged
        bool bAutoOnly;
    };
    const CCase cases[] = {
        {"STAT refused", R"({"rules": [{"on": "STAT", "action": "reply",
            "reply": "502 Command not implemented."}]})",
         false, false},
        {"STAT refused below", R"({"rules": [{"on": "STAT", "path": "/d1/e2", "action": "reply",
            "reply": "502 Command not implemented."}]})",
         true, false},
        {"status text", R"({"rules": [{"on": "STAT", "action": "status"}]})", false, false},
        {"status text below",
         R"({"rules": [{"on": "STAT", "path": "/d1/e2", "action": "status"}]})", true, false},
        {"STAT listing differs from LIST",
         R"({"rules": [{"on": "STAT", "path": "/", "action": "inject",
            "lines": ["-rw-r--r-- 1 o g 5 Jan 01 00:00 ghost"]}]})",
         false, true},
    };
    for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
    {
        for (const CCase& c : cases)
        {
            if (c.bAutoOnly && nMode != ListingMode::automatic)
                continue;
            SCOPED_TRACE(std::string(FormatListingMode(nMode)) + ": " + c.pszName);
            m_pServer->SetFaults(c.pszFaults);
            m_nMode = nMode;
            auto pSite = MakeSite();
            ASSERT_EQ(Crawl(*pSite), 1);
            EXPECT_EQ(DescribeTree(*pSite->m_pRoot), clean);
            EXPECT_FALSE(m_report.strWhy.empty());
            EXPECT_EQ(m_report.nStatFolders > 0, c.bBelow);
            EXPECT_FALSE(m_report.bOutOfTurn);
        }
    }
}

TEST_F(CrawlerStatTest, DropInThePipelineResumesAtTheFirstFolderNotMerged)
{
    BuildGrid();
    StartServer();
    for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
    {
        SCOPED_TRACE(FormatListingMode(nMode));
        // The same history listed the normal way, without the drop.
        m_nMode = ListingMode::list;
        auto pReference = MakeSite();
        ASSERT_EQ(Crawl(*pReference), 1);
        m_nMode = nMode;
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        m_grid = CrawlOrder(*pSite->m_pRoot);
        ChangeGrid(false);
        m_nMode = ListingMode::list;
        ASSERT_EQ(Crawl(*pReference), 1);
        m_nMode = nMode;
        // The line drops when the server meets a folder in the middle of
        // the crawl, most likely long before the crawl gets there.
        size_t nDrop = m_grid.size() / 2;
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": ")" + m_grid[nDrop] +
                             R"(", "action": "drop", "times": 1, "run": ")" +
                             FormatListingMode(nMode) + R"("}]})");
        ASSERT_EQ(Crawl(*pSite), 0);
        // A hang-up with commands unread reaches us as a reset.
        EXPECT_EQ(pSite->GetStatusText().rfind("更新意外终止:\n", 0), 0u) << pSite->GetStatusText();
        ASSERT_EQ(pSite->m_bResume, 1);
        std::string strResume = pSite->m_pResumeDir.load()->GetPath();
        size_t nMerged = std::find(m_grid.begin(), m_grid.end(), strResume) - m_grid.begin();
        EXPECT_GT(nMerged, 0u);
        EXPECT_LE(nMerged, nDrop);
        // Merged: exactly the folders before the resume folder, in crawl order.
        for (size_t i = 0; i < m_grid.size(); ++i)
            EXPECT_EQ(FindFile(FindPath(pSite->m_pRoot.get(), m_grid[i]), "new.txt") != nullptr,
                      i < nMerged)
                << m_grid[i];
        EXPECT_TRUE(NoMarksLeft(*pSite->m_pRoot));

        // The continuation lists the resume folder and what follows, nothing before.
        m_pServer->ClearFaults();
        m_pServer->ClearLog();
        ASSERT_EQ(Crawl(*pSite), 1);
        std::vector<std::string> listed = m_pServer->GetListedFolders();
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
                  std::set<std::string>(m_grid.begin() + static_cast<long>(nMerged), m_grid.end()));
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot), DescribeTree(*pReference->m_pRoot));
        for (const std::string& strPath : m_grid)
            Remove(strPath.substr(1) + (strPath == "/" ? "" : "/") + "new.txt");
    }
}

TEST_F(CrawlerStatTest, StopWithRequestsInFlightMergesNothingAfterIt)
{
    BuildGrid();
    StartServer();
    for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
    {
        SCOPED_TRACE(FormatListingMode(nMode));
        g_bStopUpdate = 0;
        m_nMode = nMode;
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        m_grid = CrawlOrder(*pSite->m_pRoot);
        ChangeGrid(true);
        // Every merge drops its old.txt: the third folder's notice stops the crawl.
        std::set<CObject*> parents;
        m_observer.m_onRemoved = [&parents](CObject* pEntry, int)
        {
            parents.insert(static_cast<CFTPFile*>(pEntry)->m_pParent);
            if (parents.size() == 3)
                g_bStopUpdate = 1;
        };
        m_pServer->ClearLog();
        EXPECT_EQ(Crawl(*pSite), 0);
        m_observer.m_onRemoved = nullptr;
        g_bStopUpdate = 0;
        EXPECT_EQ(pSite->GetStatusText(), "更新终止！");
        EXPECT_EQ(pSite->m_nStatus, 3);
        for (size_t i = 0; i < m_grid.size(); ++i)
        {
            CFTPDir* pDir = FindPath(pSite->m_pRoot.get(), m_grid[i]);
            EXPECT_EQ(FindFile(pDir, "new.txt") != nullptr, i < 3) << m_grid[i];
            EXPECT_EQ(FindFile(pDir, "old.txt") != nullptr, i >= 3) << m_grid[i];
        }
        // More than those three had been asked for.
        EXPECT_GT(m_pServer->GetListedFolders().size(), 4u);
        for (const std::string& strPath : m_grid)
        {
            std::string strFolder = strPath.substr(1) + (strPath == "/" ? "" : "/");
            Remove(strFolder + "new.txt");
            File(strFolder + "old.txt");
        }
    }
}

TEST_F(CrawlerStatTest, OnVsftpdAutoListsWithStatAndSavesTheSameBytes)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd runs as root where installed (scripts/setup.sh --bench)";
    for (const char* psz :
         {"g[l]ob*/x?y", " leading/in", "中文目录/子目录", "a/.hidden", "locked/in"})
        Dir(psz);
    File("a/.message", 3);
    File("a/b.txt", 4);
    File("中文目录/子目录/文件.txt", 22);
    // Not for the anonymous user: its CWD is refused, its STAT answer discarded.
    std::filesystem::permissions(m_served / "locked", std::filesystem::perms::owner_all);
    CTestVsftpd server(m_served.Path());
    ASSERT_NE(server.GetPort(), 0);
    auto crawl = [&](ListingMode nMode)
    {
        m_nMode = nMode;
        CFTPSite site;
        site.m_strHost = "127.0.0.1";
        site.m_nPort = server.GetPort();
        site.m_strUser = "anonymous";
        site.m_strPassword = ANON_PASSWORD;
        EXPECT_EQ(Crawl(site), 1);
        return SavedBytes(site);
    };
    std::string strList = crawl(ListingMode::list);
    EXPECT_NE(strList.find("文件.txt"), std::string::npos);
    EXPECT_EQ(strList.find(".message"), std::string::npos);
    EXPECT_EQ(crawl(ListingMode::automatic), strList);
    EXPECT_TRUE(m_report.bUsedStat && !m_report.bFellBack) << m_report.strWhy;
    // vsftpd's STAT shows every name; only a stat session keeps them.
    EXPECT_NE(crawl(ListingMode::stat).find(".message"), std::string::npos);
}
