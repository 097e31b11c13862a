#include "update/SiteConnection.h"

#include <new>

#include "model/FTPSite.h"
#include "model/NameCodec.h"
#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "net/InternetSession.h"
#include "update/EngineState.h"

namespace
{
// How the user accepts a certificate the login refused.
std::string TrustHint(uint32_t nError, const CFTPSite& site)
{
    std::string strHow =
        "在“站点选项”中点“信任此证书”，或运行 tarn-cli trust " + DecodeAuto(site.GetKey());
    if (nError == ERROR_FTP_TLS_PIN_MISMATCH)
        return "\n确认服务器换了证书后，要接受新证书，请" + strHow;
    if (nError == ERROR_INTERNET_INVALID_CA || nError == ERROR_INTERNET_SEC_CERT_CN_INVALID)
        return "\n确认这是该服务器的证书后，要信任它，请" + strHow;
    return {};
}

// The pin a first connection accepted, unless one was set meanwhile.
void RememberFirstKey(CFTPSite& site, const std::string& strPin)
{
    try
    {
        site.UpdateOptions(
            [&strPin](CSiteOptions& options)
            {
                if (!options.Find(OPTION_TLS_PIN))
                    (void)options.Set(OPTION_TLS_PIN, strPin);
            });
    }
    catch (const std::exception&)
    {
        // The next connection trusts on first use again; the cache save
        // that follows reports the folder's trouble.
    }
}
} // namespace

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

CTlsSettings GetSiteTlsSettings(const CFTPSite& site)
{
    CSiteOptions options = site.GetOptions();
    CTlsSettings tls;
    std::string strMode = options.Get(OPTION_TLS, TLS_OFF);
    if (!strMode.empty() && !ParseTlsMode(strMode, &tls.nMode))
        tls.nMode = TlsMode::explicitTls;
    tls.strPin = options.Get(OPTION_TLS_PIN);
    tls.bTrustFirstUse = options.Get(OPTION_TLS_TRUST, TLS_TRUST_CA) == TLS_TRUST_FIRST_USE;
    return tls;
}

std::unique_ptr<CFtpConnection> OpenSiteConnection(CInternetSession& session, CFTPSite& site,
                                                   std::string* pError)
{
    auto fail = [pError](uint32_t nError, const std::string& strText)
    {
        if (pError != nullptr)
            *pError = CInternetException(nError, strText).GetErrorMessage(1024);
        return nullptr;
    };
    std::string strUser = site.m_strUser;
    std::string strPassword = site.m_strPassword;
    if (site.m_bAnonUpdate)
    {
        strUser = "anonymous";
        strPassword = ANON_PASSWORD;
    }
    // A site read in another set must not have its names turned into UTF-8.
    CNameCodec codec = site.GetCodec();
    bool bUtf8 = codec.IsAuto() || codec.GetCharset() == CHARSET_UTF8;
    (void)session.SetOption(INTERNET_OPTION_FTP_UTF8, bUtf8 ? 1 : 0);
    CTlsSettings tls = GetSiteTlsSettings(site);
    // A damaged pin must neither be ignored nor be replaced by the next key seen.
    if (tls.nMode != TlsMode::off && !tls.strPin.empty() && !IsValidPin(tls.strPin))
        return fail(ERROR_FTP_TLS_PIN_MISMATCH,
                    "站点选项中的证书指纹 tls_pin 无法识别：" + tls.strPin);
    session.SetTlsSettings(tls);
    uint16_t nPort = GetTlsPort(tls.nMode, static_cast<uint16_t>(site.m_nPort));
    try
    {
        std::unique_ptr<CFtpConnection> pConnection =
            session.GetFtpConnection(site.m_strHost, strUser, strPassword, nPort, true);
        // A stop ends a listing in progress too, not only at the crawler's checks.
        pConnection->SetStopFlag(&g_bStopUpdate);
        if (pConnection->WasTrustedOnFirstUse())
            RememberFirstKey(site, pConnection->GetTlsCertificate().strPin);
        return pConnection;
    }
    catch (const CInternetException& e)
    {
        return fail(e.m_dwError, e.what() + TrustHint(e.m_dwError, site));
    }
}

std::string GetTlsNote(const CFtpConnection& connection)
{
    if (connection.WasTrustedOnFirstUse())
        return "首次连接，已信任服务器证书 " + connection.GetTlsCertificate().strPin;
    if (connection.GetTlsSettings().nMode != TlsMode::tryTls)
        return {};
    return connection.UsesTls() ? "已使用 TLS 加密连接" : "服务器不支持 TLS，已使用未加密的连接";
}

bool FetchSiteCertificate(const CFTPSite& site, CTlsCertificate* pCert, std::string* pError,
                          CInternetSession* pSession)
{
    return FetchSiteCertificate(site.m_strHost, site.m_nPort, GetSiteTlsSettings(site), pCert,
                                pError, pSession);
}

bool FetchSiteCertificate(const std::string& strHost, int32_t nPort, const CTlsSettings& tls,
                          CTlsCertificate* pCert, std::string* pError, CInternetSession* pSession)
{
    std::unique_ptr<CInternetSession> pOwn;
    if (pSession == nullptr)
    {
        pOwn = OpenSiteSession();
        if (!pOwn)
        {
            if (pError != nullptr)
                *pError = "创建Internet会话失败";
            return false;
        }
        pSession = pOwn.get();
    }
    pSession->SetTlsSettings(tls);
    uint16_t nTlsPort = GetTlsPort(tls.nMode, static_cast<uint16_t>(nPort));
    return pSession->FetchServerCertificate(strHost, nTlsPort, pCert, pError) == 0;
}

bool TrustSiteCertificate(CFTPSite& site, const std::string& strPin)
{
    if (!IsValidPin(strPin))
        return false;
    site.UpdateOptions([&strPin](CSiteOptions& options)
                       { (void)options.Set(OPTION_TLS_PIN, strPin); });
    return true;
}
