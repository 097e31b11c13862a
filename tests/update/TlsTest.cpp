// Updates over TLS against real vsftpd servers with certificates made here:
// the same cache as plain FTP, and each refusal with its own text and the
// cache untouched. TLS never quietly turns plain and the status tells the
// truth: options.ini that cannot be read, a man in the middle stripping
// "AUTH TLS" (tests/support/FtpProxy.h: what went out in clear) on the first
// or only on the listing connection, another key on the listing connection,
// "PROT P" refused (by the local test server), an expired pinned
// certificate. Skipped where vsftpd cannot run.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "net/TlsSettings.h"
#include "support/FtpProxy.h"
#include "support/FtpServer.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"
#include "support/Vsftpd.h"
#include "update/ListingPlan.h"
#include "update/SiteConnection.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Tls = CTestVsftpd::Tls;

namespace
{
class TlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!CTestVsftpd::IsAvailable())
            GTEST_SKIP() << "vsftpd cannot run here";
        SetProgramFolder(m_data.Path());
        g_bStopUpdate = 0;
        CSessionTimeouts timeouts;
        timeouts.nControlReceiveTimeout = 5000;
        timeouts.nDataReceiveTimeout = 5000;
        SetEngineTimeouts(timeouts);
        SetUpdateObserver(&m_observer);
        m_progress.SetTimerSwitch([this](bool bRun) { m_bTimerRunning = bRun; });

        fs::create_directories(m_served.Path() + "/中文 目录/sub");
        fs::create_directories(m_served.Path() + "/empty");
        std::ofstream(m_served.Path() + "/中文 目录/a.txt") << "aaa";
        std::ofstream(m_served.Path() + "/中文 目录/sub/b.bin") << std::string(70000, 'b');
        std::ofstream(m_served.Path() + "/readme") << "r";

        // A CA of our own, trusted in place of the system's.
        ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "Tarn Test CA", &m_ca));
        SetTlsCaBundle(m_ca.strCertFile);
    }

    void TearDown() override
    {
        SetTlsCaBundle("");
        AbortForClose();
        ShutdownEngine();
        m_observer.Drain();
        SetUpdateObserver(nullptr);
        SetEngineTimeouts(CSessionTimeouts{});
    }

    // bOptional: TLS offered, not required, and anonymous logins asked for
    // a password (what a man in the middle wants).
    std::unique_ptr<CTestVsftpd> Serve(Tls nTls, const CTestCert& cert, bool bOptional = false)
    {
        CTestVsftpd::COptions options;
        options.nTls = nTls;
        options.strCertFile = cert.strCertFile;
        options.strKeyFile = cert.strKeyFile;
        options.bTlsOptional = bOptional;
        options.bAskPassword = bOptional;
        auto pServer = std::make_unique<CTestVsftpd>(m_served.Path(), options);
        EXPECT_NE(pServer->GetPort(), 0);
        return pServer;
    }

    // A site of strUser, alone in the data folder, its options not read yet.
    // It lives until the engine is shut down: a worker lets go of its site
    // after the run has ended.
    CFTPSite* NewSite(uint16_t nPort, const std::string& strUser = "anonymous",
                      const std::string& strPassword = ANON_PASSWORD)
    {
        fs::remove_all(m_data.Path() + "/Data");
        m_sites.push_back(std::make_unique<CFTPSite>());
        CFTPSite* pSite = m_sites.back().get();
        pSite->m_strHost = "127.0.0.1";
        pSite->m_nPort = nPort;
        pSite->m_strUser = strUser;
        pSite->m_strPassword = strPassword;
        pSite->m_nLoadState = 1;
        return pSite;
    }

    // An anonymous site with options of its own only.
    CFTPSite* MakeSite(uint16_t nPort, const char* pszTls, const char* pszListing)
    {
        ListingMode nListing = ListingMode::automatic;
        TlsMode nTls = TlsMode::off;
        EXPECT_TRUE(ParseListingMode(pszListing, &nListing) && ParseTlsMode(pszTls, &nTls));
        return MakeSite(NewSite(nPort), nTls, nListing, "");
    }
    CFTPSite* MakeSite(CFTPSite* pSite, TlsMode nTls, ListingMode nListing,
                       const std::string& strPin)
    {
        pSite->UpdateSettings(
            [&](CSiteSettings& settings)
            {
                settings.Set(CSiteSettings::LISTING, nListing);
                settings.Set(CSiteSettings::TLS, nTls);
                settings.Set(CSiteSettings::TLS_PIN, strPin);
            });
        return pSite;
    }

    // Updates the one site to the end; its status text.
    std::string Update(CFTPSite* pSite)
    {
        std::vector<std::unique_ptr<CFTPSite>> sites;
        for (auto& p : m_sites)
        {
            if (p.get() == pSite)
                sites.push_back(std::move(p));
        }
        UpdateAll(sites, m_progress);
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline)
        {
            m_progress.OnTimer();
            if (!m_bTimerRunning)
                break;
            std::this_thread::sleep_for(20ms);
        }
        m_observer.Drain();
        for (auto& p : m_sites)
        {
            if (!p)
                p = std::move(sites[0]);
        }
        return pSite->GetStatusText();
    }

    CTempDir m_data;
    CTempDir m_served;
    CTempDir m_certs;
    CTestCert m_ca;
    std::vector<std::unique_ptr<CFTPSite>> m_sites;
    CRecordingObserver m_observer;
    CUpdateProgress m_progress;
    bool m_bTimerRunning = false;
};
} // namespace

