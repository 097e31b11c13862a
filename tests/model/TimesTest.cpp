// Modification times: their packed form, what people read of them, and
// times.bin beside the pair (round trips, damage, crashes mid-save).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "model/FTPSite.h"
#include "model/ModTime.h"
#include "model/ProgramFolder.h"
#include "model/TimesFile.h"
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
    pSite->m_strPassword = ANON_PASSWORD;
    return pSite;
}

// "path=seconds/precision/zone" (or "path=-") for every entry, in the
// order of the files.
std::vector<std::string> DescribeTimes(const CFTPDir& dir, const std::string& strPath = "")
{
    std::vector<std::string> lines;
    auto describe = [&](const std::string& strName, CModTime t)
    {
        lines.push_back(strPath + "/" + strName + "=" +
                        (t.IsKnown() ? std::to_string(t.Seconds()) + "/" +
                                           std::to_string(static_cast<int>(t.Precision())) + "/" +
                                           (t.IsZoneKnown() ? "utc" : "wall")
                                     : "-"));
    };
    for (const auto& pSub : dir.m_dirList)
    {
        describe(pSub->m_strName, pSub->m_time);
        for (std::string& str : DescribeTimes(*pSub, strPath + "/" + pSub->m_strName))
            lines.push_back(std::move(str));
    }
    for (const auto& pFile : dir.m_fileList)
        describe(pFile->m_strName, pFile->m_time);
    return lines;
}

// A tree whose every entry has a time of its own (nBase apart from others).
void BuildTimedTree(CFTPDir& root, int64_t nBase, bool bExtra = false)
{
    CFTPDir* pPub = AddDir(&root, "pub", 1);
    pPub->m_time = CModTime(nBase + 1, TimePrecision::minute, false);
    CFTPFile* pFile = AddFile(pPub, "a.iso", 5ull << 32);
    pFile->m_time = CModTime(nBase + 2, TimePrecision::second, true);
    AddFile(pPub, "no-date.txt", 1); // no time
    pFile = AddFile(&root, "readme", 10, 1);
    pFile->m_time = CModTime(nBase - 86400 * 400, TimePrecision::day, false);
    if (bExtra)
        AddFile(AddDir(&root, "extra"), "x", 3)->m_time =
            CModTime(nBase + 3, TimePrecision::second, true);
}

int g_nCrashStep = 0;
} // namespace

TEST(ModTimeTest, PackedFormKeepsEveryField)
{
    struct
    {
        int64_t nSeconds;
        TimePrecision nPrecision;
        bool bZone;
    } const rows[] = {
        {0, TimePrecision::second, true},
        {-1, TimePrecision::minute, false}, // before 1970: floor, not truncation
        {-86400 * 365LL * 100, TimePrecision::day, true},
        {1796000000, TimePrecision::second, false},
        {CModTime::MAX_SECONDS, TimePrecision::second, true},
        {CModTime::MIN_SECONDS, TimePrecision::day, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.nSeconds);
        CModTime t(row.nSeconds, row.nPrecision, row.bZone);
        CModTime back = CModTime::FromPacked(t.Packed());
        EXPECT_TRUE(back.IsKnown());
        EXPECT_EQ(back.Seconds(), row.nSeconds);
        EXPECT_EQ(back.Precision(), row.nPrecision);
        EXPECT_EQ(back.IsZoneKnown(), row.bZone);
    }
    // No precision, or beyond what can be written: no time.
    EXPECT_FALSE(CModTime(5, TimePrecision::none, true).IsKnown());
    EXPECT_FALSE(CModTime(CModTime::MAX_SECONDS + 1, TimePrecision::second, true).IsKnown());
    EXPECT_FALSE(CModTime::FromPacked(8 * 12345 + 4).IsKnown());
    EXPECT_LE(sizeof(CModTime), 8u);
}

