// Entries and the site record: paths, node addresses, keys, folder names and
// the site.ds record.

#include <gtest/gtest.h>

#include <set>

#include "model/FTPSite.h"
#include "support/TreeBuilder.h"

namespace
{
std::unique_ptr<CFTPSite> MakeSite(const std::string& strHost, const std::string& strUser,
                                   const std::string& strPassword)
{
    auto pSite = std::make_unique<CFTPSite>();
    pSite->m_strHost = strHost;
    pSite->m_strUser = strUser;
    pSite->m_strPassword = strPassword;
    return pSite;
}
} // namespace

TEST(EntryTest, KeysOfAnonymousAndNamedSites)
{
    struct Case
    {
        const char* pszUser;
        const char* pszPassword;
        int32_t nPort;
        const char* pszKey;
        const char* pszPortlessKey;
    };
    const Case cases[] = {
        {"anonymous", ANON_PASSWORD, 21, "h", "h"},
        {"bob", ANON_PASSWORD, 21, "h", "h"}, // the password alone makes a site anonymous
        {"anonymous", "secret", 21, "h@anonymous", "h@anonymous"},
        {"bob", "secret", 21, "h@bob", "h@bob"},
        {"", "", 21, "h@", "h@"},
        // Another server on the same host is a site of its own.
        {"anonymous", ANON_PASSWORD, 2121, "h:2121", "h"},
        {"bob", "secret", 2121, "h:2121@bob", "h@bob"},
        {"bob", "secret", 990, "h:990@bob", "h@bob"},
        // A port site.ds holds beyond 16 bits is not cut in the key either.
        {"bob", "secret", 67668, "h:67668@bob", "h@bob"},
        {"bob", "secret", 0, "h:0@bob", "h@bob"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszKey);
        auto pSite = MakeSite("h", c.pszUser, c.pszPassword);
        pSite->m_nPort = c.nPort;
        EXPECT_EQ(pSite->GetKey(), c.pszKey);
        EXPECT_EQ(pSite->GetPortlessKey(), c.pszPortlessKey);
        EXPECT_EQ(GetSiteFolderPath("/prog", pSite->GetKey()),
                  std::string("/prog/Data/") + c.pszKey);
    }
}

TEST(EntryTest, PathsAndAddresses)
{
    auto pSite = MakeSite("ftp.example.org", "bob", "pw");
    CFTPDir* pRoot = pSite->m_pRoot.get();
    CFTPDir* pPub = AddDir(pRoot, "pub");
    CFTPDir* pX = AddDir(pPub, "x y");
    CFTPFile* pA = AddFile(pPub, "a.txt");
    CFTPFile* pReadme = AddFile(pRoot, "readme");

    EXPECT_EQ(pRoot->GetPath(), "/");
    EXPECT_EQ(pRoot->GetAddress(), "ftp://ftp.example.org@bob/");
    EXPECT_EQ(pPub->GetPath(), "/pub");
    EXPECT_EQ(pPub->GetAddress(), "ftp://ftp.example.org@bob/pub");
    EXPECT_EQ(pX->GetPath(), "/pub/x y");
    EXPECT_EQ(pX->GetAddress(), "ftp://ftp.example.org@bob/pub/x y");
    EXPECT_EQ(pA->GetAddress(), "ftp://ftp.example.org@bob/pub/a.txt");
    EXPECT_EQ(pReadme->GetAddress(), "ftp://ftp.example.org@bob/readme");
    EXPECT_EQ(pX->GetSite(), pSite.get());
    EXPECT_EQ(pA->GetSite(), pSite.get());
    EXPECT_EQ(pRoot->GetSite(), pSite.get());
    EXPECT_EQ(pX->GetDepth(), 2);
}

TEST(EntryTest, SiteFolderNamesNeverLeaveTheDataFolderNorCollide)
{
    struct Case
    {
        std::string strKey;
        std::string strFolder;
    };
    const Case cases[] = {
        {"ftp.example.org", "ftp.example.org"},
        {"h@user name", "h@user name"},
        {"h@../../etc", "h@..%2F..%2Fetc"},
        {"h@a/b", "h@a%2Fb"},
        {"h@a%2Fb", "h@a%252Fb"}, // "%" is escaped too, so the two differ
        {std::string("h@a\0b", 5), "h@a%00b"},
        {"h@a%00b", "h@a%2500b"},
        {".", "%2E"},
        {"%2E", "%252E"},
        {"..", "%2E%2E"},
        {"", "%"},
        {"%", "%25"},
    };
    std::set<std::string> names;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.strFolder);
        std::string strName = GetSiteFolderName(c.strKey);
        EXPECT_EQ(strName, c.strFolder);
        EXPECT_EQ(strName.find('/'), std::string::npos);
        EXPECT_NE(strName, ".");
        EXPECT_NE(strName, "..");
        names.insert(strName);
    }
    EXPECT_EQ(names.size(), std::size(cases));
}

TEST(EntryTest, SiteRecordRoundTripKeepsOnlyPersistedFields)
{
    auto pSite = MakeSite("host", "user", "pass");
    pSite->m_nPort = 70000; // above 16 bits: kept in the record
    pSite->m_bAnonUpdate = true;
    pSite->m_strNickname = "昵称";
    pSite->m_strRemark = "line 1\nline 2";
    pSite->m_bHasNew = true;
    pSite->SetStatus("更新成功", 2);

    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        pSite->Serialize(ar);
        ar.Close();
    }
    // host, password, user, port, flag, nickname, remark: in that order.
    std::vector<uint8_t> expected = {4, 'h', 'o', 's', 't', 4,    'p',  'a',  's',  's',
                                     4, 'u', 's', 'e', 'r', 0x70, 0x11, 0x01, 0x00, 1};
    ASSERT_GE(file.GetBytes().size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.GetBytes().begin()));

    CFTPSite loaded;
    CMemFile in(file.GetBytes());
    CArchive ar(&in, CArchive::load);
    loaded.Serialize(ar);
    EXPECT_EQ(loaded.m_strHost, "host");
    EXPECT_EQ(loaded.m_strPassword, "pass");
    EXPECT_EQ(loaded.m_strUser, "user");
    EXPECT_EQ(loaded.m_nPort, 70000);
    EXPECT_TRUE(loaded.m_bAnonUpdate);
    EXPECT_EQ(loaded.m_strNickname, "昵称");
    EXPECT_EQ(loaded.m_strRemark, "line 1\nline 2");
    EXPECT_FALSE(loaded.m_bHasNew);
    EXPECT_EQ(loaded.m_nStatus, 0);
    EXPECT_EQ(loaded.GetStatusText(), "未更新");
    EXPECT_EQ(loaded.m_nLoadState, 0);
    EXPECT_EQ(ar.GetRemaining(), 0u);
}

TEST(EntryTest, DeletingARootFreesTheWholeTree)
{
    // Run under AddressSanitizer: any entry left behind is reported as a leak.
    auto pSite = MakeSite("h", "u", "p");
    CFTPDir* pDir = pSite->m_pRoot.get();
    for (int i = 0; i < 50; ++i)
    {
        AddFile(pDir, "f" + std::to_string(i));
        pDir = AddDir(pDir, "d" + std::to_string(i));
    }
    CTreeCount count = CountTree(*pSite->m_pRoot);
    EXPECT_EQ(count.nDirs, 50u);
    EXPECT_EQ(count.nFiles, 50u);
    pSite.reset();
}
