// The update engine against the local test FTP server: thread limit and
// queue order, progress counts, stop, automatic continuation and closing.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <pthread.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "doc/ChangeListing.h"
#include "doc/FakeDocHost.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "model/SiteStats.h"
#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "support/ChildProcess.h"
#include "support/FtpServer.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"
#include "update/ListingPlan.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
// Served tree: nFolders folders /dNN, each with a sub-folder and two files.
void MakeServedTree(const std::string& strRoot, int nFolders)
{
    for (int i = 0; i < nFolders; ++i)
    {
        std::string strDir = strRoot + "/d" + std::to_string(100 + i);
        fs::create_directories(strDir + "/sub");
        std::ofstream(strDir + "/a.txt") << "a";
        std::ofstream(strDir + "/sub/b.txt") << "bb";
    }
    std::ofstream(strRoot + "/readme") << "readme";
}

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_data.Path());
        g_bStopUpdate = 0;
        g_nThreadLimit = 5;
        CSessionTimeouts timeouts;
        timeouts.nControlReceiveTimeout = 3000;
        timeouts.nDataReceiveTimeout = 3000;
        SetEngineTimeouts(timeouts);
        SetUpdateObserver(&m_observer);
        m_progress.SetTimerSwitch([this](bool bRun) { m_bTimerRunning = bRun; });
    }

    void TearDown() override
    {
        AbortForClose();
        ShutdownEngine();
        m_observer.Drain();
        SetUpdateObserver(nullptr);
        g_nThreadLimit = 5;
        SetEngineTimeouts(CSessionTimeouts{});
        SetSaveStepHook(nullptr);
        SetListingSizeLimit(LISTING_SIZE_LIMIT);
    }

    void StartServer(int nFolders = 3, CTestFtpServer::COptions options = {})
    {
        MakeServedTree(m_served.Path(), nFolders);
        m_pServer = std::make_unique<CTestFtpServer>(m_served.Path(), options);
    }

    // Sites all pointing at the local server. They list the normal way
    // unless told otherwise, so that one site is one connection: these
    // tests count connections to check the scheduling.
    CFTPSite* AddSite(const std::string& strName, const char* pszListing = LISTING_LIST)
    {
        auto pSite = std::make_unique<CFTPSite>();
        pSite->m_strHost = "127.0.0.1";
        pSite->m_nPort = m_pServer->GetPort();
        pSite->m_strUser = m_pServer->GetUser();
        pSite->m_strPassword = m_pServer->GetPassword();
        pSite->m_strNickname = strName;
        pSite->m_nLoadState = 1;
        ListingMode nMode = ListingMode::automatic;
        EXPECT_TRUE(ParseListingMode(pszListing, &nMode));
        pSite->UpdateSettings([nMode](CSiteSettings& s) { s.Set(CSiteSettings::LISTING, nMode); });
        m_sites.push_back(std::move(pSite));
        return m_sites.back().get();
    }

    // Runs progress ticks until the run ends; returns every text shown.
    std::vector<std::string> WaitForRunEnd(std::chrono::milliseconds timeout = 30s)
    {
        std::vector<std::string> texts;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline)
        {
            texts.push_back(m_progress.OnTimer());
            if (!m_bTimerRunning)
                break;
            std::this_thread::sleep_for(20ms);
        }
        m_observer.Drain();
        return texts;
    }

    CTempDir m_data;
    CTempDir m_served;
    std::unique_ptr<CTestFtpServer> m_pServer;
    std::vector<std::unique_ptr<CFTPSite>> m_sites;
    CRecordingObserver m_observer;
    CUpdateProgress m_progress;
    bool m_bTimerRunning = false;
};

template <class Pred> bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = 20s)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Every entry below root by path: "d", or "f <size>".
std::map<std::string, std::string> Entries(const CFTPDir& root)
{
    std::map<std::string, std::string> entries;
    for (const std::string& strLine : DescribeTree(root))
    {
        // "d <path> <state>" or "f <path> <size> <state>": the mark is left out.
        std::string str = strLine.substr(0, strLine.rfind(' '));
        size_t nPath = 2;
        size_t nEnd = str[0] == 'f' ? str.rfind(' ') : str.size();
        entries[str.substr(nPath, nEnd - nPath)] = str[0] == 'f' ? "f" + str.substr(nEnd) : "d";
    }
    return entries;
}

