// The change log's file: lines that read back as written, the size cap that
// drops the oldest half, a line a crash cut short, and the times --since takes.

#include <gtest/gtest.h>

#include <filesystem>

#include "model/ChangeLog.h"
#include "model/IsoTime.h"
#include "support/TempDir.h"

namespace
{
std::vector<CChangeRecord> ReadAll(const std::string& strPath, size_t* pnDamaged = nullptr)
{
    std::vector<CChangeRecord> records;
    ReadChangeLog(
        strPath, [&records](CChangeRecord& record) { records.push_back(record); }, pnDamaged);
    return records;
}

CChangeRecord Numbered(int n)
{
    CChangeRecord record;
    record.strTime = "2024-05-01T12:00:00Z";
    record.strRun = "2024-05-01T12:00:00.000Z";
    record.strPath = "/f" + std::to_string(n);
    record.nSize = static_cast<uint64_t>(n);
    return record;
}

TEST(ChangeLogTest, EveryKindReadsBackAsWritten)
{
    CChangeRecord added = Numbered(1);
    added.strPath = "/pub/say \"hi\", \\ \n\t中文.txt";
    added.nSize = 5368709120;
    CChangeRecord removed = Numbered(2);
    removed.nKind = ChangeKind::removed;
    removed.strPath = "/旧目录";
    removed.strRaw = EncodeRawPath("/\xBE\xC9\xC4\xBF\xC2\xBC"); // GBK bytes
    removed.bFolder = true;
    removed.nFolders = 2;
    removed.nFiles = 9;
    removed.nBytes = 40960;
    CChangeRecord resized = Numbered(3);
    resized.nKind = ChangeKind::resized;
    resized.nOldSize = 7;
    CChangeRecord modified = Numbered(5);
    modified.nKind = ChangeKind::modified;
    modified.strMtime = "2024-05-01T10:00:00Z";
    modified.strOldMtime = "2024-04-01T10:00";
    CChangeRecord dated = Numbered(6);
    dated.strMtime = "2019-03-14";
    CChangeRecord first = Numbered(4);
    first.nKind = ChangeKind::first;
    first.strPath = "/";
    first.bFolder = true;
    first.nFolders = 12;
    first.nFiles = 340;
    first.nBytes = 123456;

    for (const CChangeRecord& record : {added, removed, resized, first, modified, dated})
    {
        std::string strLine = FormatChangeLine(record);
        ASSERT_EQ(strLine.find('\n'), strLine.size() - 1) << strLine;
        CChangeRecord back;
        ASSERT_TRUE(ParseChangeLine(strLine, &back)) << strLine;
        EXPECT_EQ(FormatChangeLine(back), strLine);
    }
    EXPECT_EQ(removed.GetPathBytes(), "/\xBE\xC9\xC4\xBF\xC2\xBC");
    EXPECT_EQ(added.GetPathBytes(), added.strPath);
    // An added line without a time has no "mtime"; one with, and a
    // modified line, carry theirs.
    EXPECT_EQ(FormatChangeLine(added).find("mtime"), std::string::npos);
    EXPECT_NE(FormatChangeLine(dated).find(R"("mtime":"2019-03-14")"), std::string::npos);
    EXPECT_NE(FormatChangeLine(modified).find(R"("kind":"modified")"), std::string::npos);
    EXPECT_NE(FormatChangeLine(modified).find(R"("old_mtime":"2024-04-01T10:00")"),
              std::string::npos);
    CChangeRecord back;
    EXPECT_FALSE(ParseChangeLine(R"({"time":"t","run":"r","kind":"moved","path":"/a"})", &back));
    EXPECT_FALSE(ParseChangeLine(R"({"time":"t","run":"r","kind":"added","path":"/a)", &back));
}

TEST(ChangeLogTest, PassingTheCapDropsTheOldestHalfInWholeLines)
{
    CTempDir dir;
    const std::string strPath = dir / "changes.log";
    const uint64_t nLimit = 4096;
    CChangeLogWriter writer(strPath, nLimit);
    std::string strAll;
    int n = 0;
    while (strAll.size() <= nLimit)
    {
        std::string strLine = FormatChangeLine(Numbered(++n));
        writer.Append(strLine);
        strAll += strLine;
    }
    // The append that passed the cap kept the lines from the middle on.
    size_t nCut = strAll.size() / 2;
    if (strAll[nCut - 1] != '\n')
        nCut = strAll.find('\n', nCut) + 1;
    EXPECT_EQ(ReadFileBytes(strPath), strAll.substr(nCut));

    // The writer goes on at the end of the rewritten file.
    writer.Append(FormatChangeLine(Numbered(++n)));
    std::vector<CChangeRecord> records = ReadAll(strPath);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().strPath, "/f" + std::to_string(n));
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(records[i].nSize, records[i - 1].nSize + 1);
}

TEST(ChangeLogTest, ALineCutShortByACrashIsSkippedAndNotJoinedToTheNext)
{
    CTempDir dir;
    const std::string strPath = dir / "changes.log";
    std::string strFirst = FormatChangeLine(Numbered(1));
    std::string strTorn = FormatChangeLine(Numbered(2));
    WriteFileBytes(strPath, strFirst + strTorn.substr(0, strTorn.size() / 2));

    size_t nDamaged = 9;
    EXPECT_EQ(ReadAll(strPath, &nDamaged).size(), 1u); // being written: not read yet
    EXPECT_EQ(nDamaged, 0u);

    CChangeLogWriter writer(strPath);
    writer.Append(FormatChangeLine(Numbered(3)));
    std::vector<CChangeRecord> records = ReadAll(strPath, &nDamaged);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strPath, "/f1");
    EXPECT_EQ(records[1].strPath, "/f3");
    EXPECT_EQ(nDamaged, 1u);
}

