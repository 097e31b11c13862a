#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include "doc/CloseSequence.h"
#include "doc/FakeDocHost.h"
#include "doc/TarnDoc.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"

namespace fs = std::filesystem;

namespace
{
unsigned FileMode(const std::string& strPath)
{
    struct stat st
    {
    };
    if (::stat(strPath.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 0777;
}

CSiteInfo Info(const std::string& strHost, const std::string& strUser,
               const std::string& strPassword, bool bAnonymous = false, int32_t nPort = 21)
{
    CSiteInfo info;
    info.m_strHost = strHost;
    info.m_strUser = strUser;
    info.m_strPassword = strPassword;
    info.m_bAnonymous = bAnonymous;
    info.m_nPort = nPort;
    return info;
}

std::string Str8(const std::string& s)
{
    return std::string(1, static_cast<char>(s.size())) + s;
}

// File permissions count while it lives, also for a test run as root: the
// thread's file-system user becomes "nobody", which drops root's override.
class CFileSystemUser
{
public:
    CFileSystemUser() : m_nOld(::setfsuid(65534)) {}
    ~CFileSystemUser() { ::setfsuid(m_nOld); }
    CFileSystemUser(const CFileSystemUser&) = delete;
    CFileSystemUser& operator=(const CFileSystemUser&) = delete;

private:
    int m_nOld;
};

class SiteStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { SetProgramFolder(m_dir.Path()); }

    std::string SiteDs() const { return m_dir / "site.ds"; }

    // A document that has read site.ds, as at start-up.
    std::unique_ptr<CTarnDoc> Start(CFakeDocHost& host)
    {
        auto pDoc = std::make_unique<CTarnDoc>(host);
        EXPECT_TRUE(pDoc->OnNewDocument());
        return pDoc;
    }

    std::vector<std::string> Keys(const CTarnDoc& doc)
    {
        std::vector<std::string> keys;
        for (const auto& p : doc.m_siteList)
            keys.push_back(p->GetKey());
        return keys;
    }

    CTempDir m_dir;
    CFakeDocHost m_host;
};
} // namespace

TEST_F(SiteStoreTest, FirstStartCreatesEmptyFileSecondStartReadsIt)
{
    {
        auto pDoc = Start(m_host);
        EXPECT_TRUE(pDoc->m_siteList.empty());
        ASSERT_TRUE(fs::exists(SiteDs()));
        EXPECT_EQ(fs::file_size(SiteDs()), 0u);
        EXPECT_EQ(FileMode(SiteDs()), 0600u);
    }
    CFakeDocHost host2;
    auto pDoc = Start(host2);
    EXPECT_TRUE(pDoc->m_siteList.empty());
    EXPECT_TRUE(m_host.m_messages.empty());
    EXPECT_TRUE(host2.m_messages.empty());
}

TEST_F(SiteStoreTest, TwoSitesGiveExactBytes)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h1", "", "", true)));
    CSiteInfo b = Info("h2", "u", "p", false, 2121);
    b.m_bAnonUpdate = true;
    b.m_strNickname = "n";
    b.m_strRemark = "r";
    ASSERT_TRUE(pDoc->AddSite(b));

    std::string strExpected = std::string("\x02\x00\xFF\xFF\x01\x00\x08\x00"
                                          "CFTPSite",
                                          16) +
                              Str8("h1") + Str8(ANON_PASSWORD) + Str8("anonymous") +
                              std::string("\x15\x00\x00\x00", 4) + std::string("\x00\x00\x00", 3) +
                              "\x01\x80" + Str8("h2") + Str8("p") + Str8("u") +
                              std::string("\x49\x08\x00\x00", 4) + "\x01" + Str8("n") + Str8("r");
    EXPECT_EQ(ReadFileBytes(SiteDs()), strExpected);
    EXPECT_EQ(FileMode(SiteDs()), 0600u);
}

