// Names kept as the server's bytes, read in their site's character set:
// search matches the text, addresses show and resolve the text, URLs carry
// the bytes.

#include "doc/DocFixture.h"
#include "doc/NodeAddress.h"

#include <filesystem>
#include <fstream>

#include "model/ChangeLog.h"

namespace
{
// GBK bytes of the names used below. 檔 is 99 6E and 網 BE 57: their second
// bytes are "n" and "W".
constexpr const char* GBK_SOFT = "\xc8\xed\xbc\xfe";          // 软件
constexpr const char* GBK_README = "README\xd6\xd0\xce\xc4";  // README中文
constexpr const char* GBK_FILE = "\x99\x6e\xb0\xb8.txt";      // 檔案.txt
constexpr const char* GBK_WEB = "\xbe\x57\xd5\xbe";           // 網站
constexpr const char* CP1251_FOLDER = "\xcf\xe0\xef\xea\xe0"; // Папка
constexpr const char* CP1251_FILE = "\xf4\xe0\xe9\xeb.txt";   // файл.txt

// gb:  软件/ {檔案.txt}  README中文/ {}  網站/ {}  中文.txt (UTF-8)   (auto)
// ru:  Папка/ {файл.txt}                                  (Windows-1251)
class CharsetTest : public DocTest
{
protected:
    void SetUp() override
    {
        DocTest::SetUp();
        m_pGb = AddAnonSite("gb");
        CFTPDir* pRoot = m_pGb->m_pRoot.get();
        m_pGbFile = AddFile(AddDir(pRoot, GBK_SOFT), GBK_FILE, 1536);
        AddDir(pRoot, GBK_README);
        AddDir(pRoot, GBK_WEB);
        AddFile(pRoot, "中文.txt");

        m_pRu = AddAnonSite("ru");
        m_pRu->UpdateSettings([](CSiteSettings& s)
                              { s.Set(CSiteSettings::CHARSET, "Windows-1251"); });
        AddFile(AddDir(m_pRu->m_pRoot.get(), CP1251_FOLDER), CP1251_FILE);
    }

    CFTPSite* m_pGb = nullptr;
    CFTPSite* m_pRu = nullptr;
    CFTPFile* m_pGbFile = nullptr;
};
} // namespace

