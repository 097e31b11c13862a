#include "net/FtpConnection.h"

#include <atomic>
#include <chrono>

#include "net/FtpControlChannel.h"
#include "net/InternetError.h"
#include "net/SocketRegistry.h"
#include "net/TlsTransport.h"

namespace
{
// curl_multi_poll's own wait, capped: a plain curl_easy_perform sleeps out
// a whole internal 1 s poll on some listings that start with EPSV.
constexpr int POLL_CAP_MS = 10;

long Seconds(uint32_t nMs)
{
    return static_cast<long>((nMs + 999) / 1000);
}

bool HasLineBreakOrNul(const std::string& str)
{
    return str.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::atomic<uint64_t> g_nListingSizeLimit{LISTING_SIZE_LIMIT};

uint64_t MsSince(std::chrono::steady_clock::time_point t)
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - t)
                                     .count());
}

// "213 1234": the size; anything else: -1.
int64_t ParseSizeReply(std::string_view line)
{
    if (line.size() < 5 || line.substr(0, 4) != "213 ")
        return -1;
    int64_t nSize = 0;
    size_t i = 4;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    {
        if (nSize > (INT64_MAX - 9) / 10)
            return -1;
        nSize = nSize * 10 + (line[i] - '0');
    }
    return i > 4 ? nSize : -1;
}
} // namespace

void SetListingSizeLimit(uint64_t nBytes)
{
    g_nListingSizeLimit.store(nBytes);
}

uint64_t GetListingSizeLimit()
{
    return g_nListingSizeLimit.load();
}

CFtpConnection::CFtpConnection(std::shared_ptr<CSocketRegistry> pRegistry,
                               const CInternetOptions& options)
    : m_pRegistry(std::move(pRegistry)), m_options(options)
{
    m_pEasy = curl_easy_init();
    m_pMulti = curl_multi_init();
    if (m_pEasy == nullptr || m_pMulti == nullptr)
        return;
    CURL* e = m_pEasy;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    AttachSocketRegistry(e, m_pRegistry.get());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_szCurlError);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CFtpConnection::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CFtpConnection::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CFtpConnection::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    // The commands libcurl sends are seen only through its debug callback.
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CFtpConnection::OnDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    // One CWD with the whole path, then the listing of the same URL reuses it.
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(e, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    // A proxy would turn the session into HTTP requests without a lasting
    // control connection; the listing protocol needs the real one.
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    // libcurl's connect phase takes in the greeting and the login, so it
    // gets the control receive time on top of the TCP connect time.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(m_options.nConnectTimeout) +
                         static_cast<long>(m_options.nControlReceiveTimeout));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, Seconds(m_options.nControlReceiveTimeout));
    // A data connection that delivers nothing for the data receive time.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, Seconds(m_options.nDataReceiveTimeout));
}

CFtpConnection::~CFtpConnection()
{
    Close();
}

void CFtpConnection::Close()
{
    // Cut the sockets first: the QUIT that clean-up sends would otherwise
    // wait the whole response time on a server that went silent.
    m_pRegistry->CloseAll();
    if (m_pEasy != nullptr)
        curl_easy_cleanup(m_pEasy);
    if (m_pMulti != nullptr)
        curl_multi_cleanup(m_pMulti);
    m_pEasy = nullptr;
    m_pMulti = nullptr;
    if (m_nDeadError == 0)
        m_nDeadError = ERROR_INTERNET_CONNECTION_ABORTED;
}