TEST_F(SiteStoreTest, SeveralSitesRoundTripInOrder)
{
    auto pDoc = Start(m_host);
    for (int i = 0; i < 6; ++i)
    {
        CSiteInfo info = Info("host" + std::to_string(i), "user", "pw" + std::to_string(i),
                              i % 2 == 0, 21 + i * 70000);
        info.m_bAnonUpdate = i % 3 == 0;
        info.m_strNickname = "站点" + std::to_string(i);
        info.m_strRemark = "line one\r\nline two";
        ASSERT_TRUE(pDoc->AddSite(info));
    }
    CFakeDocHost host2;
    auto pDoc2 = Start(host2);
    ASSERT_EQ(pDoc2->m_siteList.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
    {
        const CFTPSite& a = *pDoc->m_siteList[i];
        const CFTPSite& b = *pDoc2->m_siteList[i];
        EXPECT_EQ(a.m_strHost, b.m_strHost);
        EXPECT_EQ(a.m_strUser, b.m_strUser);
        EXPECT_EQ(a.m_strPassword, b.m_strPassword);
        EXPECT_EQ(a.m_nPort, b.m_nPort);
        EXPECT_EQ(a.m_bAnonUpdate, b.m_bAnonUpdate);
        EXPECT_EQ(a.m_strNickname, b.m_strNickname);
        EXPECT_EQ(a.m_strRemark, b.m_strRemark);
        EXPECT_EQ(a.m_nLoadState.load(), 1); // added: nothing to load
        EXPECT_EQ(b.m_nLoadState.load(), 0); // read: loaded on first need
    }
    EXPECT_TRUE(host2.m_messages.empty());
}

TEST_F(SiteStoreTest, DuplicateRules)
{
    auto pDoc = Start(m_host);
    struct Row
    {
        CSiteInfo info;
        bool bAdded;
        std::string strKey;
    } rows[] = {
        {Info("ftp.a.org", "x", "y", true), true, "ftp.a.org"},
        {Info("ftp.a.org", "", "", true), false, ""},            // anonymous twice
        {Info("ftp.a.org", "bob", "pw"), true, "ftp.a.org@bob"}, // other user
        {Info("ftp.a.org", "bob", "other"), false, ""},          // same host and user
        {Info("FTP.A.ORG", "", "", true), true, "FTP.A.ORG"},    // letter case counts
        {Info("ftp.a.org", "Bob", "pw"), true, "ftp.a.org@Bob"},
        // Another server on the same host, same login: a site of its own.
        {Info("ftp.a.org", "bob", "pw", false, 2121), true, "ftp.a.org:2121@bob"},
        {Info("ftp.a.org", "", "", true, 2121), true, "ftp.a.org:2121"},
        {Info("ftp.a.org", "bob", "other", false, 2121), false, ""},
    };
    for (const Row& row : rows)
    {
        size_t nMessages = m_host.m_messages.size();
        EXPECT_EQ(pDoc->AddSite(row.info), row.bAdded) << row.info.m_strHost;
        if (row.bAdded)
        {
            EXPECT_EQ(pDoc->m_siteList.back()->GetKey(), row.strKey);
            EXPECT_EQ(m_host.m_messages.size(), nMessages);
        }
        else
        {
            ASSERT_EQ(m_host.m_messages.size(), nMessages + 1);
            EXPECT_EQ(m_host.m_messages.back(), "站点已有！");
        }
    }
    EXPECT_EQ(pDoc->m_siteList.size(), 6u);
    EXPECT_EQ(pDoc->FindSite("FTP.A.ORG"), pDoc->m_siteList[2].get());
    EXPECT_EQ(pDoc->FindSite("ftp.a.org:2121"), pDoc->m_siteList[5].get());
    EXPECT_EQ(pDoc->FindSite("ftp.A.org"), nullptr);
}

TEST_F(SiteStoreTest, ImportRules)
{
    // A line gives a site, or is skipped with a reason (pszHost null).
    struct Row
    {
        const char* pszLine;
        const char* pszHost;
        const char* pszUser;
        const char* pszPassword; // null: ANON_PASSWORD
        int32_t nPort;
        CImportNote::Kind nSkipped = CImportNote::lineTooLong;
    } rows[] = {
        {"ftp.plain.org", "ftp.plain.org", "anonymous", nullptr, 21},
        {"ftp://u:p@h1:2121/pub/x", "h1", "u", "p", 2121},
        {"@h2", "h2", "", "", 21},                              // empty credentials
        {"bob@h3", "h3", "bob", "", 21},                        // a user name without a password
        {"u:p:q@h4", "h4", "u", "p:q", 21},                     // user before the first ":"
        {"a@b@h5", "b@h5", "a", "", 21},                        // credentials before the first "@"
        {"h7:99x", "h7", "anonymous", nullptr, 99},             // the number at the start
        {"h8/pub/dir", "h8/pub/dir", "anonymous", nullptr, 21}, // path, no port
        {"  \t ftp://h9 \t", "h9", "anonymous", nullptr, 21},
        {"h1:2122", "h1", "anonymous", nullptr, 2122}, // another server on h1
        {"h10:65535", "h10", "anonymous", nullptr, 65535},
        {"h6:abc", nullptr, nullptr, nullptr, 0, CImportNote::badPort},
        {"h6:", nullptr, nullptr, nullptr, 0, CImportNote::badPort},
        {"h6:0", nullptr, nullptr, nullptr, 0, CImportNote::badPort},
        {"h6:65536", nullptr, nullptr, nullptr, 65536, CImportNote::badPort},
        {"u:p@h6:67668", nullptr, nullptr, nullptr, 67668, CImportNote::badPort},
        {"h6:99999999999", nullptr, nullptr, nullptr, INT32_MAX, CImportNote::badPort},
        {"ftp://", nullptr, nullptr, nullptr, 0, CImportNote::emptyHost},
        {"u:p@", nullptr, nullptr, nullptr, 0, CImportNote::emptyHost},
        {":21", nullptr, nullptr, nullptr, 0, CImportNote::emptyHost},
        {"h\x01x", nullptr, nullptr, nullptr, 0, CImportNote::controlCharacters},
        {"u:p\x7F@hx", nullptr, nullptr, nullptr, 0, CImportNote::controlCharacters},
        {"# ftp.commented.org", nullptr, nullptr, nullptr, 0, CImportNote::comment},
        {"  #", nullptr, nullptr, nullptr, 0, CImportNote::comment},
        {"ftp.plain.org", nullptr, nullptr, nullptr, 0, CImportNote::duplicate},
        {"ftp://u:other@h1:2121", nullptr, nullptr, nullptr, 0, CImportNote::duplicate},
    };
    std::string strFile = "\xEF\xBB\xBF";
    for (const Row& row : rows)
        strFile += std::string(row.pszLine) + "\r\n";
    // Blank lines give nothing and are not worth a word.
    strFile += "\n \t \n";
    strFile += "last.without.newline";
    WriteFileBytes(m_dir / "import.txt", strFile);

    auto pDoc = Start(m_host);
    CImportResult result;
    ASSERT_TRUE(pDoc->ImportSites(m_dir / "import.txt", &result));
    EXPECT_TRUE(m_host.m_messages.empty());
    size_t nSite = 0;
    size_t nNote = 0;
    for (size_t i = 0; i < std::size(rows); ++i)
    {
        const Row& row = rows[i];
        SCOPED_TRACE(row.pszLine);
        if (row.pszHost == nullptr)
        {
            ASSERT_LT(nNote, result.m_notes.size());
            const CImportNote& note = result.m_notes[nNote++];
            EXPECT_EQ(note.m_nLine, i + 1);
            EXPECT_EQ(note.m_nKind, row.nSkipped);
            if (row.nSkipped == CImportNote::badPort)
            {
                EXPECT_EQ(note.m_nPort, row.nPort);
            }
            continue;
        }
        ASSERT_LT(nSite, pDoc->m_siteList.size());
        const CFTPSite& site = *pDoc->m_siteList[nSite];
        EXPECT_EQ(result.m_addedKeys.at(nSite), site.GetKey());
        ++nSite;
        EXPECT_EQ(site.m_strHost, row.pszHost);
        EXPECT_EQ(site.m_strUser, row.pszUser);
        EXPECT_EQ(site.m_strPassword, row.pszPassword ? row.pszPassword : ANON_PASSWORD);
        EXPECT_EQ(site.m_nPort, row.nPort);
        EXPECT_TRUE(site.m_strNickname.empty());
        EXPECT_FALSE(site.m_bAnonUpdate);
        EXPECT_EQ(site.m_nLoadState.load(), 0);
    }
    EXPECT_EQ(nNote, result.m_notes.size());
    ASSERT_EQ(pDoc->m_siteList.size(), nSite + 1);
    EXPECT_EQ(pDoc->m_siteList.back()->m_strHost, "last.without.newline");

    // Saved once, and a second start reads the same list.
    CFakeDocHost host2;
    auto pDoc2 = Start(host2);
    EXPECT_EQ(Keys(*pDoc2), Keys(*pDoc));
}

TEST_F(SiteStoreTest, ImportReadsLineByLineWithinBounds)
{
    std::string strFile = "ok.example\n" + std::string(IMPORT_LINE_LIMIT + 1, 'x') + "\n" +
                          std::string(IMPORT_LINE_LIMIT, 'y') + "\n";
    WriteFileBytes(m_dir / "import.txt", strFile);
    auto pDoc = Start(m_host);
    CImportResult result;
    ASSERT_TRUE(pDoc->ImportSites(m_dir / "import.txt", &result));
    EXPECT_EQ(result.m_addedKeys,
              (std::vector<std::string>{"ok.example", std::string(IMPORT_LINE_LIMIT, 'y')}));
    ASSERT_EQ(result.m_notes.size(), 1u);
    EXPECT_EQ(result.m_notes[0].m_nLine, 2u);
    EXPECT_EQ(result.m_notes[0].m_nKind, CImportNote::lineTooLong);
    EXPECT_TRUE(m_host.m_messages.empty());

    // An endless line ends at the file limit, in bounded memory, changing nothing.
    CImportResult endless;
    EXPECT_FALSE(pDoc->ImportSites("/dev/zero", &endless));
    EXPECT_EQ(m_host.m_messages, std::vector<std::string>{IMPORT_TOO_LARGE});
    EXPECT_TRUE(endless.m_addedKeys.empty());
    EXPECT_EQ(pDoc->m_siteList.size(), 2u);
}

TEST(ImportSummaryTest, SaysHowManySitesCameAndWhichLinesWereSkippedAndWhy)
{
    auto notes = [](size_t nCount)
    {
        CImportResult result;
        result.m_addedKeys = {"a", "b"};
        for (size_t i = 0; i < nCount; ++i)
            result.m_notes.push_back(CImportNote{i + 1, CImportNote::emptyHost, 0});
        return result;
    };
    struct Row
    {
        const char* pszName;
        CImportResult result;
        std::string strText;
    } rows[] = {
        {"nothing skipped", notes(0), ""},
        {"every reason",
         CImportResult{{"k"},
                       {{1, CImportNote::lineTooLong, 0},
                        {2, CImportNote::emptyHost, 0},
                        {3, CImportNote::badPort, 70000},
                        {4, CImportNote::controlCharacters, 0},
                        {5, CImportNote::comment, 0},
                        {12, CImportNote::duplicate, 0}}},
         "已导入 1 个站点，跳过 6 行：\n"
         "第 1 行：超过 4096 字节\n"
         "第 2 行：没有主机名\n"
         "第 3 行：端口号 70000 不在 1-65535 之内\n"
         "第 4 行：含有控制字符\n"
         "第 5 行：注释\n"
         "第 12 行：站点已有"},
        {"no site at all", CImportResult{{}, {{7, CImportNote::badPort, 0}}},
         "已导入 0 个站点，跳过 1 行：\n第 7 行：端口号 0 不在 1-65535 之内"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        EXPECT_EQ(DescribeImport(row.result), row.strText);
    }

    // A long list names the first lines and counts the rest.
    std::string strLong = DescribeImport(notes(IMPORT_NOTES_SHOWN + 5));
    EXPECT_EQ(strLong.rfind("已导入 2 个站点，跳过 25 行：\n第 1 行：没有主机名\n", 0), 0u);
    EXPECT_NE(strLong.find("\n第 20 行：没有主机名\n……另有 5 行"), std::string::npos) << strLong;
    EXPECT_EQ(strLong.find("第 21 行"), std::string::npos);
}

TEST_F(SiteStoreTest, UnreadableSiteListIsLeftAloneAndNotRewritten)
{
    {
        auto pDoc = Start(m_host);
        ASSERT_TRUE(pDoc->AddSite(Info("h", "u", "p")));
    }
    const std::string strBytes = ReadFileBytes(SiteDs());
    fs::permissions(m_dir.Path(), fs::perms::all);
    WriteFileBytes(m_dir / "import.txt", "new.example\n");
    struct Row
    {
        const char* pszName;
        std::function<void()> spoil;
        std::function<void()> check;
    } rows[] = {
        {"no read permission", [&] { fs::permissions(SiteDs(), fs::perms(0222)); },
         [&] { EXPECT_EQ(ReadFileBytes(SiteDs()), strBytes); }},
        {"a folder",
         [&]
         {
             fs::remove(SiteDs());
             fs::create_directory(SiteDs());
         },
         [&] { EXPECT_TRUE(fs::is_directory(SiteDs())); }},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        row.spoil();
        CFakeDocHost host;
        {
            CFileSystemUser nobody;
            auto pDoc = Start(host);
            EXPECT_TRUE(pDoc->IsSiteListUnreadable());
            EXPECT_FALSE(pDoc->AddSite(Info("h2", "", "", true)));
            EXPECT_FALSE(pDoc->ImportSites(m_dir / "import.txt"));
            EXPECT_TRUE(pDoc->m_siteList.empty());
        }
        ASSERT_EQ(host.m_messages.size(), 3u);
        EXPECT_EQ(host.m_messages[0], "Failed to open document.");
        EXPECT_EQ(host.m_messages[1], SITE_LIST_UNREADABLE);
        EXPECT_EQ(host.m_messages[2], SITE_LIST_UNREADABLE);
        row.check();
        EXPECT_FALSE(fs::exists(SiteDs() + ".damaged"));
    }
}

TEST_F(SiteStoreTest, ImportOfUnreadableFileChangesNothing)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "", "", true)));
    std::string strBefore = ReadFileBytes(SiteDs());
    pDoc->ImportSites(m_dir / "missing.txt");
    pDoc->ImportSites(m_dir.Path()); // a folder
    EXPECT_EQ(m_host.m_messages,
              (std::vector<std::string>{"无法打开所选文件！", "无法打开所选文件！"}));
    EXPECT_EQ(pDoc->m_siteList.size(), 1u);
    EXPECT_EQ(ReadFileBytes(SiteDs()), strBefore);
}

