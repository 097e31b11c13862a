#include "update/SiteConnection.h"

#include <new>
#include <vector>

#include "model/FTPSite.h"
#include "model/NameCodec.h"
#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "net/InternetSession.h"
#include "update/EngineState.h"

namespace
{
// How the user accepts a certificate the login refused.
std::string TrustHint(uint32_t nError, const std::string& strKey)
{
    std::string strHow =
        "在“站点选项”中点“信任此证书”，或运行 tarn-cli trust " + DecodeAuto(strKey);
    if (nError == ERROR_FTP_TLS_PIN_MISMATCH)
        return "\n确认服务器换了证书后，要接受新证书，请" + strHow;
    if (nError == ERROR_INTERNET_INVALID_CA || nError == ERROR_INTERNET_SEC_CERT_CN_INVALID)
        return "\n确认这是该服务器的证书后，要信任它，请" + strHow;
    return {};
}

// A port site.ds holds beyond what a connection can use: said plainly, so
// the user fixes the site instead of reaching whatever listens on the port
// its low 16 bits would name.
std::string BadPortText(int32_t nPort)
{
    return "端口号 " + std::to_string(nPort) + " 无效（应在 " + std::to_string(PORT_MIN) + " 到 " +
           std::to_string(PORT_MAX) + " 之间），请在站点设置中改正";
}

// The pin a first connection accepted, unless one was set meanwhile.
void RememberFirstKey(CFTPSite& site, const std::string& strPin)
{
    try
    {
        site.UpdateSettings(
            [&strPin](CSiteSettings& settings)
            {
                if (settings.Get(CSiteSettings::TLS_PIN).empty())
                    settings.Set(CSiteSettings::TLS_PIN, strPin);
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

std::unique_ptr<CFtpConnection> OpenSiteConnection(CInternetSession& session, CFTPSite& site,
                                                   std::string* pError)
{
    auto fail = [pError](uint32_t nError, const std::string& strText)
    {
        if (pError != nullptr)
            *pError = CInternetException(nError, strText).GetErrorMessage(1024);
        return nullptr;
    };
    const CFTPSite::CConnectionValues values = site.CopyConnectionValues();
    std::string strUser = values.strUser;
    std::string strPassword = values.strPassword;
    if (values.bAnonUpdate)
    {
        strUser = "anonymous";
        strPassword = ANON_PASSWORD;
    }
    // A site read in another set must not have its names turned into UTF-8.
    CNameCodec codec = site.GetCodec();
    bool bUtf8 = codec.IsAuto() || codec.GetCharset() == CHARSET_UTF8;
    (void)session.SetOption(INTERNET_OPTION_FTP_UTF8, bUtf8 ? 1 : 0);
    if (!IsValidPort(values.nPort))
    {
        if (pError != nullptr)
            *pError = BadPortText(values.nPort);
        return nullptr;
    }
    CTlsSettings tls = site.GetSettings().GetTls();
    // A damaged pin must neither be ignored nor be replaced by the next key seen.
    if (tls.nMode != TlsMode::off && !tls.strPin.empty() && !IsValidPin(tls.strPin))
        return fail(ERROR_FTP_TLS_PIN_MISMATCH,
                    "站点选项中的证书指纹 tls_pin 无法识别：" + tls.strPin);
    session.SetTlsSettings(tls);
    uint16_t nPort = GetTlsPort(tls.nMode, static_cast<uint16_t>(values.nPort));
    try
    {
        std::unique_ptr<CFtpConnection> pConnection =
            session.GetFtpConnection(values.strHost, strUser, strPassword, nPort, true);
        // A stop ends a listing in progress too, not only at the crawler's checks.
        pConnection->SetStopFlag(&g_bStopUpdate);
        if (pConnection->WasTrustedOnFirstUse())
            RememberFirstKey(site, pConnection->GetTlsCertificate().strPin);
        return pConnection;
    }
    catch (const CInternetException& e)
    {
        return fail(e.m_dwError, e.what() + TrustHint(e.m_dwError, values.strKey));
    }
}

std::string GetTlsNote(const CFtpConnection& connection)
{
    std::vector<std::string> lines;
    const CTlsCertificate& cert = connection.GetTlsCertificate();
    if (connection.WasTrustedOnFirstUse())
        lines.push_back("首次连接，已信任服务器证书 " + cert.strPin);
    // Only a key accepted for itself gets this far past its end date.
    if (connection.UsesTls() && cert.bExpired)
        lines.push_back("服务器证书已过期（有效期至 " + cert.strExpires +
                        "）；它的公钥是已信任的，仍然接受");
    if (connection.GetTlsSettings().nMode == TlsMode::tryTls)
    {
        if (!connection.UsesTls())
            lines.push_back("服务器不支持 TLS，已使用未加密的连接");
        else if (!connection.ProtectsListings())
            lines.push_back("登录已使用 TLS 加密，但服务器拒绝加密数据连接（PROT P），"
                            "经数据连接的目录列表未加密");
        else
            lines.push_back("已使用 TLS 加密连接");
    }
    std::string strNote;
    for (const std::string& strLine : lines)
        strNote += (strNote.empty() ? "" : "\n") + strLine;
    return strNote;
}

std::string DescribeListingTlsFailure(const CFTPSite& site, uint32_t nError,
                                      const std::string& strFailure)
{
    return "列目录的第二个连接没能像第一个连接那样加密登录，可能有人在中间拦截，"
           "已停止更新：\n" +
           strFailure + TrustHint(nError, site.GetKey());
}

bool FetchSiteCertificate(const CFTPSite& site, CTlsCertificate* pCert, std::string* pError,
                          CInternetSession* pSession)
{
    return FetchSiteCertificate(site.m_strHost, site.m_nPort, site.GetSettings().GetTls(), pCert,
                                pError, pSession);
}

bool FetchSiteCertificate(const std::string& strHost, int32_t nPort, const CTlsSettings& tls,
                          CTlsCertificate* pCert, std::string* pError, CInternetSession* pSession)
{
    if (!IsValidPort(nPort))
    {
        if (pError != nullptr)
            *pError = BadPortText(nPort);
        return false;
    }
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
    site.UpdateSettings([&strPin](CSiteSettings& settings)
                        { settings.Set(CSiteSettings::TLS_PIN, strPin); });
    return true;
}
