#include "net/FtpControlChannel.h"

#include <cerrno>
#include <chrono>
#include <new>
#include <poll.h>

#include "net/FtpConnection.h"
#include "net/FtpListTokens.h"
#include "net/InternetError.h"
#include "net/SocketRegistry.h"
#include "net/TlsTransport.h"

namespace
{
using Clock = std::chrono::steady_clock;

// The longest a wait goes without looking at the stop flag.
constexpr int POLL_SLICE_MS = 50;
constexpr size_t RECEIVE_CHUNK = 64 * 1024;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "ddd", "ddd text" or "ddd-text" with a first digit of 1 to 5.
bool IsReplyStart(std::string_view line)
{
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !IsDigit(line[1]) || !IsDigit(line[2]))
        return false;
    return line.size() == 3 || line[3] == ' ' || line[3] == '-';
}

int ReplyCode(std::string_view line)
{
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// What a queued reply holds, for the listing size limit.
uint64_t ReplyBytes(const CFtpReply& reply)
{
    return sizeof(CFtpReply) + reply.strText.size() + reply.strBody.size();
}

int64_t MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}
} // namespace

CFtpControlChannel::CFtpControlChannel(std::shared_ptr<CSocketRegistry> pRegistry,
                                       const CInternetOptions& options)
    : m_pRegistry(std::move(pRegistry)), m_options(options)
{
    m_pEasy = curl_easy_init();
    if (m_pEasy == nullptr)
        return;
    CURL* e = m_pEasy;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    AttachSocketRegistry(e, m_pRegistry.get());
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CFtpControlChannel::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    // The login's commands are libcurl's: counted through its debug callback.
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CFtpControlChannel::OnDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    // As for CFtpConnection: the connect phase includes greeting and login.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(m_options.nConnectTimeout) +
                         static_cast<long>(m_options.nControlReceiveTimeout));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>((m_options.nControlReceiveTimeout + 999) / 1000));
}

CFtpControlChannel::~CFtpControlChannel()
{
    Close();
}

void CFtpControlChannel::Close()
{
    // Cut the socket first, so libcurl's clean-up does not wait for a QUIT.
    m_pRegistry->CloseAll();
    if (m_pEasy != nullptr)
        curl_easy_cleanup(m_pEasy);
    m_pEasy = nullptr;
    m_socket = CURL_SOCKET_BAD;
    if (m_nDeadError == 0)
        m_nDeadError = ERROR_INTERNET_CONNECTION_ABORTED;
}

int CFtpControlChannel::OnDebug(CURL*, curl_infotype nType, char*, size_t, void* pThis) noexcept
{
    if (nType == CURLINFO_HEADER_OUT)
        ++static_cast<CFtpControlChannel*>(pThis)->m_stats.nCommands;
    return 0;
}

int CFtpControlChannel::OnProgress(void* pThis, curl_off_t, curl_off_t, curl_off_t,
                                   curl_off_t) noexcept
{
    const std::atomic<int32_t>* pStop = static_cast<CFtpControlChannel*>(pThis)->m_pStop;
    return pStop != nullptr && pStop->load() != 0 ? 1 : 0;
}

bool CFtpControlChannel::Die(uint32_t nError)
{
    if (m_nDeadError == 0)
        m_nDeadError = m_pRegistry->IsClosed() ? ERROR_INTERNET_CONNECTION_ABORTED : nError;
    return Fail(m_nDeadError);
}

bool CFtpControlChannel::Fail(uint32_t nError)
{
    SetLastInternetError(nError);
    return false;
}

