// Names kept as the server's bytes, read in their site's character set:
// search matches the text, addresses show and resolve the text, URLs carry
// the bytes.

#include "doc/DocFixture.h"
#include "doc/NodeAddress.h"

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