TEST_F(TlsTest, ProtectedUpdatesCacheWhatAPlainOneDoes)
{
    CTestCert cert;
    ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "127.0.0.1", "IP:127.0.0.1", &cert));
    auto pPlainServer = Serve(Tls::none, cert);
    auto pPlain = MakeSite(pPlainServer->GetPort(), TLS_OFF, LISTING_LIST);
    ASSERT_EQ(Update(pPlain), "更新成功");
    std::vector<std::string> plainTree = DescribeTree(*pPlain->m_pRoot);
    ASSERT_EQ(plainTree.size(), 6u);

    struct CCase
    {
        Tls nServer;
        const char* pszSite;
        const char* pszListing; // list: a protected data connection per folder
        const char* pszStatus;
    } cases[] = {
        {Tls::explicitTls, TLS_EXPLICIT, LISTING_LIST, "更新成功"},
        {Tls::explicitTls, TLS_EXPLICIT, LISTING_STAT, "更新成功"},
        {Tls::implicitTls, TLS_IMPLICIT, LISTING_LIST, "更新成功"},
        {Tls::implicitTls, TLS_IMPLICIT, LISTING_STAT, "更新成功"},
        {Tls::explicitTls, TLS_TRY, LISTING_LIST, "更新成功\n已使用 TLS 加密连接"},
        {Tls::none, TLS_TRY, LISTING_LIST, "更新成功\n服务器不支持 TLS，已使用未加密的连接"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(std::string(c.pszSite) + " " + c.pszListing);
        auto pServer = c.nServer == Tls::none ? nullptr : Serve(c.nServer, cert);
        auto pSite =
            MakeSite((pServer ? pServer : pPlainServer)->GetPort(), c.pszSite, c.pszListing);
        EXPECT_EQ(Update(pSite), c.pszStatus);
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot), plainTree);
        // A CA-checked site never gets a pin of its own.
        EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::TLS_PIN), "");
    }
}

