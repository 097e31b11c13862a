// Downloads against the local test FTP server: the bytes served arrive
// exactly, whatever the server does on the way (cut transfers, REST refused,
// more bytes than it announced, no SIZE), a full disk or a destination that
// cannot take the file fails clearly with the .part kept, nothing is ever
// overwritten, and the queue keeps to its connection limits and its file.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <sched.h>
#include <thread>
#include <sys/mount.h>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "model/SiteSettings.h"
#include "net/TlsSettings.h"
#include "support/ChildProcess.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"
#include "support/Vsftpd.h"
#include "transfer/DownloadPlan.h"
#include "transfer/DownloadQueue.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
std::string RandomBytes(size_t nSize, unsigned nSeed)
{
    std::mt19937 random(nSeed);
    std::string str(nSize, '\0');
    for (char& c : str)
        c = static_cast<char>(random());
    return str;
}

// A tmpfs of its own for this (child) process; false where none can be mounted.
bool MountSmallDisk(const std::string& strPath, const char* pszOptions)
{
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tarn-test", strPath.c_str(), "tmpfs", 0, pszOptions) == 0;
}

class DownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_data.Path());
        m_pServer = std::make_unique<CTestFtpServer>(m_served.Path());
        m_site.m_strHost = "127.0.0.1";
        m_site.m_nPort = m_pServer->GetPort();
        m_site.m_strUser = m_pServer->GetUser();
        m_site.m_strPassword = m_pServer->GetPassword();
        m_site.m_nLoadState = 1;
    }

    void Serve(const std::string& strName, const std::string& strBytes)
    {
        fs::create_directories(fs::path(m_served / strName).parent_path());
        WriteFileBytes(m_served / strName, strBytes);
    }

    CDownloadJob MakeJob(const std::string& strServerPath, const std::string& strRelative,
                         int64_t nListed)
    {
        CDownloadJob job;
        job.strSiteKey = m_site.GetKey();
        job.strServerPath = strServerPath;
        job.strFolder = m_dest.Path();
        job.strRelative = strRelative;
        job.nListedSize = nListed;
        return job;
    }

    // Runs the jobs through a queue to their end.
    std::vector<CDownloadJob> Fetch(std::vector<CDownloadJob> jobs,
                                    CDownloadQueue* pQueue = nullptr)
    {
        CDownloadQueue own;
        CDownloadQueue& queue = pQueue != nullptr ? *pQueue : own;
        std::vector<uint64_t> ids;
        for (CDownloadJob& job : jobs)
            ids.push_back(queue.Add(std::move(job), &m_site));
        EXPECT_TRUE(queue.WaitIdle(60s));
        std::vector<CDownloadJob> done;
        for (uint64_t nId : ids)
            done.push_back(queue.GetJob(nId).value_or(CDownloadJob{}));
        return done;
    }

    CDownloadJob FetchOne(const std::string& strServerPath, const std::string& strRelative,
                          int64_t nListed)
    {
        return Fetch({MakeJob(strServerPath, strRelative, nListed)}).at(0);
    }

    CTempDir m_data;
    CTempDir m_served;
    CTempDir m_dest;
    std::unique_ptr<CTestFtpServer> m_pServer;
    CFTPSite m_site;
};

