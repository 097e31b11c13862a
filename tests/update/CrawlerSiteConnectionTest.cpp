#include "CrawlerFixture.h"
#include "net/InternetError.h"

namespace
{
class CrawlerSiteConnectionTest : public CCrawlerFixture
{
};
} // namespace

TEST_F(CrawlerSiteConnectionTest, SessionCarriesTheUpdateTimeouts)
{
    auto pSession = OpenSiteSession();
    ASSERT_TRUE(pSession);
    EXPECT_EQ(pSession->GetAgent(), "my");
    CInternetOptions options = pSession->GetOptions();
    EXPECT_EQ(options.nConnectTimeout, 3000u);
    EXPECT_EQ(options.nControlSendTimeout, 1000u);
    EXPECT_EQ(options.nControlReceiveTimeout, 7000u);
    EXPECT_EQ(options.nDataSendTimeout, 1000u);
    EXPECT_EQ(options.nDataReceiveTimeout, 7000u);
    EXPECT_EQ(options.nConnectRetries, 1u);
}

TEST_F(CrawlerSiteConnectionTest, CredentialsAndAnonymousUpdates)
{
    Dir("pub");
    StartServer();
    struct CCase
    {
        const char* pszName;
        std::string strUser;
        std::string strPassword;
        bool bAnonUpdate;
        bool bConnects;
        std::string strLoggedUser;
    };
    const CCase cases[] = {
        {"own account", "user", "pass", false, true, "user"},
        {"wrong password", "user", "nope", false, false, "user"},
        {"anonymous update overrides stored account", "user", "nope", true, true, "anonymous"},
        {"anonymous site", "anonymous", ANON_PASSWORD, false, true, "anonymous"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        m_pServer->ClearLog();
        auto pSite = MakeSite();
        pSite->m_strUser = c.strUser;
        pSite->m_strPassword = c.strPassword;
        pSite->m_bAnonUpdate = c.bAnonUpdate;
        auto pSession = OpenSiteSession(ShortTimeouts());
        std::string strError;
        auto pConnection = OpenSiteConnection(*pSession, *pSite, &strError);
        EXPECT_EQ(pConnection != nullptr, c.bConnects) << strError;
        if (!c.bConnects)
        {
            EXPECT_NE(strError.find("530"), std::string::npos) << strError;
        }
        std::vector<CTestFtpServer::CCommand> users = m_pServer->GetCommands("USER");
        ASSERT_EQ(users.size(), 1u);
        EXPECT_EQ(users[0].strArgument, c.strLoggedUser);
    }
}

TEST_F(CrawlerSiteConnectionTest, UnreachableServerGivesText)
{
    Dir("pub");
    StartServer();
    auto pSite = MakeSite();
    m_pServer.reset(); // nothing listens there any more
    auto pSession = OpenSiteSession(ShortTimeouts());
    std::string strError;
    EXPECT_EQ(OpenSiteConnection(*pSession, *pSite, &strError), nullptr);
    EXPECT_EQ(strError, FormatInternetError(ERROR_INTERNET_CANNOT_CONNECT));
}