uint32_t CFtpControlChannel::Connect(const std::string& strServer, const std::string& strUser,
                                     const std::string& strPassword, uint16_t nPort,
                                     const std::string& strAgent)
{
    if (m_pEasy == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::string strUrl = MakeFtpBaseUrl(strServer, nPort, m_options.tls.nMode);
    curl_easy_setopt(m_pEasy, CURLOPT_URL, strUrl.c_str());
    ApplyTlsOptions(m_pEasy, m_options.tls);
    curl_easy_setopt(m_pEasy, CURLOPT_USERAGENT, strAgent.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_USERNAME, strUser.c_str());
    curl_easy_setopt(m_pEasy, CURLOPT_PASSWORD, strPassword.c_str());
    CURLcode nResult = curl_easy_perform(m_pEasy);
    if (m_pRegistry->IsClosed())
        return m_nDeadError = ERROR_INTERNET_CONNECTION_ABORTED;
    if (uint32_t nTlsError = ClassifyTlsResult(m_pEasy, nResult, nullptr); nTlsError != 0)
    {
        // Said as on the first connection: a changed key with both fingerprints.
        CTlsCertificate cert;
        bool bSeen =
            nTlsError == ERROR_FTP_TLS_PIN_MISMATCH && ReadServerCertificate(m_pEasy, &cert);
        m_strTlsFailure = DescribeTlsFailure(nTlsError, m_pEasy, nullptr, m_options.tls,
                                             bSeen ? &cert : nullptr, strServer);
        return m_nDeadError = nTlsError;
    }
    switch (nResult)
    {
    case CURLE_OK:
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        return m_nDeadError = ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return m_nDeadError = ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_LOGIN_DENIED:
    case CURLE_URL_MALFORMAT:
        return m_nDeadError = ERROR_INTERNET_EXTENDED_ERROR;
    case CURLE_OPERATION_TIMEDOUT:
        return m_nDeadError = ERROR_INTERNET_TIMEOUT;
    case CURLE_ABORTED_BY_CALLBACK:
        return m_nDeadError = ERROR_INTERNET_OPERATION_CANCELLED;
    default:
        return m_nDeadError = ERROR_INTERNET_CONNECTION_ABORTED;
    }
    curl_socket_t fd = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_pEasy, CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK || fd == CURL_SOCKET_BAD)
        return m_nDeadError = ERROR_INTERNET_CONNECTION_ABORTED;
    m_socket = fd;

    // FEAT says whether OPTS UTF8 is worth sending; a server without FEAT
    // simply has no features.
    CFtpReply reply;
    if (!Send("FEAT") || !ReadReply(reply))
        return GetLastInternetError();
    if (reply.nCode == 211)
        m_strFeatures = std::move(reply.strBody);
    return 0;
}

bool CFtpControlChannel::HasFeature(std::string_view name) const
{
    std::string_view features = m_strFeatures;
    while (!features.empty())
    {
        size_t nEnd = features.find('\n');
        std::string_view line = features.substr(0, nEnd);
        features.remove_prefix(nEnd == std::string_view::npos ? features.size() : nEnd + 1);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        size_t nSpace = line.find(' ');
        if (ListEqualsNoCase(line.substr(0, nSpace), name))
            return true;
    }
    return false;
}