size_t CFtpConnection::OnHeader(char* pData, size_t nSize, size_t nCount, void* pThis) noexcept
{
    auto* p = static_cast<CFtpConnection*>(pThis);
    size_t nBytes = nSize * nCount;
    std::string_view line(pData, nBytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (p->m_bReadingFeat)
    {
        // FEAT lists one feature per line, each after a space.
        std::string_view feature = line;
        while (!feature.empty() && feature.front() == ' ')
            feature.remove_prefix(1);
        if (feature.size() >= 4 &&
            (feature.substr(0, 4) == "MLST" || feature.substr(0, 4) == "mlst"))
            p->m_bMlsd = true;
        if (feature == "UTF8" || feature == "utf8")
            p->m_bUtf8Feature = true;
    }
    if (line.size() >= 3 && line[0] >= '1' && line[0] <= '5')
    {
        try
        {
            p->m_strLastReply.assign(line);
        }
        catch (...)
        {
            p->m_nCallbackError = ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
    }
    return nBytes;
}

size_t CFtpConnection::OnBody(char* pData, size_t nSize, size_t nCount, void* pThis) noexcept
{
    auto* p = static_cast<CFtpConnection*>(pThis);
    size_t nBytes = nSize * nCount;
    if (p->m_pSink != nullptr)
    {
        if (p->m_pSink->Write(pData, nBytes))
            return nBytes;
        p->m_nCallbackError = ERROR_FTP_SINK_REFUSED;
        return 0;
    }
    p->m_stats.nListingBytes += nBytes;
    // A short count ends the transfer (CURLE_WRITE_ERROR).
    if (p->m_strBody.size() + nBytes > GetListingSizeLimit())
    {
        p->m_nCallbackError = ERROR_FTP_LISTING_TOO_LARGE;
        return 0;
    }
    try
    {
        p->m_strBody.append(pData, nBytes);
    }
    catch (...)
    {
        p->m_nCallbackError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    return nBytes;
}

int CFtpConnection::OnProgress(void* pThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept
{
    // libcurl calls this at least once a second, a stalled transfer too.
    const std::atomic<int32_t>* pStop = static_cast<CFtpConnection*>(pThis)->m_pStop;
    return pStop != nullptr && pStop->load() != 0 ? 1 : 0;
}

int CFtpConnection::OnDebug(CURL*, curl_infotype nType, char* pData, size_t nSize,
                            void* pThis) noexcept
{
    auto* p = static_cast<CFtpConnection*>(pThis);
    // One call per command line sent, one per reply line received. "try"
    // goes on in clear after a refused "PROT P" without telling: its reply
    // is the only witness.
    std::string_view line(pData, nSize);
    if (nType == CURLINFO_HEADER_OUT)
    {
        ++p->m_stats.nCommands;
        p->m_bAwaitingProtReply = line.substr(0, 5) == "PROT ";
        p->m_bAwaitingSizeReply = line.substr(0, 5) == "SIZE ";
    }
    else if (nType == CURLINFO_HEADER_IN && p->m_bAwaitingSizeReply)
    {
        p->m_bAwaitingSizeReply = false;
        p->m_nSizeReply = ParseSizeReply(line);
    }
    else if (nType == CURLINFO_HEADER_IN && p->m_bAwaitingProtReply)
    {
        p->m_bAwaitingProtReply = false;
        p->m_bProtRefused = line.empty() || line[0] != '2';
    }
    return 0;
}

int CFtpConnection::Perform()
{
    if (m_pRegistry->IsClosed() || m_pEasy == nullptr)
        return -1;
    m_nCallbackError = 0;
    curl_multi_add_handle(m_pMulti, m_pEasy);
    int nResult = -1;
    for (;;)
    {
        int nRunning = 0;
        curl_multi_perform(m_pMulti, &nRunning);
        int nLeft = 0;
        bool bDone = false;
        while (CURLMsg* pMessage = curl_multi_info_read(m_pMulti, &nLeft))
        {
            if (pMessage->msg == CURLMSG_DONE)
            {
                nResult = pMessage->data.result;
                bDone = true;
            }
        }
        if (bDone || nRunning == 0)
            break;
        if (m_pRegistry->IsClosed())
        {
            nResult = -1;
            break;
        }
        curl_multi_poll(m_pMulti, nullptr, 0, POLL_CAP_MS, nullptr);
    }
    curl_multi_remove_handle(m_pMulti, m_pEasy);
    if (m_pRegistry->IsClosed())
        nResult = -1;
    return nResult;
}

uint32_t CFtpConnection::Classify(int nResult)
{
    if (nResult == CURLE_OK)
        return 0;
    // libcurl closes the line after a request we cut short.
    if (nResult == CURLE_ABORTED_BY_CALLBACK)
        return m_nDeadError = ERROR_INTERNET_OPERATION_CANCELLED;
    if (m_nCallbackError != 0 && nResult == CURLE_WRITE_ERROR)
        return m_nDeadError = m_nCallbackError;
    uint32_t nError = ERROR_INTERNET_CONNECTION_ABORTED;
    long nReply = 0;
    if (nResult != -1)
        curl_easy_getinfo(m_pEasy, CURLINFO_RESPONSE_CODE, &nReply);
    if (nResult == -1)
        nError = ERROR_INTERNET_CONNECTION_ABORTED; // the session was closed
    else if (nReply == 421)
        nError = ERROR_FTP_DROPPED;
    else if (nReply == 425 || nReply == 426)
        nError = ERROR_INTERNET_CONNECTION_ABORTED;
    else
    {
        switch (nResult)
        {
        case CURLE_URL_MALFORMAT:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_QUOTE_ERROR:
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return ERROR_INTERNET_EXTENDED_ERROR; // the server said no; the line stays
        case CURLE_OPERATION_TIMEDOUT:
            nError = ERROR_INTERNET_TIMEOUT;
            break;
        case CURLE_GOT_NOTHING:
            nError = ERROR_FTP_DROPPED;
            break;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        {
            // An orderly close by the server is a dropped session; a reset
            // (or a write into one) is a reset.
            long nErrno = 0;
            curl_easy_getinfo(m_pEasy, CURLINFO_OS_ERRNO, &nErrno);
            nError = (nErrno == 0 && nResult == CURLE_RECV_ERROR) ? ERROR_FTP_DROPPED
                                                                  : ERROR_INTERNET_CONNECTION_RESET;
            break;
        }
        default:
            nError = ERROR_INTERNET_CONNECTION_ABORTED;
            break;
        }
    }
    // Whatever went wrong on the line, the control connection is gone:
    // later calls fail the same way instead of logging in again unasked.
    m_nDeadError = nError;
    return nError;
}

bool CFtpConnection::ReconnectedBehindOurBack() const
{
    long nPort = 0;
    curl_easy_getinfo(m_pEasy, CURLINFO_LOCAL_PORT, &nPort);
    return m_nControlPort != 0 && nPort != 0 && nPort != m_nControlPort;
}

bool CFtpConnection::Fail(uint32_t nError)
{
    SetLastInternetError(nError);
    return false;
}

uint32_t CFtpConnection::Connect(const std::string& strServer, const std::string& strUser,
                                 const std::string& strPassword, uint16_t nPort,
                                 const std::string& strAgent)
{
    if (m_pEasy == nullptr || m_pMulti == nullptr)
        return ERROR_INTERNET_CONNECTION_ABORTED;
    if (strServer.empty() || HasLineBreakOrNul(strServer) || HasLineBreakOrNul(strUser) ||
        HasLineBreakOrNul(strPassword) || strServer.find_first_of("/@?# ") != std::string::npos)
        return ERROR_INTERNET_INVALID_URL;
    m_strBase = MakeFtpBaseUrl(strServer, nPort, m_options.tls.nMode);
    ApplyTlsOptions(m_pEasy, m_options.tls);

    curl_easy_setopt(m_pEasy, CURLOPT_USERAGENT, strAgent.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_USERNAME, strUser.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_PASSWORD, strPassword.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_URL, m_strBase.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_NOBODY, 1L);
    // FEAT once at login tells whether MLSD exists; "*" lets a server
    // without FEAT still log us in.
    curl_slist* pQuote = curl_slist_append(nullptr, "*FEAT");
    curl_easy_setopt(m_pEasy, CURLOPT_QUOTE, pQuote);
    m_bReadingFeat = true;
    int nResult = Perform();
    m_bReadingFeat = false;
    curl_easy_setopt(m_pEasy, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(pQuote);

    if (uint32_t nTlsError = ClassifyTlsResult(m_pEasy, nResult, m_szCurlError); nTlsError != 0)
        return FailTls(nTlsError, strServer);
    switch (nResult)
    {
    case CURLE_OK:
        m_strCurrentUrl = m_strBase;
        curl_easy_getinfo(m_pEasy, CURLINFO_LOCAL_PORT, &m_nControlPort);
        TakeTlsOutcome();
        if (m_bUtf8Feature && m_options.bRequestUtf8)
            RequestUtf8Names();
        return 0;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    default:
        return Classify(nResult);
    }
}

void CFtpConnection::TakeTlsOutcome()
{
    if (m_options.tls.nMode == TlsMode::off)
        return;
    m_bTlsActive = ReadServerCertificate(m_pEasy, &m_tlsCertificate);
    // Every data connection's handshake would gather the chain again.
    curl_easy_setopt(m_pEasy, CURLOPT_CERTINFO, 0L);
    if (!m_bTlsActive || !m_options.tls.strPin.empty() || !m_options.tls.bTrustFirstUse)
        return;
    // The key just accepted is the only one the data connections and the
    // listing connection may meet from now on.
    m_options.tls.strPin = m_tlsCertificate.strPin;
    curl_easy_setopt(m_pEasy, CURLOPT_PINNEDPUBLICKEY, m_options.tls.strPin.c_str());
    m_bTrustedOnFirstUse = true;
}

uint32_t CFtpConnection::FailTls(uint32_t nError, const std::string& strServer)
{
    CTlsCertificate cert;
    bool bSeen = false;
    if (nError == ERROR_FTP_TLS_PIN_MISMATCH)
        bSeen = ReadServerCertificate(m_pEasy, &cert);
    else if (nError == ERROR_INTERNET_INVALID_CA || nError == ERROR_INTERNET_SEC_CERT_CN_INVALID)
    {
        // The refused handshake kept no certificate: one more handshake,
        // without a login, reads it.
        bSeen = ProbeCertificate(m_strBase, m_options, m_pRegistry, &cert, nullptr) == 0;
    }
    m_strTlsFailure = DescribeTlsFailure(nError, m_pEasy, m_szCurlError, m_options.tls,
                                         bSeen ? &cert : nullptr, strServer);
    if (bSeen)
        m_tlsCertificate = std::move(cert);
    return m_nDeadError = nError;
}

void CFtpConnection::RequestUtf8Names()
{
    // Some servers send names in their local code page until asked; the "*" keeps a refusal from
    // failing the request.
    curl_slist* pQuote = curl_slist_append(nullptr, "*OPTS UTF8 ON");
    curl_easy_setopt(m_pEasy, CURLOPT_QUOTE, pQuote);
    int nResult = Perform();
    curl_easy_setopt(m_pEasy, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(pQuote);
    // A line lost here shows at the first folder, like any other.
    (void)Classify(nResult);
}

std::string CFtpConnection::MakeUrl(const std::string& strPath) const
{
    // "%2F" makes the path absolute; each segment is escaped on its own
    // (raw spaces and other bytes are refused by libcurl).
    std::string strUrl = m_strBase + "%2F";
    size_t nStart = 1;
    while (nStart < strPath.size())
    {
        size_t nEnd = strPath.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        if (nEnd > nStart)
        {
            char* pEscaped =
                curl_easy_escape(m_pEasy, strPath.data() + nStart, static_cast<int>(nEnd - nStart));
            if (pEscaped != nullptr)
            {
                strUrl += pEscaped;
                strUrl += '/';
                curl_free(pEscaped);
            }
        }
        nStart = nEnd + 1;
    }
    if (strUrl.back() != '/')
        strUrl += '/';
    return strUrl;
}

bool CFtpConnection::SetCurrentDirectory(const std::string& strPath)
{
    if (m_nDeadError != 0 || m_pRegistry->IsClosed())
        return Fail(m_nDeadError != 0 ? m_nDeadError : ERROR_INTERNET_CONNECTION_ABORTED);
    if (strPath.empty() || strPath[0] != '/' || HasLineBreakOrNul(strPath))
        return Fail(ERROR_INTERNET_INVALID_URL);
    std::string strUrl = MakeUrl(strPath);
    curl_easy_setopt(m_pEasy, CURLOPT_URL, strUrl.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(m_pEasy, CURLOPT_NOBODY, 1L);
    uint32_t nError = Classify(Perform());
    if (nError == 0 && ReconnectedBehindOurBack())
        nError = m_nDeadError = ERROR_FTP_DROPPED;
    if (nError != 0)
        return Fail(nError);
    m_strCurrentPath = strPath;
    m_strCurrentUrl = std::move(strUrl);
    return true;
}

bool CFtpConnection::ListCurrentDirectory(std::vector<CFtpListEntry>& entries)
{
    entries.clear();
    m_nLastUnreadable = 0;
    if (m_nDeadError != 0 || m_pRegistry->IsClosed())
        return Fail(m_nDeadError != 0 ? m_nDeadError : ERROR_INTERNET_CONNECTION_ABORTED);
    curl_easy_setopt(m_pEasy, CURLOPT_URL, m_strCurrentUrl.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_NOBODY, 0L);
    // Every byte restarts the other time-outs: this one bounds the whole.
    curl_easy_setopt(m_pEasy, CURLOPT_TIMEOUT_MS, static_cast<long>(m_nListingTimeoutMs));
    int nResult = CURLE_OK;
    const auto listStart = std::chrono::steady_clock::now();
    for (;;)
    {
        m_strBody.clear();
        curl_easy_setopt(m_pEasy, CURLOPT_CUSTOMREQUEST, m_bMlsd ? "MLSD" : nullptr);
        nResult = Perform();
        long nReply = 0;
        curl_easy_getinfo(m_pEasy, CURLINFO_RESPONSE_CODE, &nReply);
        // A server that announced MLST but rejects MLSD as unknown: LIST
        // from now on.
        if (m_bMlsd && nResult == CURLE_FTP_COULDNT_RETR_FILE && (nReply == 500 || nReply == 502))
        {
            m_bMlsd = false;
            continue;
        }
        break;
    }
    curl_easy_setopt(m_pEasy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(m_pEasy, CURLOPT_TIMEOUT_MS, 0L);
    uint32_t nError = Classify(nResult);
    // libcurl's clock and ours differ by a little.
    if (nResult == CURLE_OPERATION_TIMEDOUT && m_nListingTimeoutMs != 0 &&
        MsSince(listStart) + 100 >= m_nListingTimeoutMs)
        nError = m_nDeadError = ERROR_FTP_LISTING_TIMEOUT;
    if (nError == 0 && ReconnectedBehindOurBack())
        nError = m_nDeadError = ERROR_FTP_DROPPED;
    // The body's memory goes back at once: a listing may be large.
    std::string strBody;
    strBody.swap(m_strBody);
    if (nError != 0)
        return Fail(nError); // whatever part of the listing arrived is not a listing
    try
    {
        CFtpListing listing = CFtpListParser::Parse(strBody, ListedNow());
        entries = std::move(listing.entries);
        m_nLastUnreadable = listing.nUnreadable;
    }
    catch (const std::bad_alloc&)
    {
        entries.clear();
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    // Lines that could not be read are not an empty folder: the caller must
    // not drop what it has cached on the strength of them.
    if (entries.empty() && m_nLastUnreadable == 0)
        return Fail(ERROR_NO_MORE_FILES);
    return true;
}

std::unique_ptr<CFtpControlChannel> CFtpConnection::OpenControlChannel()
{
    if (m_pSession == nullptr)
    {
        SetLastInternetError(ERROR_INTERNET_CONNECTION_ABORTED);
        return nullptr;
    }
    // With the key this connection holds to, one it accepted on first use
    // included; a server that spoke TLS here speaks it there too.
    CTlsSettings tls = m_options.tls;
    if (m_bTlsActive && tls.nMode == TlsMode::tryTls)
        tls.nMode = TlsMode::explicitTls;
    std::unique_ptr<CFtpControlChannel> pChannel =
        m_pSession->OpenControlChannel(m_strServer, m_strUser, m_strPassword, m_nPort, &tls);
    if (pChannel)
        pChannel->SetStopFlag(m_pStop);
    return pChannel;
}
