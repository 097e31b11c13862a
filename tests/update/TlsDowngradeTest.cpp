// TLS never quietly turns into plain FTP, and the status tells the truth:
// options.ini that cannot be read, a man in the middle stripping "AUTH TLS"
// on the first or only on the listing connection, another key on the
// listing connection, "PROT P" refused, an expired pinned certificate.
// vsftpd offers TLS and asks anonymous logins for a password, the local test
// server refuses "PROT P"; the stripping proxy and the servers' logs show
// what went out in clear.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "net/TlsSettings.h"
#include "support/FtpProxy.h"
#include "support/FtpServer.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/Vsftpd.h"
#include "update/ListingPlan.h"
#include "update/SiteConnection.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{
class TlsDowngradeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_data.Path());
        g_bStopUpdate = 0;
        CSessionTimeouts timeouts;
        timeouts.nControlReceiveTimeout = 5000;
        timeouts.nDataReceiveTimeout = 5000;
        SetEngineTimeouts(timeouts);
        SetUpdateObserver(&m_observer);
        m_progress.SetTimerSwitch([this](bool bRun) { m_bTimerRunning = bRun; });
        fs::create_directories(m_served.Path() + "/pub/sub");
        std::ofstream(m_served.Path() + "/pub/a.txt") << "aaa";
        std::ofstream(m_served.Path() + "/readme") << "r";

        // A CA of our own, trusted in place of the system's.
        ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "Tarn Test CA", &m_ca));
        ASSERT_TRUE(MakeCaSignedCert(m_certs.Path(), m_ca, "127.0.0.1", "IP:127.0.0.1", &m_cert));
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

    // The local server of "user" with password "secret", offering TLS with
    // cert unless it is null.
    std::unique_ptr<CTestFtpServer> Serve(const CTestCert* pCert, bool bRefuseProt = false)
    {
        CTestFtpServer::COptions options;
        options.strPassword = "secret";
        if (pCert != nullptr)
        {
            options.strTlsCertFile = pCert->strCertFile;
            options.strTlsKeyFile = pCert->strKeyFile;
            options.bRefuseProt = bRefuseProt;
        }
        return std::make_unique<CTestFtpServer>(m_served.Path(), options);
    }

    // vsftpd offering explicit TLS with cert, to a login in clear as well,
    // and asking "anonymous" for a password.
    std::unique_ptr<CTestVsftpd> ServeVsftpd(const CTestCert& cert)
    {
        CTestVsftpd::COptions options;
        options.nTls = CTestVsftpd::Tls::explicitTls;
        options.strCertFile = cert.strCertFile;
        options.strKeyFile = cert.strKeyFile;
        options.bTlsOptional = true;
        options.bAskPassword = true;
        auto pServer = std::make_unique<CTestVsftpd>(m_served.Path(), options);
        EXPECT_NE(pServer->GetPort(), 0);
        return pServer;
    }

    // A site of strUser with the password "secret", alone in the data
    // folder, its options not read yet. It lives until the engine is shut
    // down.
    CFTPSite* NewSite(uint16_t nPort, const std::string& strUser = "user")
    {
        fs::remove_all(m_data.Path() + "/Data");
        m_sites.push_back(std::make_unique<CFTPSite>());
        CFTPSite* pSite = m_sites.back().get();
        pSite->m_strHost = "127.0.0.1";
        pSite->m_nPort = nPort;
        pSite->m_strUser = strUser;
        pSite->m_strPassword = "secret";
        pSite->m_nLoadState = 1;
        return pSite;
    }

    CFTPSite* MakeSite(uint16_t nPort, TlsMode nTls, const std::string& strPin,
                       ListingMode nListing = ListingMode::list,
                       const std::string& strUser = "user")
    {
        CFTPSite* pSite = NewSite(nPort, strUser);
        pSite->UpdateSettings(
            [&](CSiteSettings& settings)
            {
                settings.Set(CSiteSettings::TLS, nTls);
                settings.Set(CSiteSettings::TLS_PIN, strPin);
                settings.Set(CSiteSettings::LISTING, nListing);
            });
        return pSite;
    }

    std::string OptionsPath() const
    {
        return GetSiteFolderPath(m_data.Path(), "127.0.0.1@user") + "/" + SITE_OPTIONS_FILE;
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

    static std::vector<std::string> PasswordArguments(const CTestFtpServer& server)
    {
        std::vector<std::string> args;
        for (const CTestFtpServer::CCommand& command : server.GetCommands("PASS"))
            args.push_back(command.strArgument);
        return args;
    }

    CTempDir m_data;
    CTempDir m_served;
    CTempDir m_certs;
    CTestCert m_ca;
    CTestCert m_cert; // signed by m_ca for 127.0.0.1
    std::vector<std::unique_ptr<CFTPSite>> m_sites;
    CRecordingObserver m_observer;
    CUpdateProgress m_progress;
    bool m_bTimerRunning = false;
};
} // namespace

