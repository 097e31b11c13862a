// tarn-cli end to end against the local test FTP server: update and listing,
// merge of a changed tree, search rules, read marks across restarts, and
// the update of one folder; a TLS site trusted on first use.

#include <algorithm>
#include <map>
#include <sys/time.h>

#include "cli/CliFixture.h"
#include "support/Vsftpd.h"

class CliEndToEndTest : public CliTest
{
protected:
    void ServeFirstTree()
    {
        Put("readme", "hello");
        Put("docs/a.txt", std::string(1536, 'a'));
        Put("docs/sub/deep.bin", std::string(3000, 'b'));
        Put("docs/with space.txt", "s");
        Put("中文目录/说明.txt", "cn");
        Put("pub/old/gone.txt", "g");
        Put("pub/keep.txt", "k");
        MakeDir("empty");
        Serve();
    }
};

TEST_F(CliEndToEndTest, TwoSitesUpdateAndLsRecursiveEqualsTheServedTree)
{
    ServeFirstTree();
    AddAnonymousSite();
    AddUserSite();

    CCliResult update = Cli({"update"});
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    // One line per site at the end, in list order.
    std::vector<std::string> lines = update.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], AnonKey() + "       更新成功");
    EXPECT_EQ(lines.back(), UserKey() + "  更新成功");

    for (const std::string& pszKey : {AnonKey(), UserKey()})
    {
        CCliResult ls = Json({"ls", "-R", std::string("ftp://") + pszKey + "/"});
        ASSERT_EQ(ls.nExit, 0) << ls.strErr;
        std::vector<CJsonObject> objects = Objects(ls);
        EXPECT_EQ(ListedTree(objects, pszKey), ServedTree()) << pszKey;
        // Pre-order: every entry comes after its folder, a folder's files after its sub-folders'
        // contents.
        std::set<std::string> seenDirs{std::string("ftp://") + pszKey};
        for (const CJsonObject& o : objects)
        {
            std::string strParent = o["address"].substr(0, o["address"].rfind('/'));
            EXPECT_TRUE(seenDirs.count(strParent) == 1) << o["address"];
            if (o["type"] == "dir")
                seenDirs.insert(o["address"]);
            EXPECT_EQ(o["unread"], "true"); // everything is new after the first update
        }
    }
    // Without -R: the folder's own entries, folders first; without "ftp://".
    CCliResult ls = Json({"ls", AnonKey() + "/docs"});
    std::vector<CJsonObject> objects = Objects(ls);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0]["type"], "dir");
    EXPECT_EQ(objects[0]["name"], "sub");
    // Text mode: the file list's size texts.
    CCliResult text = Cli({"ls", AnonKey() + "/docs"});
    EXPECT_NE(text.strOut.find("1.50K"), std::string::npos) << text.strOut;
    EXPECT_NE(text.strOut.find("1字节"), std::string::npos) << text.strOut;
}

TEST_F(CliEndToEndTest, SecondUpdateListsExactlyTheAddedEntriesAndDropsTheRemoved)
{
    ServeFirstTree();
    AddAnonymousSite();
    Update();
    ASSERT_EQ(Cli({"read", "--all"}).nExit, 0);

    Put("docs/new.txt", "new");
    Put("fresh/inside.txt", "i");              // a new folder: listed alone
    Put("docs/a.txt", std::string(5000, 'a')); // changed size
    std::filesystem::remove(m_served.Path() + "/readme");
    std::filesystem::remove_all(m_served.Path() + "/pub/old");
    CCliResult update = Json({"update"});
    ASSERT_EQ(update.nExit, 0) << update.strErr;

    CCliResult fresh = Json({"new"});
    ASSERT_EQ(fresh.nExit, 0);
    std::vector<CJsonObject> objects = Objects(fresh);
    EXPECT_EQ(Addresses(objects), (std::set<std::string>{"ftp://" + AnonKey() + "/fresh",
                                                         "ftp://" + AnonKey() + "/docs/new.txt"}));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["type"], "dir"); // folders first

    std::vector<CJsonObject> tree = Objects(Json({"ls", "-R", AnonKey()}));
    EXPECT_EQ(ListedTree(tree, AnonKey()), ServedTree());
    EXPECT_EQ(Cli({"ls", AnonKey() + "/pub/old"}).nExit, 1);
    CCliResult docs = Cli({"ls", AnonKey() + "/docs"});
    EXPECT_NE(docs.strOut.find("4.88K"), std::string::npos) << docs.strOut;

    // new below one folder.
    std::vector<CJsonObject> inDocs = Objects(Json({"new", "ftp://" + AnonKey() + "/docs"}));
    EXPECT_EQ(Addresses(inDocs), (std::set<std::string>{"ftp://" + AnonKey() + "/docs/new.txt"}));
}