// What took a tree from before to after, as the change log names it: a
// removed folder is one line, what it held none.
std::multiset<std::string> TreeChanges(const std::map<std::string, std::string>& before,
                                       const std::map<std::string, std::string>& after)
{
    std::multiset<std::string> changes;
    for (const auto& [strPath, strWhat] : after)
    {
        auto it = before.find(strPath);
        if (it == before.end())
            changes.insert("added " + strPath);
        else if (it->second != strWhat)
            changes.insert("resized " + strPath);
    }
    for (const auto& [strPath, strWhat] : before)
    {
        std::string strParent = strPath.substr(0, strPath.rfind('/'));
        if (after.count(strPath) == 0 && (strParent.empty() || after.count(strParent) != 0))
            changes.insert("removed " + strPath);
    }
    return changes;
}

// "kind path" of what "显示更改" lists for the site's last update.
std::multiset<std::string> LastRunChanges(const CFTPSite& site)
{
    std::multiset<std::string> changes;
    for (const CChangeRecord& record : ReadSiteChanges(site, CChangeQuery{}))
        changes.insert(std::string(FormatChangeKind(record.nKind)) + " " + record.strPath);
    return changes;
}

// The site as the next start of the program finds it on disk.
std::unique_ptr<CFTPSite> LoadSite(const CFTPSite& like)
{
    auto pSite = std::make_unique<CFTPSite>();
    pSite->m_strHost = like.m_strHost;
    pSite->m_nPort = like.m_nPort;
    pSite->m_strUser = like.m_strUser;
    pSite->m_strPassword = like.m_strPassword;
    pSite->EnsureLoaded();
    return pSite;
}

std::atomic<int> g_nCrashStep{0};
std::atomic<int> g_nSaves{0};

std::atomic<int> g_nHeldSaves{0};
std::atomic<bool> g_bReleaseSaves{false};

size_t IndexOf(const std::vector<CRecordingObserver::CEvent>& events, const CFTPSite* pSite,
               const std::string& strStatus)
{
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].pSite == pSite && events[i].strStatus == strStatus)
            return i;
    return std::string::npos;
}
} // namespace

TEST_F(EngineTest, LimitOfOneUpdatesSitesOneAfterAnotherInListOrder)
{
    StartServer();
    g_nThreadLimit = 1;
    for (int i = 0; i < 4; ++i)
        AddSite("site" + std::to_string(i));
    UpdateAll(m_sites, m_progress);
    std::vector<std::string> texts = WaitForRunEnd();
    EXPECT_EQ(texts.back(), "更新完成");
    EXPECT_EQ(m_progress.m_nUpdateTotal, 0);

    auto events = m_observer.GetEvents();
    for (size_t i = 0; i < m_sites.size(); ++i)
    {
        EXPECT_EQ(m_sites[i]->m_nStatus, 2);
        EXPECT_EQ(m_sites[i]->GetStatusText(), "更新成功");
        EXPECT_EQ(m_observer.GetStatuses(m_sites[i].get()).front(), "正在等待更新...");
        if (i + 1 < m_sites.size())
        {
            // The next site connects only after this one has finished.
            size_t nDone = IndexOf(events, m_sites[i].get(), "更新成功");
            size_t nNext = IndexOf(events, m_sites[i + 1].get(), "已连接,正在更新...");
            ASSERT_NE(nDone, std::string::npos);
            ASSERT_NE(nNext, std::string::npos);
            EXPECT_LT(nDone, nNext);
        }
    }
    EXPECT_EQ(m_pServer->GetMaxSimultaneousSessions(), 1);
    EXPECT_EQ(m_pServer->CountSessions(), 4);
    // Each site's tree is saved.
    EXPECT_TRUE(fs::exists(m_data / ("Data/" + m_sites[0]->GetKey() + "/content.ct")));
    EXPECT_EQ(m_sites[3]->m_pRoot->m_dirList.size(), 3u);
}

TEST_F(EngineTest, NeverMoreSessionsThanTheLimit)
{
    StartServer(8);
    g_nThreadLimit = 5;
    for (int i = 0; i < 12; ++i)
        AddSite("site" + std::to_string(i));
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd(60s);
    for (const auto& pSite : m_sites)
        EXPECT_EQ(pSite->m_nStatus, 2) << pSite->GetStatusText();
    EXPECT_EQ(m_pServer->CountSessions(), 12);
    EXPECT_LE(m_pServer->GetMaxSimultaneousSessions(), 5);
    EXPECT_GE(m_pServer->GetMaxSimultaneousSessions(), 2);
}

