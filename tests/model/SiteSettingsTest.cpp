// What options.ini means (CSiteSettings) and how a site keeps it: each key
// read as declared, the TLS rule, writes that touch one line, the bytes of
// the statistics, a file that cannot be read, and readers that do not wait
// for a write to reach the disk.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "model/SiteSettings.h"
#include "model/SiteStats.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using S = CSiteSettings;

namespace
{
CSiteSettings Parse(const std::string& strText)
{
    return CSiteSettings(CSiteOptions::Parse(strText));
}

std::string Text(const std::optional<ListingMode>& found)
{
    return found ? FormatListingMode(*found) : "none";
}

std::string Text(const std::optional<uint64_t>& nCount)
{
    return nCount ? std::to_string(*nCount) : "none";
}

TEST(SiteSettingsTest, EachKeyReadsItsTextAsDeclared)
{
    using Read = std::function<std::string(const CSiteSettings&)>;
    const Read tls = [](const CSiteSettings& s) { return FormatTlsMode(s.Get(S::TLS)); };
    const Read charset = [](const CSiteSettings& s) { return s.Get(S::CHARSET); };
    const Read fallback = [](const CSiteSettings& s) { return s.Get(S::CHARSET_FALLBACK); };
    const Read listing = [](const CSiteSettings& s)
    { return FormatListingMode(s.Get(S::LISTING)); };
    const Read found = [](const CSiteSettings& s) { return Text(s.Get(S::LISTING_FOUND)); };
    const Read trust = [](const CSiteSettings& s) { return SettingName(s.Get(S::TLS_TRUST)); };
    const Read files = [](const CSiteSettings& s) { return Text(s.Get(S::STAT_FILES)); };
    struct CRow
    {
        const char* pszText; // options.ini
        const Read& read;
        const char* pszValue;
    } rows[] = {
        {"", tls, "off"},
        // Whatever this program cannot read keeps the password off the wire.
        {"tls=\n", tls, "explicit"},
        {"tls=quantum\n", tls, "explicit"},
        {"tls=Off\n", tls, "explicit"},
        {"", charset, "auto"},
        {"charset=gbk\n", charset, "GB18030"},
        {"charset=EBCDIC\n", charset, "auto"},
        {"charset_fallback=big5\n", fallback, "Big5"},
        {"charset_fallback=UTF-8\n", fallback, "GB18030"},
        {"listing=fast\n", listing, "auto"},
        {"", found, "none"},
        {"listing_found=list\n", found, "list"},
        {"listing_found=maybe\n", found, "none"},
        {"tls_trust=anything\n", trust, "ca"},
        {"stat_files=40\n", files, "40"},
        {"stat_files=-1\n", files, "none"},
    };
    for (const CRow& row : rows)
        EXPECT_EQ(row.read(Parse(row.pszText)), row.pszValue) << row.pszText;
}

TEST(SiteSettingsTest, TryCountsAsExplicitOnceAKeyIsPinned)
{
    const std::string strPin = "sha256//" + std::string(43, 'A') + "=";
    struct CRow
    {
        std::string strText;
        TlsMode nMode;
    } rows[] = {
        {"tls=try\n", TlsMode::tryTls},
        {"tls=try\ntls_pin=" + strPin + "\n", TlsMode::explicitTls},
        // Even a pin that does not read is a pin: it must not be ignored.
        {"tls=try\ntls_pin=sha256//AAAA\n", TlsMode::explicitTls},
        {"tls=implicit\ntls_pin=" + strPin + "\n", TlsMode::implicitTls},
        {"tls=off\ntls_pin=" + strPin + "\n", TlsMode::off},
        {"tls=\n", TlsMode::explicitTls},
    };
    for (const CRow& row : rows)
        EXPECT_EQ(Parse(row.strText).GetTls().nMode, row.nMode) << row.strText;
    CTlsSettings tls = Parse("tls=try\ntls_trust=first-use\n").GetTls();
    EXPECT_TRUE(tls.bTrustFirstUse);
    EXPECT_EQ(tls.strPin, "");
}

TEST(SiteSettingsTest, WritingAValueTouchesItsLineOnly)
{
    CSiteSettings settings = Parse("# by hand\n"
                                   "tls=quantum\n"
                                   "future_key=1\n"
                                   "damaged line\n"
                                   "listing=stat\n"
                                   "charset=gbk\n");
    settings.Set(S::CHARSET, "Big5");
    settings.Set(S::LISTING, ListingMode::automatic); // the default: no line
    settings.Set(S::TLS_TRUST, TlsTrust::firstUse);
    settings.Set(S::LISTING_FOUND, ListingMode::stat);
    settings.Set(S::STAT_LAST_ERROR, ""); // a figure: written even empty
    EXPECT_EQ(settings.GetOptions().Format(), "# by hand\n"
                                              "tls=quantum\n"
                                              "future_key=1\n"
                                              "damaged line\n"
                                              "charset=Big5\n"
                                              "tls_trust=first-use\n"
                                              "listing_found=stat\n"
                                              "stat_last_error=\n");
    settings.Set(S::TLS, TlsMode::off);
    settings.Set(S::LISTING_FOUND, std::nullopt);
    EXPECT_EQ(settings.GetOptions().Format().find("tls="), std::string::npos);
    EXPECT_EQ(settings.GetOptions().Format().find("listing_found"), std::string::npos);
}

TEST(SiteSettingsTest, StatisticsKeepTheirBytes)
{
    CSiteSettings settings;
    StoreTreeTotals(settings, {3, 14, 5368709120, 2, CModTime()});
    CRunFigures figures;
    figures.strRun = "2024-05-01T12:00:00.125Z";
    figures.strStart = "2024-05-01T12:00:00Z";
    figures.strEnd = "2024-05-01T12:00:03Z";
    figures.nDurationMs = 3125;
    figures.nFoldersListed = 4;
    figures.nCommands = 21;
    figures.nListingBytes = 900;
    figures.strLastError = "更新失败:\n\t断开";
    StoreRunFigures(settings, figures);
    EXPECT_EQ(settings.GetOptions().Format(), "stat_folders=3\nstat_files=14\n"
                                              "stat_bytes=5368709120\nstat_unread=2\n"
                                              "stat_run=2024-05-01T12:00:00.125Z\n"
                                              "stat_last_start=2024-05-01T12:00:00Z\n"
                                              "stat_last_end=2024-05-01T12:00:03Z\n"
                                              "stat_duration_ms=3125\n"
                                              "stat_folders_listed=4\nstat_commands=21\n"
                                              "stat_listing_bytes=900\n"
                                              "stat_last_error=更新失败:  断开\n");
    CSiteStats stats = ReadStoredStats(settings);
    ASSERT_TRUE(stats.totals && stats.run);
    EXPECT_EQ(*stats.totals, (CTreeTotals{3, 14, 5368709120, 2, CModTime()}));
    EXPECT_EQ(stats.run->nDurationMs, 3125);
}

// Keys to come are one declaration each, as these.
bool IsPositive(int64_t& n)
{
    return n > 0;
}
constexpr CSiteSetting<int64_t> LISTING_TIMEOUT =
    CSiteSetting<int64_t>("listing_timeout", 300).Checked(&IsPositive);
constexpr CSiteSetting<int64_t> TIME_OFFSET{"time_offset", 0};
constexpr CSiteSetting<bool> AUTO_UPDATE{"auto_update", true};

TEST(SiteSettingsTest, NewKeysOfOtherTypesReadAndWriteAsDeclared)
{
    CSiteSettings settings = Parse("listing_timeout=0\ntime_offset=-90\nauto_update=off\n");
    EXPECT_EQ(settings.Get(LISTING_TIMEOUT), 300);
    EXPECT_EQ(settings.Get(TIME_OFFSET), -90);
    EXPECT_FALSE(settings.Get(AUTO_UPDATE));
    EXPECT_TRUE(Parse("auto_update=maybe\n").Get(AUTO_UPDATE));
    settings.Set(LISTING_TIMEOUT, 60);
    settings.Set(TIME_OFFSET, 0);
    settings.Set(AUTO_UPDATE, false);
    EXPECT_EQ(settings.GetOptions().Format(), "listing_timeout=60\nauto_update=no\n");
}

class SiteSettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_data.Path());
        m_site.m_strHost = "h";
        m_site.m_strPassword = ANON_PASSWORD; // key "h"
        std::filesystem::create_directories(GetSiteFolderPath(m_data.Path(), "h"));
    }
    void TearDown() override { SetOptionsSaveHook(nullptr); }

    std::string Path() const
    {
        return GetSiteFolderPath(m_data.Path(), "h") + "/" + SITE_OPTIONS_FILE;
    }

    CTempDir m_data;
    CFTPSite m_site;
};