TEST_F(CliEndToEndTest, SearchFollowsTheMatchingRules)
{
    Put("Docs/readme.TXT", "1");
    Put("Docs/Readme.txt", "2");
    Put("中文目录/中文.txt", "3");
    Put("other/plain", "4");
    Serve();
    AddAnonymousSite();
    Update();

    struct CRow
    {
        const char* pszKeyword;
        std::set<std::string> expected; // node paths
    };
    const CRow rows[] = {
        {"doc", {"/Docs"}},                                  // folders lower-cased
        {"Doc", {}},                                         // A-Z never matches a folder
        {"txt", {"/Docs/Readme.txt", "/中文目录/中文.txt"}}, // files as stored
        {"TXT", {"/Docs/readme.TXT"}},
        {"中文", {"/中文目录", "/中文目录/中文.txt"}},
        {"",
         {"/Docs", "/Docs/readme.TXT", "/Docs/Readme.txt", "/中文目录", "/中文目录/中文.txt",
          "/other", "/other/plain"}},
        {"#new", {"/Docs", "/中文目录", "/other"}}, // unread folders stand for their contents
    };
    for (const CRow& row : rows)
    {
        CCliResult r = Json({"search", row.pszKeyword});
        EXPECT_EQ(r.nExit, 0) << row.pszKeyword;
        std::set<std::string> found;
        bool bFilesStarted = false;
        for (const CJsonObject& o : Objects(r))
        {
            found.insert(o["address"].substr(std::string("ftp://" + AnonKey()).size()));
            bFilesStarted = bFilesStarted || o["type"] == "file";
            EXPECT_FALSE(bFilesStarted && o["type"] == "dir") << "folders come first";
        }
        EXPECT_EQ(found, row.expected) << "keyword '" << row.pszKeyword << "'";
        if (row.expected.empty())
        {
            EXPECT_NE(r.strErr.find("对不起，没有找到你要的文件！"), std::string::npos);
        }
    }
}

TEST_F(CliEndToEndTest, ReadMarksSurviveARestartAndSingleAddressesMarkOnlyThem)
{
    ServeFirstTree();
    AddAnonymousSite();
    Update();
    ASSERT_FALSE(Json({"new"}).strOut.empty());

    CCliResult read = Cli({"read", "--all"});
    ASSERT_EQ(read.nExit, 0) << read.strErr;
    // Each command is a new process: the marks came back from state.st.
    CCliResult after = Json({"new"});
    EXPECT_EQ(after.nExit, 0);
    EXPECT_EQ(after.strOut, "");
    EXPECT_EQ(Json({"search", "#new"}).strOut, "");

    Put("docs/n1.txt", "1");
    Put("docs/n2.txt", "2");
    Put("fresh/f.txt", "f");
    Update();
    ASSERT_EQ(Cli({"read", "ftp://" + AnonKey() + "/docs/n1.txt", AnonKey() + "/fresh"}).nExit, 0);
    EXPECT_EQ(Addresses(Objects(Json({"new"}))),
              (std::set<std::string>{"ftp://" + AnonKey() + "/docs/n2.txt"}));
    // The folder's contents were cleared too, not only its own mark.
    std::vector<CJsonObject> freshTree = Objects(Json({"ls", "-R", AnonKey() + "/fresh"}));
    ASSERT_EQ(freshTree.size(), 1u);
    EXPECT_EQ(freshTree[0]["unread"], "false");
    // ls never changes marks.
    EXPECT_EQ(Addresses(Objects(Json({"new"}))),
              (std::set<std::string>{"ftp://" + AnonKey() + "/docs/n2.txt"}));
    // A bad address marks nothing.
    EXPECT_EQ(Cli({"read", AnonKey() + "/docs/n2.txt", AnonKey() + "/nothing"}).nExit, 1);
    EXPECT_EQ(Objects(Json({"new"})).size(), 1u);
}

