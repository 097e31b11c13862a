#include "net/InternetSession.h"

#include <curl/curl.h>
#include <mutex>

#include "net/FtpConnection.h"
#include "net/FtpControlChannel.h"
#include "net/InternetError.h"
#include "net/SocketRegistry.h"
#include "net/TlsTransport.h"

namespace
{
void InitCurlOnce()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Connect failures worth another attempt (the server may just be busy).
bool IsRetryable(uint32_t nError)
{
    return nError == ERROR_INTERNET_CANNOT_CONNECT || nError == ERROR_INTERNET_TIMEOUT;
}
} // namespace

std::string CInternetException::GetErrorMessage(size_t nMax) const
{
    std::string str = what();
    if (nMax == 0)
        return {};
    if (str.size() > nMax - 1)
    {
        size_t nCut = nMax - 1;
        while (nCut > 0 && (static_cast<unsigned char>(str[nCut]) & 0xC0) == 0x80)
            --nCut;
        str.resize(nCut);
    }
    return str;
}

CInternetSession::CInternetSession(std::string strAgent) : m_strAgent(std::move(strAgent))
{
    InitCurlOnce();
}

CInternetSession::~CInternetSession()
{
    Close();
}

bool CInternetSession::SetOption(uint32_t nOption, uint32_t nValue)
{
    std::lock_guard guard(m_lock);
    switch (nOption)
    {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        m_options.nConnectTimeout = nValue;
        return true;
    case INTERNET_OPTION_CONNECT_RETRIES:
        m_options.nConnectRetries = nValue;
        return true;
    case INTERNET_OPTION_CONTROL_SEND_TIMEOUT:
        m_options.nControlSendTimeout = nValue;
        return true;
    case INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT:
        m_options.nControlReceiveTimeout = nValue;
        return true;
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        m_options.nDataSendTimeout = nValue;
        return true;
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
        m_options.nDataReceiveTimeout = nValue;
        return true;
    case INTERNET_OPTION_FTP_UTF8:
        m_options.bRequestUtf8 = nValue != 0;
        return true;
    default:
        return false;
    }
}

CInternetOptions CInternetSession::GetOptions() const
{
    std::lock_guard guard(m_lock);
    return m_options;
}

void CInternetSession::SetTlsSettings(const CTlsSettings& tls)
{
    std::lock_guard guard(m_lock);
    m_options.tls = tls;
}

std::unique_ptr<CFtpConnection> CInternetSession::GetFtpConnection(const std::string& strServer,
                                                                   const std::string& strUser,
                                                                   const std::string& strPassword,
                                                                   uint16_t nPort,
                                                                   bool /*bPassive*/)
{
    // Passive mode is the only mode: active mode cannot cross the NATs
    // between a desktop and most servers.
    CInternetOptions options = GetOptions();
    uint32_t nAttempts = options.nConnectRetries == 0 ? 1 : options.nConnectRetries;
    for (uint32_t nAttempt = 1;; ++nAttempt)
    {
        // Each attempt gets sockets of its own, so a failed attempt's
        // clean-up cannot cut the next one.
        std::shared_ptr<CSocketRegistry> pRegistry = AddRegistry();
        if (!pRegistry)
        {
            SetLastInternetError(ERROR_INTERNET_CONNECTION_ABORTED);
            throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                     FormatInternetError(ERROR_INTERNET_CONNECTION_ABORTED));
        }
        std::unique_ptr<CFtpConnection> pConnection(new CFtpConnection(pRegistry, options));
        uint32_t nError = pConnection->Connect(strServer, strUser, strPassword, nPort, m_strAgent);
        if (nError == 0)
        {
            pConnection->m_pSession = this;
            pConnection->m_strServer = strServer;
            pConnection->m_strUser = strUser;
            pConnection->m_strPassword = strPassword;
            pConnection->m_nPort = nPort;
            return pConnection;
        }
        if (nAttempt < nAttempts && IsRetryable(nError) && !IsClosed())
            continue;
        SetLastInternetError(nError);
        std::string strMessage = FormatInternetError(nError);
        // The server's own words for a refused login ("530 Login incorrect.").
        if (nError == ERROR_INTERNET_EXTENDED_ERROR && !pConnection->GetLastReply().empty())
            strMessage = pConnection->GetLastReply();
        // A TLS failure says which certificate it met.
        if (IsTlsFailure(nError) && !pConnection->m_strTlsFailure.empty())
            strMessage = pConnection->m_strTlsFailure;
        throw CInternetException(nError, strMessage);
    }
}

std::shared_ptr<CSocketRegistry> CInternetSession::AddRegistry()
{
    auto pRegistry = std::make_shared<CSocketRegistry>();
    std::lock_guard guard(m_lock);
    if (m_bClosed)
        return nullptr;
    std::erase_if(m_registries,
                  [](const std::weak_ptr<CSocketRegistry>& p) { return p.expired(); });
    m_registries.push_back(pRegistry);
    return pRegistry;
}

std::unique_ptr<CFtpControlChannel>
CInternetSession::OpenControlChannel(const std::string& strServer, const std::string& strUser,
                                     const std::string& strPassword, uint16_t nPort,
                                     const CTlsSettings* pTls)
{
    std::shared_ptr<CSocketRegistry> pRegistry = AddRegistry();
    if (!pRegistry)
    {
        SetLastInternetError(ERROR_INTERNET_CONNECTION_ABORTED);
        return nullptr;
    }
    CInternetOptions options = GetOptions();
    if (pTls != nullptr)
        options.tls = *pTls;
    std::unique_ptr<CFtpControlChannel> pChannel(new CFtpControlChannel(pRegistry, options));
    uint32_t nError = pChannel->Connect(strServer, strUser, strPassword, nPort, m_strAgent);
    if (nError != 0)
    {
        SetLastInternetError(nError, pChannel->GetTlsFailure());
        return nullptr;
    }
    return pChannel;
}

uint32_t CInternetSession::FetchServerCertificate(const std::string& strServer, uint16_t nPort,
                                                  CTlsCertificate* pCert, std::string* pstrError)
{
    std::shared_ptr<CSocketRegistry> pRegistry = AddRegistry();
    if (!pRegistry)
    {
        if (pstrError != nullptr)
            *pstrError = FormatInternetError(ERROR_INTERNET_CONNECTION_ABORTED);
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
    CInternetOptions options = GetOptions();
    if (strServer.empty() ||
        strServer.find_first_of(std::string("/@?# \r\n\0", 9)) != std::string::npos)
    {
        if (pstrError != nullptr)
            *pstrError = FormatInternetError(ERROR_INTERNET_INVALID_URL);
        return ERROR_INTERNET_INVALID_URL;
    }
    std::string strUrl = MakeFtpBaseUrl(strServer, nPort, options.tls.nMode);
    uint32_t nError = ProbeCertificate(strUrl, options, pRegistry, pCert, pstrError);
    pRegistry->CloseAll();
    return nError;
}

void CInternetSession::Close()
{
    std::vector<std::shared_ptr<CSocketRegistry>> registries;
    {
        std::lock_guard guard(m_lock);
        m_bClosed = true;
        for (const std::weak_ptr<CSocketRegistry>& p : m_registries)
            if (std::shared_ptr<CSocketRegistry> pRegistry = p.lock())
                registries.push_back(std::move(pRegistry));
    }
    for (const std::shared_ptr<CSocketRegistry>& pRegistry : registries)
        pRegistry->CloseAll();
}

bool CInternetSession::IsClosed() const
{
    std::lock_guard guard(m_lock);
    return m_bClosed;
}
