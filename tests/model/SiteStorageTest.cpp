// Per-site storage: content.ct and state.st on disk, damaged and partial
// files, the load-once protocol and atomic saves.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

#include "model/ChangeLog.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/ChildProcess.h"
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

std::set<std::string> FolderNames(const std::string& strFolder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(strFolder))
        names.insert(entry.path().filename().string());
    return names;
}

int g_nCrashStep = 0;

// Lines of a run that added these paths.
std::string ChangeLines(const std::string& strRun, std::initializer_list<const char*> paths)
{
    std::string strLines;
    for (const char* pszPath : paths)
    {
        CChangeRecord record;
        record.strTime = "2024-05-01T12:00:00Z";
        record.strRun = strRun;
        record.strPath = pszPath;
        strLines += FormatChangeLine(record);
    }
    return strLines;
}

std::vector<std::string> DescribeChanges(const std::string& strLogPath)
{
    std::vector<std::string> changes;
    ReadChangeLog(strLogPath,
                  [&changes](CChangeRecord& record)
                  {
                      changes.push_back(record.strRun + " " + FormatChangeKind(record.nKind) + " " +
                                        record.strPath);
                  });
    return changes;
}

// A tmpfs of its own for this (child) process, in a mount namespace of its
// own so that nothing outlives the process; false where the machine allows
// none (no root, no namespaces).
bool MountSmallDisk(const std::string& strPath, const char* pszOptions)
{
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tarn-test", strPath.c_str(), "tmpfs", 0, pszOptions) == 0;
}

constexpr uint64_t PAGE = 4096;

uint64_t FreePages(const std::string& strPath)
{
    struct statvfs st
    {
    };
    return ::statvfs(strPath.c_str(), &st) == 0 ? st.f_bavail * st.f_frsize / PAGE : 0;
}

uint64_t PagesOf(const std::string& strPath)
{
    return (fs::file_size(strPath) + PAGE - 1) / PAGE;
}