TEST_F(CliEndToEndTest, UpdateOfANodeAddressRecrawlsOnlyThatFolder)
{
    ServeFirstTree();
    AddAnonymousSite();
    AddUserSite();
    Update();
    ASSERT_EQ(Cli({"read", "--all"}).nExit, 0);
    Put("docs/sub/added.txt", "a");
    Put("pub/not-seen.txt", "n");
    m_pServer->ClearLog();

    CCliResult r = Json({"update", "ftp://" + AnonKey() + "/docs"});
    ASSERT_EQ(r.nExit, 0) << r.strErr;
    std::vector<std::string> listed = m_pServer->GetListedFolders();
    ASSERT_FALSE(listed.empty());
    for (const std::string& strFolder : listed)
        EXPECT_EQ(strFolder.rfind("/docs", 0), 0u) << strFolder;
    // The other site was not updated: one site's two connections (the
    // normal one and the one listing with STAT).
    EXPECT_EQ(m_pServer->CountSessions(), 2);
    std::vector<CJsonObject> objects = Objects(r);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects.back().m_keys, (std::vector<std::string>{"done", "total", "failed"}));
    EXPECT_EQ(objects.back()["total"], "1");
    EXPECT_EQ(Addresses(Objects(Json({"new", AnonKey()}))),
              (std::set<std::string>{"ftp://" + AnonKey() + "/docs/sub/added.txt"}));
    EXPECT_EQ(Cli({"ls", AnonKey() + "/pub"}).strOut.find("not-seen"), std::string::npos);
}

