// Whatever a server sends, a crawl over STAT leaves the cache as a crawl the
// normal way would, and no reply holds an update (or its memory) for ever:
// failed listings, forged end lines in names, STAT listings that hide
// entries, replies without end, and folder names too long to send.

#include <chrono>

#include "CrawlerFixture.h"
#include "net/InternetError.h"
#include "support/Vsftpd.h"
#include "update/FolderSource.h"

namespace
{
using namespace std::chrono_literals;

class CrawlerSoundnessTest : public CCrawlerFixture
{
protected:
    // The tree a crawl the normal way makes of the served folder now,
    // starting from what pSeed (if given) was made of.
    std::vector<std::string> NormalTree()
    {
        ListingMode nMode = m_nMode;
        m_nMode = ListingMode::list;
        auto pSite = MakeSite();
        EXPECT_EQ(Crawl(*pSite), 1);
        m_nMode = nMode;
        return DescribeTree(*pSite->m_pRoot);
    }

    static std::string Join(const std::vector<std::string>& v)
    {
        std::string s;
        for (const std::string& str : v)
            s += str + "\n";
        return s;
    }
};

constexpr ListingMode ALL_MODES[] = {ListingMode::list, ListingMode::stat,
                                     ListingMode::automatic};
} // namespace

TEST_F(CrawlerSoundnessTest, FoldersThatCannotBeEnteredOrListedKeepTheirEntriesAndAreReported)
{
    for (const char* psz : {"open/deep", "nocwd/below", "nolist/below"})
        Dir(psz);
    for (const char* psz : {"open/f", "nocwd/f", "nolist/f", "nolist/below/g"})
        File(psz, 3);
    StartServer();
    for (ListingMode nMode : ALL_MODES)
    {
        SCOPED_TRACE(FormatListingMode(nMode));
        m_nMode = nMode;
        m_pServer->ClearFaults();
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        std::vector<std::string> before = DescribeTree(*pSite->m_pRoot);
        File("open/new", 4);
        // A refused CWD; a listing refused after a good CWD (STAT then LIST
        // both refused, or LIST alone the normal way).
        m_pServer->SetFaults(R"({"rules": [
            {"on": "CWD", "path": "/nocwd", "action": "refuse"},
            {"on": "LIST", "path": "/nolist", "action": "refuse"}]})");
        pSite->ClearRefusedFolders();
        ASSERT_EQ(Crawl(*pSite), 1);
        std::vector<std::string> after = DescribeTree(*pSite->m_pRoot);
        EXPECT_NE(FindFile(FindPath(pSite->m_pRoot.get(), "/open"), "new"), nullptr);
        for (const char* pszKept : {"/nocwd", "/nolist"})
        {
            CFTPDir* pDir = FindPath(pSite->m_pRoot.get(), pszKept);
            ASSERT_NE(pDir, nullptr) << pszKept;
            EXPECT_NE(FindFile(pDir, "f"), nullptr) << pszKept;
            EXPECT_NE(FindDir(pDir, "below"), nullptr) << pszKept;
        }
        EXPECT_NE(FindFile(FindPath(pSite->m_pRoot.get(), "/nolist/below"), "g"), nullptr);
        EXPECT_EQ(pSite->GetRefusedCount(), 2u);
        EXPECT_EQ(Sorted(pSite->GetRefusedPaths()),
                  (std::vector<std::string>{"/nocwd", "/nolist"}));
        // Nothing was removed: the only difference is the new file.
        EXPECT_EQ(after.size(), before.size() + 1) << Join(after);
        Remove("open/new");
    }
}

