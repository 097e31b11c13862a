// Exports read back by other programs: Python's csv and json modules and its
// URL parser take the rows with commas, quotes, line breaks, Chinese and GBK
// names exactly as the file list shows them.

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "doc/DocFixture.h"
#include "doc/Export.h"
#include "model/Json.h"

namespace
{
std::string Hex(const std::string& strBytes)
{
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string str;
    for (unsigned char c : strBytes)
    {
        str += DIGITS[c >> 4];
        str += DIGITS[c & 0x0F];
    }
    return str;
}

std::string CheckerPath()
{
    return std::filesystem::path(TARN_TEST_FTP_SERVER).parent_path() / "check_export.py";
}

TEST_F(DocTest, ExportsOpenRightInOtherPrograms)
{
    CSiteInfo info;
    info.m_strHost = "h";
    info.m_nPort = 2121;
    info.m_strUser = "u";
    info.m_strPassword = "p@ss:w/rd";
    ASSERT_TRUE(m_pDoc->AddSite(info));
    CFTPSite* pSite = m_pDoc->FindSite("h:2121@u");
    CFTPDir* pRoot = pSite->m_pRoot.get();
    CFTPDir* pDir = AddDir(pRoot, "dir, with comma", 1);
    // Times of every kind: UTC to the second, the server's wall clock, a day.
    AddFile(pRoot, "a,b.txt", 10)->m_time =
        CModTime(CivilToSeconds(2026, 12, 9, 10, 23) + 5, TimePrecision::second, true);
    AddFile(pRoot, "say \"hi\".txt", 0)->m_time =
        CModTime(CivilToSeconds(2025, 1, 2, 3, 4), TimePrecision::minute, false);
    AddFile(pRoot, "two\r\nlines.txt", 3, 1);
    AddFile(pRoot, "中文,名字.txt", 1536)->m_time =
        CModTime(CivilToSeconds(2024, 2, 29), TimePrecision::day, false);
    AddFile(pDir, "\xd6\xd0\xce\xc4.txt", 5368709120); // 中文.txt in GBK
    // Names a spreadsheet would take for formulas.
    AddFile(pRoot, "=HYPERLINK(\"http://x\",\"y\").txt");
    AddFile(pRoot, "+1.txt");
    AddFile(pRoot, "-rf.txt");
    AddFile(pRoot, "@cmd.txt");
    AddFile(pRoot, "\tTab.txt");
    AddFile(pRoot, "\rCR.txt");
    // A site with TLS from the first byte, entered with port 21.
    info.m_strHost = "s";
    info.m_nPort = 21;
    ASSERT_TRUE(m_pDoc->AddSite(info));
    CFTPSite* pTls = m_pDoc->FindSite("s@u");
    pTls->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::TLS, TlsMode::implicitTls); });
    AddFile(pTls->m_pRoot.get(), "t.txt");
    m_pDoc->NavigateTo(pRoot);
    ASSERT_TRUE(m_pDoc->Search("t")); // every file, and the folder: a result listing

    struct CRow
    {
        const char* pszType;
        const char* pszName;
        const char* pszCsvName; // nullptr: as pszName
        const char* pszRaw;     // nullptr: the name is UTF-8
        uint64_t nSize;
        bool bUnread;
        const char* pszAddress;
        const char* pszPath; // the server's bytes
        const char* pszUrl;
        const char* pszModified = nullptr; // nullptr: no time
    };
    // Never a password: other programs read these files, and anyone they
    // are passed to.
    const CRow rows[] = {
        {"dir", "dir, with comma", nullptr, nullptr, 0, true, "ftp://h:2121@u/dir, with comma",
         "/dir, with comma/", "ftp://u@h:2121/dir,%20with%20comma/"},
        {"file", "中文.txt", nullptr, "%D6%D0%CE%C4.txt", 5368709120, false,
         "ftp://h:2121@u/dir, with comma/中文.txt", "/dir, with comma/\xd6\xd0\xce\xc4.txt",
         "ftp://u@h:2121/dir,%20with%20comma/%D6%D0%CE%C4.txt"},
        {"file", "a,b.txt", nullptr, nullptr, 10, false, "ftp://h:2121@u/a,b.txt", "/a,b.txt",
         "ftp://u@h:2121/a,b.txt", "2026-12-09T10:23:05Z"},
        {"file", "say \"hi\".txt", nullptr, nullptr, 0, false, "ftp://h:2121@u/say \"hi\".txt",
         "/say \"hi\".txt", "ftp://u@h:2121/say%20%22hi%22.txt", "2025-01-02T03:04:00"},
        {"file", "two\r\nlines.txt", nullptr, nullptr, 3, true, "ftp://h:2121@u/two\r\nlines.txt",
         "/two\r\nlines.txt", "ftp://u@h:2121/two%0D%0Alines.txt"},
        {"file", "中文,名字.txt", nullptr, nullptr, 1536, false, "ftp://h:2121@u/中文,名字.txt",
         "/中文,名字.txt", "ftp://u@h:2121/%E4%B8%AD%E6%96%87,%E5%90%8D%E5%AD%97.txt",
         "2024-02-29"},
        {"file", "=HYPERLINK(\"http://x\",\"y\").txt", "'=HYPERLINK(\"http://x\",\"y\").txt",
         nullptr, 0, false, "ftp://h:2121@u/=HYPERLINK(\"http://x\",\"y\").txt",
         "/=HYPERLINK(\"http://x\",\"y\").txt",
         "ftp://u@h:2121/=HYPERLINK(%22http://x%22,%22y%22).txt"},
        {"file", "+1.txt", "'+1.txt", nullptr, 0, false, "ftp://h:2121@u/+1.txt", "/+1.txt",
         "ftp://u@h:2121/+1.txt"},
        {"file", "-rf.txt", "'-rf.txt", nullptr, 0, false, "ftp://h:2121@u/-rf.txt", "/-rf.txt",
         "ftp://u@h:2121/-rf.txt"},
        {"file", "@cmd.txt", "'@cmd.txt", nullptr, 0, false, "ftp://h:2121@u/@cmd.txt", "/@cmd.txt",
         "ftp://u@h:2121/@cmd.txt"},
        {"file", "\tTab.txt", "'\tTab.txt", nullptr, 0, false, "ftp://h:2121@u/\tTab.txt",
         "/\tTab.txt", "ftp://u@h:2121/%09Tab.txt"},
        {"file", "\rCR.txt", "'\rCR.txt", nullptr, 0, false, "ftp://h:2121@u/\rCR.txt", "/\rCR.txt",
         "ftp://u@h:2121/%0DCR.txt"},
        {"file", "t.txt", nullptr, nullptr, 0, false, "ftp://s@u/t.txt", "/t.txt",
         "ftps://u@s:990/t.txt"},
    };
    std::string strExpected;
    for (const CRow& row : rows)
    {
        CJsonLine line;
        line.Add("type", row.pszType).Add("name", row.pszName);
        if (row.pszCsvName != nullptr)
            line.Add("csv_name", row.pszCsvName);
        if (row.pszRaw != nullptr)
            line.Add("raw", row.pszRaw);
        line.Add("size", row.nSize)
            .Add("unread", row.bUnread)
            .Add("address", row.pszAddress)
            .Add("url", row.pszUrl)
            .Add("path_hex", Hex(row.pszPath))
            .Add("user", "u");
        if (row.pszModified != nullptr)
            line.Add("modified", row.pszModified);
        strExpected += line.Finish();
    }
    WriteFileBytes(m_dir / "expected.jsonl", strExpected);

    std::vector<CExportRow> exportRows = GetListingRows(*m_pDoc, true);
    ASSERT_EQ(exportRows.size(), std::size(rows));
    std::string strCommand =
        "/usr/bin/python3 '" + CheckerPath() + "' '" + (m_dir / "expected.jsonl") + "'";
    for (ExportFormat nFormat : {ExportFormat::csv, ExportFormat::json, ExportFormat::urls})
    {
        std::string strPath = m_dir / (std::string("export") + GetExportExtension(nFormat));
        std::string strError;
        ASSERT_TRUE(ExportToFile(strPath, exportRows, nFormat, &strError)) << strError;
        EXPECT_EQ(ReadFileBytes(strPath).find("p%40ss"), std::string::npos);
        strCommand += " '" + strPath + "'";
    }
    EXPECT_EQ(std::system(strCommand.c_str()), 0) << strCommand;

    // A file that cannot be written keeps what was there.
    std::string strError;
    std::filesystem::create_directories(m_dir / "blocked");
    WriteFileBytes(m_dir / "plain", "old");
    EXPECT_FALSE(ExportToFile(m_dir / "plain/x.csv", exportRows, ExportFormat::csv, &strError));
    EXPECT_FALSE(strError.empty());
    EXPECT_EQ(ReadFileBytes(m_dir / "plain"), "old");
}