TEST_F(EngineTest, ProgressCountsAndRequeueRules)
{
    // No sites: the next tick ends the run.
    UpdateAll(m_sites, m_progress);
    EXPECT_TRUE(m_bTimerRunning);
    EXPECT_EQ(m_progress.OnTimer(), "更新完成");
    EXPECT_FALSE(m_bTimerRunning);

    // One site waits (limit 0 keeps it queued): "更新全部" queues only the others.
    StartServer();
    g_nThreadLimit = 0;
    CFTPSite* pFirst = AddSite("a");
    AddSite("b");
    AddSite("c");
    UpdateSelected(m_sites, pFirst->m_pRoot.get(), m_progress);
    EXPECT_EQ(m_progress.m_nUpdateTotal, 1);
    EXPECT_EQ(pFirst->m_nStatus, 4);
    EXPECT_EQ(m_progress.OnTimer(), "更新0/1");
    UpdateAll(m_sites, m_progress);
    EXPECT_EQ(m_progress.m_nUpdateTotal, 3);
    EXPECT_EQ(m_progress.OnTimer(), "更新0/3");
    {
        std::lock_guard lock(g_engineLock);
        ASSERT_EQ(g_taskQueue.size(), 3u);
        EXPECT_EQ(g_taskQueue[0]->pSite, pFirst);
    }
    // Nothing selected, or a site already waiting: nothing happens.
    UpdateSelected(m_sites, nullptr, m_progress);
    UpdateSelected(m_sites, pFirst->m_pRoot.get(), m_progress);
    EXPECT_EQ(m_progress.m_nUpdateTotal, 3);

    g_nThreadLimit = 5;
    std::vector<std::string> texts = WaitForRunEnd();
    EXPECT_EQ(texts.back(), "更新完成");
    for (const auto& pSite : m_sites)
        EXPECT_EQ(pSite->m_nStatus, 2);
    // The total does not carry over into the next run.
    CFTPDir* pSub = m_sites[1]->m_pRoot->m_dirList[0].get();
    UpdateSelected(m_sites, pSub, m_progress);
    EXPECT_EQ(m_progress.m_nUpdateTotal, 1);
    WaitForRunEnd();
    EXPECT_EQ(m_sites[1]->m_nStatus, 2);
}

TEST_F(EngineTest, UpdatingAFolderRecrawlsOnlyThatFolder)
{
    StartServer(4);
    CFTPSite* pSite = AddSite("a");
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd();
    ASSERT_EQ(pSite->m_pRoot->m_dirList.size(), 4u);
    m_pServer->ClearLog();

    CFTPDir* pDir = pSite->m_pRoot->m_dirList[2].get();
    UpdateSelected(m_sites, pDir, m_progress);
    WaitForRunEnd();
    EXPECT_EQ(pSite->m_nStatus, 2);
    std::vector<std::string> listed = m_pServer->GetListedFolders();
    EXPECT_EQ(listed, (std::vector<std::string>{"/d102", "/d102/sub"}));
}

TEST_F(EngineTest, StopEndsWaitingAndRunningSitesAndKeepsWhatWasMerged)
{
    // The first site's listings are slowed down so the stop finds it running
    // and the others waiting.
    StartServer(30);
    g_nThreadLimit = 1;
    m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "action": "delay", "seconds": 0.05}]})");
    for (int i = 0; i < 3; ++i)
        AddSite("site" + std::to_string(i));
    UpdateAll(m_sites, m_progress);

    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (m_sites[0]->GetStatusText() != "已连接,正在更新..." &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(300ms);
    StopUpdate();
    WaitForRunEnd();

    EXPECT_EQ(m_sites[0]->GetStatusText(), "更新终止！");
    EXPECT_EQ(m_sites[0]->m_nStatus, 3);
    for (size_t i = 1; i < m_sites.size(); ++i)
    {
        EXPECT_EQ(m_sites[i]->GetStatusText(), "更新终止!");
        EXPECT_EQ(m_sites[i]->m_nStatus, 3);
        // The dispatcher's notice waited for its handling.
        auto events = m_observer.GetEvents();
        size_t n = IndexOf(events, m_sites[i].get(), "更新终止!");
        ASSERT_NE(n, std::string::npos);
        EXPECT_TRUE(events[n].bSent);
    }
    EXPECT_EQ(m_pServer->CountSessions(), 1);

    // What the stopped crawl merged is on disk.
    size_t nMerged = m_sites[0]->m_pRoot->m_dirList.size();
    EXPECT_GT(nMerged, 0u);
    CFTPSite reloaded;
    reloaded.m_strHost = m_sites[0]->m_strHost;
    reloaded.m_nPort = m_sites[0]->m_nPort;
    reloaded.m_strUser = m_sites[0]->m_strUser;
    reloaded.m_strPassword = m_sites[0]->m_strPassword;
    reloaded.EnsureLoaded();
    EXPECT_EQ(reloaded.m_pRoot->m_dirList.size(), nMerged);
}