TEST_F(SiteStoreTest, ModifyMovesTheDataFolderOnlyWhenTheKeyChanges)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "", "", true)));
    CFTPSite* pSite = pDoc->FindSite("h");
    fs::create_directories(m_dir / "Data/h");
    WriteFileBytes(m_dir / "Data/h/content.ct", "x");

    CSiteInfo keep = Info("h", "", "", true);
    keep.m_strNickname = "nick";
    ASSERT_TRUE(pDoc->ModifySite(pSite, keep));
    EXPECT_TRUE(fs::exists(m_dir / "Data/h/content.ct"));
    EXPECT_EQ(pSite->m_strNickname, "nick");

    pSite->UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "Big5"); });
    ASSERT_TRUE(pDoc->ModifySite(pSite, Info("h", "u", "p")));
    EXPECT_FALSE(fs::exists(m_dir / "Data/h"));
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/h@u/content.ct"), "x");
    EXPECT_EQ(pSite->GetKey(), "h@u");
    // The options go with the folder.
    EXPECT_EQ(CSiteOptions::Load(m_dir / "Data/h@u/options.ini").Format(), "charset=Big5\n");

    // A new port is a new key.
    ASSERT_TRUE(pDoc->ModifySite(pSite, Info("h", "u", "p", false, 2121)));
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/h:2121@u/content.ct"), "x");

    // A user name with "/" stays inside Data/.
    ASSERT_TRUE(pDoc->ModifySite(pSite, Info("h", "a/../b", "p")));
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/h@a%2F..%2Fb/content.ct"), "x");

    CFakeDocHost host2;
    auto pDoc2 = Start(host2);
    ASSERT_EQ(pDoc2->m_siteList.size(), 1u);
    EXPECT_EQ(pDoc2->m_siteList[0]->GetKey(), "h@a/../b");
}