TEST_F(TlsDowngradeTest, OptionsThatCannotBeReadFailTheUpdateBeforeAnyLogin)
{
    auto pServer = Serve(nullptr); // plain: a login without TLS would succeed
    struct CCase
    {
        const char* pszName;
        std::function<void(const std::string&)> make; // makes options.ini
        const char* pszStatus;                        // in the status, after "更新失败:\n"
        bool bConnects;
    } cases[] = {
        {"larger than an options file",
         [](const std::string& strPath)
         {
             std::string strText = "tls=explicit\n";
             while (strText.size() <= MAX_OPTIONS_FILE_SIZE)
                 strText += "# padding padding padding padding padding padding padding\n";
             WriteFileBytes(strPath, strText);
         },
         "站点选项无法读取：", false},
        {"a folder (an I/O error)",
         [](const std::string& strPath) { fs::create_directory(strPath); }, "站点选项无法读取：",
         false},
        {"an empty mode", [](const std::string& strPath) { WriteFileBytes(strPath, "tls=\n"); },
         "拒绝了 AUTH TLS", true},
        {"a mode from a newer program",
         [](const std::string& strPath) { WriteFileBytes(strPath, "tls=quantum\n"); },
         "拒绝了 AUTH TLS", true},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        pServer->ClearLog();
        CFTPSite* pSite = NewSite(pServer->GetPort());
        fs::create_directories(fs::path(OptionsPath()).parent_path());
        c.make(OptionsPath());
        std::string strBefore =
            fs::is_regular_file(OptionsPath()) ? ReadFileBytes(OptionsPath()) : "";

        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
        EXPECT_NE(strStatus.find(c.pszStatus), std::string::npos) << strStatus;
        EXPECT_EQ(pServer->CountSessions() > 0, c.bConnects);
        EXPECT_TRUE(PasswordArguments(*pServer).empty());
        // Nothing, not even the statistics, replaced what could not be read;
        // a mode read as explicit kept its line.
        if (strBefore.empty())
            EXPECT_TRUE(fs::is_directory(OptionsPath()));
        else if (!c.bConnects)
            EXPECT_EQ(ReadFileBytes(OptionsPath()), strBefore);
        else
            EXPECT_EQ(ReadFileBytes(OptionsPath()).rfind(strBefore, 0), 0u);
    }
}

TEST_F(TlsDowngradeTest, StrippedAuthTlsNeverGetsThePasswordOnAnyConnection)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    auto pServer = ServeVsftpd(m_cert);
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
         "列目录的第二个连接没能像第一个连接那样加密登录"},
        {"the listing connection, try with a pin",
         {{nPort, false}, {nPort, true}},
         TlsMode::tryTls,
         true,
         "拒绝了 AUTH TLS"},
        {"the listing connection, explicit",
         {{nPort, false}, {nPort, true}},
         TlsMode::explicitTls,
         false,
         "可能有人在中间拦截"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CTestFtpProxy proxy(c.legs);
        ASSERT_NE(proxy.GetPort(), 0);
        CFTPSite* pSite = MakeSite(proxy.GetPort(), c.nTls, c.bPinned ? m_cert.strPin : "",
                                   ListingMode::stat, "anonymous");

        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
        EXPECT_NE(strStatus.find(c.pszStatus), std::string::npos) << strStatus;
        EXPECT_FALSE(proxy.SawPasswordInClear());
        EXPECT_TRUE(pSite->m_pRoot->m_dirList.empty());
    }
}