TEST_F(EngineTest, LostConnectionIsContinuedAtMostFourTimes)
{
    StartServer(3);
    // Every listing of /d101 drops the control connection.
    m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/d101", "action": "drop"}]})");
    CFTPSite* pSite = AddSite("a");
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd(60s);

    EXPECT_EQ(pSite->m_nStatus, 3);
    EXPECT_EQ(pSite->GetStatusText().rfind("更新意外终止:\n", 0), 0u) << pSite->GetStatusText();
    EXPECT_EQ(pSite->GetStatusText().find("等待继续更新"), std::string::npos);
    EXPECT_EQ(pSite->m_nRetries, 4);
    // One run and four continuations. libcurl may log in again on its own
    // when it finds the dropped line dead before our next command; that
    // attempt is reported as the same lost connection, but the server sees
    // it as a session of its own.
    EXPECT_GE(m_pServer->CountSessions(), 5);
    EXPECT_LE(m_pServer->CountSessions(), 10);
    int nWaiting = 0;
    for (const std::string& str : m_observer.GetStatuses(pSite))
        nWaiting += str.find("\t等待继续更新") != std::string::npos;
    EXPECT_EQ(nWaiting, 4);
}

TEST_F(EngineTest, DropOnceIsContinuedFromTheResumePoint)
{
    StartServer(3);
    m_pServer->SetFaults(
        R"({"rules": [{"on": "LIST", "path": "/d101/sub", "action": "drop", "times": 1}]})");
    CFTPSite* pSite = AddSite("a");
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd(60s);

    EXPECT_EQ(pSite->m_nStatus, 2);
    EXPECT_EQ(pSite->GetStatusText(), "更新成功");
    EXPECT_EQ(pSite->m_nRetries, 1);
    EXPECT_FALSE(pSite->m_bResume);
    auto sessions = m_pServer->GetSessions();
    // Two sessions, or three when libcurl logged in again on its own before
    // the drop was reported (see above). The continuation is the last.
    ASSERT_GE(sessions.size(), 2u);
    ASSERT_LE(sessions.size(), 3u);
    // The continuation lists the resume folder and every folder after it in
    // tree order (the server's listing order), nothing before.
    std::vector<std::string> preorder;
    for (const auto& pDir : pSite->m_pRoot->m_dirList)
    {
        preorder.push_back(pDir->GetPath());
        preorder.push_back(pDir->m_dirList.at(0)->GetPath());
    }
    auto itResume = std::find(preorder.begin(), preorder.end(), "/d101/sub");
    ASSERT_NE(itResume, preorder.end());
    std::vector<std::string> listed;
    for (const auto& command : sessions.back().commands)
        if (command.strVerb == "MLSD" || command.strVerb == "LIST")
            listed.push_back(command.strCwd);
    EXPECT_EQ(listed, std::vector<std::string>(itResume, preorder.end()));
    EXPECT_EQ(pSite->m_pRoot->m_dirList.size(), 3u);
    for (const auto& pDir : pSite->m_pRoot->m_dirList)
        EXPECT_EQ(pDir->m_dirList.at(0)->m_fileList.size(), 1u) << pDir->m_strName;
}

TEST_F(EngineTest, AutoNotesItsFindingAndAReplyOutOfTurnTurnsTheContinuationToTheNormalWay)
{
    StartServer(3);
    CFTPSite* pSite = AddSite("a", LISTING_AUTO);
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd();
    ASSERT_EQ(pSite->GetStatusText(), "更新成功");
    EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::LISTING_FOUND), ListingMode::stat);

    // One reply more than was asked for on the connection listing with STAT.
    m_pServer->SetFaults(R"({"rules": [{"on": "CWD", "path": "/d101", "action": "extra_reply",
        "reply": "250 Surprise.", "times": 1}]})");
    m_pServer->ClearLog();
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd(60s);
    EXPECT_EQ(pSite->GetStatusText(), "更新成功");
    EXPECT_EQ(pSite->m_nRetries, 1);
    std::vector<std::string> statuses = m_observer.GetStatuses(pSite);
    EXPECT_NE(
        std::find(statuses.begin(), statuses.end(),
                  "更新意外终止:\n" + FormatInternetError(ERROR_FTP_DROPPED) + "\t等待继续更新"),
        statuses.end());
    // The continuation is one connection that lists the normal way.
    auto sessions = m_pServer->GetSessions();
    ASSERT_EQ(sessions.size(), 3u);
    for (const auto& command : sessions.back().commands)
        EXPECT_NE(command.strVerb, "STAT");
    EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::LISTING_FOUND), ListingMode::list);
    // the user's choice stays
    EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::LISTING), ListingMode::automatic);
    for (const auto& pDir : pSite->m_pRoot->m_dirList)
        EXPECT_EQ(pDir->m_dirList.at(0)->m_fileList.size(), 1u) << pDir->m_strName;
}