TEST_F(CharsetTest, KeywordsMatchTheDecodedNamesUnderTheSearchRules)
{
    struct Row
    {
        const char* pszKeyword;
        Strings found; // display addresses, folders first
    } rows[] = {
        {"软件", {"ftp://gb/软件"}},
        {"中文", {"ftp://gb/README中文", "ftp://gb/中文.txt"}}, // GBK and UTF-8 names alike
        {"readme中", {"ftp://gb/README中文"}},                  // folders lower-cased as text
        {"README", {}},                                         // A-Z never matches a folder
        {"檔案", {"ftp://gb/软件/檔案.txt"}},
        // Second bytes of GBK characters are not letters of the name.
        {"n", {}},
        {"w", {}},
        {"папка", {}}, // Cyrillic is not lower-cased: only A-Z
        {"Папка", {"ftp://ru/Папка"}},
        {"йл", {"ftp://ru/Папка/файл.txt"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszKeyword);
        (void)m_pDoc->Search(row.pszKeyword);
        Strings found;
        for (CFTPDir* p : m_pDoc->m_foundDirs)
            found.push_back(GetDisplayAddress(*p));
        for (CFTPFile* p : m_pDoc->m_foundFiles)
            found.push_back(GetDisplayAddress(*p));
        EXPECT_EQ(found, row.found);
    }
}

TEST_F(CharsetTest, AddressesShowTextResolveBackAndUrlsCarryTheServersBytes)
{
    CFTPDir* pRuFolder = m_pRu->m_pRoot->m_dirList.at(0).get();
    CFTPFile* pRuFile = pRuFolder->m_fileList.at(0).get();
    struct Row
    {
        CObject* pEntry;
        bool bDir;
        const char* pszAddress;
        const char* pszUrl;
    } rows[] = {
        {m_pGbFile, false, "ftp://gb/软件/檔案.txt", "ftp://gb:21/%C8%ED%BC%FE/%99n%B0%B8.txt"},
        {m_pGbFile->m_pParent, true, "ftp://gb/软件", "ftp://gb:21/%C8%ED%BC%FE"},
        {pRuFile, false, "ftp://ru/Папка/файл.txt", "ftp://ru:21/%CF%E0%EF%EA%E0/%F4%E0%E9%EB.txt"},
        {m_pRu->m_pRoot.get(), true, "ftp://ru/", "ftp://ru:21/"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszAddress);
        std::string strShown = row.bDir ? GetDisplayAddress(*static_cast<CFTPDir*>(row.pEntry))
                                        : GetDisplayAddress(*static_cast<CFTPFile*>(row.pEntry));
        EXPECT_EQ(strShown, row.pszAddress);
        // Typed text, with or without "ftp://", and the stored bytes all
        // name the entry.
        const std::string strStored = row.bDir ? static_cast<CFTPDir*>(row.pEntry)->GetAddress()
                                               : static_cast<CFTPFile*>(row.pEntry)->GetAddress();
        for (const std::string& strTyped : {strShown, strShown.substr(6), strStored})
        {
            CEntryRef ref;
            ASSERT_EQ(ResolveAddress(*m_pDoc, strTyped, &ref), ResolveResult::found);
            EXPECT_EQ(row.bDir ? static_cast<CObject*>(ref.pDir) : ref.pFile, row.pEntry);
            EXPECT_EQ(GetEntryUrl(ref), row.pszUrl);
            EXPECT_EQ(m_pDoc->GetUrl(strTyped), row.pszUrl);
        }
    }
    // Nothing cached there: the typed text in the site's set.
    EXPECT_EQ(m_pDoc->GetUrl("ftp://ru/Новая"), "ftp://ru:21/%CD%EE%E2%E0%FF");
    CEntryRef ref;
    EXPECT_EQ(ResolveAddress(*m_pDoc, "ftp://gb/软件/nothing", &ref), ResolveResult::noEntry);
}

// Names that read the same as another entry's in their folder keep an
// address of their own, which leads back to them; names of ordinary folders
// read as before.
TEST_F(CharsetTest, EntriesThatReadAlikeKeepAddressesOfTheirOwn)
{
    const std::string strUtf8 = "中文.txt";
    const std::string strGbk = "\xd6\xd0\xce\xc4.txt"; // 中文.txt in GB18030
    CFTPDir* pRoot = m_pGb->m_pRoot.get();             // auto; holds a UTF-8 中文.txt already
    CFTPFile* pUtf8 = pRoot->m_fileList.back().get();
    CFTPFile* pGbk = AddFile(pRoot, strGbk);
    // Beside a name that is the first form of the GBK one's bytes.
    CFTPDir* pTwice = AddDir(pRoot, "twice");
    CFTPFile* pTwiceUtf8 = AddFile(pTwice, strUtf8);
    CFTPFile* pTwiceGbk = AddFile(pTwice, strGbk);
    CFTPFile* pLiteral = AddFile(pTwice, "%D6%D0%CE%C4.txt");
    // 0x80 is no GB18030 byte: it reads as Windows-1252's "€", as A2 E3 does.
    CFTPFile* pStandIn = AddFile(pRoot, "\x80.txt");
    CFTPFile* pEuro = AddFile(pRoot, "\xa2\xe3.txt");
    // A GBK folder beside a UTF-8 file of the same text.
    CFTPDir* pGbkDir = AddDir(pRoot, "\xd6\xd0\xce\xc4");
    CFTPFile* pUtf8File = AddFile(pRoot, "中文");
    CFTPFile* pBelow = AddFile(pGbkDir, "a.txt");
    // A GB18030 site: the UTF-8 bytes read as other characters, and are the
    // GBK name's text.
    CFTPSite* pGbSite = AddAnonSite("gbsite");
    pGbSite->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "GB18030"); });
    CFTPFile* pSetGbk = AddFile(pGbSite->m_pRoot.get(), strGbk);
    CFTPFile* pSetUtf8 = AddFile(pGbSite->m_pRoot.get(), strUtf8);

    struct Row
    {
        CObject* pEntry;
        const char* pszAddress;
        const char* pszUrl;
    } rows[] = {
        {pUtf8, "ftp://gb/中文.txt", "ftp://gb:21/%E4%B8%AD%E6%96%87.txt"},
        {pGbk, "ftp://gb/%D6%D0%CE%C4.txt", "ftp://gb:21/%D6%D0%CE%C4.txt"},
        {pTwiceUtf8, "ftp://gb/twice/中文.txt", "ftp://gb:21/twice/%E4%B8%AD%E6%96%87.txt"},
        {pTwiceGbk, "ftp://gb/twice/%D6%D0%CE%C4%2E%74%78%74",
         "ftp://gb:21/twice/%D6%D0%CE%C4.txt"},
        {pLiteral, "ftp://gb/twice/%D6%D0%CE%C4.txt", "ftp://gb:21/twice/%25D6%25D0%25CE%25C4.txt"},
        {pStandIn, "ftp://gb/%80.txt", "ftp://gb:21/%80.txt"},
        {pEuro, "ftp://gb/€.txt", "ftp://gb:21/%A2%E3.txt"},
        {pGbkDir, "ftp://gb/%D6%D0%CE%C4", "ftp://gb:21/%D6%D0%CE%C4"},
        {pUtf8File, "ftp://gb/中文", "ftp://gb:21/%E4%B8%AD%E6%96%87"},
        {pBelow, "ftp://gb/%D6%D0%CE%C4/a.txt", "ftp://gb:21/%D6%D0%CE%C4/a.txt"},
        {pSetGbk, "ftp://gbsite/%D6%D0%CE%C4.txt", "ftp://gbsite:21/%D6%D0%CE%C4.txt"},
        // 涓, a private-use character, 枃.
        {pSetUtf8, "ftp://gbsite/涓\xEE\x85\x9F枃.txt", "ftp://gbsite:21/%E4%B8%AD%E6%96%87.txt"},
        // Ordinary names read as before.
        {m_pGbFile, "ftp://gb/软件/檔案.txt", "ftp://gb:21/%C8%ED%BC%FE/%99n%B0%B8.txt"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszAddress);
        auto* pDir = dynamic_cast<CFTPDir*>(row.pEntry);
        auto* pFile = dynamic_cast<CFTPFile*>(row.pEntry);
        EXPECT_EQ(pDir != nullptr ? GetDisplayAddress(*pDir) : GetDisplayAddress(*pFile),
                  row.pszAddress);
        // What is shown, and the bytes the window hands on, lead back to it.
        const std::string strStored = pDir != nullptr ? pDir->GetAddress() : pFile->GetAddress();
        for (const std::string& strTyped : {std::string(row.pszAddress), strStored})
        {
            CEntryRef ref;
            ASSERT_EQ(ResolveAddress(*m_pDoc, strTyped, &ref), ResolveResult::found);
            EXPECT_EQ(pDir != nullptr ? static_cast<CObject*>(ref.pDir) : ref.pFile, row.pEntry);
            EXPECT_EQ(m_pDoc->GetUrl(strTyped), row.pszUrl);
        }
    }
}