TEST_F(DownloadTest, ServedBytesArriveExactly)
{
    struct CRow
    {
        const char* pszCase;
        std::string strServerName; // bytes on the server
        std::string strBytes;
        const char* pszCharset;
        std::string strLocal; // the name it gets here
    };
    const CRow ROWS[] = {
        {"binary", "data.bin", RandomBytes(700000, 1), CHARSET_AUTO, "data.bin"},
        {"empty", "empty.txt", "", CHARSET_AUTO, "empty.txt"},
        {"gbk name", "\xD6\xD0\xCE\xC4.txt", "gbk", "GB18030", "中文.txt"},
        {"name windows cannot hold", "a:b?.txt", "w", CHARSET_AUTO, "a_b_.txt"},
        {"name with spaces and percent", "50% off #1.txt", "p", CHARSET_AUTO, "50% off #1.txt"},
    };
    for (const CRow& row : ROWS)
    {
        Serve(row.strServerName, row.strBytes);
        m_site.UpdateSettings([&](CSiteSettings& s)
                              { s.Set(CSiteSettings::CHARSET, std::string(row.pszCharset)); });
        CFTPDir root;
        CFTPFile* pFile = AddFile(&root, row.strServerName, row.strBytes.size());
        std::vector<CDownloadJob> jobs = PlanDownload(m_site, nullptr, pFile, m_dest.Path());
        ASSERT_EQ(jobs.size(), 1u);
        CDownloadJob job = Fetch(jobs).at(0);
        EXPECT_EQ(job.nState, DownloadState::done) << row.pszCase << ": " << job.strError;
        EXPECT_EQ(job.strSaved, m_dest / row.strLocal) << row.pszCase;
        EXPECT_EQ(ReadFileBytes(m_dest / row.strLocal), row.strBytes) << row.pszCase;
        EXPECT_FALSE(fs::exists(m_dest / (row.strLocal + ".part"))) << row.pszCase;
    }
}

TEST_F(DownloadTest, HundredMegabytesArriveExactly)
{
    // Blocks that differ from each other, so a byte in the wrong place shows.
    std::string strBlock = RandomBytes(1 << 20, 7);
    std::string strBytes;
    strBytes.reserve(100u << 20);
    for (int i = 0; i < 100; ++i)
    {
        strBlock[static_cast<size_t>(i) * 997] ^= static_cast<char>(i + 1);
        strBytes += strBlock;
    }
    Serve("big.bin", strBytes);
    CDownloadJob job = FetchOne("/big.bin", "big.bin", static_cast<int64_t>(strBytes.size()));
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "big.bin") == strBytes);
}

TEST_F(DownloadTest, TransferCutTwentyTimesResumesToTheSameBytes)
{
    std::string strBytes = RandomBytes(3 << 20, 2);
    Serve("dir/cut.bin", strBytes);
    std::mt19937 random(11);
    std::string strRules;
    for (int i = 0; i < 20; ++i)
    {
        uint32_t nBytes = 1000 + random() % 140000;
        strRules +=
            std::string(i == 0 ? "" : ",") +
            R"({"on": "RETR", "path": "/dir/cut.bin", "action": "cut", "times": 1, "bytes": )" +
            std::to_string(nBytes) + "}";
    }
    m_pServer->SetFaults(R"({"rules": [)" + strRules + "]}");
    CDownloadJob job = FetchOne("/dir/cut.bin", "cut.bin", static_cast<int64_t>(strBytes.size()));
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "cut.bin") == strBytes);
    // Each attempt after a cut went on from the bytes on disk.
    std::vector<CTestFtpServer::CCommand> rests = m_pServer->GetCommands("REST");
    ASSERT_EQ(rests.size(), 20u);
    uint64_t nLast = 0;
    for (const auto& rest : rests)
    {
        uint64_t nOffset = std::stoull(rest.strArgument);
        EXPECT_GT(nOffset, nLast);
        nLast = nOffset;
    }
    EXPECT_EQ(m_pServer->CountCommands("RETR"), 21);
}

// The window may edit a site while one of its downloads logs in (downloads
// do not hold the site as updates do): each login takes one consistent copy
// of the connection values. Under ThreadSanitizer this reported a race.
TEST_F(DownloadTest, EditingTheSiteWhileItsDownloadsLogInIsSafe)
{
    std::string strBytes = RandomBytes(1 << 20, 3);
    Serve("edit.bin", strBytes);
    std::string strRules;
    for (int i = 0; i < 8; ++i)
        strRules += std::string(i == 0 ? "" : ",") +
                    R"({"on": "RETR", "path": "/edit.bin", "action": "cut", "times": 1, "bytes": 20000})";
    m_pServer->SetFaults(R"({"rules": [)" + strRules + "]}");
    std::atomic<bool> bDone{false};
    // Both logins are served (the server lets anonymous read too), so every
    // attempt can go on whichever values it copied.
    std::thread editor(
        [&]
        {
            CFTPSite probe;
            probe.m_strHost = m_site.m_strHost;
            probe.m_nPort = m_site.m_nPort;
            probe.m_strUser = m_pServer->GetUser();
            probe.m_strPassword = m_pServer->GetPassword();
            for (bool bAnon = false; !bDone.load(); bAnon = !bAnon)
            {
                probe.m_bAnonUpdate = bAnon;
                m_site.AssignConnectionValues(probe);
                std::this_thread::yield();
            }
        });
    CDownloadJob job = FetchOne("/edit.bin", "edit.bin", static_cast<int64_t>(strBytes.size()));
    bDone = true;
    editor.join();
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "edit.bin") == strBytes);
    EXPECT_GE(m_pServer->CountCommands("RETR"), 2);
}

