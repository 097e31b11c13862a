// The pieces under tarn-cli: the JSON escaper, the size text, the data
// folder lock, display widths.

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

#include "cli/CliProcess.h"
#include "cli/JsonWriter.h"
#include "cli/TextTable.h"
#include "doc/FormatSize.h"
#include "model/DataFolderLock.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

TEST(JsonStringTest, EscapesAndRepairsEveryByteSequence)
{
    struct CRow
    {
        std::string strIn;
        std::string strOut;
    };
    const CRow rows[] = {
        {"plain", R"("plain")"},
        {"a\"b\\c/d", R"("a\"b\\c/d")"},
        {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
        {std::string("a\0b", 3), R"("a\u0000b")"},
        {"中文 ü €", "\"中文 ü €\""},
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""}, // 4-byte character kept
        {"\xD6\xD0\xCE\xC4", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // GBK bytes
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                 // overlong "/"
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // surrogate
        {"\xF4\x90\x80\x80",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // above U+10FFFF
        {"ab\xE4\xB8", "\"ab\xEF\xBF\xBD\xEF\xBF\xBD\""},         // cut character
    };
    for (const CRow& row : rows)
    {
        std::string strJson = JsonString(row.strIn);
        EXPECT_EQ(strJson, row.strOut);
        CJsonObject object;
        EXPECT_TRUE(ParseJsonObject("{\"k\":" + strJson + "}", &object)) << strJson;
    }
    EXPECT_EQ(CJsonLine()
                  .Add("a", "x")
                  .Add("n", int64_t{-3})
                  .Add("u", uint64_t{1} << 40)
                  .Add("b", false)
                  .Finish(),
              "{\"a\":\"x\",\"n\":-3,\"u\":1099511627776,\"b\":false}\n");
}

TEST(FormatSizeTest, MatchesTheFileList)
{
    const std::pair<int64_t, const char*> rows[] = {
        {0, "0字节"},         {1023, "1023字节"},
        {-1, "-1字节"},       {1024, "1.00K"},
        {1536, "1.50K"},      {1048575, "1024.00K"},
        {1048576, "1.00M"},   {1073741823, "1024.00M"},
        {5LL << 30, "5.00G"}, {1LL << 50, "1048576.00G"},
    };
    for (const auto& [nSize, pszText] : rows)
        EXPECT_EQ(FormatSize(nSize), pszText) << nSize;
}

TEST(DisplayWidthTest, CountsTerminalCells)
{
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth("中文"), 4u);
    EXPECT_EQ(DisplayWidth("\xD6\xD0"), 2u); // stray bytes: one cell each
}

TEST(TextTableTest, ShowsControlAndBidiCharactersEscaped)
{
    const std::pair<std::string, std::string> rows[] = {
        {"a\nb\tc", "a\\x0Ab\\x09c"},
        {std::string("nul\0\x1B[31m\x7F", 10), "nul\\x00\\x1B[31m\\x7F"},
        {"\xC2\x85", "\\u0085"},                                         // C1 next line
        {"evil\xE2\x80\xAEtxt.exe", "evil\\u202Etxt.exe"},               // right-to-left override
        {"\xE2\x81\xA6x\xE2\x81\xA9\xD8\x9C", "\\u2066x\\u2069\\u061C"}, // isolates, ALM
        {"\xE2\x80\x8F\xE2\x80\xA8", "\\u200F\\u2028"},
        {"中文 ü\\x.txt ", "中文 ü\\x.txt "}, // printable text stays as it is
        {"\xD6\xD0", "\xD6\xD0"},             // stray bytes too
    };
    for (const auto& [strIn, strOut] : rows)
        EXPECT_EQ(PrintableText(strIn), strOut) << strIn;
}

TEST(TextTableTest, PrintsTheLastColumnAsItIsInStableColumns)
{
    auto print = [](const std::vector<std::vector<std::string>>& rows)
    {
        CTextTable table;
        table.SetMinWidth(0, 1); // the unread mark
        table.AlignRight(2);
        for (const auto& row : rows)
            table.AddRow(row);
        char* pBuf = nullptr;
        size_t nSize = 0;
        std::FILE* pFile = ::open_memstream(&pBuf, &nSize);
        table.Print(pFile);
        std::fclose(pFile);
        std::string str(pBuf, nSize);
        std::free(pBuf);
        return str;
    };
    // Nothing unread: the names start where they start when something is.
    EXPECT_EQ(print({{"", "a", "1字节", "ftp://h/a"}, {"", "bb", "", "ftp://h/bb "}}),
              "   a   1字节  ftp://h/a\n"
              "   bb         ftp://h/bb \n");
    EXPECT_EQ(print({{"*", "a", "1字节", "ftp://h/a"}}), "*  a  1字节  ftp://h/a\n");
    // Empty cells at the end add no padding.
    EXPECT_EQ(print({{"", "key", "", ""}, {"*", "longer", "", ""}}), "   key\n*  longer\n");
}

TEST(DataFolderLockTest, ASecondHolderWaitsThenGivesUp)
{
    CTempDir dir;
    std::string strError;
    CDataFolderLock first;
    first.SetHolderName(CDataFolderLock::HOLDER_WINDOW);
    ASSERT_EQ(first.Acquire(dir.Path(), 0ms, &strError), CDataFolderLock::Result::taken);
    // Who holds it is readable while it is held, and gone with the lock.
    EXPECT_EQ(CDataFolderLock::ReadHolderName(dir.Path()), CDataFolderLock::HOLDER_WINDOW);
    CDataFolderLock second;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Acquire(dir.Path(), 200ms, &strError), CDataFolderLock::Result::busy);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_EQ(CDataFolderLock::ReadHolderName(dir.Path()), "");
    EXPECT_EQ(second.Acquire(dir.Path(), 0ms, &strError), CDataFolderLock::Result::taken);

    CDataFolderLock missing;
    EXPECT_EQ(missing.Acquire(dir / "no/such/folder", 0ms, &strError),
              CDataFolderLock::Result::failed);
    EXPECT_FALSE(strError.empty());
}