TEST_F(EngineTest, ClosingCutsBlockedWorkersAtOnce)
{
    StartServer(3);
    CSessionTimeouts timeouts; // the real 7-second receive time-out
    SetEngineTimeouts(timeouts);
    m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/d101", "action": "silent"}]})");
    for (int i = 0; i < 3; ++i)
        AddSite("site" + std::to_string(i));
    UpdateAll(m_sites, m_progress);

    // Wait until all three block on the silent listing.
    auto deadline = std::chrono::steady_clock::now() + 20s;
    auto countBlocked = [&]
    {
        auto listed = m_pServer->GetListedFolders();
        return std::count(listed.begin(), listed.end(), "/d101");
    };
    while (countBlocked() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(countBlocked(), 3);
    std::this_thread::sleep_for(100ms);

    auto start = std::chrono::steady_clock::now();
    AbortForClose();
    while (!IsEngineIdle() && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(2ms);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(IsEngineIdle());
    EXPECT_LT(elapsed, 1500ms);
    ShutdownEngine();

    for (const auto& pSite : m_sites)
    {
        EXPECT_EQ(pSite->m_nStatus, 3) << pSite->GetStatusText();
        // The cut is the closing's stop, not a connection the server lost.
        EXPECT_EQ(pSite->GetStatusText(), "更新终止！");
        EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::STAT_LAST_ERROR), "更新终止！");
        // /d100 was merged before the block and is saved.
        CFTPSite reloaded;
        reloaded.m_strHost = pSite->m_strHost;
        reloaded.m_nPort = pSite->m_nPort;
        reloaded.m_strUser = pSite->m_strUser;
        reloaded.m_strPassword = pSite->m_strPassword;
        reloaded.EnsureLoaded();
        EXPECT_GE(reloaded.m_pRoot->m_dirList.size(), 1u);
    }
}

// site.ds keeps 32 bits of port; the connection must not cut them to 16
// (server port + 65536 would then reach the test server with the password).
TEST_F(EngineTest, APortOutsideTheRangeFailsTheUpdateAndConnectsNowhere)
{
    StartServer(1);
    CFTPSite* pWrapped = AddSite("wrapped");
    pWrapped->m_nPort = m_pServer->GetPort() + 65536;
    CFTPSite* pZero = AddSite("zero");
    pZero->m_nPort = 0;
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd();
    ShutdownEngine();
    for (CFTPSite* pSite : {pWrapped, pZero})
    {
        EXPECT_EQ(pSite->m_nStatus, 1);
        EXPECT_EQ(pSite->GetStatusText(), "更新失败:\n端口号 " + std::to_string(pSite->m_nPort) +
                                              " 无效（应在 1 到 65535 之间），请在站点设置中改正");
        EXPECT_TRUE(pSite->m_pRoot->m_fileList.empty());
    }
    EXPECT_EQ(m_pServer->CountSessions(), 0);
}