TEST_F(TlsDowngradeTest, AnotherKeyOnTheListingConnectionFailsAsOnTheFirst)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    CTestCert other;
    ASSERT_TRUE(MakeSelfSignedCert(m_certs.Path(), "127.0.0.1", &other));
    auto pServer = ServeVsftpd(m_cert);
    auto pImpostor = ServeVsftpd(other);
    CTestFtpProxy proxy({{pServer->GetPort(), false}, {pImpostor->GetPort(), false}});
    CFTPSite* pSite = MakeSite(proxy.GetPort(), TlsMode::explicitTls, m_cert.strPin,
                               ListingMode::stat, "anonymous");

    std::string strStatus = Update(pSite);
    EXPECT_EQ(strStatus.rfind("更新失败:\n", 0), 0u) << strStatus;
    EXPECT_NE(strStatus.find("已信任：" + m_cert.strPin + "\n服务器的：" + other.strPin),
              std::string::npos)
        << strStatus;
    EXPECT_NE(strStatus.find("tarn-cli trust"), std::string::npos) << strStatus;
    // The impostor saw no login at all.
    EXPECT_EQ(pImpostor->ReadLog().find("\"USER"), std::string::npos);
    EXPECT_EQ(pSite->GetSettings().Get(CSiteSettings::TLS_PIN), m_cert.strPin);
}

TEST_F(TlsDowngradeTest, RefusedProtPIsToldAsItIs)
{
    auto pServer = Serve(&m_cert, true);
    struct CCase
    {
        const char* pszName;
        TlsMode nTls;
        bool bPinned;
        const char* pszStatus;
    } cases[] = {
        {"explicit", TlsMode::explicitTls, false,
         "更新失败:\n服务器拒绝加密数据连接（拒绝了 PROT P），没有列出目录；登录（含密码）已通过 "
         "TLS 加密发送"},
        {"try with a pin, as explicit", TlsMode::tryTls, true, "更新失败:\n服务器拒绝加密数据连接"},
        {"try", TlsMode::tryTls, false,
         "更新成功\n登录已使用 TLS 加密，但服务器拒绝加密数据连接（PROT P），"
         "经数据连接的目录列表未加密"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        pServer->ClearLog();
        CFTPSite* pSite = MakeSite(pServer->GetPort(), c.nTls, c.bPinned ? m_cert.strPin : "");
        std::string strStatus = Update(pSite);
        EXPECT_EQ(strStatus.rfind(c.pszStatus, 0), 0u) << strStatus;
        EXPECT_EQ(PasswordArguments(*pServer), std::vector<std::string>(1, "******"));
    }
}

TEST_F(TlsDowngradeTest, AnExpiredPinnedCertificateIsAcceptedAndSaidToBeExpired)
{
    if (!CTestVsftpd::IsAvailable())
        GTEST_SKIP() << "vsftpd cannot run here";
    CTestCert expired;
    ASSERT_TRUE(MakeExpiredCert(m_certs.Path(), "127.0.0.1", &expired));
    auto pServer = ServeVsftpd(expired);
    CFTPSite* pSite = MakeSite(pServer->GetPort(), TlsMode::explicitTls, expired.strPin,
                               ListingMode::list, "anonymous");

    std::string strStatus = Update(pSite);
    EXPECT_EQ(strStatus.rfind("更新成功\n服务器证书已过期（有效期至 ", 0), 0u) << strStatus;
    EXPECT_EQ(pSite->m_pRoot->m_dirList.size(), 1u);

    // What "信任此证书" and tarn-cli trust show says so too.
    CTlsCertificate cert;
    std::string strError;
    ASSERT_TRUE(FetchSiteCertificate(*pSite, &cert, &strError)) << strError;
    EXPECT_TRUE(cert.bExpired);
    EXPECT_EQ(cert.strPin, expired.strPin);
}