// Before the port joined the key, a site on port 2121 kept its cache under
// "host@user": the first start finds it there and moves it, unless that
// folder is another site's or the new one exists; site.ds is not rewritten.
TEST_F(SiteStoreTest, AFolderMadeUnderThePortlessKeyMovesOnFirstStart)
{
    auto saveTree =
        [&](const std::string& strHost, const std::string& strUser, const std::string& strFile)
    {
        CFTPSite old; // as an older version had it: no port in the key
        old.m_strHost = strHost;
        old.m_strUser = strUser;
        old.m_strPassword = strUser.empty() ? ANON_PASSWORD : "p";
        AddFile(old.m_pRoot.get(), strFile, 1, 1);
        old.SaveTree(m_dir.Path());
    };
    {
        auto pDoc = Start(m_host);
        ASSERT_TRUE(pDoc->AddSite(Info("h", "u", "p", false, 2121)));
        ASSERT_TRUE(pDoc->AddSite(Info("g", "u", "p", false, 2121)));
        ASSERT_TRUE(pDoc->AddSite(Info("g", "u", "p", false, 21))); // owns "g@u"
        ASSERT_TRUE(pDoc->AddSite(Info("a", "", "", true, 990)));
    }
    saveTree("h", "u", "h.kept");
    saveTree("g", "u", "g.kept");
    saveTree("a", "", "a.old");
    fs::create_directories(m_dir / "Data/a:990");
    WriteFileBytes(m_dir / "Data/a:990/content.ct", "new");
    const std::string strSiteDs = ReadFileBytes(SiteDs());

    auto pDoc = Start(m_host);
    EXPECT_EQ(ReadFileBytes(SiteDs()), strSiteDs);
    EXPECT_FALSE(fs::exists(m_dir / "Data/h@u"));
    CFTPSite* pMoved = pDoc->FindSite("h:2121@u");
    ASSERT_NE(pMoved, nullptr);
    pMoved->EnsureLoaded();
    EXPECT_EQ(DescribeTree(*pMoved->m_pRoot), std::vector<std::string>{"f /h.kept 1 1"});

    EXPECT_FALSE(fs::exists(m_dir / "Data/g:2121@u"));
    pDoc->FindSite("g@u")->EnsureLoaded();
    EXPECT_EQ(DescribeTree(*pDoc->FindSite("g@u")->m_pRoot),
              std::vector<std::string>{"f /g.kept 1 1"});
    EXPECT_TRUE(fs::exists(m_dir / "Data/a/content.ct"));
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/a:990/content.ct"), "new");

    // An imported site picks up its old folder too.
    saveTree("i", "u", "i.kept");
    WriteFileBytes(m_dir / "import.txt", "u:p@i:2121\n");
    ASSERT_TRUE(pDoc->ImportSites(m_dir / "import.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/i@u"));
    CFTPSite* pImported = pDoc->FindSite("i:2121@u");
    ASSERT_NE(pImported, nullptr);
    pImported->EnsureLoaded();
    EXPECT_EQ(DescribeTree(*pImported->m_pRoot), std::vector<std::string>{"f /i.kept 1 1"});
}