TEST_F(SiteSettingsFileTest, AFileThatCannotBeReadIsReportedAndNeverReplaced)
{
    std::string strText =
        "tls=explicit\ncharset=Big5\n" + std::string(MAX_OPTIONS_FILE_SIZE, '#') + "\nbad\n";
    WriteFileBytes(Path(), strText);
    std::string strError = m_site.CheckOptions();
    EXPECT_EQ(strError, Path() + ": File too large");
    EXPECT_EQ(m_site.GetSettings().GetTls().nMode, TlsMode::off); // names only
    EXPECT_THROW(m_site.UpdateSettings([](CSiteSettings& s)
                                       { s.Set(S::STAT_RUN, "2024-05-01T12:00:00.125Z"); }),
                 CFileException);
    EXPECT_EQ(ReadFileBytes(Path()), strText);

    // Readable again: read at the next check, damaged lines reported once.
    WriteFileBytes(Path(), "tls=explicit\nbad\ncharset=Big5\n");
    EXPECT_EQ(m_site.CheckOptions(), "");
    EXPECT_EQ(m_site.GetSettings().GetTls().nMode, TlsMode::explicitTls);
    EXPECT_EQ(m_site.GetCodec().GetCharset(), "Big5");
    EXPECT_EQ(m_site.TakeDamagedOptionLines(), std::vector<size_t>{2});
    EXPECT_TRUE(m_site.TakeDamagedOptionLines().empty());
}