TEST_F(DownloadTest, RefusedRestStartsOverAndSaysSo)
{
    std::string strBytes = RandomBytes(200000, 3);
    Serve("f.bin", strBytes);
    // An earlier attempt left a part behind; the server cannot continue it.
    WriteFileBytes(m_dest / "f.bin.part", std::string(5000, 'x'));
    m_pServer->SetFaults(
        R"({"rules": [{"on": "REST", "action": "reply", "reply": "502 No REST."}]})");
    CDownloadJob job = FetchOne("/f.bin", "f.bin", static_cast<int64_t>(strBytes.size()));
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "f.bin") == strBytes);
    EXPECT_NE(job.strNote.find("不支持续传"), std::string::npos) << job.strNote;
}

TEST_F(DownloadTest, PartFileIsContinuedFromItsLength)
{
    std::string strBytes = RandomBytes(300000, 4);
    Serve("p.bin", strBytes);
    WriteFileBytes(m_dest / "p.bin.part", strBytes.substr(0, 123456));
    CDownloadJob job = FetchOne("/p.bin", "p.bin", static_cast<int64_t>(strBytes.size()));
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "p.bin") == strBytes);
    std::vector<CTestFtpServer::CCommand> rests = m_pServer->GetCommands("REST");
    ASSERT_EQ(rests.size(), 1u);
    EXPECT_EQ(rests[0].strArgument, "123456");
}

TEST_F(DownloadTest, AnExistingFileIsNeverReplaced)
{
    Serve("same.txt", "new");
    WriteFileBytes(m_dest / "same.txt", "old");
    WriteFileBytes(m_dest / "same (1).txt", "older");
    CDownloadJob job = FetchOne("/same.txt", "same.txt", 3);
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_EQ(job.strSaved, m_dest / "same (2).txt");
    EXPECT_EQ(ReadFileBytes(m_dest / "same.txt"), "old");
    EXPECT_EQ(ReadFileBytes(m_dest / "same (1).txt"), "older");
    EXPECT_EQ(ReadFileBytes(m_dest / "same (2).txt"), "new");
}

TEST_F(DownloadTest, WrongSizesAreErrorsNotSuccesses)
{
    struct CRow
    {
        const char* pszCase;
        const char* pszFaults;
        int64_t nListed;
        const char* pszError;
        bool bMayStopAtSize = false; // the transport stopped reading at SIZE
    };
    const CRow ROWS[] = {
        {"more bytes than SIZE announced",
         R"({"rules": [{"on": "RETR", "action": "oversize", "bytes": 300000}]})", 1000, "超过",
         true},
        {"no SIZE, far more bytes than listed",
         R"({"rules": [{"on": "SIZE", "action": "reply", "reply": "502 No."}, )"
         R"({"on": "RETR", "action": "oversize", "bytes": 300000}]})",
         1000, "超过"},
        {"no SIZE, listed size larger",
         R"({"rules": [{"on": "SIZE", "action": "reply", "reply": "502 No."}]})", 1200, "大小不符"},
        {"no SIZE, listed size smaller",
         R"({"rules": [{"on": "SIZE", "action": "reply", "reply": "502 No."}]})", 999, "大小不符"},
    };
    Serve("s.bin", RandomBytes(1000, 5));
    for (const CRow& row : ROWS)
    {
        m_pServer->SetFaults(row.pszFaults);
        fs::remove(m_dest / "s.bin.part");
        fs::remove(m_dest / "s.bin");
        CDownloadJob job = FetchOne("/s.bin", "s.bin", row.nListed);
        if (row.bMayStopAtSize && job.nState == DownloadState::done)
        {
            // libcurl read up to the announced size and no further.
            EXPECT_EQ(fs::file_size(m_dest / "s.bin"), 1000u) << row.pszCase;
            continue;
        }
        EXPECT_EQ(job.nState, DownloadState::failed) << row.pszCase;
        EXPECT_NE(job.strError.find(row.pszError), std::string::npos)
            << row.pszCase << ": " << job.strError;
        EXPECT_FALSE(fs::exists(m_dest / "s.bin")) << row.pszCase;
        EXPECT_TRUE(fs::exists(m_dest / "s.bin.part")) << row.pszCase;
    }
}