// A server that keeps names in GBK and Windows-1251 bytes, beside UTF-8
// ones: each site reads them in its own set, people type and read the text,
// URLs carry the bytes.
TEST_F(CliEndToEndTest, NamesInTheServersCharacterSetShowAsTextAndUrlsKeepTheBytes)
{
    const std::string strGbkDir = "\xd6\xd0\xce\xc4\xc4\xbf\xc2\xbc"; // 中文目录
    const std::string strGbkFile = "\xcb\xb5\xc3\xf7.txt";            // 说明.txt
    const std::string strRuDir = "\xcf\xe0\xef\xea\xe0";              // Папка
    Put(strGbkDir + "/" + strGbkFile, "gbk");
    Put(strGbkDir + "/sub/" + strGbkFile, "deep");
    Put("utf8目录/中文.txt", "utf8");
    Put(strRuDir + "/\xf4\xe0\xe9\xeb.txt", "ru"); // файл.txt
    Serve();
    AddAnonymousSite();
    CCliResult add = Cli({"add", "--host", "127.0.0.1", "--port", Port(), "--user", "user",
                          "--password", "pass", "--charset", "windows-1251", "--nickname",
                          "\xd5\xbe\xb5\xe3"}); // a nickname in GBK bytes: 站点
    ASSERT_EQ(add.nExit, 0) << add.strErr;
    Update();

    // Auto asks for UTF-8 on both of its connections (listing and control
    // channel); an explicit Windows-1251 site does not.
    std::vector<CTestFtpServer::CSession> sessions = m_pServer->GetSessions();
    ASSERT_EQ(sessions.size(), 4u);
    for (const CTestFtpServer::CSession& session : sessions)
    {
        int nOpts = 0;
        std::string strUser;
        for (const CTestFtpServer::CCommand& command : session.commands)
        {
            nOpts += command.strVerb == "OPTS" && command.strArgument == "UTF8 ON";
            if (command.strVerb == "USER")
                strUser = command.strArgument;
        }
        EXPECT_EQ(nOpts, strUser == "anonymous" ? 1 : 0) << strUser;
    }
    // Every folder was listed, the GBK ones by their own bytes.
    std::vector<std::string> listed = m_pServer->GetListedFolders();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "/" + strGbkDir + "/sub"), 2);

    struct CRow
    {
        std::vector<std::string> args;
        std::string strName;    // of the first entry
        std::string strRaw;     // "" when the name is UTF-8
        std::string strAddress; // of the first entry
    } rows[] = {
        {{"ls", AnonKey() + "/中文目录"}, "sub", "", "ftp://" + AnonKey() + "/中文目录/sub"},
        {{"ls", "ftp://" + AnonKey() + "/中文目录/sub"},
         "说明.txt",
         "%CB%B5%C3%F7.txt",
         "ftp://" + AnonKey() + "/中文目录/sub/说明.txt"},
        {{"ls", AnonKey() + "/utf8目录"},
         "中文.txt",
         "",
         "ftp://" + AnonKey() + "/utf8目录/中文.txt"},
        {{"search", "明"},
         "说明.txt",
         "%CB%B5%C3%F7.txt",
         "ftp://" + AnonKey() + "/中文目录/sub/说明.txt"},
        {{"ls", UserKey() + "/Папка"},
         "файл.txt",
         "%F4%E0%E9%EB.txt",
         "ftp://" + UserKey() + "/Папка/файл.txt"},
    };
    for (const CRow& row : rows)
    {
        std::vector<CJsonObject> objects = Objects(Json(row.args));
        ASSERT_FALSE(objects.empty()) << row.args[1];
        EXPECT_EQ(objects[0]["name"], row.strName);
        EXPECT_EQ(objects[0].m_values.count("raw") ? objects[0]["raw"] : "", row.strRaw);
        EXPECT_EQ(objects[0]["address"], row.strAddress);
        // Text output reads the same.
        std::string strText = Cli(row.args).strOut;
        EXPECT_NE(strText.find(row.strName), std::string::npos) << strText;
        EXPECT_NE(strText.find(row.strAddress), std::string::npos) << strText;
    }
    EXPECT_EQ(Objects(Json({"ls", "-R", AnonKey()})).size(), 8u); // the whole tree
    EXPECT_EQ(Cli({"url", AnonKey() + "/中文目录/sub/说明.txt"}).strOut,
              "ftp://127.0.0.1:" + Port() + "/%D6%D0%CE%C4%C4%BF%C2%BC/sub/%CB%B5%C3%F7.txt\n");

    // The nickname from site.ds, the character set from options.ini; a
    // damaged line there is reported once and stops nothing.
    std::string strOptions = m_data / "Data/" + UserKey() + "/options.ini";
    WriteFileBytes(strOptions, ReadFileBytes(strOptions) + "this line is damaged\n");
    CCliResult sites = Json({"sites"});
    EXPECT_EQ(sites.nExit, 0);
    std::vector<CJsonObject> siteObjects = Objects(sites);
    ASSERT_EQ(siteObjects.size(), 2u);
    EXPECT_EQ(siteObjects[0]["charset"], "auto");
    EXPECT_EQ(siteObjects[1]["charset"], "Windows-1251");
    EXPECT_EQ(siteObjects[1]["nickname"], "站点");
    size_t nWarning = sites.strErr.find("is not key=value");
    EXPECT_NE(nWarning, std::string::npos) << sites.strErr;
    EXPECT_EQ(sites.strErr.find("options.ini", nWarning + 1), std::string::npos) << sites.strErr;
    EXPECT_EQ(Cli({"edit", UserKey(), "--charset", "auto"}).nExit, 0);
    EXPECT_EQ(Objects(Json({"sites"}))[1]["charset"], "auto");
    EXPECT_EQ(Cli({"edit", UserKey(), "--charset", "EBCDIC"}).nExit, 2);
}

TEST_F(CliEndToEndTest, ListingModeIsKeptPerSiteAndAutoNotesWhatItFound)
{
    ServeFirstTree();
    AddAnonymousSite();
    std::string strOptions = m_data / (std::string("Data/") + AnonKey() + "/options.ini");
    // auto, the default, lists with STAT on this server and notes it.
    Update();
    EXPECT_GT(m_pServer->CountCommands("STAT"), 0);
    // What it found, not a choice (the statistics follow it).
    std::string strWritten = ReadFileBytes(strOptions);
    EXPECT_EQ(strWritten.rfind("listing_found=stat\n", 0), 0u) << strWritten;
    EXPECT_EQ(strWritten.find("listing="), std::string::npos) << strWritten;

    // A choice given once is kept for the next updates.
    m_pServer->ClearLog();
    CCliResult r = Cli({"update", "--listing", "list"});
    ASSERT_EQ(r.nExit, 0) << r.strErr;
    Update();
    EXPECT_EQ(m_pServer->CountCommands("STAT"), 0);
    EXPECT_GT(m_pServer->CountCommands("MLSD"), 0);
    EXPECT_NE(ReadFileBytes(strOptions).find("listing=list\n"), std::string::npos);
    EXPECT_EQ(Cli({"update", "--listing", "fast"}).nExit, 2);
}

