#include "update/SiteConnection.h"

#include <new>

#include "model/FTPSite.h"
#include "net/FtpConnection.h"
#include "net/InternetSession.h"
#include "update/EngineState.h"

void SetSessionTimeouts(CInternetSession& session, const CSessionTimeouts& timeouts)
{
    // Every number is one the session knows, so none of these can fail.
    (void)session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.nConnectTimeout);
    (void)session.SetOption(INTERNET_OPTION_CONTROL_SEND_TIMEOUT, timeouts.nControlSendTimeout);
    (void)session.SetOption(INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT,
                            timeouts.nControlReceiveTimeout);
    (void)session.SetOption(INTERNET_OPTION_DATA_SEND_TIMEOUT, timeouts.nDataSendTimeout);
    (void)session.SetOption(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, timeouts.nDataReceiveTimeout);
    (void)session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, timeouts.nConnectRetries);
}

std::unique_ptr<CInternetSession> OpenSiteSession(const CSessionTimeouts& timeouts)
{
    std::unique_ptr<CInternetSession> pSession(new (std::nothrow) CInternetSession("my"));
    if (pSession != nullptr)
        SetSessionTimeouts(*pSession, timeouts);
    return pSession;
}

std::unique_ptr<CFtpConnection> OpenSiteConnection(CInternetSession& session, const CFTPSite& site,
                                                   std::string* pError)
{
    std::string strUser = site.m_strUser;
    std::string strPassword = site.m_strPassword;
    if (site.m_bAnonUpdate)
    {
        strUser = "anonymous";
        strPassword = ANON_PASSWORD;
    }
    try
    {
        std::unique_ptr<CFtpConnection> pConnection = session.GetFtpConnection(
            site.m_strHost, strUser, strPassword, static_cast<uint16_t>(site.m_nPort), true);
        // A stop ends a listing in progress too, not only at the crawler's checks.
        pConnection->SetStopFlag(&g_bStopUpdate);
        return pConnection;
    }
    catch (const CInternetException& e)
    {
        if (pError != nullptr)
            *pError = e.GetErrorMessage(1024);
        return nullptr;
    }
}