TEST_F(DownloadTest, DestinationTroubleIsAClearErrorAndKeepsThePart)
{
    std::string strBytes = RandomBytes(400000, 6);
    Serve("d.bin", strBytes);
    const std::string strDisk = m_dest / "disk";
    fs::create_directory(strDisk);
    int nExit = RunInChild(
        [&]
        {
            if (!MountSmallDisk(strDisk, "size=128k"))
                return 77;
            CDownloadJob job = MakeJob("/d.bin", "d.bin", static_cast<int64_t>(strBytes.size()));
            job.strFolder = strDisk;
            CDownloadQueue queue;
            uint64_t nId = queue.Add(job, &m_site);
            if (!queue.WaitIdle(30s))
                return 3;
            CDownloadJob full = *queue.GetJob(nId);
            if (full.nState != DownloadState::failed ||
                full.strError.find("磁盘已满") == std::string::npos)
            {
                std::fprintf(stderr, "full disk: %s\n", full.strError.c_str());
                return 4;
            }
            // What did fit is kept for later.
            if (!fs::exists(strDisk + "/d.bin.part") || fs::file_size(strDisk + "/d.bin.part") == 0)
                return 5;

            if (::mount(nullptr, strDisk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return 77;
            job.strRelative = "other.bin";
            CDownloadJob readOnly = *queue.GetJob(queue.Add(job, &m_site));
            (void)queue.WaitIdle(30s);
            readOnly = *queue.GetJob(readOnly.nId);
            if (readOnly.strError.find("不可写") == std::string::npos)
            {
                std::fprintf(stderr, "read-only: %s\n", readOnly.strError.c_str());
                return 6;
            }
            return 0;
        },
        std::chrono::seconds(90));
    if (nExit == 77)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(nExit, 0);

    // A destination folder that went away is named as such.
    CDownloadJob job = MakeJob("/d.bin", "d.bin", static_cast<int64_t>(strBytes.size()));
    job.strFolder = m_dest / "gone";
    job = Fetch({job}).at(0);
    EXPECT_EQ(job.nState, DownloadState::failed);
    EXPECT_NE(job.strError.find("不存在"), std::string::npos) << job.strError;
    EXPECT_FALSE(fs::exists(m_dest / "gone"));
}

TEST_F(DownloadTest, FolderDownloadRecreatesItsTree)
{
    Serve("top/a.txt", "a");
    Serve("top/sub/b.txt", "bb");
    Serve("top/sub/deeper/c.txt", "ccc");
    Serve("top/../outside.txt", "no"); // beside the folder, not in it
    CFTPDir root;
    CFTPDir* pTop = AddDir(&root, "top");
    AddFile(pTop, "a.txt", 1);
    CFTPDir* pSub = AddDir(pTop, "sub");
    AddFile(pSub, "b.txt", 2);
    AddFile(AddDir(pSub, "deeper"), "c.txt", 3);
    AddDir(pTop, "empty");
    AddFile(&root, "outside.txt", 2);

    std::vector<CDownloadJob> jobs = PlanDownload(m_site, pTop, nullptr, m_dest.Path());
    ASSERT_EQ(jobs.size(), 3u);
    for (const CDownloadJob& job : Fetch(jobs))
        EXPECT_EQ(job.nState, DownloadState::done) << job.strServerPath << ": " << job.strError;
    EXPECT_EQ(ReadFileBytes(m_dest / "top/a.txt"), "a");
    EXPECT_EQ(ReadFileBytes(m_dest / "top/sub/b.txt"), "bb");
    EXPECT_EQ(ReadFileBytes(m_dest / "top/sub/deeper/c.txt"), "ccc");
    EXPECT_FALSE(fs::exists(m_dest / "outside.txt"));
}

TEST_F(DownloadTest, QueueKeepsToItsConnectionsAndReusesThem)
{
    std::vector<CDownloadJob> jobs;
    for (int i = 0; i < 12; ++i)
    {
        std::string strName = "f" + std::to_string(i) + ".bin";
        Serve(strName, RandomBytes(20000, static_cast<unsigned>(i)));
        jobs.push_back(MakeJob("/" + strName, strName, 20000));
    }
    CDownloadQueue queue; // 2 per site by default
    for (const CDownloadJob& job : Fetch(jobs, &queue))
        EXPECT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_LE(m_pServer->GetMaxSimultaneousSessions(), 2);
    // Logged in once per connection, not once per file.
    EXPECT_LE(queue.CountLogins(), 2u);
    EXPECT_LE(m_pServer->CountCommands("PASS"), 2);
}

TEST_F(DownloadTest, UnfinishedJobsAreKeptInTheQueueFile)
{
    const std::string strFile = m_data / DOWNLOAD_QUEUE_FILE;
    Serve("done.txt", "d");
    {
        CDownloadQueue queue;
        queue.SetQueueFile(strFile);
        CDownloadJob stopped = MakeJob("/\xD6\xD0\xCE\xC4/%x.bin", "中文/%x.bin", 42);
        stopped.nState = DownloadState::stopped;
        queue.Add(stopped, &m_site);
        CDownloadJob failed = MakeJob("/gone.bin", "gone.bin", 7);
        failed.nState = DownloadState::failed;
        queue.Add(failed, &m_site);
        queue.Add(MakeJob("/done.txt", "done.txt", 1), &m_site);
        ASSERT_TRUE(queue.WaitIdle(30s));
    }
    // A damaged line and one that would leave the destination are skipped.
    std::string strText = ReadFileBytes(strFile);
    strText +=
        "{\"site\":\"x\",\"path\":\"/a\",\"folder\":\"/tmp\",\"relative\":\"../a\",\"size\":1,"
        "\"state\":\"stopped\"}\n{\"site\":\n";
    WriteFileBytes(strFile, strText);

    std::vector<CDownloadJob> jobs = CDownloadQueue::LoadQueueFile(strFile);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].strServerPath, "/\xD6\xD0\xCE\xC4/%x.bin");
    EXPECT_EQ(jobs[0].strRelative, "中文/%x.bin");
    EXPECT_EQ(jobs[0].strFolder, m_dest.Path());
    EXPECT_EQ(jobs[0].strSiteKey, m_site.GetKey());
    EXPECT_EQ(jobs[0].nListedSize, 42);
    EXPECT_EQ(jobs[0].nState, DownloadState::stopped);
    EXPECT_EQ(jobs[1].strServerPath, "/gone.bin");
    EXPECT_EQ(jobs[1].nState, DownloadState::failed);
}