TEST(ModTimeTest, FormsPeopleAndToolsRead)
{
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    const int64_t nUtc = CivilToSeconds(2026, 12, 31, 20, 5) + 7; // 2027-01-01 04:05:07 there
    struct
    {
        CModTime t;
        const char* pszShown;
        const char* pszIso;
        const char* pszTip;
    } const rows[] = {
        {CModTime(nUtc, TimePrecision::second, true), "2027-01-01 04:05", "2026-12-31T20:05:07Z",
         "2027-01-01 04:05:07（精确到秒，本地时间）"},
        // The server's wall clock stays as listed.
        {CModTime(nUtc, TimePrecision::minute, false), "2026-12-31 20:05", "2026-12-31T20:05:07",
         "2026-12-31 20:05（精确到分，服务器时间，时区未知）"},
        {CModTime(CivilToSeconds(2024, 2, 29), TimePrecision::day, false), "2024-02-29",
         "2024-02-29", "2024-02-29（精确到日，服务器时间，时区未知）"},
        {CModTime(CivilToSeconds(1969, 12, 31, 23, 59), TimePrecision::minute, false),
         "1969-12-31 23:59", "1969-12-31T23:59:00", nullptr},
        {CModTime(), "", "", ""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pszShown);
        EXPECT_EQ(FormatModTime(row.t), row.pszShown);
        EXPECT_EQ(FormatModTimeIso(row.t), row.pszIso);
        if (row.pszTip != nullptr)
        {
            EXPECT_EQ(DescribeModTime(row.t), row.pszTip);
        }
    }
    EXPECT_EQ(LocalToSeconds(2027, 1, 1, 4, 5), nUtc - 7);
    // Unknown sorts after every known time, older before newer.
    EXPECT_EQ(CompareModTimes(CModTime(1, TimePrecision::day, false), CModTime()), -1);
    EXPECT_EQ(CompareModTimes(CModTime(), CModTime()), 0);
    EXPECT_EQ(CompareModTimes(CModTime(9, TimePrecision::day, false),
                              CModTime(2, TimePrecision::second, false)),
              1);
    // A server's wall clock against a UTC time: as both are shown.
    EXPECT_EQ(CompareModTimes(CModTime(CivilToSeconds(2026, 12, 31, 23, 0), TimePrecision::minute,
                                       false),
                              CModTime(nUtc, TimePrecision::second, true)),
              -1);
    unsetenv("TZ");
    tzset();
}

class TimesStorageTest : public ::testing::Test
{
protected:
    void SetUp() override { SetProgramFolder(m_dir.Path()); }
    std::string SiteFolder() const { return m_dir / "Data/ftp.example.org"; }
    CTempDir m_dir;
};

TEST_F(TimesStorageTest, SaveAndLoadKeepEveryTime)
{
    auto pSite = MakeSite();
    BuildTimedTree(*pSite->m_pRoot, 1700000000);
    pSite->SaveTree();
    auto pLoaded = MakeSite();
    pLoaded->EnsureLoaded();
    EXPECT_EQ(DescribeTimes(*pLoaded->m_pRoot), DescribeTimes(*pSite->m_pRoot));
    EXPECT_FALSE(pLoaded->m_bTimesDamaged);
    // 8 bytes an entry, a header and a check.
    EXPECT_EQ(fs::file_size(SiteFolder() + "/times.bin"), 32u + 4 * 8 + 8);
}