TEST_F(CliEndToEndTest, PinOnFirstUseHoldsAcrossARekeyUntilANewKeyIsTrusted)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    ServeFirstTree();
    CTempDir certs;
    CTestCert first, second;
    ASSERT_TRUE(MakeSelfSignedCert(certs.Path(), "tarn.test", &first));
    ASSERT_TRUE(MakeSelfSignedCert(certs.Path(), "tarn.test", &second));
    auto serve = [&](const CTestCert& cert)
    {
        CTestVsftpd::COptions options;
        options.nTls = CTestVsftpd::Tls::explicitTls;
        options.strCertFile = cert.strCertFile;
        options.strKeyFile = cert.strKeyFile;
        return std::make_unique<CTestVsftpd>(m_served.Path(), options);
    };
    auto pServer = serve(first);
    const std::string strKey = "127.0.0.1:" + std::to_string(pServer->GetPort());
    ASSERT_EQ(Cli({"add", "--host", "127.0.0.1", "--port", std::to_string(pServer->GetPort()),
                   "--tls", "explicit", "--trust-on-first-use"})
                  .nExit,
              0);
    CCliResult r = Json({"update"});
    ASSERT_EQ(r.nExit, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("首次连接，已信任服务器证书 " + first.strPin), std::string::npos);
    std::set<std::string> cached = ListedTree(Objects(Json({"ls", "-R", strKey})), strKey);
    EXPECT_EQ(cached, ServedTree());

    // The server gets a new key; the site a new key of its own ("127.1" is
    // 127.0.0.1 by another name), which moves its folder and options.
    pServer = serve(second);
    const std::string strNewKey = "127.1:" + std::to_string(pServer->GetPort());
    ASSERT_EQ(Cli({"edit", strKey, "--host", "127.1", "--port", std::to_string(pServer->GetPort())})
                  .nExit,
              0);
    std::vector<CJsonObject> sites = Objects(Json({"sites"}));
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]["key"], strNewKey);
    EXPECT_EQ(sites[0]["tlsPin"], first.strPin);

    r = Cli({"update"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.strOut.find("已信任：" + first.strPin), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("服务器的：" + second.strPin), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("tarn-cli trust " + strNewKey), std::string::npos) << r.strOut;
    EXPECT_EQ(ListedTree(Objects(Json({"ls", "-R", strNewKey})), strNewKey), cached);

    // Off a terminal nothing is pinned without --yes.
    r = Cli({"trust", strNewKey});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.strOut.find("fingerprint: " + second.strPin), std::string::npos) << r.strOut;
    EXPECT_EQ(Objects(Json({"sites"}))[0]["tlsPin"], first.strPin);
    r = Cli({"trust", "--yes", strNewKey});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_EQ(Objects(Json({"sites"}))[0]["tlsPin"], second.strPin);
    r = Cli({"update"});
    EXPECT_EQ(r.nExit, 0) << r.strOut << r.strErr;
}

