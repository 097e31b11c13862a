// Modification times from a real server: the same times whichever way the
// folders are listed (MLSD, LIST, STAT), LIST times moved by the site's
// offset, and "modified" change lines only where the site asks for them.

#include <algorithm>
#include <sys/time.h>

#include "model/ChangeLog.h"
#include "model/ProgramFolder.h"
#include "update/ChangeRecorder.h"
#include "update/CrawlerFixture.h"

namespace
{
void SetMtime(const std::string& strPath, int64_t nSeconds)
{
    struct timeval times[2] = {{static_cast<time_t>(nSeconds), 0},
                               {static_cast<time_t>(nSeconds), 0}};
    ASSERT_EQ(::utimes(strPath.c_str(), times), 0) << strPath;
}

class CrawlerTimesTest : public CCrawlerFixture
{
protected:
    // A file changed 10 days ago at 10:23:45 UTC (ls shows the time), one
    // of 2019 (ls shows the year), and a folder.
    void SetUp() override
    {
        CCrawlerFixture::SetUp();
        SetProgramFolder(m_program.Path()); // the sites' options.ini
        const int64_t nNow = NowSeconds();
        m_nRecent = nNow - nNow % 86400 - 10 * 86400 + 10 * 3600 + 23 * 60 + 45;
        m_nOld = CivilToSeconds(2019, 3, 14, 10, 23) + 7;
        Dir("pub");
        File("pub/recent.txt", 3);
        File("pub/old.txt", 4);
        SetMtime(m_served / "pub/recent.txt", m_nRecent);
        SetMtime(m_served / "pub/old.txt", m_nOld);
        SetMtime(m_served / "pub", m_nRecent);
    }

    CTempDir m_program;
    int64_t m_nRecent = 0;
    int64_t m_nOld = 0;
};
} // namespace

TEST_F(CrawlerTimesTest, EveryListingWayKeepsTheServersTimes)
{
    struct
    {
        const char* pszWay;
        bool bMlsd;
        ListingMode nMode;
        int64_t nOffsetMinutes;
    } const rows[] = {
        {"MLSD", true, ListingMode::list, 0},
        {"MLSD, offset ignored", true, ListingMode::list, 480},
        {"LIST", false, ListingMode::list, 0},
        {"STAT", false, ListingMode::stat, 0},
        {"LIST, server 8 hours ahead", false, ListingMode::list, 480},
        {"STAT, server 1 hour behind", false, ListingMode::stat, -60},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pszWay);
        CTestFtpServer::COptions options;
        options.bNoMlsd = !row.bMlsd;
        m_pServer = std::make_unique<CTestFtpServer>(m_served.Path(), options);
        m_nMode = row.nMode;
        auto pSite = MakeSite();
        pSite->UpdateSettings([&row](CSiteSettings& s)
                              { s.Set(CSiteSettings::TIME_OFFSET, row.nOffsetMinutes); });
        ASSERT_EQ(Crawl(*pSite), 1);
        CFTPDir* pPub = FindDir(pSite->m_pRoot.get(), "pub");
        ASSERT_NE(pPub, nullptr);
        CModTime recent = FindFile(pPub, "recent.txt")->m_time;
        CModTime old = FindFile(pPub, "old.txt")->m_time;
        CModTime folder = pPub->m_time;
        // The server's clock is UTC: an offset says otherwise, on purpose.
        const int64_t nShift = row.bMlsd ? 0 : row.nOffsetMinutes * 60;
        const bool bZone = row.bMlsd || row.nOffsetMinutes != 0;
        if (row.bMlsd)
        {
            EXPECT_EQ(recent, CModTime(m_nRecent, TimePrecision::second, true));
            EXPECT_EQ(old, CModTime(m_nOld, TimePrecision::second, true));
            EXPECT_EQ(folder, CModTime(m_nRecent, TimePrecision::second, true));
        }
        else
        {
            // ls: the minute for the recent file, the day for the old one.
            EXPECT_EQ(recent, CModTime(m_nRecent - 45 - nShift, TimePrecision::minute, bZone));
            EXPECT_EQ(old, CModTime(CivilToSeconds(2019, 3, 14) - nShift, TimePrecision::day, bZone));
            EXPECT_EQ(folder, CModTime(m_nRecent - 45 - nShift, TimePrecision::minute, bZone));
        }
    }
}

TEST_F(CrawlerTimesTest, TouchedFilesAreLoggedOnlyWhereTheSiteAsks)
{
    StartServer();
    for (bool bLogModified : {false, true})
    {
        SCOPED_TRACE(bLogModified);
        SetMtime(m_served / "pub/recent.txt", m_nRecent);
        auto pSite = MakeSite();
        pSite->UpdateSettings([bLogModified](CSiteSettings& s)
                              { s.Set(CSiteSettings::LOG_MODIFIED, bLogModified); });
        ASSERT_EQ(Crawl(*pSite), 1);
        pSite->m_bContentDirty = false;

        // Touched (same size), and a file added meanwhile.
        SetMtime(m_served / "pub/recent.txt", m_nRecent + 3600);
        File("pub/new.txt", 5);
        SetMtime(m_served / "pub/new.txt", m_nOld);
        auto pSession = OpenSiteSession(ShortTimeouts());
        std::string strError;
        auto pConnection = OpenSiteConnection(*pSession, *pSite, &strError);
        ASSERT_TRUE(pConnection) << strError;
        CChangeRecorder changes(*pSite, "2026-01-01T00:00:00.000Z", false);
        ASSERT_EQ(CrawlDir(pConnection.get(), pSite.get(), pSite->m_pRoot.get(), Plan(), &m_report,
                           &changes),
                  1);
        // The new time is kept, and saved with the pair even though no
        // entry's name or size changed.
        CFTPDir* pPub = FindDir(pSite->m_pRoot.get(), "pub");
        EXPECT_EQ(FindFile(pPub, "recent.txt")->m_time.Get().Seconds(), m_nRecent + 3600);
        EXPECT_TRUE(pSite->m_bContentDirty);

        std::vector<std::string> lines;
        std::string strLines = pSite->m_unsavedChanges.Take("t").strLines;
        for (size_t nEnd; (nEnd = strLines.find('\n')) != std::string::npos;
             strLines.erase(0, nEnd + 1))
        {
            CChangeRecord record;
            ASSERT_TRUE(ParseChangeLine(strLines.substr(0, nEnd), &record));
            lines.push_back(std::string(FormatChangeKind(record.nKind)) + " " + record.strPath +
                            " " + record.strMtime + " " + record.strOldMtime);
        }
        std::sort(lines.begin(), lines.end());
        std::vector<std::string> expected{"added /pub/new.txt 2019-03-14T10:23:07Z "};
        if (bLogModified)
            expected.push_back("modified /pub/recent.txt " +
                                FormatModTimeIso(CModTime(m_nRecent + 3600, TimePrecision::second, true)) +
                               " " + FormatModTimeIso(CModTime(m_nRecent, TimePrecision::second, true)));
        EXPECT_EQ(lines, expected);
        Remove("pub/new.txt");
    }
}
