#include "net/TlsTransport.h"

#include <cstring>

#include <openssl/x509_vfy.h>

#include "net/InternetError.h"
#include "net/InternetSession.h"
#include "net/SocketRegistry.h"

namespace
{
// A pin no key has: the probe's handshake collects the certificate, then
// fails on the pin before libcurl logs in.
constexpr const char* UNMATCHABLE_PIN = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

bool StartsWith(const char* psz, std::string_view prefix)
{
    return std::strncmp(psz, prefix.data(), prefix.size()) == 0;
}

// Why the CA check refused a certificate, in a word or two.
std::string VerifyReason(long nVerify)
{
    switch (nVerify)
    {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "自签名证书";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return "签发机构不受信任";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "证书已过期";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "证书尚未生效";
    case X509_V_ERR_CERT_REVOKED:
        return "证书已被吊销";
    default:
        return "验证错误 " + std::to_string(nVerify);
    }
}

std::string Fingerprint(const CTlsCertificate* pSeen)
{
    return pSeen != nullptr && !pSeen->strPin.empty() ? pSeen->strPin : "（无法读取）";
}
} // namespace

std::string MakeFtpBaseUrl(const std::string& strServer, uint16_t nPort, TlsMode nMode)
{
    bool bIpv6 = strServer.find(':') != std::string::npos && strServer.front() != '[';
    return std::string(nMode == TlsMode::implicitTls ? "ftps://" : "ftp://") +
           (bIpv6 ? "[" + strServer + "]" : strServer) + ":" + std::to_string(nPort) + "/";
}