// What other programs are handed: a plain site's URL logs in with its
// password, a TLS site's never (the receiver would send it in clear), and
// exports carry none for any site.
TEST_F(CliEndToEndTest, UrlsOfTlsSitesAndExportsCarryNoPassword)
{
    ServeFirstTree();
    AddUserSite();
    Update();
    const std::string strFile = UserKey() + "/docs/a.txt";
    const std::string strHost = "127.0.0.1:" + Port();
    EXPECT_EQ(Cli({"url", strFile}).strOut, "ftp://user:pass@" + strHost + "/docs/a.txt\n");
    for (const char* pszFormat : {"urls", "csv", "json"})
    {
        std::string strOut = Cli({"ls", "-R", "--format", pszFormat, UserKey()}).strOut;
        EXPECT_NE(strOut.find("ftp://user@" + strHost + "/docs/a.txt"), std::string::npos)
            << strOut;
        EXPECT_EQ(strOut.find("pass"), std::string::npos) << strOut;
    }

    struct CRow
    {
        std::vector<std::string> edit;
        std::string strUrl;
        std::string strKey; // the site's key after the edit
    } rows[] = {
        {{"--tls", "explicit"}, "ftp://user@" + strHost + "/docs/a.txt", UserKey()},
        {{"--tls", "try"}, "ftp://user@" + strHost + "/docs/a.txt", UserKey()},
        // Implicit TLS on port 21 is reached on 990, and says so.
        {{"--tls", "implicit", "--port", "21"},
         "ftps://user@127.0.0.1:990/docs/a.txt",
         "127.0.0.1@user"},
    };
    std::string strKey = UserKey();
    for (CRow& row : rows)
    {
        row.edit.insert(row.edit.begin(), {"edit", strKey});
        ASSERT_EQ(Cli(row.edit).nExit, 0) << row.edit[2];
        strKey = row.strKey;
        const std::string strAddress = strKey + "/docs/a.txt";
        EXPECT_EQ(Cli({"url", strAddress}).strOut, row.strUrl + "\n");
        EXPECT_EQ(Objects(Json({"url", strAddress})).at(0)["url"], row.strUrl);
        std::string strOut = Cli({"ls", "--format", "urls", strKey + "/docs"}).strOut;
        EXPECT_NE(strOut.find(row.strUrl), std::string::npos) << strOut;
    }
}

// A server listing "中文.txt" twice, in GB18030 and in UTF-8: each has an
// address of its own, and url and read reach the one it names.
TEST_F(CliEndToEndTest, TwoNamesThatReadAlikeAreReachedEachByItsOwnAddress)
{
    Put("mix/中文.txt", "utf-8");
    Put("mix/\xd6\xd0\xce\xc4.txt", "gbk");
    Serve();
    AddAnonymousSite();
    Update();

    const std::string strUtf8 = "ftp://" + AnonKey() + "/mix/中文.txt";
    const std::string strGbk = "ftp://" + AnonKey() + "/mix/%D6%D0%CE%C4.txt";
    EXPECT_EQ(Addresses(Objects(Json({"ls", AnonKey() + "/mix"}))),
              (std::set<std::string>{strUtf8, strGbk}));
    const std::string strUrl = "ftp://127.0.0.1:" + Port() + "/mix/";
    EXPECT_EQ(Cli({"url", strUtf8}).strOut, strUrl + "%E4%B8%AD%E6%96%87.txt\n");
    EXPECT_EQ(Cli({"url", strGbk}).strOut, strUrl + "%D6%D0%CE%C4.txt\n");

    ASSERT_EQ(Cli({"read", strGbk}).nExit, 0);
    std::set<std::string> unread;
    for (const CJsonObject& o : Objects(Json({"ls", "-R", AnonKey()})))
        if (o["unread"] == "true")
            unread.insert(o["address"]);
    EXPECT_EQ(unread, (std::set<std::string>{"ftp://" + AnonKey() + "/mix", strUtf8}));
}

TEST_F(CliEndToEndTest, TrustSaysWhenACertificateHasExpired)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    ServeFirstTree();
    CTempDir certs;
    CTestCert expired;
    ASSERT_TRUE(MakeExpiredCert(certs.Path(), "tarn.test", &expired));
    CTestVsftpd::COptions options;
    options.nTls = CTestVsftpd::Tls::explicitTls;
    options.strCertFile = expired.strCertFile;
    options.strKeyFile = expired.strKeyFile;
    CTestVsftpd server(m_served.Path(), options);
    ASSERT_EQ(Cli({"add", "--host", "127.0.0.1", "--port", std::to_string(server.GetPort()),
                   "--tls", "try"})
                  .nExit,
              0);
    // The pin decides, and it is taken; nobody takes it unaware.
    CCliResult r = Cli({"trust", "--yes", "127.0.0.1:" + std::to_string(server.GetPort())});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_NE(r.strOut.find(" (expired)\nfingerprint: " + expired.strPin), std::string::npos)
        << r.strOut;
    std::vector<CJsonObject> sites = Objects(Json({"sites"}));
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0]["tlsPin"], expired.strPin);
    r = Json({"update"});
    EXPECT_EQ(r.nExit, 0) << r.strOut << r.strErr;
    EXPECT_NE(r.strOut.find("服务器证书已过期"), std::string::npos) << r.strOut;
}