// A server that takes the connection but never greets: closing meets the
// worker while it logs in.
TEST_F(EngineTest, ClosingWhileConnectingIsAStopToo)
{
    StartServer(1);
    int nListener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(nListener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof(addr);
    ASSERT_EQ(::bind(nListener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(nListener, 4), 0);
    ASSERT_EQ(::getsockname(nListener, reinterpret_cast<sockaddr*>(&addr), &nLength), 0);
    CFTPSite* pSite = AddSite("mute");
    pSite->m_nPort = ntohs(addr.sin_port);
    CSessionTimeouts timeouts; // the real time-outs: only the cut ends the wait
    SetEngineTimeouts(timeouts);
    UpdateAll(m_sites, m_progress);
    ASSERT_TRUE(WaitUntil([&] { return pSite->GetStatusText() == "正在连接..."; }));
    std::this_thread::sleep_for(300ms);

    AbortForClose();
    EXPECT_TRUE(WaitUntil([] { return IsEngineIdle(); }, 3s));
    ShutdownEngine();
    ::close(nListener);
    EXPECT_EQ(pSite->m_nStatus, 3);
    EXPECT_EQ(pSite->GetStatusText(), "更新终止！");
}

TEST_F(EngineTest, SaveErrorIsReportedAsAFailedUpdate)
{
    StartServer(60);
    CFTPSite* pSite = AddSite("a");
    // A file-size limit makes the save fail as a full disk would; a regular
    // file where the site folder belongs makes it fail to create the folder.
    for (const bool bFullDisk : {true, false})
    {
        SCOPED_TRACE(bFullDisk ? "full disk" : "folder blocked");
        pSite->m_bStateDirty = true;
        struct rlimit old
        {
        };
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 512;
        const std::string strFolder = GetSiteFolderPath(m_data.Path(), pSite->GetKey());
        if (bFullDisk)
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        else
        {
            fs::remove_all(strFolder);
            WriteFileBytes(strFolder, "not a folder");
        }
        UpdateAll(m_sites, m_progress);
        std::vector<std::string> texts = WaitForRunEnd();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(texts.back(), "更新完成");
        EXPECT_EQ(pSite->m_nStatus, 1);
        EXPECT_EQ(pSite->GetStatusText().rfind("更新失败:\n", 0), 0u) << pSite->GetStatusText();
        EXPECT_GT(pSite->GetStatusText().size(), std::string("更新失败:\n").size());
        EXPECT_TRUE(pSite->m_bStateDirty);
        EXPECT_TRUE(IsEngineIdle());
        EXPECT_EQ(pSite->m_pRoot->m_dirList.size(), 60u);
        if (!bFullDisk)
        {
            EXPECT_EQ(ReadFileBytes(strFolder), "not a folder");
        }
    }
}

TEST_F(EngineTest, SiteStaysBusyUntilItsWorkerIsDone)
{
    StartServer(3);
    CFakeDocHost host;
    CTarnDoc doc(host);
    CFTPSite* pSite = AddSite("a");
    doc.m_siteList = std::move(m_sites);
    // The worker stops in its save step, after the crawl has ended.
    g_nHeldSaves = 0;
    g_bReleaseSaves = false;
    SetSaveStepHook(
        [](int nStep)
        {
            if (nStep != 1)
                return;
            ++g_nHeldSaves;
            while (!g_bReleaseSaves)
                std::this_thread::sleep_for(1ms);
        });
    UpdateAll(doc.m_siteList, m_progress);
    ASSERT_TRUE(WaitUntil([] { return g_nHeldSaves == 1; }));
    EXPECT_EQ(pSite->m_nStatus, 2);

    // Neither a second worker, nor new connection values, nor a delete.
    EXPECT_TRUE(IsSiteBusy(*pSite));
    UpdateSelected(doc.m_siteList, pSite->m_pRoot.get(), m_progress);
    UpdateAll(doc.m_siteList, m_progress);
    {
        std::lock_guard lock(g_engineLock);
        EXPECT_TRUE(g_taskQueue.empty());
    }
    EXPECT_EQ(m_progress.m_nUpdateTotal, 1);
    CSiteInfo info;
    info.m_strHost = "127.0.0.2";
    info.m_strUser = pSite->m_strUser;
    info.m_strPassword = pSite->m_strPassword;
    info.m_nPort = pSite->m_nPort;
    EXPECT_FALSE(doc.ModifySite(pSite, info));
    EXPECT_FALSE(doc.DeleteSite(pSite->GetKey()));
    ASSERT_EQ(doc.m_siteList.size(), 1u);
    // A mark cleared on the GUI thread while the worker saves is not lost.
    pSite->m_bStateDirty = true;

    g_bReleaseSaves = true;
    WaitForRunEnd();
    EXPECT_EQ(g_nHeldSaves.load(), 1);
    EXPECT_EQ(m_pServer->CountSessions(), 1);
    EXPECT_TRUE(pSite->m_bStateDirty);
    // The worker lets go of the site just after the run counts as over.
    EXPECT_TRUE(WaitUntil([&] { return !IsSiteBusy(*pSite); }));
    EXPECT_TRUE(doc.DeleteSite(pSite->GetKey()));
}

TEST_F(EngineTest, EndlessListingFailsItsSiteAndKeepsThatFolder)
{
    StartServer(3);
    SetListingSizeLimit(1 << 20);
    m_pServer->SetFaults(
        R"({"rules": [{"on": "LIST", "path": "/d101", "action": "endless", "times": 1}]})");
    g_nThreadLimit = 1;
    CFTPSite* pA = AddSite("a");
    CFTPSite* pB = AddSite("b");
    pB->m_strUser = "anonymous"; // a folder of its own
    pB->m_strPassword = ANON_PASSWORD;
    AddFile(AddDir(pA->m_pRoot.get(), "d101"), "kept", 1);
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd();

    EXPECT_EQ(pA->m_nStatus, 1);
    EXPECT_EQ(pA->GetStatusText().rfind("更新失败:\n", 0), 0u) << pA->GetStatusText();
    EXPECT_GT(pA->GetStatusText().size(), std::string("更新失败:\n").size());
    EXPECT_EQ(pB->m_nStatus, 2) << pB->GetStatusText();
    EXPECT_TRUE(IsEngineIdle());
    EXPECT_TRUE(WaitUntil([&] { return !IsSiteBusy(*pA); }));
    // The folder keeps its cache, in memory and on disk; what came before
    // it was merged and saved.
    CFTPSite reloaded;
    reloaded.m_strHost = pA->m_strHost;
    reloaded.m_nPort = pA->m_nPort;
    reloaded.m_strUser = pA->m_strUser;
    reloaded.m_strPassword = pA->m_strPassword;
    reloaded.EnsureLoaded();
    for (CFTPSite* pSite : {pA, &reloaded})
    {
        ASSERT_EQ(pSite->m_pRoot->m_dirList.size(), 3u);
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot->m_dirList[0]),
                  (std::vector<std::string>{"f /kept 1 0"}));
    }
}