TEST_F(CharsetTest, ChangesOfAFolderAreFoundAfterTheSiteChangedItsCharacterSet)
{
    // The log was written while the site read its names as Windows-1251;
    // the user then set GBK, so the folder's text is not what the lines say.
    m_pGb->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "Windows-1251"); });
    CNameCodec before = m_pGb->GetCodec();
    std::string strFolder = std::string("/") + GBK_SOFT;
    CChangeRecord record;
    record.strTime = "2026-01-01T00:00:01Z";
    record.strRun = "2026-01-01T00:00:00.000Z";
    record.nKind = ChangeKind::added;
    record.strPath = "/" + before.Decode(GBK_SOFT) + "/" + before.Decode(GBK_FILE);
    record.strRaw = EncodeRawPath(strFolder + "/" + GBK_FILE);
    record.nSize = 1536;
    std::filesystem::path log = GetChangeLogPath(GetProgramFolder(), m_pGb->GetKey());
    std::filesystem::create_directories(log.parent_path());
    std::ofstream(log) << FormatChangeLine(record);
    m_pGb->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "GBK"); });

    CFTPDir* pSoft = m_pGbFile->m_pParent;
    CFTPDir* pOther = m_pGb->m_pRoot->m_dirList[1].get();
    struct Row
    {
        CFTPDir* pDir;
        size_t nRows;
    } rows[] = {{pSoft, 1}, {m_pGb->m_pRoot.get(), 1}, {pOther, 0}};
    for (const Row& row : rows)
    {
        EXPECT_EQ(m_pDoc->ListChanges(row.pDir), row.nRows) << GetTextPath(*row.pDir);
        if (row.nRows == 1)
        {
            EXPECT_EQ(m_pDoc->m_foundChanges[0].pFile, m_pGbFile);
        }
    }
}