TEST_F(SiteStoreTest, SiteThatIsUpdatingKeepsItsKeyAndStays)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "u", "p")));
    CFTPSite* pSite = pDoc->FindSite("h@u");
    pSite->SetStatus("正在等待更新...", 4);
    ++pSite->m_nEngineHold; // as the engine holds a queued site
    EXPECT_TRUE(CTarnDoc::IsSiteBusy(*pSite));

    CSiteInfo nick = Info("h", "u", "p");
    nick.m_strNickname = "only the name";
    EXPECT_TRUE(pDoc->ModifySite(pSite, nick));
    EXPECT_FALSE(pDoc->ModifySite(pSite, Info("h2", "u", "p")));
    EXPECT_FALSE(pDoc->DeleteSite("h@u"));
    EXPECT_EQ(m_host.m_messages, (std::vector<std::string>{"站点正在更新，请先终止更新！",
                                                           "站点正在更新，请先终止更新！"}));
    EXPECT_EQ(pSite->m_strHost, "h");
    EXPECT_EQ(pDoc->m_siteList.size(), 1u);

    pSite->SetStatus("更新成功", 2);
    --pSite->m_nEngineHold;
    EXPECT_TRUE(pDoc->DeleteSite("h@u"));
    EXPECT_TRUE(pDoc->m_siteList.empty());
}