TEST_F(CliEndToEndTest, FoldersTheServerRefusesAreReportedWithTheirPaths)
{
    Put("open/a.txt", "a");
    Put("__refuse_cwd__/kept.txt", "k");
    Put("more/__refuse_list__/x.txt", "x");
    Serve();
    AddAnonymousSite();
    // A first update finds them refused: nothing of theirs is cached.
    std::vector<CJsonObject> update = Objects(Json({"update"}));
    ASSERT_GE(update.size(), 2u);
    const CJsonObject& last = update[update.size() - 2];
    EXPECT_EQ(last["text"], "更新成功\n2 个目录无法进入，保留了原有条目");
    EXPECT_EQ(last["refused"], "2");
    EXPECT_EQ(update.front()["refused"], "0");

    std::vector<CJsonObject> stats = Objects(Json({"stats", AnonKey()}));
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0]["refused"], "2");
    EXPECT_EQ(stats[0].m_types.at("refused_paths"), 'a');
    EXPECT_EQ(stats[0]["refused_paths"], "/__refuse_cwd__\n/more/__refuse_list__");
    EXPECT_EQ(stats[0]["last_error"], "");
    CCliResult text = Cli({"stats", AnonKey()});
    EXPECT_NE(text.strOut.find("/more/__refuse_list__"), std::string::npos) << text.strOut;

    // Once the server lets them be read, the report goes.
    std::filesystem::rename(m_served.Path() + "/__refuse_cwd__", m_served.Path() + "/now_open");
    std::filesystem::rename(m_served.Path() + "/more/__refuse_list__",
                            m_served.Path() + "/more/listed");
    update = Objects(Json({"update"}));
    ASSERT_GE(update.size(), 2u);
    EXPECT_EQ(update[update.size() - 2]["text"], "更新成功");
    EXPECT_EQ(update[update.size() - 2]["refused"], "0");
    stats = Objects(Json({"stats", AnonKey()}));
    EXPECT_EQ(stats.at(0)["refused"], "0");
    EXPECT_EQ(stats.at(0)["refused_paths"], "");
}

// The servers' times through a real update, saved and loaded again by the
// next run: --json gives each entry's mtime, ls text a date column, and a
// dm: query finds by them.
TEST_F(CliEndToEndTest, TimesFromTheServerReachJsonTextAndQueries)
{
    Put("docs/old.txt", "o");
    Put("docs/recent.txt", "r");
    Serve();
    const std::string strDocs = m_served.Path() + "/docs";
    struct timeval old[2] = {{1552558987, 0}, {1552558987, 0}}; // 2019-03-14T10:23:07Z
    ASSERT_EQ(::utimes((strDocs + "/old.txt").c_str(), old), 0);
    AddAnonymousSite();
    Update();
    EXPECT_TRUE(std::filesystem::exists(m_data / ("Data/" + AnonKey() + "/times.bin")));

    std::map<std::string, std::string> times;
    for (const CJsonObject& o : Objects(Json({"ls", AnonKey() + "/docs"})))
        times[o["name"]] = o.m_values.count("mtime") ? o["mtime"] : "(none)";
    // The server lists with ls: an old file's day, a recent one's minute,
    // in the server's own clock (no "Z").
    EXPECT_EQ(times["old.txt"], "2019-03-14");
    EXPECT_EQ(times["recent.txt"].size(), 19u) << times["recent.txt"];
    EXPECT_TRUE(times["recent.txt"].ends_with(":00")) << times["recent.txt"];
    EXPECT_EQ(Objects(Json({"find", "dm:2019-03-14"})).size(), 2u); // the hit and "done"
    EXPECT_EQ(Objects(Json({"find", "dm:2019-03-14"})).at(0)["mtime"], "2019-03-14");
    // Text: the date as the file list shows it.
    std::string strText = Cli({"ls", AnonKey() + "/docs"}).strOut;
    EXPECT_NE(strText.find("old.txt     1字节  2019-03-14  "), std::string::npos) << strText;
}