TEST_F(EngineTest, FailedWorkerStartFailsOnlyThatTask)
{
    StartServer(1);
    CFTPSite* pSite = AddSite("a");
    g_nThreadLimit = 0; // the dispatcher runs, the task waits
    UpdateSelected(m_sites, pSite->m_pRoot.get(), m_progress);
    ASSERT_TRUE(WaitUntil([] { return g_bDispatching.load(); }));

    // No new thread can get its stack now.
    pthread_attr_t oldAttr, hugeAttr;
    ASSERT_EQ(pthread_getattr_default_np(&oldAttr), 0);
    pthread_attr_init(&hugeAttr);
    ASSERT_EQ(pthread_attr_setstacksize(&hugeAttr, size_t{1} << 46), 0);
    ASSERT_EQ(pthread_setattr_default_np(&hugeAttr), 0);
    g_nThreadLimit = 5;
    bool bEnded = WaitUntil([&] { return !IsSiteBusy(*pSite); }, 10s);
    pthread_setattr_default_np(&oldAttr);
    pthread_attr_destroy(&hugeAttr);
    pthread_attr_destroy(&oldAttr);
    ASSERT_TRUE(bEnded);

    EXPECT_EQ(pSite->m_nStatus, 1);
    EXPECT_EQ(pSite->GetStatusText().rfind("更新失败:\n", 0), 0u) << pSite->GetStatusText();
    EXPECT_GT(pSite->GetStatusText().size(), std::string("更新失败:\n").size());
    EXPECT_EQ(g_nRunning.load(), 0u);
    EXPECT_TRUE(IsEngineIdle());
    EXPECT_EQ(m_pServer->CountSessions(), 0);

    // The engine's counts are right: the site updates again.
    UpdateSelected(m_sites, pSite->m_pRoot.get(), m_progress);
    WaitForRunEnd();
    EXPECT_EQ(pSite->m_nStatus, 2) << pSite->GetStatusText();
}

// The worker reads the connection values without a lock all through the
// update; an edit of the nickname and remark meanwhile must not write them
// (ThreadSanitizer reports the rewrite of an equal value as a race).
TEST_F(EngineTest, NicknameEditDuringAnUpdateLeavesTheConnectionValuesAlone)
{
    StartServer(2);
    m_pServer->SetFaults(
        R"({"rules": [{"on": "LIST", "path": "/d100", "action": "delay", "seconds": 1}]})");
    CFakeDocHost host;
    CTarnDoc doc(host);
    CFTPSite* pSite = AddSite("a");
    doc.m_siteList = std::move(m_sites);
    const std::string strKey = pSite->GetKey();
    UpdateAll(doc.m_siteList, m_progress);
    int nEdits = 0;
    while (IsSiteBusy(*pSite))
    {
        CSiteInfo info;
        info.m_strHost = "127.0.0.1";
        info.m_strUser = m_pServer->GetUser();
        info.m_strPassword = m_pServer->GetPassword();
        info.m_nPort = m_pServer->GetPort();
        info.m_strNickname = "name " + std::to_string(++nEdits);
        info.m_strRemark = "remark\n" + std::to_string(nEdits);
        ASSERT_TRUE(doc.ModifySite(pSite, info));
        std::this_thread::sleep_for(5ms);
    }
    WaitForRunEnd();
    EXPECT_EQ(pSite->m_nStatus, 2) << pSite->GetStatusText();
    EXPECT_GT(nEdits, 1);
    EXPECT_EQ(pSite->GetKey(), strKey);
    EXPECT_EQ(pSite->m_strNickname, "name " + std::to_string(nEdits));
    EXPECT_EQ(pSite->m_strRemark, "remark\n" + std::to_string(nEdits));
    EXPECT_TRUE(host.m_messages.empty());
}