TEST_F(SiteStoreTest, DeleteRemovesFilesAndOnlyAnEmptyFolder)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("a", "", "", true)));
    ASSERT_TRUE(pDoc->AddSite(Info("b", "", "", true)));
    ASSERT_TRUE(pDoc->AddSite(Info("c", "", "", true)));
    for (const char* psz : {"a", "b"})
    {
        fs::create_directories(m_dir / "Data" + "/" + psz);
        WriteFileBytes(m_dir / "Data" + "/" + psz + "/content.ct", "c");
        WriteFileBytes(m_dir / "Data" + "/" + psz + "/state.st", "s");
        WriteFileBytes(m_dir / "Data" + "/" + psz + "/options.ini", "charset=Big5\n");
        WriteFileBytes(m_dir / "Data" + "/" + psz + "/changes.log", "{}\n");
    }
    // What a crashed save of a process long gone left behind.
    WriteFileBytes(m_dir / "Data/a/content.ct.tmp999999999.0", "t");
    WriteFileBytes(m_dir / "Data/b/notes.txt", "mine");

    EXPECT_TRUE(pDoc->DeleteSite("a"));
    EXPECT_TRUE(pDoc->DeleteSite("b"));
    EXPECT_FALSE(pDoc->DeleteSite("nobody"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/a"));
    EXPECT_TRUE(fs::exists(m_dir / "Data/b/notes.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/b/content.ct"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/b/state.st"));
    EXPECT_FALSE(fs::exists(m_dir / "Data/b/options.ini"));
    EXPECT_EQ(Keys(*pDoc), (std::vector<std::string>{"c"}));

    CFakeDocHost host2;
    EXPECT_EQ(Keys(*Start(host2)), (std::vector<std::string>{"c"}));
}

TEST_F(SiteStoreTest, DeleteOfAKeyWithSlashesStaysInsideData)
{
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "../../x", "p")));
    // What the unescaped key would reach: <program folder>/x/state.st.
    fs::create_directories(m_dir / "Data/h@..");
    fs::create_directories(m_dir / "x");
    WriteFileBytes(m_dir / "x/state.st", "precious");
    std::string strEscaped = GetSiteFolderPath(m_dir.Path(), "h@../../x");
    fs::create_directories(strEscaped);
    WriteFileBytes(strEscaped + "/state.st", "s");

    EXPECT_TRUE(pDoc->DeleteSite("h@../../x"));
    EXPECT_EQ(ReadFileBytes(m_dir / "x/state.st"), "precious");
    EXPECT_FALSE(fs::exists(strEscaped));
}

