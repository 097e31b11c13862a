// Per-site storage: content.ct and state.st on disk, damaged and partial
// files, the load-once protocol and atomic saves.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"

namespace fs = std::filesystem;

namespace
{
std::unique_ptr<CFTPSite> MakeSite()
{
    auto pSite = std::make_unique<CFTPSite>();
    pSite->m_strHost = "ftp.example.org";
    pSite->m_strUser = "anonymous";
    pSite->m_strPassword = ANON_PASSWORD;
    return pSite;
}

// A tree of a few hundred bytes with nested folders, unread marks and a file
// above 4 GiB.
void BuildSample(CFTPDir& root)
{
    CFTPDir* pPub = AddDir(&root, "pub", 1);
    CFTPDir* pLinux = AddDir(pPub, "linux");
    AddFile(pLinux, "kernel.tar.xz", 123456789, 1);
    AddFile(pLinux, "README", 42);
    CFTPDir* pEmpty = AddDir(pLinux, "empty", 1);
    (void)pEmpty;
    AddFile(pPub, "big.iso", 5ull << 32, 0);
    AddFile(pPub, "中文名.txt", 7, 1);
    CFTPDir* pIncoming = AddDir(&root, "incoming");
    AddFile(pIncoming, "a b c", 1);
    AddFile(&root, "readme", 10, 1);
    AddFile(&root, "welcome.msg", 300, 0);
}

// Runs fn in a forked child and returns its exit code (-1: killed by a
// signal or still running after the time-out, then killed).
int RunInChild(const std::function<int()>& fn,
               std::chrono::seconds timeout = std::chrono::seconds(30))
{
    pid_t nPid = ::fork();
    if (nPid == 0)
        ::_exit(fn());
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int nStatus = 0;
    while (::waitpid(nPid, &nStatus, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            ::kill(nPid, SIGKILL);
            ::waitpid(nPid, &nStatus, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

std::set<std::string> FolderNames(const std::string& strFolder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(strFolder))
        names.insert(entry.path().filename().string());
    return names;
}

int g_nCrashStep = 0;

class SiteStorageTest : public ::testing::Test
{
protected:
    void SetUp() override { SetProgramFolder(m_dir.Path()); }
    std::string SiteFolder() const { return m_dir / "Data/ftp.example.org"; }

    CTempDir m_dir;
};
} // namespace

TEST_F(SiteStorageTest, SaveAndLoadRestoreTreeAndMarks)
{
    auto pSite = MakeSite();
    BuildSample(*pSite->m_pRoot);
    pSite->SaveContent();
    pSite->SaveState();
    EXPECT_TRUE(fs::exists(SiteFolder() + "/content.ct"));
    EXPECT_TRUE(fs::exists(SiteFolder() + "/state.st"));

    auto pLoaded = MakeSite();
    pLoaded->EnsureLoaded();
    EXPECT_TRUE(pLoaded->IsLoaded());
    EXPECT_EQ(DescribeTree(*pLoaded->m_pRoot), DescribeTree(*pSite->m_pRoot));
    EXPECT_TRUE(ParentLinksConsistent(*pLoaded->m_pRoot));
    EXPECT_EQ(pLoaded->m_pRoot->m_pSite, pLoaded.get());

    // A second save of the loaded tree gives the same bytes.
    std::string strContent = ReadFileBytes(SiteFolder() + "/content.ct");
    pLoaded->SaveContent();
    EXPECT_EQ(ReadFileBytes(SiteFolder() + "/content.ct"), strContent);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(SiteFolder()), fs::directory_iterator()), 2);
}

TEST_F(SiteStorageTest, MissingOrEmptyFilesLeaveTheTreeAsItIs)
{
    auto pSite = MakeSite();
    pSite->EnsureLoaded(); // nothing on disk
    EXPECT_TRUE(pSite->m_pRoot->m_dirList.empty());
    EXPECT_TRUE(pSite->m_pRoot->m_fileList.empty());

    // content.ct without state.st: every entry is read.
    auto pSaved = MakeSite();
    BuildSample(*pSaved->m_pRoot);
    pSaved->SaveContent();
    auto pLoaded = MakeSite();
    pLoaded->EnsureLoaded();
    for (const std::string& str : DescribeTree(*pLoaded->m_pRoot))
        EXPECT_EQ(str.back(), '0') << str;

    // An empty state.st changes nothing either.
    WriteFileBytes(SiteFolder() + "/state.st", "");
    auto pLoaded2 = MakeSite();
    pLoaded2->EnsureLoaded();
    EXPECT_EQ(DescribeTree(*pLoaded2->m_pRoot), DescribeTree(*pLoaded->m_pRoot));
}

TEST_F(SiteStorageTest, StateShorterOrLongerThanTheTree)
{
    // Tree: pub { a.txt }, readme. Walk order: pub, a.txt, readme.
    auto pSite = MakeSite();
    CFTPDir* pPub = AddDir(pSite->m_pRoot.get(), "pub");
    AddFile(pPub, "a.txt", 5);
    AddFile(pSite->m_pRoot.get(), "readme", 10);
    pSite->SaveContent();

    struct Case
    {
        std::string strState;
        std::vector<int32_t> marks; // pub, a.txt, readme
    };
    const Case cases[] = {
        {std::string("\x01\0\0\0\x00\0\0\0\x07\0\0\0", 12), {1, 0, 7}},
        {std::string("\x01\0\0\0\x01\0\0\0", 8), {1, 1, 0}},
        {std::string("\x01\0\0\0\x01\0", 6), {1, 0, 0}}, // a cut value is not used
        {std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\0\0\x09\0\0\0", 20), {1, 1, 1}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.strState.size());
        WriteFileBytes(SiteFolder() + "/state.st", c.strState);
        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        CFTPDir* pRoot = pLoaded->m_pRoot.get();
        ASSERT_EQ(pRoot->m_dirList.size(), 1u);
        EXPECT_EQ(pRoot->m_dirList[0]->m_nState, c.marks[0]);
        EXPECT_EQ(pRoot->m_dirList[0]->m_fileList[0]->m_nState, c.marks[1]);
        EXPECT_EQ(pRoot->m_fileList[0]->m_nState, c.marks[2]);
    }
}

TEST_F(SiteStorageTest, EveryTruncationAndByteFlipLoadsAConsistentPrefix)
{
    auto pSite = MakeSite();
    BuildSample(*pSite->m_pRoot);
    pSite->SaveContent();
    const std::string strPath = SiteFolder() + "/content.ct";
    const std::string strGood = ReadFileBytes(strPath);
    ASSERT_GT(strGood.size(), 150u);
    auto pFull = MakeSite();
    pFull->LoadContent(); // marks come from state.st, so compare without them
    const std::vector<std::string> full = DescribeTree(*pFull->m_pRoot);
    ASSERT_EQ(full.size(), 11u);

    auto loadAndCheck = [&](const std::string& strBytes, bool bExpectPrefix)
    {
        WriteFileBytes(strPath, strBytes);
        auto pLoaded = MakeSite();
        pLoaded->LoadContent();
        ASSERT_TRUE(ParentLinksConsistent(*pLoaded->m_pRoot));
        if (!bExpectPrefix)
            return;
        // What was kept is the original minus entries, in the original order.
        std::vector<std::string> got = DescribeTree(*pLoaded->m_pRoot);
        size_t j = 0;
        for (const std::string& str : got)
        {
            while (j < full.size() && full[j] != str)
                ++j;
            ASSERT_LT(j, full.size()) << "entry not in the original: " << str;
            ++j;
        }
    };

    for (size_t n = 0; n <= strGood.size(); ++n)
    {
        SCOPED_TRACE(n);
        loadAndCheck(strGood.substr(0, n), true);
    }

    std::mt19937 rng(12345);
    for (int i = 0; i < 400; ++i)
    {
        std::string strBad = strGood;
        int nFlips = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < nFlips; ++k)
            strBad[rng() % strBad.size()] ^= static_cast<char>(1 + rng() % 255);
        SCOPED_TRACE(i);
        loadAndCheck(strBad, false);
    }
}

TEST_F(SiteStorageTest, TwoThreadsLoadTheTreeOnce)
{
    auto pSaved = MakeSite();
    for (int i = 0; i < 2000; ++i)
        AddFile(AddDir(pSaved->m_pRoot.get(), "d" + std::to_string(i)), "f", 1, 1);
    pSaved->SaveContent();
    pSaved->SaveState();

    for (int nRound = 0; nRound < 20; ++nRound)
    {
        auto pSite = MakeSite();
        std::thread a([&] { pSite->EnsureLoaded(); });
        std::thread b([&] { pSite->EnsureLoaded(); });
        a.join();
        b.join();
        // A second load would have appended the entries again.
        ASSERT_EQ(pSite->m_pRoot->m_dirList.size(), 2000u);
        ASSERT_EQ(pSite->m_pRoot->m_dirList.back()->m_fileList[0]->m_nState, 1);
    }
}

TEST_F(SiteStorageTest, FailedSaveKeepsThePreviousFile)
{
    auto pSite = MakeSite();
    BuildSample(*pSite->m_pRoot);
    pSite->SaveContent();
    pSite->SaveState();
    const std::string strContent = ReadFileBytes(SiteFolder() + "/content.ct");
    const std::string strState = ReadFileBytes(SiteFolder() + "/state.st");

    // Grow the tree well past a small file-size limit: the write fails with
    // EFBIG as it would on a full disk.
    for (int i = 0; i < 5000; ++i)
        AddFile(pSite->m_pRoot.get(), "file-" + std::to_string(i), 1, 1);
    struct rlimit old
    {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool bContentThrew = false, bStateThrew = false;
    try
    {
        pSite->SaveContent();
    }
    catch (const CFileException& e)
    {
        bContentThrew = true;
        EXPECT_EQ(e.m_lOsError, EFBIG);
    }
    try
    {
        pSite->SaveState();
    }
    catch (const CFileException&)
    {
        bStateThrew = true;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(bContentThrew);
    EXPECT_TRUE(bStateThrew);
    EXPECT_EQ(ReadFileBytes(SiteFolder() + "/content.ct"), strContent);
    EXPECT_EQ(ReadFileBytes(SiteFolder() + "/state.st"), strState);
    EXPECT_EQ(std::distance(fs::directory_iterator(SiteFolder()), fs::directory_iterator()), 2);
}

TEST_F(SiteStorageTest, UncreatableFolderFailsTheSave)
{
    // A regular file where a folder must be created (root ignores permissions).
    for (const std::string strBlocked : {"Data", "Data/ftp.example.org"})
    {
        SCOPED_TRACE(strBlocked);
        fs::remove_all(m_dir / "Data");
        if (strBlocked != "Data")
            fs::create_directory(m_dir / "Data");
        WriteFileBytes(m_dir / strBlocked, "not a folder");
        auto pSite = MakeSite();
        AddFile(pSite->m_pRoot.get(), "a", 1);
        EXPECT_THROW(pSite->SaveTree(), CFileException);
        EXPECT_THROW(pSite->SaveContent(), CFileException);
        EXPECT_THROW(pSite->SaveState(), CFileException);
        EXPECT_EQ(ReadFileBytes(m_dir / strBlocked), "not a folder");
    }
}

TEST_F(SiteStorageTest, CrashAtAnyStepOfASaveLeavesAMatchingPair)
{
    auto pOld = MakeSite();
    BuildSample(*pOld->m_pRoot);
    const std::vector<std::string> oldTree = DescribeTree(*pOld->m_pRoot);
    // The new tree has another shape and other marks: old marks on the new
    // content (or the reverse) would show.
    auto pNew = MakeSite();
    AddFile(AddDir(pNew->m_pRoot.get(), "new", 0), "n.txt", 3, 1);
    BuildSample(*pNew->m_pRoot);
    pNew->m_pRoot->m_dirList[1]->m_nState = 0;
    pNew->m_pRoot->m_fileList[0]->m_nState = 0;
    const std::vector<std::string> newTree = DescribeTree(*pNew->m_pRoot);
    ASSERT_NE(oldTree, newTree);

    // A temporary of this (live) process is never taken for a crash's leftover.
    const std::string strLive = "content.ct.tmp" + std::to_string(::getpid()) + ".999999";
    for (int nStep = 1; nStep <= 8; ++nStep)
    {
        SCOPED_TRACE(nStep);
        pOld->SaveTree();
        WriteFileBytes(SiteFolder() + "/" + strLive, "x");
        g_nCrashStep = nStep;
        int nExit = RunInChild(
            [&]
            {
                SetSaveStepHook(
                    [](int n)
                    {
                        if (n == g_nCrashStep)
                            ::_exit(0);
                    });
                pNew->SaveTree();
                return 0;
            });
        ASSERT_EQ(nExit, 0);

        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        std::vector<std::string> tree = DescribeTree(*pLoaded->m_pRoot);
        EXPECT_TRUE(tree == oldTree || tree == newTree);
        // Once both new files are on disk and named, the new pair wins.
        if (nStep >= 4)
        {
            EXPECT_EQ(tree, newTree);
        }
        // The crash's leftovers are gone, the live temporary is not.
        EXPECT_EQ(FolderNames(SiteFolder()),
                  (std::set<std::string>{"content.ct", "state.st", strLive}));
    }
}

TEST_F(SiteStorageTest, OldFolderOfAPercentKeyMovesOnFirstUse)
{
    // Before "%" was escaped, "50%off" had the folder "50%off"; an old name
    // that is now another key's folder ("h@a%2Fb" is "h@a/b"'s) stays.
    auto makeSite = [](const std::string& strHost)
    {
        auto pSite = MakeSite();
        pSite->m_strHost = strHost;
        return pSite;
    };
    auto pSaved = makeSite("x");
    AddFile(pSaved->m_pRoot.get(), "kept", 1, 1);
    pSaved->SaveTree();
    fs::rename(m_dir / "Data/x", m_dir / "Data/50%off");
    auto pMoved = makeSite("50%off");
    pMoved->EnsureLoaded();
    EXPECT_EQ(DescribeTree(*pMoved->m_pRoot), (std::vector<std::string>{"f /kept 1 1"}));
    EXPECT_TRUE(fs::exists(m_dir / "Data/50%25off/content.ct"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/50%off"));

    pSaved->SaveTree();
    fs::rename(m_dir / "Data/x", m_dir / "Data/h@a%2Fb");
    auto pOther = makeSite("h@a%2Fb");
    pOther->EnsureLoaded();
    EXPECT_TRUE(pOther->m_pRoot->m_fileList.empty());
    EXPECT_TRUE(fs::exists(m_dir / "Data/h@a%2Fb/content.ct"));
}

TEST_F(SiteStorageTest, ForeignRootNameIsCleared)
{
    // A root named "pub" would make every update list "pub" instead of "/".
    fs::create_directories(SiteFolder());
    WriteFileBytes(SiteFolder() + "/content.ct", std::string("\x03pub\0\0\0\0", 8));
    auto pSite = MakeSite();
    pSite->EnsureLoaded();
    EXPECT_EQ(pSite->m_pRoot->m_strName, "");
    EXPECT_EQ(pSite->m_pRoot->GetPath(), "/");
}

TEST_F(SiteStorageTest, NestedCountsCannotExhaustMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer cannot run under an address-space limit";
#endif
    // The root claims 4 billion sub-folders: a good one, then 900 nested
    // folders that each claim as many but hold one. The innermost name is
    // 1 MB, so every claim looks affordable against the bytes that remain.
    const int nLevels = 900;
    std::string strBytes("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01\0\x07\0CFTPDir"
                         "\x04good\0\0\0\0"
                         "\x01\x80",
                         31);
    for (int i = 0; i < nLevels; ++i)
        strBytes += std::string("\x01"
                                "a"
                                "\xFF\xFF\xFF\xFF\xFF\xFF\x01\x80",
                                10);
    strBytes += std::string("\xFF\xFF\xFF\0\0\x10\0", 7) + std::string(1 << 20, 'n') +
                std::string("\0\0\0\0", 4);
    fs::create_directories(SiteFolder());
    WriteFileBytes(SiteFolder() + "/content.ct", strBytes);

    int nExit = RunInChild(
        [&]
        {
            // Room for the file and the tree, not for what the counts claim.
            long nPages = 0;
            std::ifstream("/proc/self/statm") >> nPages;
            struct rlimit limit
            {
            };
            limit.rlim_cur = limit.rlim_max =
                static_cast<rlim_t>(nPages) * ::sysconf(_SC_PAGESIZE) + (rlim_t{256} << 20);
            if (::setrlimit(RLIMIT_AS, &limit) != 0)
                return 10;
            auto pSite = MakeSite();
            try
            {
                pSite->EnsureLoaded();
            }
            catch (...)
            {
            }
            pSite->EnsureLoaded(); // returns: the load is over
            // The nested folder never ends: it is damaged and dropped; the
            // good one stays.
            bool bKept = DescribeTree(*pSite->m_pRoot) == std::vector<std::string>{"d /good 0"};
            return bKept && pSite->m_bContentDamaged ? 0 : 11;
        });
    EXPECT_EQ(nExit, 0);
}

TEST_F(SiteStorageTest, HostileKeyStaysInsideData)
{
    auto pSite = MakeSite();
    pSite->m_strPassword = "pw";
    pSite->m_strUser = "../../escape";
    AddFile(pSite->m_pRoot.get(), "a", 1);
    pSite->SaveContent();
    pSite->SaveState();
    EXPECT_TRUE(fs::exists(m_dir / "Data/ftp.example.org@..%2F..%2Fescape/content.ct"));
    EXPECT_FALSE(fs::exists(m_dir / "escape"));
}