TEST_F(TlsTest, RefusedConnectionsSayWhyAndKeepTheCache)
{
    CTestCert selfSigned, otherName, good;
    ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "127.0.0.1", &selfSigned));
    ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "other.test", "DNS:other.test", &otherName));
    ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "127.0.0.1", "IP:127.0.0.1", &good));

    struct CCase
    {
        const char* pszName;
        Tls nServer;
        const CTestCert& cert;
        const char* pszSite;
        std::string strPin;             // the site's tls_pin
        std::vector<std::string> texts; // each in the status, after "更新失败:\n"
    } cases[] = {
        // clang-format off
        {"explicit to a plain server", Tls::none, good, TLS_EXPLICIT, "",
         {"服务器不支持 TLS 加密（拒绝了 AUTH TLS），密码没有发送"}},
        {"self-signed", Tls::explicitTls, selfSigned, TLS_EXPLICIT, "",
         {"服务器证书不受信任（自签名证书）\n证书指纹：" + selfSigned.strPin, "tarn-cli trust"}},
        {"try does not fall back over a bad certificate", Tls::explicitTls, selfSigned, TLS_TRY, "",
         {"服务器证书不受信任（自签名证书）"}},
        {"name mismatch", Tls::explicitTls, otherName, TLS_EXPLICIT, "",
         {"服务器证书与主机名 127.0.0.1 不符\n证书指纹：" + otherName.strPin}},
        {"changed key", Tls::implicitTls, good, TLS_IMPLICIT, selfSigned.strPin,
         {"已信任：" + selfSigned.strPin + "\n服务器的：" + good.strPin, "tarn-cli trust"}},
        {"implicit to an explicit server", Tls::explicitTls, good, TLS_IMPLICIT, "",
         {"TLS 握手失败"}},
        // Neither ignored nor replaced by the next key seen.
        {"damaged pin", Tls::explicitTls, good, TLS_EXPLICIT, "sha256//AAAA",
         {"tls_pin 无法识别：sha256//AAAA"}},
        // clang-format on
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        auto pServer = Serve(c.nServer, c.cert);
        auto pSite = MakeSite(pServer->GetPort(), c.pszSite, LISTING_AUTO);
        if (!c.strPin.empty())
            pSite->UpdateSettings([&](CSiteSettings& s)
                                  { s.Set(CSiteSettings::TLS_PIN, c.strPin); });
        AddFile(AddDir(pSite->m_pRoot.get(), "kept"), "kept.txt", 7);
        std::vector<std::string> before = DescribeTree(*pSite->m_pRoot);

        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
        for (const std::string& strText : c.texts)
            EXPECT_NE(strStatus.find(strText), std::string::npos) << strStatus;
        EXPECT_EQ(DescribeTree(*pSite->m_pRoot), before);
        EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::TLS_PIN), c.strPin);
        // The password waits for the protected channel, and no login at all
        // follows a refused certificate.
        EXPECT_EQ(pServer->ReadLog().find("\"PASS"), std::string::npos);
    }
}

TEST_F(TlsTest, CertificateFetchedForTrustReadsTheKeyWithoutLoggingIn)
{
    CTestCert selfSigned;
    ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "127.0.0.1", &selfSigned));
    for (Tls nTls : {Tls::explicitTls, Tls::implicitTls})
    {
        auto pServer = Serve(nTls, selfSigned);
        auto pSite = MakeSite(pServer->GetPort(), nTls == Tls::explicitTls ? TLS_TRY : TLS_IMPLICIT,
                              LISTING_AUTO);
        CTlsCertificate cert;
        std::string strError;
        ASSERT_TRUE(FetchSiteCertificate(*pSite, &cert, &strError)) << strError;
        EXPECT_EQ(cert.strPin, selfSigned.strPin);
        EXPECT_NE(cert.strSubject.find("127.0.0.1"), std::string::npos) << cert.strSubject;
        EXPECT_EQ(pServer->ReadLog().find("\"USER"), std::string::npos);

        ASSERT_TRUE(TrustSiteCertificate(*pSite, cert.strPin));
        EXPECT_EQ(Update(pSite).rfind("更新成功", 0), 0u);
        EXPECT_EQ(pSite->m_pRoot->m_dirList.size(), 2u);
    }
}