TEST_F(SiteStoreTest, TruncatedSiteListKeepsTheSitesBeforeTheDamage)
{
    std::string strFull;
    std::vector<size_t> siteEnds; // offset just past each site
    {
        CTempDir other;
        SetProgramFolder(other.Path());
        CFakeDocHost host;
        auto pDoc = Start(host);
        for (const char* psz : {"one", "two", "three"})
        {
            ASSERT_TRUE(pDoc->AddSite(Info(psz, "user", "pw")));
            siteEnds.push_back(fs::file_size(other / "site.ds"));
        }
        strFull = ReadFileBytes(other / "site.ds");
        SetProgramFolder(m_dir.Path());
    }
    for (size_t nLength = 1; nLength < strFull.size(); ++nLength)
    {
        SCOPED_TRACE(nLength);
        fs::remove_all(m_dir.Path());
        fs::create_directories(m_dir.Path());
        std::string strDamaged = strFull.substr(0, nLength);
        WriteFileBytes(SiteDs(), strDamaged);

        CFakeDocHost host;
        auto pDoc = Start(host);
        size_t nKept = 0;
        while (nKept < siteEnds.size() && siteEnds[nKept] <= nLength)
            ++nKept;
        ASSERT_EQ(pDoc->m_siteList.size(), nKept);
        EXPECT_EQ(host.m_messages, (std::vector<std::string>{"Unexpected file format."}));

        ASSERT_TRUE(pDoc->AddSite(Info("four", "", "", true)));
        EXPECT_EQ(ReadFileBytes(SiteDs() + ".damaged"), strDamaged);
        EXPECT_EQ(FileMode(SiteDs() + ".damaged"), 0600u);
        CFakeDocHost host2;
        auto pDoc2 = Start(host2);
        EXPECT_EQ(pDoc2->m_siteList.size(), nKept + 1);
        EXPECT_TRUE(host2.m_messages.empty());
    }
}

TEST_F(SiteStoreTest, DamagedCopyNeverOverwritesAnEarlierOne)
{
    WriteFileBytes(SiteDs() + ".damaged", "first");
    WriteFileBytes(SiteDs() + ".damaged.1", "second");
    WriteFileBytes(SiteDs(), std::string("\x01\x00\xFF\xFF\x01\x00", 6));
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "", "", true)));
    ASSERT_TRUE(pDoc->AddSite(Info("i", "", "", true))); // the copy is made once
    EXPECT_EQ(ReadFileBytes(SiteDs() + ".damaged"), "first");
    EXPECT_EQ(ReadFileBytes(SiteDs() + ".damaged.1"), "second");
    EXPECT_EQ(ReadFileBytes(SiteDs() + ".damaged.2"), std::string("\x01\x00\xFF\xFF\x01\x00", 6));
    EXPECT_FALSE(fs::exists(SiteDs() + ".damaged.3"));
}

TEST_F(SiteStoreTest, DamageMessages)
{
    std::string strSite =
        Str8("h") + Str8("p") + Str8("u") + std::string(4, '\0') + '\0' + Str8("") + Str8("");
    struct Row
    {
        const char* pszName;
        std::string strBytes;
        size_t nKept;
        const char* pszMessage;
    } rows[] = {
        {"bad class",
         std::string("\x01\x00\xFF\xFF\x01\x00\x07\x00"
                     "CFTPDir",
                     15),
         0, "Unexpected file format."},
        {"bad schema",
         std::string("\x01\x00\xFF\xFF\x02\x00\x08\x00"
                     "CFTPSite",
                     16),
         0, "Unexpected file format."},
        {"bad index",
         std::string("\x02\x00\xFF\xFF\x01\x00\x08\x00"
                     "CFTPSite",
                     16) +
             strSite + "\x05\x80",
         1, "Unexpected file format."},
        {"huge string",
         std::string("\x01\x00\xFF\xFF\x01\x00\x08\x00"
                     "CFTPSite",
                     16) +
             std::string(7, '\xFF') + std::string(7, '\xFF') + "\x7F",
         0, "Failed to open document."},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.pszName);
        WriteFileBytes(SiteDs(), row.strBytes);
        CFakeDocHost host;
        auto pDoc = Start(host);
        EXPECT_EQ(pDoc->m_siteList.size(), row.nKept);
        EXPECT_EQ(host.m_messages, (std::vector<std::string>{row.pszMessage}));
    }
}