// A folder of many files is queued in one step: each target distinct from
// every other job's (the queue's and the batch's own), the queue file
// written once for the whole batch (by the saver, off the caller's thread),
// and a job's start writes nothing.
TEST_F(DownloadTest, AFolderIsQueuedInOneWriteWithDistinctTargets)
{
    const std::string strFile = m_data / DOWNLOAD_QUEUE_FILE;
    CDownloadQueue queue;
    queue.SetQueueFile(strFile);
    auto stopped = [this](const std::string& strRelative)
    {
        CDownloadJob job = MakeJob("/" + strRelative, strRelative, 1);
        job.nState = DownloadState::stopped; // no worker takes it
        return std::make_pair(job, &m_site);
    };
    queue.Add(stopped("same.txt").first, &m_site);
    queue.FlushSaves();
    ASSERT_EQ(queue.CountQueueWrites(), 1u);

    std::vector<std::pair<CDownloadJob, CFTPSite*>> batch;
    for (const char* pszName : {"same.txt", "same.txt", "d/same.txt", "same.txt", "d/same.txt"})
        batch.push_back(stopped(pszName));
    for (int i = 0; i < 300; ++i)
        batch.push_back(stopped("many/f" + std::to_string(i)));
    std::vector<uint64_t> ids = queue.AddAll(std::move(batch));
    queue.FlushSaves();
    EXPECT_EQ(queue.CountQueueWrites(), 2u);
    ASSERT_EQ(ids.size(), 305u);
    std::vector<std::string> targets;
    for (size_t i = 0; i < 5; ++i)
        targets.push_back(queue.GetJob(ids[i]).value_or(CDownloadJob{}).strRelative);
    EXPECT_EQ(targets, (std::vector<std::string>{"same (1).txt", "same (2).txt", "d/same.txt",
                                                 "same (3).txt", "d/same (1).txt"}));
    EXPECT_EQ(CDownloadQueue::LoadQueueFile(strFile).size(), 306u);

    // A job that starts leaves the file's text as it was: no write.
    queue.Resume(ids.back()); // "/many/f299" is not served: it fails, which is a change
    ASSERT_TRUE(queue.WaitIdle(30s));
    queue.FlushSaves();
    EXPECT_EQ(queue.GetJob(ids.back()).value_or(CDownloadJob{}).nState, DownloadState::failed);
    EXPECT_EQ(queue.CountQueueWrites(), 3u);
}