class SiteStorageTest : public ::testing::Test
{
protected:
    void SetUp() override { SetProgramFolder(m_dir.Path()); }
    std::string SiteFolder() const { return m_dir / "Data/ftp.example.org"; }
    // "run kind path" of what the site's log shows (a batch that has not
    // joined yet included), and of the log file alone.
    std::vector<std::string> ShownChanges() const
    {
        return DescribeChanges(SiteFolder() + "/changes.log");
    }
    std::vector<std::string> LoggedChanges() const
    {
        CTempDir copy;
        fs::copy_file(SiteFolder() + "/changes.log", copy / "changes.log");
        return DescribeChanges(copy / "changes.log");
    }

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

TEST_F(SiteStorageTest, CrashAtAnyStepOfASaveLeavesAMatchingPairAndLog)
{
    // The old pair went to disk with its lines; the new tree waits with its
    // own, "first" lines among them.
    auto saveOld = [this]
    {
        fs::remove_all(m_dir / "Data");
        auto pOld = MakeSite();
        BuildSample(*pOld->m_pRoot);
        pOld->m_unsavedChanges.AddLines(ChangeLines("r1", {"/pub", "/readme"}));
        pOld->SaveTree();
        return DescribeTree(*pOld->m_pRoot);
    };
    const std::vector<std::string> oldTree = saveOld();
    const std::vector<std::string> oldLog = ShownChanges();
    ASSERT_EQ(oldLog, (std::vector<std::string>{"r1 added /pub", "r1 added /readme"}));
    // The new tree has another shape and other marks: old marks on the new
    // content (or the reverse) would show.
    auto pNew = MakeSite();
    AddFile(AddDir(pNew->m_pRoot.get(), "new", 0), "n.txt", 3, 1);
    BuildSample(*pNew->m_pRoot);
    pNew->m_pRoot->m_dirList[1]->m_nState = 0;
    pNew->m_pRoot->m_fileList[0]->m_nState = 0;
    pNew->m_unsavedChanges.AddLines(ChangeLines("r2", {"/new", "/new/n.txt"}));
    pNew->m_unsavedChanges.CountFirst("r3", 1, 2, 30);
    const std::vector<std::string> newTree = DescribeTree(*pNew->m_pRoot);
    ASSERT_NE(oldTree, newTree);
    std::vector<std::string> newLog = oldLog;
    for (const char* psz : {"r3 first /", "r2 added /new", "r2 added /new/n.txt"})
        newLog.push_back(psz);

    // A temporary of this (live) process is never taken for a crash's leftover.
    const std::string strLive = "content.ct.tmp" + std::to_string(::getpid()) + ".999999";
    for (int nStep = 1; nStep <= 12; ++nStep)
    {
        SCOPED_TRACE(nStep);
        saveOld();
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

        // A reader that finishes nothing sees the log as the next load
        // leaves it.
        std::vector<std::string> shown = ShownChanges();
        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        std::vector<std::string> tree = DescribeTree(*pLoaded->m_pRoot);
        EXPECT_EQ(ShownChanges(), shown);
        // Every change of the pair on disk is in the log exactly once, and
        // nothing else; once the new files are on disk and named, the new
        // pair wins.
        if (nStep >= 5)
        {
            EXPECT_EQ(tree, newTree);
        }
        EXPECT_TRUE(tree == oldTree || tree == newTree);
        EXPECT_EQ(shown, tree == newTree ? newLog : oldLog);
        // The crash's leftovers are gone, the live temporary is not; the
        // batch has joined the log.
        EXPECT_EQ(FolderNames(SiteFolder()),
                  (std::set<std::string>{"content.ct", "state.st", "times.bin", "changes.log",
                                         strLive}));
        EXPECT_EQ(LoggedChanges(), shown);
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

// The cases of the full-disk test, in the child that owns the disk: each
// free size from none to more than everything needs. The checks report to
// stderr; 1 when one failed.
template <class SaveOld, class MakeNew>
int RunFullDiskCases(const std::string& strDisk, SaveOld saveOld, MakeNew makeNew,
                     const std::vector<std::string>& newTree,
                     const std::vector<std::string>& oldLog, const std::vector<std::string>& newLog)
{
    int nFailed = 0;
    auto check = [&nFailed](bool bOk, const std::string& strWhat)
    {
        if (!bOk)
        {
            std::fprintf(stderr, "%s\n", strWhat.c_str());
            nFailed = 1;
        }
    };
    const std::string strProgram = strDisk + "/program";
    const std::string strSite = strProgram + "/Data/ftp.example.org";
    SetProgramFolder(strProgram);
    fs::create_directory(strProgram);
    // What the pair alone needs: its two files and the record's page.
    makeNew()->SaveTree();
    const uint64_t nPairPages =
        PagesOf(strSite + "/content.ct") + PagesOf(strSite + "/state.st") + 1;
    const uint64_t nLinePages = PagesOf(strSite + "/changes.log");
    check(nPairPages >= 3 && nLinePages >= 4, "the sizes are too small to tell");
    for (uint64_t nFree = 0; nFree <= nPairPages + 2 * nLinePages + 2; ++nFree)
    {
        const std::string strAt = " with " + std::to_string(nFree) + " pages free";
        fs::remove_all(strProgram);
        fs::remove(strDisk + "/filler");
        fs::create_directory(strProgram);
        saveOld();
        uint64_t nFill = FreePages(strDisk) - nFree;
        WriteFileBytes(strDisk + "/filler", std::string(nFill * PAGE, 'f'));
        check(FreePages(strDisk) == nFree, "the filler missed" + strAt);

        auto pNew = makeNew();
        bool bSaved = true;
        try
        {
            pNew->SaveTree();
        }
        catch (const CFileException&)
        {
            bSaved = false;
        }
        std::string strError = pNew->m_unsavedChanges.TakeError();
        bool bWaiting = !pNew->m_unsavedChanges.IsEmpty();
        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        bool bNew = DescribeTree(*pLoaded->m_pRoot) == newTree;
        std::vector<std::string> shown = DescribeChanges(strSite + "/changes.log");
        // The lines never cost the pair its room.
        check(bSaved == (nFree >= nPairPages), "saved: " + std::to_string(bSaved) + strAt);
        check(bNew == bSaved, "the pair on disk is not the one saved" + strAt);
        // The log shows what the pair on disk holds; lines that did
        // not fit wait, and the save said why.
        check(shown == (bNew && !bWaiting ? newLog : oldLog), "shown" + strAt);
        check(!bWaiting || !bSaved || !strError.empty(), "no word why" + strAt);

        // With room again, the next save brings the log up to date.
        fs::remove(strDisk + "/filler");
        pNew->SaveTree();
        auto pReloaded = MakeSite();
        pReloaded->EnsureLoaded();
        check(DescribeTree(*pReloaded->m_pRoot) == newTree, "tree after" + strAt);
        check(DescribeChanges(strSite + "/changes.log") == newLog, "log after" + strAt);
        check(!fs::exists(strSite + "/changes.pending"), "batch left" + strAt);
    }
    return nFailed;
}

TEST_F(SiteStorageTest, OnAFullDiskTheLogNeverTakesTheRoomOfTheSave)
{
    // The old pair and its line; a new tree of some pages with lines of some
    // pages more.
    auto saveOld = []
    {
        auto pOld = MakeSite();
        AddFile(pOld->m_pRoot.get(), "old", 1);
        pOld->m_unsavedChanges.AddLines(ChangeLines("r1", {"/old"}));
        pOld->SaveTree();
    };
    std::vector<std::string> paths;
    for (int i = 0; i < 200; ++i)
        paths.push_back("/new/a-file-with-a-name-long-enough-" + std::to_string(i));
    auto makeNew = [&paths]
    {
        auto pNew = MakeSite();
        CFTPDir* pDir = AddDir(pNew->m_pRoot.get(), "new", 1);
        for (int i = 0; i < 600; ++i)
            AddFile(pDir, "file-" + std::to_string(i) + "-with-a-longer-name.txt", i, 1);
        for (const std::string& strPath : paths)
            pNew->m_unsavedChanges.AddLines(ChangeLines("r2", {strPath.c_str()}));
        return pNew;
    };
    std::vector<std::string> oldLog{"r1 added /old"};
    std::vector<std::string> newLog = oldLog;
    for (const std::string& strPath : paths)
        newLog.push_back("r2 added " + strPath);
    const std::vector<std::string> newTree = DescribeTree(*makeNew()->m_pRoot);

    const std::string strDisk = m_dir / "disk";
    fs::create_directory(strDisk);
    // On a tmpfs of its own, in a child.
    int nExit = RunInChild(
        [&]
        {
            if (!MountSmallDisk(strDisk, "size=1m"))
                return 77;
            try
            {
                return RunFullDiskCases(strDisk, saveOld, makeNew, newTree, oldLog, newLog);
            }
            catch (const std::exception& e)
            {
                std::fprintf(stderr, "%s\n", e.what());
                return 2;
            }
        },
        std::chrono::seconds(120));
    if (nExit == 77)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(nExit, 0);
}