TEST_F(SiteStoreTest, UnwritableSiteListIsReported)
{
    auto pDoc = Start(m_host);
    SetProgramFolder(m_dir / "gone");
    EXPECT_TRUE(pDoc->AddSite(Info("h", "", "", true)));
    ASSERT_EQ(m_host.m_messages.size(), 1u);
    EXPECT_EQ(m_host.m_messages[0], "无法保存站点列表：No such file or directory");
    EXPECT_EQ(pDoc->m_siteList.size(), 1u); // kept for this run

    CFakeDocHost host2;
    auto pDoc2 = Start(host2);
    EXPECT_EQ(host2.m_messages, (std::vector<std::string>{"Failed to open document."}));
}

TEST_F(SiteStoreTest, SaveRestoresOwnerOnlyMode)
{
    WriteFileBytes(SiteDs(), "");
    fs::permissions(SiteDs(), fs::perms(0644));
    auto pDoc = Start(m_host);
    ASSERT_TRUE(pDoc->AddSite(Info("h", "", "", true)));
    EXPECT_EQ(FileMode(SiteDs()), 0600u);
    for (const auto& entry : fs::directory_iterator(m_dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
}

TEST_F(SiteStoreTest, ClosingReportsMarksThatCouldNotBeWrittenAndWritesTheRest)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "acts as another user, which needs root";
    auto pDoc = Start(m_host);
    for (const char* psz : {"stuck", "fine"})
    {
        ASSERT_TRUE(pDoc->AddSite(Info(psz, "", "", true)));
        AddFile(pDoc->FindSite(psz)->m_pRoot.get(), "f", 1, 1);
        pDoc->FindSite(psz)->m_bStateDirty = true;
    }
    // "stuck": its state.st belongs to root in a sticky folder, so another
    // user may write the new file but not rename it over the old one.
    fs::create_directories(m_dir / "Data/fine");
    pDoc->FindSite("stuck")->SaveState();
    fs::permissions(m_dir.Path(), fs::perms::all);
    fs::permissions(m_dir / "Data/stuck", fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(m_dir / "Data/fine", fs::perms::all);
    int nWaits = 0;
    {
        CFileSystemUser nobody;
        RunCloseSequence(*pDoc, [&](std::chrono::milliseconds) { ++nWaits; });
    }
    EXPECT_EQ(nWaits, 1); // no engine ran: only the last call for late notices
    ASSERT_EQ(m_host.m_messages.size(), 1u);
    EXPECT_EQ(m_host.m_messages[0].rfind("无法保存已读标记：" + (m_dir / "Data/stuck/state.st"), 0),
              0u)
        << m_host.m_messages[0];
    EXPECT_TRUE(pDoc->FindSite("stuck")->m_bStateDirty.load());
    EXPECT_FALSE(pDoc->FindSite("fine")->m_bStateDirty.load());
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/fine/state.st"), std::string("\x01\x00\x00\x00", 4));
}

TEST_F(SiteStoreTest, CloseWritesMarksOfDirtySitesAndWaitingChangeLinesOnly)
{
    auto pDoc = Start(m_host);
    fs::create_directories(m_dir / "Data"); // made by the first update
    for (const char* psz : {"clean", "dirty", "waiting"})
    {
        ASSERT_TRUE(pDoc->AddSite(Info(psz, "", "", true)));
        AddFile(pDoc->FindSite(psz)->m_pRoot.get(), "f", 1, 1);
    }
    pDoc->FindSite("dirty")->m_bStateDirty = true;
    // Lines a save on a full disk left waiting, with the tree they describe.
    const std::string strLine =
        R"({"time":"t","run":"r","kind":"added","path":"/f","folder":false,"size":1})"
        "\n";
    pDoc->FindSite("waiting")->m_unsavedChanges.AddLines(strLine);
    pDoc->OnCloseDocument();
    EXPECT_FALSE(fs::exists(m_dir / "Data/clean/state.st"));
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/dirty/state.st"), std::string("\x01\x00\x00\x00", 4));
    EXPECT_FALSE(pDoc->FindSite("dirty")->m_bStateDirty.load());
    EXPECT_EQ(ReadFileBytes(m_dir / "Data/waiting/changes.log"), strLine);
    EXPECT_TRUE(fs::exists(m_dir / "Data/waiting/content.ct"));
    EXPECT_TRUE(pDoc->FindSite("waiting")->m_unsavedChanges.IsEmpty());
    EXPECT_TRUE(m_host.m_messages.empty());
}