TEST_F(TimesStorageTest, DamagedMissingOrForeignFileGivesNoTimes)
{
    auto pSite = MakeSite();
    BuildTimedTree(*pSite->m_pRoot, 1700000000);
    pSite->SaveTree();
    const std::string strTimes = SiteFolder() + "/times.bin";
    const std::string strGood = ReadFileBytes(strTimes);

    // Another tree of the same shape: its times.bin checks, but belongs to
    // a content.ct of another length.
    CTempDir other;
    SetProgramFolder(other.Path());
    auto pOther = MakeSite();
    BuildTimedTree(*pOther->m_pRoot, 1600000000);
    pOther->m_pRoot->m_fileList[0]->m_strName = "readme2";
    pOther->SaveTree();
    const std::string strForeign = ReadFileBytes(other / "Data/ftp.example.org/times.bin");
    SetProgramFolder(m_dir.Path());

    struct
    {
        const char* pszWhat;
        std::string strBytes;
    } rows[] = {
        {"truncated", strGood.substr(0, strGood.size() - 1)},
        {"header only", strGood.substr(0, 32)},
        {"a byte more", strGood + "x"},
        {"another tree's", strForeign},
        {"another version", strGood.substr(0, 8) + "\x02" + strGood.substr(9)},
        {"garbage", std::string(strGood.size(), '\x5a')},
    };
    // Every single byte flipped is caught too.
    for (size_t i = 0; i < strGood.size(); ++i)
    {
        std::string strFlipped = strGood;
        strFlipped[i] = static_cast<char>(strFlipped[i] ^ 0x10);
        WriteFileBytes(strTimes, strFlipped);
        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        ASSERT_EQ(DescribeTimes(*pLoaded->m_pRoot).size(), 4u);
        EXPECT_TRUE(pLoaded->m_bTimesDamaged) << "byte " << i;
        for (const std::string& str : DescribeTimes(*pLoaded->m_pRoot))
            EXPECT_EQ(str.back(), '-') << "byte " << i << ": " << str;
    }
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pszWhat);
        WriteFileBytes(strTimes, row.strBytes);
        auto pLoaded = MakeSite();
        pLoaded->EnsureLoaded();
        std::vector<std::string> times = DescribeTimes(*pLoaded->m_pRoot);
        for (const std::string& str : times)
            EXPECT_EQ(str.back(), '-') << str;
        EXPECT_TRUE(pLoaded->m_bTimesDamaged);
        EXPECT_EQ(pLoaded->m_pRoot->m_fileList.size(), 1u); // the tree itself loads
    }
    // No file at all: no times, and no damage.
    fs::remove(strTimes);
    auto pLoaded = MakeSite();
    pLoaded->EnsureLoaded();
    EXPECT_FALSE(pLoaded->m_bTimesDamaged);
    EXPECT_EQ(pLoaded->m_pRoot->m_fileList[0]->m_time, CModTime());
}

TEST_F(TimesStorageTest, ContentSavedAloneDropsTheOldTimes)
{
    auto pSite = MakeSite();
    BuildTimedTree(*pSite->m_pRoot, 1700000000);
    pSite->SaveTree();
    pSite->m_pRoot->m_fileList[0]->m_strName = "README";
    pSite->SaveContent();
    EXPECT_FALSE(fs::exists(SiteFolder() + "/times.bin"));
}

TEST_F(TimesStorageTest, CrashAtAnyStepNeverPairsTimesWithAnotherTree)
{
    auto saveOld = [this]
    {
        fs::remove_all(m_dir / "Data");
        auto pOld = MakeSite();
        BuildTimedTree(*pOld->m_pRoot, 1600000000);
        pOld->SaveTree();
        return DescribeTimes(*pOld->m_pRoot);
    };
    const std::vector<std::string> oldTimes = saveOld();
    // The same names with other times, and one folder more.
    auto pNew = MakeSite();
    BuildTimedTree(*pNew->m_pRoot, 1700000000, true);
    const std::vector<std::string> newTimes = DescribeTimes(*pNew->m_pRoot);
    for (int nStep = 1; nStep <= 12; ++nStep)
    {
        SCOPED_TRACE(nStep);
        saveOld();
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
        std::vector<std::string> times = DescribeTimes(*pLoaded->m_pRoot);
        EXPECT_TRUE(times == oldTimes || times == newTimes);
        if (nStep >= 5)
        {
            EXPECT_EQ(times, newTimes);
        }
        EXPECT_FALSE(pLoaded->m_bTimesDamaged);
    }
}