TEST_F(TlsTest, OptionsThatCannotBeReadFailTheUpdateBeforeAnyLogin)
{
    // The local test server, plain: a login without TLS would succeed.
    CTestFtpServer server(m_served.Path());
    const std::string strPath =
        GetSiteFolderPath(m_data.Path(),
                          "127.0.0.1:" + std::to_string(server.GetPort()) + "@user") +
        "/options.ini";
    const std::string strLarge = "tls=explicit\n" + std::string(MAX_OPTIONS_FILE_SIZE, '#') + "\n";
    struct CCase
    {
        const char* pszText;   // options.ini; null: a folder in its place (an I/O error)
        const char* pszStatus; // after "更新失败:\n"
    } cases[] = {
        {strLarge.c_str(), "站点选项无法读取："},
        {nullptr, "站点选项无法读取："},
        // An empty or unknown mode is explicit.
        {"tls=\n", "服务器不支持 TLS 加密（拒绝了 AUTH TLS），密码没有发送"},
        {"tls=quantum\n", "服务器不支持 TLS 加密（拒绝了 AUTH TLS），密码没有发送"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszStatus);
        server.ClearLog();
        CFTPSite* pSite = NewSite(server.GetPort(), server.GetUser(), server.GetPassword());
        fs::create_directories(fs::path(strPath).parent_path());
        if (c.pszText != nullptr)
            WriteFileBytes(strPath, c.pszText);
        else
            fs::create_directory(strPath);

        EXPECT_EQ(Update(pSite),
                  std::string("更新失败:\n") + c.pszStatus +
                      (c.pszText == strLarge.c_str() || c.pszText == nullptr
                           ? strPath + ": " + (c.pszText ? "File too large" : "Is a directory")
                           : ""));
        EXPECT_EQ(server.CountCommands("PASS"), 0);
        // Nothing, not even the statistics, replaced what could not be read.
        if (c.pszText == nullptr)
            EXPECT_TRUE(fs::is_directory(strPath));
        else
            EXPECT_EQ(ReadFileBytes(strPath).rfind(c.pszText, 0), 0u);
    }
}

TEST_F(TlsTest, StrippedAuthTlsNeverGetsThePasswordOnAnyConnection)
{
    CTestCert cert;
    ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "127.0.0.1", "IP:127.0.0.1", &cert));
    auto pServer = Serve(Tls::explicitTls, cert, true);
    const uint16_t nPort = pServer->GetPort();
    struct CCase
    {
        const char* pszName;
        std::vector<CTestFtpProxy::CLeg> legs;
        TlsMode nTls;
        bool bPinned;
        const char* pszStatus; // in the status, after "更新失败:\n"
    } cases[] = {
        // A pinned key leaves "try" no way back to plain FTP.
        {"every connection, try with a pin",
         {{nPort, true}},
         TlsMode::tryTls,
         true,
         "服务器不支持 TLS 加密（拒绝了 AUTH TLS），密码没有发送"},
        // The listing connection speaks TLS once the first one does.
        {"the listing connection, try",
         {{nPort, false}, {nPort, true}},
         TlsMode::tryTls,
         false,
         "列目录的第二个连接没能像第一个连接那样加密登录，可能有人在中间拦截"},
        {"the listing connection, try with a pin",
         {{nPort, false}, {nPort, true}},
         TlsMode::tryTls,
         true,
         "拒绝了 AUTH TLS"},
        {"the listing connection, explicit",
         {{nPort, false}, {nPort, true}},
         TlsMode::explicitTls,
         false,
         "拒绝了 AUTH TLS"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CTestFtpProxy proxy(c.legs);
        ASSERT_NE(proxy.GetPort(), 0);
        // A real password, which vsftpd asks even of "anonymous".
        CFTPSite* pSite = MakeSite(NewSite(proxy.GetPort(), "anonymous", "secret"), c.nTls,
                                   ListingMode::stat, c.bPinned ? cert.strPin : "");

        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
        EXPECT_NE(strStatus.find(c.pszStatus), std::string::npos) << strStatus;
        EXPECT_FALSE(proxy.SawPasswordInClear());
        EXPECT_TRUE(pSite->m_pRoot->m_dirList.empty());
    }
}