// An update continued after a lost connection saves twice; a crash at any
// step of the second save leaves a log that lists what the cache on disk
// holds, each change once. A first update that saves twice counts the whole
// tree in the one "first" line shown.
TEST_F(EngineTest, AContinuedUpdateLogsWhatTheSavedCacheHoldsEvenWhenItsSaveCrashes)
{
    StartServer(3);
    auto dropOnce = [this](int nTry)
    {
        // A rule of its own per try: the server counts "times" per rule.
        m_pServer->SetFaults(R"({"rules": [{"on": "LIST", "path": "/d101", "action": "drop",
                                            "times": 1, "try": )" +
                             std::to_string(nTry) + "}]}");
    };
    dropOnce(0);
    CFTPSite* pSite = AddSite("a");
    UpdateAll(m_sites, m_progress);
    WaitForRunEnd(60s);
    ASSERT_EQ(pSite->m_nStatus, 2) << pSite->GetStatusText();
    ASSERT_EQ(pSite->m_nRetries, 1);
    std::vector<CChangeRecord> shown = ReadSiteChanges(*pSite, CChangeQuery{});
    ASSERT_EQ(shown.size(), 1u);
    CTreeTotals totals = CountTreeTotals(*pSite->m_pRoot);
    EXPECT_EQ(shown[0].nKind, ChangeKind::first);
    EXPECT_EQ(shown[0].nFolders, totals.nFolders);
    EXPECT_EQ(shown[0].nFiles, totals.nFiles);
    EXPECT_EQ(shown[0].nBytes, totals.nBytes);
    std::string strLog = ReadFileBytes(m_data / ("Data/" + pSite->GetKey() + "/changes.log"));
    EXPECT_EQ(std::count(strLog.begin(), strLog.end(), '\n'), 2); // one per save

#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer starts no threads in a fork of a process that had some";
#endif
    ShutdownEngine(); // the children start from one thread
    const std::map<std::string, std::string> before = Entries(*pSite->m_pRoot);
    CTempDir saved;
    fs::copy(m_data / "Data", saved / "Data", fs::copy_options::recursive);
    // Changes before the drop (saved first) and after it (saved second).
    std::ofstream(m_served / "readme") << "a longer readme";
    std::ofstream(m_served / "d100/new.txt") << "n";
    fs::remove_all(m_served / "d101/sub");
    std::ofstream(m_served / "d102/sub/new2.txt") << "2";

    for (int nStep = 1; nStep <= 12; ++nStep)
    {
        SCOPED_TRACE(nStep);
        fs::remove_all(m_data / "Data");
        fs::copy(saved / "Data", m_data / "Data", fs::copy_options::recursive);
        dropOnce(nStep);
        g_nCrashStep = nStep;
        int nExit = RunInChild(
            [&]
            {
                g_nSaves = 0;
                SetSaveStepHook(
                    [](int n)
                    {
                        g_nSaves += n == 1 ? 1 : 0;
                        if (g_nSaves == 2 && n == g_nCrashStep)
                            ::_exit(0);
                    });
                std::vector<std::unique_ptr<CFTPSite>> sites;
                sites.push_back(std::make_unique<CFTPSite>());
                sites[0]->m_strHost = pSite->m_strHost;
                sites[0]->m_nPort = pSite->m_nPort;
                sites[0]->m_strUser = pSite->m_strUser;
                sites[0]->m_strPassword = pSite->m_strPassword;
                UpdateAll(sites, m_progress);
                bool bEnded = WaitUntil([&] { return !IsSiteBusy(*sites[0]); }, 30s);
                ShutdownEngine();
                return bEnded && g_nSaves == 2 ? 0 : 3;
            });
        ASSERT_EQ(nExit, 0);

        std::unique_ptr<CFTPSite> pLoaded = LoadSite(*pSite);
        const std::map<std::string, std::string> after = Entries(*pLoaded->m_pRoot);
        EXPECT_EQ(LastRunChanges(*pLoaded), TreeChanges(before, after));
        EXPECT_EQ(after.count("/d100/new.txt"), 1u); // the first save is on disk
        if (nStep >= 5)
        {
            EXPECT_EQ(after.count("/d102/sub/new2.txt"), 1u);
        }
    }
}