std::atomic<bool> g_bReadDuringSave{false};
std::thread g_reader;

void ReadDuringSave(CFTPSite& site)
{
    // What painting a name does; on a slow disk the write would take long.
    auto pRead = std::make_shared<std::promise<void>>();
    std::future<void> read = pRead->get_future();
    g_reader = std::thread(
        [&site, pRead]
        {
            (void)site.GetCodec();
            (void)site.GetSettings();
            pRead->set_value();
        });
    g_bReadDuringSave = read.wait_for(20s) == std::future_status::ready;
}

TEST_F(SiteSettingsFileTest, ReadersDoNotWaitForAWriteToReachTheDisk)
{
    SetOptionsSaveHook(&ReadDuringSave);
    m_site.UpdateSettings([](CSiteSettings& s) { s.Set(S::CHARSET, "GB18030"); });
    g_reader.join();
    EXPECT_TRUE(g_bReadDuringSave.load());
    EXPECT_EQ(ReadFileBytes(Path()), "charset=GB18030\n");
    EXPECT_EQ(m_site.GetCodec().GetCharset(), "GB18030");
}
} // namespace

TEST(SiteSettingsTest, RefusedFoldersAreStoredWithTheirPathsAndClearedByAnUpdateWithout)
{
    CSiteSettings settings;
    CRunFigures figures;
    figures.strStart = "2024-05-01T12:00:00Z";
    figures.nRefused = 3;
    // Bytes that would end, split or trim the line; "%" itself.
    figures.refusedPaths = {"/locked", "/a b/50%\t\r\n", "/\xD6\xD0 "};
    StoreRunFigures(settings, figures);
    std::string strText = settings.GetOptions().Format();
    EXPECT_NE(strText.find("stat_refused=3\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("stat_refused_paths=/locked\t/a%20b/50%25%09%0D%0A\t/\xD6\xD0%20\n"),
              std::string::npos)
        << strText;
    CSiteStats stats = ReadStoredStats(Parse(strText));
    ASSERT_TRUE(stats.run);
    EXPECT_EQ(stats.run->nRefused, 3u);
    EXPECT_EQ(stats.run->refusedPaths, figures.refusedPaths);

    figures.nRefused = 0;
    figures.refusedPaths.clear();
    StoreRunFigures(settings, figures);
    EXPECT_EQ(settings.GetOptions().Format().find("stat_refused"), std::string::npos);
}