TEST_F(TlsTest, AnotherKeyOnTheListingConnectionFailsAsOnTheFirst)
{
    CTestCert cert, other;
    ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "127.0.0.1", &cert));
    ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "127.0.0.1", &other));
    auto pServer = Serve(Tls::explicitTls, cert);
    auto pImpostor = Serve(Tls::explicitTls, other);
    CTestFtpProxy proxy({{pServer->GetPort(), false}, {pImpostor->GetPort(), false}});
    CFTPSite* pSite =
        MakeSite(NewSite(proxy.GetPort()), TlsMode::explicitTls, ListingMode::stat, cert.strPin);

    std::string strStatus = Update(pSite);
    EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
    EXPECT_NE(strStatus.find("已信任：" + cert.strPin + "\n服务器的：" + other.strPin),
              std::string::npos)
        << strStatus;
    EXPECT_NE(strStatus.find("tarn-cli trust"), std::string::npos) << strStatus;
    EXPECT_EQ(pImpostor->ReadLog().find("\"USER"), std::string::npos);
    EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::TLS_PIN), cert.strPin);
}

TEST_F(TlsTest, RefusedProtPIsToldAsItIs)
{
    CTestCert cert;
    ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "127.0.0.1", "IP:127.0.0.1", &cert));
    // vsftpd always takes PROT P; the local test server can refuse it.
    CTestFtpServer::COptions options;
    options.strTlsCertFile = cert.strCertFile;
    options.strTlsKeyFile = cert.strKeyFile;
    options.bRefuseProt = true;
    CTestFtpServer server(m_served.Path(), options);
    struct CCase
    {
        TlsMode nTls;
        bool bPinned;
        const char* pszStatus;
    } cases[] = {
        {TlsMode::explicitTls, false,
         "更新失败:\n服务器拒绝加密数据连接（拒绝了 PROT P），没有列出目录；登录（含密码）已通过 "
         "TLS 加密发送"},
        {TlsMode::tryTls, true, "更新失败:\n服务器拒绝加密数据连接"}, // as explicit
        {TlsMode::tryTls, false,
         "更新成功\n登录已使用 TLS 加密，但服务器拒绝加密数据连接（PROT P），"
         "经数据连接的目录列表未加密"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszStatus);
        server.ClearLog();
        CFTPSite* pSite =
            MakeSite(NewSite(server.GetPort(), server.GetUser(), server.GetPassword()), c.nTls,
                     ListingMode::list, c.bPinned ? cert.strPin : "");
        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind(c.pszStatus, 0), 0u) << strStatus;
        // Its one PASS went over TLS.
        std::vector<CTestFtpServer::CCommand> passwords = server.GetCommands("PASS");
        ASSERT_EQ(passwords.size(), 1u);
        EXPECT_EQ(passwords[0].strArgument, "******");
    }
}

TEST_F(TlsTest, AnExpiredPinnedCertificateIsAcceptedAndSaidToBeExpired)
{
    CTestCert expired;
    ASSERT_TRUE(MakeExpiredCert(m_certs.Path(), "127.0.0.1", &expired));
    auto pServer = Serve(Tls::explicitTls, expired);
    CFTPSite* pSite = MakeSite(NewSite(pServer->GetPort()), TlsMode::explicitTls, ListingMode::list,
                               expired.strPin);

    std::string strStatus = Update(pSite);
    EXPECT_EQ(strStatus.rfind("更新成功\n服务器证书已过期（有效期至 ", 0), 0u) << strStatus;
    EXPECT_EQ(pSite->m_pRoot->m_dirList.size(), 2u);

    // What "信任此证书" and tarn-cli trust show says so too.
    CTlsCertificate cert;
    std::string strError;
    ASSERT_TRUE(FetchSiteCertificate(*pSite, &cert, &strError)) << strError;
    EXPECT_TRUE(cert.bExpired);
    EXPECT_EQ(cert.strPin, expired.strPin);
}