void ApplyTlsOptions(CURL* pEasy, const CTlsSettings& tls)
{
    long nUse = CURLUSESSL_NONE;
    if (tls.nMode == TlsMode::explicitTls || tls.nMode == TlsMode::implicitTls)
        nUse = CURLUSESSL_ALL;
    else if (tls.nMode == TlsMode::tryTls)
        nUse = CURLUSESSL_TRY;
    curl_easy_setopt(pEasy, CURLOPT_USE_SSL, nUse);
    if (nUse == CURLUSESSL_NONE)
        return;
    // "AUTH TLS" first; "AUTH SSL" only for servers that refuse it.
    curl_easy_setopt(pEasy, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    bool bByKey = !tls.strPin.empty() || tls.bTrustFirstUse;
    // A pinned key stands for itself: a self-signed certificate has no CA,
    // and its name is often not the one the site is reached by.
    curl_easy_setopt(pEasy, CURLOPT_SSL_VERIFYPEER, bByKey ? 0L : 1L);
    curl_easy_setopt(pEasy, CURLOPT_SSL_VERIFYHOST, bByKey ? 0L : 2L);
    // libcurl reads anything but a hash as a file name: a damaged pin
    // matches no key instead.
    const char* pszPin = nullptr;
    if (!tls.strPin.empty())
        pszPin = IsValidPin(tls.strPin) ? tls.strPin.c_str() : UNMATCHABLE_PIN;
    curl_easy_setopt(pEasy, CURLOPT_PINNEDPUBLICKEY, pszPin);
    std::string strCa = GetTlsCaBundle();
    if (!strCa.empty())
        curl_easy_setopt(pEasy, CURLOPT_CAINFO, strCa.c_str());
    curl_easy_setopt(pEasy, CURLOPT_CERTINFO, 1L);
}

bool ReadServerCertificate(CURL* pEasy, CTlsCertificate* pCert)
{
    curl_certinfo* pInfo = nullptr;
    if (curl_easy_getinfo(pEasy, CURLINFO_CERTINFO, &pInfo) != CURLE_OK || pInfo == nullptr ||
        pInfo->num_of_certs < 1)
        return false;
    CTlsCertificate cert;
    // The first of the chain is the server's own.
    for (curl_slist* p = pInfo->certinfo[0]; p != nullptr; p = p->next)
    {
        if (StartsWith(p->data, "Subject:"))
            cert.strSubject = p->data + 8;
        else if (StartsWith(p->data, "Issuer:"))
            cert.strIssuer = p->data + 7;
        else if (StartsWith(p->data, "Expire date:"))
            cert.strExpires = p->data + 12;
        else if (StartsWith(p->data, "Cert:"))
        {
            cert.strPin = ComputePublicKeyPin(p->data + 5);
            cert.bExpired = IsCertificateExpired(p->data + 5);
        }
    }
    if (cert.strPin.empty())
        return false;
    *pCert = std::move(cert);
    return true;
}

uint32_t ClassifyTlsResult(CURL* pEasy, int nResult, const char* pszDetail)
{
    switch (nResult)
    {
    case CURLE_USE_SSL_FAILED:
    {
        // AUTH TLS refused, or, after a handshake (and the login over it),
        // PROT P refused: the handshake left a certificate behind.
        CTlsCertificate cert;
        return ReadServerCertificate(pEasy, &cert) ? ERROR_FTP_TLS_PROT_REFUSED
                                                   : ERROR_FTP_TLS_NOT_OFFERED;
    }
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return ERROR_FTP_TLS_PIN_MISMATCH;
    case CURLE_PEER_FAILED_VERIFICATION:
    {
        // libcurl checks the name itself once the chain is good, and says so
        // only in its message.
        long nVerify = 0;
        curl_easy_getinfo(pEasy, CURLINFO_SSL_VERIFYRESULT, &nVerify);
        bool bName = nVerify == X509_V_ERR_HOSTNAME_MISMATCH ||
                     nVerify == X509_V_ERR_IP_ADDRESS_MISMATCH ||
                     (pszDetail != nullptr && std::strstr(pszDetail, "host name") != nullptr);
        return bName ? ERROR_INTERNET_SEC_CERT_CN_INVALID : ERROR_INTERNET_INVALID_CA;
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default:
        return 0;
    }
}

std::string DescribeTlsFailure(uint32_t nError, CURL* pEasy, const char* pszDetail,
                               const CTlsSettings& tls, const CTlsCertificate* pSeen,
                               const std::string& strServer)
{
    switch (nError)
    {
    case ERROR_INTERNET_INVALID_CA:
    {
        long nVerify = 0;
        curl_easy_getinfo(pEasy, CURLINFO_SSL_VERIFYRESULT, &nVerify);
        return "服务器证书不受信任（" + VerifyReason(nVerify) + "）\n证书指纹：" +
               Fingerprint(pSeen);
    }
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "服务器证书与主机名 " + strServer + " 不符\n证书指纹：" + Fingerprint(pSeen);
    case ERROR_FTP_TLS_PIN_MISMATCH:
        return "服务器证书的公钥与已信任的不同：可能有人冒充服务器，也可能服务器换了证书\n"
               "已信任：" +
               tls.strPin + "\n服务器的：" + Fingerprint(pSeen);
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        if (pszDetail != nullptr && *pszDetail != '\0')
            return "TLS 握手失败（" + std::string(pszDetail) + "）";
        return FormatInternetError(nError);
    default:
        return FormatInternetError(nError);
    }
}

uint32_t ProbeCertificate(const std::string& strBaseUrl, const CInternetOptions& options,
                          const std::shared_ptr<CSocketRegistry>& pRegistry, CTlsCertificate* pCert,
                          std::string* pstrText)
{
    auto fail = [pstrText](uint32_t nError, std::string strText = {})
    {
        if (pstrText != nullptr)
            *pstrText = strText.empty() ? FormatInternetError(nError) : std::move(strText);
        return nError;
    };
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> pEasy(curl_easy_init(), &curl_easy_cleanup);
    if (!pEasy)
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    CURL* e = pEasy.get();
    char szError[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    AttachSocketRegistry(e, pRegistry.get());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, szError);
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(e, CURLOPT_URL, strBaseUrl.c_str());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.nConnectTimeout) +
                         static_cast<long>(options.nControlReceiveTimeout));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>((options.nControlReceiveTimeout + 999) / 1000));
    CTlsSettings tls;
    tls.nMode = strBaseUrl.rfind("ftps:", 0) == 0 ? TlsMode::implicitTls : TlsMode::explicitTls;
    tls.strPin = UNMATCHABLE_PIN;
    ApplyTlsOptions(e, tls);
    // Should the impossible happen and the pin match, libcurl would log in:
    // then only as anonymous, never with the site's own login.
    curl_easy_setopt(e, CURLOPT_USERNAME, "anonymous");
    curl_easy_setopt(e, CURLOPT_PASSWORD, "");

    CURLcode nResult = curl_easy_perform(e);
    if (pRegistry->IsClosed())
        return fail(ERROR_INTERNET_CONNECTION_ABORTED);
    if (nResult == CURLE_OK || nResult == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
    {
        if (ReadServerCertificate(e, pCert))
            return 0;
        return fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    }
    if (uint32_t nError = ClassifyTlsResult(e, nResult, szError); nError != 0)
        return fail(nError, DescribeTlsFailure(nError, e, szError, tls, nullptr, ""));
    switch (nResult)
    {
    case CURLE_COULDNT_RESOLVE_HOST:
        return fail(ERROR_INTERNET_NAME_NOT_RESOLVED);
    case CURLE_COULDNT_CONNECT:
        return fail(ERROR_INTERNET_CANNOT_CONNECT);
    case CURLE_URL_MALFORMAT:
        return fail(ERROR_INTERNET_INVALID_URL);
    case CURLE_OPERATION_TIMEDOUT:
        return fail(ERROR_INTERNET_TIMEOUT);
    default:
        return fail(ERROR_INTERNET_CONNECTION_ABORTED);
    }
}