// Someone who made an export private keeps it private when it is written
// again; a new one is an ordinary file.
TEST_F(DocTest, ExportKeepsTheModeOfTheFileItReplaces)
{
    AddFile(AddAnonSite("h")->m_pRoot.get(), "a.txt");
    m_pDoc->NavigateTo(m_pDoc->FindSite("h")->m_pRoot.get());
    mode_t nUmask = ::umask(0);
    ::umask(nUmask);
    struct
    {
        const char* pszName;
        int nExisting; // -1: no file yet
        mode_t nAfter;
    } rows[] = {
        {"private.csv", 0600, 0600},
        {"shared.csv", 0640, 0640},
        {"new.csv", -1, 0644 & ~nUmask},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        std::string strPath = m_dir / row.pszName;
        if (row.nExisting >= 0)
        {
            WriteFileBytes(strPath, "old");
            ASSERT_EQ(::chmod(strPath.c_str(), static_cast<mode_t>(row.nExisting)), 0);
        }
        std::string strError;
        ASSERT_TRUE(
            ExportToFile(strPath, GetListingRows(*m_pDoc, false), ExportFormat::csv, &strError))
            << strError;
        struct stat st = {};
        ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, row.nAfter);
        EXPECT_NE(ReadFileBytes(strPath), "old");
    }
}
} // namespace