bool CFtpControlChannel::Send(std::string_view command)
{
    if (m_nDeadError != 0)
        return Fail(m_nDeadError);
    if (command.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return Fail(ERROR_INTERNET_INVALID_URL);
    try
    {
        m_strOut.append(command);
        m_strOut.append("\r\n");
    }
    catch (const std::bad_alloc&)
    {
        return Die(ERROR_NOT_ENOUGH_MEMORY);
    }
    ++m_stats.nCommands;
    return true;
}

bool CFtpControlChannel::SendPending()
{
    for (;;)
    {
        if (m_nOutSent == m_strInFlight.size())
        {
            m_strInFlight.clear();
            m_nOutSent = 0;
            if (m_strOut.empty())
                return true;
            // TLS must be offered the very bytes it could not write last
            // time, at the same address: commands queued meanwhile wait in
            // m_strOut instead of moving this buffer.
            m_strInFlight.swap(m_strOut);
        }
        size_t nSent = 0;
        CURLcode nResult = curl_easy_send(m_pEasy, m_strInFlight.data() + m_nOutSent,
                                          m_strInFlight.size() - m_nOutSent, &nSent);
        if (nResult == CURLE_AGAIN)
            return true;
        if (nResult != CURLE_OK)
            return Die(ERROR_INTERNET_CONNECTION_RESET);
        m_nOutSent += nSent;
        m_stats.nBytesSent += nSent;
    }
}

bool CFtpControlChannel::ReceiveAvailable()
{
    char buffer[RECEIVE_CHUNK];
    for (;;)
    {
        // A server that sends faster than we read must not keep us here.
        if (m_pStop != nullptr && m_pStop->load() != 0)
            return Die(ERROR_INTERNET_OPERATION_CANCELLED);
        if (Clock::now() >= m_deadline)
            return Die(ERROR_FTP_LISTING_TIMEOUT);
        size_t nRead = 0;
        CURLcode nResult = curl_easy_recv(m_pEasy, buffer, sizeof buffer, &nRead);
        if (nResult == CURLE_AGAIN)
        {
            m_bDrained = true;
            return true;
        }
        if (nResult != CURLE_OK)
        {
            // A reset is a reset; anything else on a dead line is a dropped session.
            long nErrno = 0;
            curl_easy_getinfo(m_pEasy, CURLINFO_OS_ERRNO, &nErrno);
            return Die(nErrno == ECONNRESET ? ERROR_INTERNET_CONNECTION_RESET : ERROR_FTP_DROPPED);
        }
        if (nRead == 0)
            return Die(ERROR_FTP_DROPPED); // the server closed the connection
        try
        {
            m_strIn.append(buffer, nRead);
        }
        catch (const std::bad_alloc&)
        {
            return Die(ERROR_NOT_ENOUGH_MEMORY);
        }
        m_stats.nBytesReceived += nRead;
        if (!TakeLines())
            return false;
    }
}

bool CFtpControlChannel::TakeLines()
{
    const uint64_t nLimit = GetListingSizeLimit();
    bool bOk = true;
    for (;;)
    {
        size_t nEnd = m_strIn.find('\n', m_nInRead);
        if (nEnd == std::string::npos)
            break;
        std::string_view line(m_strIn.data() + m_nInRead, nEnd - m_nInRead);
        m_nInRead = nEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        try
        {
            if (!m_bInReply)
            {
                if (line.empty())
                    continue; // a stray line end between replies
                if (!IsReplyStart(line))
                {
                    m_bOutOfTurn = true;
                    bOk = Die(ERROR_FTP_DROPPED); // not a reply: we no longer know where we are
                    break;
                }
                CFtpReply reply;
                reply.nCode = ReplyCode(line);
                reply.strText = line.size() > 4 ? std::string(line.substr(4)) : std::string();
                if (line.size() > 3 && line[3] == '-')
                {
                    reply.bMultiline = true;
                    m_current = std::move(reply);
                    m_bInReply = true;
                    continue;
                }
                if (!Queue(std::move(reply)))
                {
                    bOk = false;
                    break;
                }
                continue;
            }
            // Only "ddd " (or "ddd" alone) with the first line's code ends it.
            if (line.size() >= 3 && IsReplyStart(line) && ReplyCode(line) == m_current.nCode &&
                (line.size() == 3 || line[3] == ' '))
            {
                m_bInReply = false;
                CFtpReply reply = std::move(m_current);
                m_current = CFtpReply();
                if (!Queue(std::move(reply)))
                {
                    bOk = false;
                    break;
                }
                continue;
            }
            if (m_nQueuedBytes + m_current.strBody.size() + line.size() + 1 > nLimit)
            {
                bOk = Die(ERROR_FTP_LISTING_TOO_LARGE);
                break;
            }
            m_current.strBody.append(line);
            m_current.strBody.push_back('\n');
        }
        catch (const std::bad_alloc&)
        {
            bOk = Die(ERROR_NOT_ENOUGH_MEMORY);
            break;
        }
    }
    // A line without its end that is already too long is no reply either.
    if (bOk && m_strIn.size() - m_nInRead > nLimit)
        bOk = Die(ERROR_FTP_LISTING_TOO_LARGE);
    m_strIn.erase(0, m_nInRead);
    m_nInRead = 0;
    return bOk;
}

bool CFtpControlChannel::Queue(CFtpReply reply)
{
    ++m_stats.nReplies;
    if (reply.nCode < 200)
    {
        // Nobody waits for a preliminary reply: counted, never held.
        if (++m_nPreliminary > MAX_PRELIMINARY_REPLIES)
            return Die(ERROR_FTP_REPLY_FLOOD);
        return true;
    }
    m_nPreliminary = 0;
    uint64_t nBytes = ReplyBytes(reply);
    if (m_nQueuedBytes + nBytes > GetListingSizeLimit())
        return Die(ERROR_FTP_LISTING_TOO_LARGE);
    m_nQueuedBytes += nBytes;
    m_replies.push_back(std::move(reply));
    return true;
}

bool CFtpControlChannel::Pump(int nWaitMs)
{
    if (m_nDeadError != 0)
        return Fail(m_nDeadError);
    if (m_pRegistry->IsClosed())
        return Die(ERROR_INTERNET_CONNECTION_ABORTED);
    if (!SendPending())
        return false;
    // Once a read found nothing, no layer of ours holds bytes the poll
    // below cannot see: a wait goes straight to it, a syscall less per wake.
    if ((nWaitMs <= 0 || !m_bDrained) && !ReceiveAvailable())
        return false;
    if (nWaitMs <= 0 || !m_replies.empty())
        return true;
    pollfd pfd{m_socket, POLLIN, 0};
    if (HasUnsent())
        pfd.events |= POLLOUT;
    int nReady = poll(&pfd, 1, nWaitMs);
    if (nReady < 0 && errno != EINTR)
        return Die(ERROR_INTERNET_CONNECTION_ABORTED);
    if (m_pRegistry->IsClosed())
        return Die(ERROR_INTERNET_CONNECTION_ABORTED);
    if (nReady > 0)
        return SendPending() && ReceiveAvailable();
    return true;
}

bool CFtpControlChannel::Poll()
{
    return Pump(0);
}

bool CFtpControlChannel::ReadReply(CFtpReply& reply)
{
    return ReadReply(reply, Clock::time_point::max());
}

bool CFtpControlChannel::ReadReply(CFtpReply& reply, Clock::time_point deadline)
{
    m_deadline = deadline;
    struct CDeadlineReset
    {
        CFtpControlChannel* pThis;
        ~CDeadlineReset() { pThis->m_deadline = Clock::time_point::max(); }
    } reset{this};
    Clock::time_point waitStart = Clock::now();
    uint64_t nReceived = m_stats.nBytesReceived;
    uint64_t nSent = m_stats.nBytesSent;
    Clock::time_point lastReceive = waitStart;
    Clock::time_point lastSend = waitStart;
    for (;;)
    {
        if (!m_replies.empty())
        {
            reply = std::move(m_replies.front());
            m_replies.pop_front();
            m_nQueuedBytes -= ReplyBytes(reply);
            if (reply.nCode == 421)
                return Die(ERROR_FTP_DROPPED); // the server is closing the connection
            return true;
        }
        if (m_nDeadError != 0)
            return Fail(m_nDeadError);
        if (m_pStop != nullptr && m_pStop->load() != 0)
            return Die(ERROR_INTERNET_OPERATION_CANCELLED);
        if (m_stats.nBytesReceived != nReceived)
        {
            nReceived = m_stats.nBytesReceived;
            lastReceive = Clock::now();
        }
        if (m_stats.nBytesSent != nSent)
        {
            nSent = m_stats.nBytesSent;
            lastSend = Clock::now();
        }
        if (MsSince(lastReceive) >= m_options.nControlReceiveTimeout)
            return Die(ERROR_INTERNET_TIMEOUT);
        if (Clock::now() >= deadline)
            return Die(ERROR_FTP_LISTING_TIMEOUT);
        if (HasUnsent() && MsSince(lastSend) >= m_options.nControlSendTimeout &&
            m_options.nControlSendTimeout > 0)
            return Die(ERROR_INTERNET_TIMEOUT);
        // A failure leaves the channel dead; replies read in full before it
        // still come out first.
        (void)Pump(POLL_SLICE_MS);
    }
}