TEST_F(CrawlerSoundnessTest, ForgedEndLinesInNamesLeaveTheCacheAsTheNormalWayDoes)
{
    // Anyone who can upload can name a file so: the reply seems to end early,
    // and what follows seems to be replies to the next commands. (No name
    // holds "/", so none can forge the folder a PWD reply names.)
    const char* const names[] = {
        "aaa\r\n213 End of status.",
        "aaa\r\n213 End of status.\r\n250 ok\r\n213-x",
        "aaa\r\n213 End of status.\r\n257 \"A1\" is the current directory.\r\n250 ok\r\n213-x",
        "aaa\n213 End of status.\n200 ok",
        "zzz\r\n213-x",
    };
    for (const char* psz : {"A/A1", "A/A2", "B"})
        Dir(psz);
    for (const char* psz : {"A/A1/f1", "A/A1/f2", "A/A2/g1", "B/h1", "top"})
        File(psz, 5);
    StartServer();
    for (const char* pszName : names)
    {
        for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
        {
            SCOPED_TRACE(std::string(FormatListingMode(nMode)) + ": " + pszName);
            // A cache made before the name came, then one made from nothing;
            // the same history the normal way beside each.
            auto pCached = MakeSite();
            auto pNormalCached = MakeSite();
            m_nMode = ListingMode::list;
            ASSERT_EQ(Crawl(*pNormalCached), 1);
            m_nMode = nMode;
            ASSERT_EQ(Crawl(*pCached), 1);
            File(std::string("A/A1/") + pszName, 1);
            m_nMode = ListingMode::list;
            ASSERT_EQ(Crawl(*pNormalCached), 1);
            m_nMode = nMode;
            ASSERT_EQ(Crawl(*pCached), 1);
            EXPECT_EQ(Join(DescribeTree(*pCached->m_pRoot)),
                      Join(DescribeTree(*pNormalCached->m_pRoot)));
            std::vector<std::string> normal = NormalTree();
            auto pFresh = MakeSite();
            ASSERT_EQ(Crawl(*pFresh), 1);
            EXPECT_EQ(Join(DescribeTree(*pFresh->m_pRoot)), Join(normal));
            EXPECT_NE(FindFile(FindPath(pFresh->m_pRoot.get(), "/A/A1"), "f2"), nullptr);
            EXPECT_NE(FindFile(FindPath(pFresh->m_pRoot.get(), "/A/A2"), "g1"), nullptr);
            EXPECT_TRUE(m_report.bDesync || m_report.nConfirmed > 0)
                << m_report.strWhy << " stat folders " << m_report.nStatFolders << " fell back "
                << m_report.bFellBack;
            Remove(std::string("A/A1/") + pszName);
        }
    }
}

TEST_F(CrawlerSoundnessTest, ForgedEndLinesOnVsftpdLeaveTheCacheAsTheNormalWayDoes)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd runs as root where installed (scripts/setup.sh --bench)";
    for (const char* psz : {"A/A1", "A/A2", "B"})
        Dir(psz);
    for (const char* psz : {"A/A1/f1", "A/A1/f2", "A/A2/g1", "B/h1"})
        File(psz, 5);
    File("A/A1/aaa\r\n213 End of status.\r\n250 ok\r\n213-x", 1);
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
        return Join(DescribeTree(*site.m_pRoot));
    };
    std::string strNormal = crawl(ListingMode::list);
    EXPECT_NE(strNormal.find("/A/A2/g1"), std::string::npos);
    EXPECT_EQ(crawl(ListingMode::automatic), strNormal);
    EXPECT_TRUE(m_report.bDesync) << m_report.strWhy;
}

TEST_F(CrawlerSoundnessTest, StatListingsThatHideEntriesAreCheckedTheNormalWayFirst)
{
    Dir("d/e/g/h");
    File("d/e/f1", 1);
    File("d/e/f2", 2);
    File("d/e/g/h/x", 3);
    File("d/k", 4);
    StartServer();
    struct CCase
    {
        const char* pszName;
        const char* pszLines;
    };
    const CCase cases[] = {
        {"total 0 only", R"(["total 0"])"},
        {"nothing at all", R"([])"},
        {"folders without their files",
         R"(["total 8", "drwxr-xr-x 2 o g 4096 Jan 01 00:00 g"])"},
        {"a line no parser reads", R"(["-rw-r--r-- 1 o g 1 Jan 01 00:00 f1", "garbage here"])"},
    };
    std::vector<std::string> normal = NormalTree();
    for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
    {
        for (const CCase& c : cases)
        {
            SCOPED_TRACE(std::string(FormatListingMode(nMode)) + ": " + c.pszName);
            m_nMode = nMode;
            m_pServer->ClearFaults();
            auto pSite = MakeSite();
            ASSERT_EQ(Crawl(*pSite), 1);
            m_pServer->SetFaults(R"({"rules": [{"on": "STAT", "path": "/d/e",
                "action": "stat_lines", "lines": )" +
                                 std::string(c.pszLines) + "}]}");
            ASSERT_EQ(Crawl(*pSite), 1);
            EXPECT_EQ(Join(DescribeTree(*pSite->m_pRoot)), Join(normal));
            EXPECT_TRUE(m_report.bUsedStat && !m_report.bFellBack) << m_report.strWhy;
            EXPECT_GT(m_report.nConfirmed, 0u);
            EXPECT_EQ(pSite->m_nUnreadableLines.load(), 0u);
        }
    }
}