// Whatever a crash left of a join (nothing, part of the lines, all of them,
// all and the batch still there), readers show each line once and the next
// join leaves each line in the log once.
TEST(ChangeLogTest, ABatchJoinsTheLogOnceWhateverACrashLeft)
{
    std::string strOld;
    std::string strNew;
    for (int n = 1; n <= 3; ++n)
        strOld += FormatChangeLine(Numbered(n));
    for (int n = 4; n <= 9; ++n)
        strNew += FormatChangeLine(Numbered(n));
    const size_t nPartial[] = {0, 1, strNew.size() / 2, strNew.size() - 1, strNew.size()};
    for (size_t nAppended : nPartial)
    {
        SCOPED_TRACE(nAppended);
        CTempDir dir;
        WriteFileBytes(dir / "changes.log", strOld);
        {
            CChangeLogLock lock(dir.Path(), true);
            WriteFileBytes(dir / "changes.pending", MakeChangeBatch(dir.Path(), strNew));
        }
        WriteFileBytes(dir / "changes.log", strOld + strNew.substr(0, nAppended));

        size_t nDamaged = 9;
        EXPECT_EQ(ReadAll(dir / "changes.log", &nDamaged).size(), 9u);
        EXPECT_EQ(nDamaged, 0u);
        {
            CChangeLogLock lock(dir.Path(), true);
            JoinChangeBatch(dir.Path());
            JoinChangeBatch(dir.Path()); // nothing left to join
        }
        EXPECT_EQ(ReadFileBytes(dir / "changes.log"), strOld + strNew);
        EXPECT_FALSE(std::filesystem::exists(dir / "changes.pending"));
    }
}

// A batch that could not join yet (a full disk) is taken into the next one,
// which joins where the first would have: nothing is lost or doubled, and a
// line an older version's crash cut short stays one damaged line.
TEST(ChangeLogTest, ANewBatchTakesInOneThatHasNotJoined)
{
    CTempDir dir;
    std::string strTorn = FormatChangeLine(Numbered(2));
    WriteFileBytes(dir / "changes.log",
                   FormatChangeLine(Numbered(1)) + strTorn.substr(0, strTorn.size() / 2));
    {
        CChangeLogLock lock(dir.Path(), true);
        WriteFileBytes(dir / "changes.pending",
                       MakeChangeBatch(dir.Path(), FormatChangeLine(Numbered(3))));
        WriteFileBytes(dir / "changes.pending",
                       MakeChangeBatch(dir.Path(), FormatChangeLine(Numbered(4))));
        JoinChangeBatch(dir.Path());
    }
    size_t nDamaged = 0;
    std::vector<CChangeRecord> records = ReadAll(dir / "changes.log", &nDamaged);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].strPath, "/f1");
    EXPECT_EQ(records[1].strPath, "/f3");
    EXPECT_EQ(records[2].strPath, "/f4");
    EXPECT_EQ(nDamaged, 1u);
}

TEST(ChangeLogTest, TimesAsSinceTakesThem)
{
    setenv("TZ", "CST-8", 1); // the local time of a date without a zone
    tzset();
    struct CRow
    {
        const char* pszText;
        const char* pszUtc; // nullptr: refused
    };
    const CRow rows[] = {
        {"2024-05-01T12:34:56Z", "2024-05-01T12:34:56.000Z"},
        {"2024-05-01T12:34:56.789Z", "2024-05-01T12:34:56.789Z"},
        {"2024-05-01 12:34+08:00", "2024-05-01T04:34:00.000Z"},
        {"2024-05-01T12:34:56-0500", "2024-05-01T17:34:56.000Z"},
        {"2024-05-01", "2024-04-30T16:00:00.000Z"},
        {"2024-05-01T08:00", "2024-05-01T00:00:00.000Z"},
        {"1714567890", "2024-05-01T12:51:30.000Z"},
        {"2024-02-30", nullptr},
        {"2024-05-01T24:00", nullptr},
        {"2024-05-01T12:34Zx", nullptr},
        {"yesterday", nullptr},
        {"2999-01-01T00:00Z", nullptr}, // past what the clock holds: never wrapped round
        {"99999999999", nullptr},
        {"", nullptr},
    };
    for (const CRow& row : rows)
    {
        CWallTime time;
        bool bParsed = ParseIsoTime(row.pszText, &time);
        EXPECT_EQ(bParsed, row.pszUtc != nullptr) << row.pszText;
        if (bParsed && row.pszUtc != nullptr)
        {
            EXPECT_EQ(FormatIsoTime(time, true), row.pszUtc) << row.pszText;
        }
    }
    unsetenv("TZ");
    tzset();
}
} // namespace