TEST_F(DownloadTest, StoppedDownloadResumesWhereItStopped)
{
    std::string strBytes = RandomBytes(4 << 20, 8);
    Serve("slow.bin", strBytes);
    // Slow enough to be stopped in the middle.
    m_pServer->SetFaults(
        R"({"rules": [{"on": "RETR", "action": "cut", "times": 1, "bytes": 100000}, )"
        R"({"on": "RETR", "action": "delay", "seconds": 5, "times": 1}]})");
    CDownloadQueue queue;
    uint64_t nId =
        queue.Add(MakeJob("/slow.bin", "slow.bin", static_cast<int64_t>(strBytes.size())), &m_site);
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (queue.GetJob(nId)->nDone < 100000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    queue.Stop(nId);
    ASSERT_TRUE(queue.WaitIdle(20s));
    CDownloadJob stopped = *queue.GetJob(nId);
    EXPECT_EQ(stopped.nState, DownloadState::stopped);
    EXPECT_TRUE(fs::exists(m_dest / "slow.bin.part"));
    queue.Resume(nId);
    ASSERT_TRUE(queue.WaitIdle(30s));
    CDownloadJob job = *queue.GetJob(nId);
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "slow.bin") == strBytes);
}

// A TLS site: the download logs in and transfers over TLS (vsftpd requires
// it for login and data) and the bytes arrive as they are.
TEST_F(DownloadTest, TlsSiteDownloadsOverTls)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    CTempDir certs;
    CTestCert ca;
    CTestCert cert;
    ASSERT_TRUE(MakeSelfSignedCert(certs.Path(), "Tarn Test CA", &ca));
    ASSERT_TRUE(MakeCaSignedCert(certs.Path(), ca, "127.0.0.1", "IP:127.0.0.1", &cert));
    SetTlsCaBundle(ca.strCertFile);
    std::string strBytes = RandomBytes(1500000, 9);
    Serve("tls/secret.bin", strBytes);
    CTestVsftpd::COptions options;
    options.nTls = CTestVsftpd::Tls::explicitTls;
    options.strCertFile = cert.strCertFile;
    options.strKeyFile = cert.strKeyFile;
    CTestVsftpd server(m_served.Path(), options);
    ASSERT_NE(server.GetPort(), 0);
    m_site.m_nPort = server.GetPort();
    m_site.m_strUser = "anonymous";
    m_site.m_strPassword = ANON_PASSWORD;
    m_site.UpdateSettings([](CSiteSettings& s)
                          { s.Set(CSiteSettings::TLS, TlsMode::explicitTls); });
    CDownloadJob job =
        FetchOne("/tls/secret.bin", "secret.bin", static_cast<int64_t>(strBytes.size()));
    SetTlsCaBundle("");
    ASSERT_EQ(job.nState, DownloadState::done) << job.strError;
    EXPECT_TRUE(ReadFileBytes(m_dest / "secret.bin") == strBytes);
}
} // namespace