TEST_F(CrawlerSoundnessTest, RemovedFoldersWithRequestsInFlightAreMergedTheNormalWay)
{
    // Folders go while their sub-folders' listings are fetched ahead; the
    // same names come back as files. The normal way is what counts.
    for (int i = 0; i < 30; ++i)
        Dir("p/q" + std::to_string(i) + "/r/s");
    StartServer();
    for (ListingMode nMode : {ListingMode::stat, ListingMode::automatic})
    {
        SCOPED_TRACE(FormatListingMode(nMode));
        m_nMode = nMode;
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        for (int i = 0; i < 30; i += 2)
        {
            Remove("p/q" + std::to_string(i));
            File("p/q" + std::to_string(i), 7);
        }
        std::vector<std::string> normal = NormalTree();
        ASSERT_EQ(Crawl(*pSite), 1);
        EXPECT_EQ(Join(DescribeTree(*pSite->m_pRoot)), Join(normal));
        EXPECT_TRUE(ParentLinksConsistent(*pSite->m_pRoot));
        for (int i = 0; i < 30; i += 2)
        {
            Remove("p/q" + std::to_string(i));
            Dir("p/q" + std::to_string(i) + "/r/s");
        }
    }
}

TEST_F(CrawlerSoundnessTest, RepliesWithoutEndFailTheSiteSoonAndKeepItsCache)
{
    Dir("a/b");
    File("a/f", 1);
    File("a/b/g", 2);
    StartServer();
    struct CCase
    {
        const char* pszName;
        ListingMode nMode;
        const char* pszRule;
        uint32_t nError; // 0: any failure that ends the crawl
    };
    const CCase cases[] = {
        {"a flood of 150 replies", ListingMode::stat,
         R"({"on": "STAT", "path": "/a/b", "action": "flood"})", ERROR_FTP_REPLY_FLOOD},
        {"a 150 every 5 ms", ListingMode::stat,
         R"({"on": "STAT", "path": "/a/b", "action": "slow_150", "seconds": 0.005})",
         ERROR_FTP_REPLY_FLOOD},
        {"a STAT listing with a line every 300 ms", ListingMode::stat,
         R"({"on": "STAT", "path": "/a/b", "action": "trickle", "seconds": 0.3})",
         ERROR_FTP_LISTING_TIMEOUT},
        {"auto, a STAT listing with a line every 300 ms", ListingMode::automatic,
         R"({"on": "STAT", "path": "/a/b", "action": "trickle", "seconds": 0.3})",
         ERROR_FTP_LISTING_TIMEOUT},
        {"a listing with a line every 300 ms", ListingMode::list,
         R"({"on": "LIST", "path": "/a/b", "action": "trickle", "seconds": 0.3})",
         ERROR_FTP_LISTING_TIMEOUT},
        {"a 150 every 20 ms the normal way", ListingMode::list,
         R"({"on": "LIST", "path": "/a/b", "action": "slow_150", "seconds": 0.02})", 0},
    };
    m_nListingTimeoutMs = 1500;
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        m_nMode = c.nMode;
        m_pServer->ClearFaults();
        auto pSite = MakeSite();
        ASSERT_EQ(Crawl(*pSite), 1);
        std::vector<std::string> before = DescribeTree(*pSite->m_pRoot);
        m_pServer->SetFaults(std::string(R"({"rules": [)") + c.pszRule + "]}");
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Crawl(*pSite), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot), before);
        if (c.nError != 0)
        {
            EXPECT_EQ(pSite->GetStatusText(), "更新失败:\n" + FormatInternetError(c.nError));
            EXPECT_EQ(pSite->m_nStatus.load(), 1);
        }
    }
}

TEST_F(CrawlerSoundnessTest, FolderNamesTooLongToSendAreSkippedAndReported)
{
    Dir("a");
    Dir("z");
    File("a/f", 1);
    File("z/f", 1);
    StartServer();
    std::string strLong(64 * 1024, 'n');
    for (ListingMode nMode : ALL_MODES)
    {
        SCOPED_TRACE(FormatListingMode(nMode));
        m_nMode = nMode;
        m_pServer->SetFaults(R"({"no_mlsd": true, "rules": [{"on": "LIST", "path": "/",
            "action": "inject", "lines": ["drwxr-xr-x 2 o g 4096 Jan 01 00:00 )" +
                             strLong + R"("]}]})");
        auto pSite = MakeSite();
        CFTPDir* pLong = AddDir(pSite->m_pRoot.get(), strLong);
        AddFile(pLong, "cached", 9);
        ASSERT_EQ(Crawl(*pSite), 1) << pSite->GetStatusText();
        EXPECT_NE(FindFile(FindPath(pSite->m_pRoot.get(), "/z"), "f"), nullptr);
        ASSERT_EQ(FindDir(pSite->m_pRoot.get(), strLong), pLong);
        EXPECT_NE(FindFile(pLong, "cached"), nullptr);
        EXPECT_EQ(pSite->GetRefusedPaths(), std::vector<std::string>{"/" + strLong});
        EXPECT_EQ(m_pServer->CountCommands("CWD") > 0, true);
        for (const auto& command : m_pServer->GetCommands("CWD"))
            EXPECT_LT(command.strArgument.size(), MAX_FOLDER_NAME_BYTES + 10);
        m_pServer->ClearLog();
    }
}
