#pragma once
// A logged-in FTP control connection that we speak on ourselves: libcurl
// connects and logs in (CURLOPT_CONNECT_ONLY: greeting, USER, PASS, PWD),
// then commands go out with curl_easy_send and replies come back with
// curl_easy_recv, so TLS, the session's time-outs and its cross-thread
// Close work as for CFtpConnection. Commands may be pipelined: Send queues,
// ReadReply hands the replies back strictly in the order they arrive.
//
// Once a call fails for a reason other than a refusal the channel is dead
// and every later call fails the same way.
//
// Threads: used only by the thread that opened it; its session may cut it
// from another thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "net/InternetSession.h"

class CSocketRegistry;

// More 1xx replies in a row than any command draws: a server flooding them.
inline constexpr size_t MAX_PRELIMINARY_REPLIES = 100;

// One whole reply. A multi-line reply's lines between the first and the
// last are in strBody, each ended by "\n" (the STAT listing lives there).
struct CFtpReply
{
    int nCode = 0;
    std::string strText; // the first line without its code
    std::string strBody;
    bool bMultiline = false;
};

// What went over the control connection, for people tuning the listing.
struct CFtpChannelStats
{
    uint64_t nCommands = 0; // the login's included
    uint64_t nReplies = 0;
    uint64_t nBytesSent = 0;
    uint64_t nBytesReceived = 0;
};

class CFtpControlChannel
{
public:
    ~CFtpControlChannel();
    CFtpControlChannel(const CFtpControlChannel&) = delete;
    CFtpControlChannel& operator=(const CFtpControlChannel&) = delete;

    // Queues one command; it goes out during the next ReadReply (or Flush).
    // False, with nothing queued, for a command holding CR, LF or NUL: it
    // would smuggle in a command of its own.
    [[nodiscard]] bool Send(std::string_view command);
    // The next reply, waiting for it (preliminary 1xx replies are skipped,
    // at most MAX_PRELIMINARY_REPLIES in a row). False with the thread's
    // last internet error set: a connection-lost code (a reply that is not
    // a reply counts as ERROR_FTP_DROPPED), ERROR_INTERNET_OPERATION_CANCELLED
    // after a stop, ERROR_FTP_LISTING_TOO_LARGE / ERROR_NOT_ENOUGH_MEMORY
    // (replies read ahead count against the listing size limit too),
    // ERROR_FTP_REPLY_FLOOD, or ERROR_FTP_LISTING_TIMEOUT once deadline
    // passed, however busy the line.
    [[nodiscard]] bool ReadReply(CFtpReply& reply);
    [[nodiscard]] bool ReadReply(CFtpReply& reply, std::chrono::steady_clock::time_point deadline);
    // Replies already read in full, without waiting.
    size_t GetBufferedReplies() const { return m_replies.size(); }
    // Sends and reads what the line allows now, without waiting. False once
    // the channel is dead.
    [[nodiscard]] bool Poll();

    // The features FEAT announced at login ("UTF8", "MLST type*;size*;"...).
    [[nodiscard]] bool HasFeature(std::string_view name) const;
    const CFtpChannelStats& GetStats() const { return m_stats; }
    uint32_t GetDeadError() const { return m_nDeadError; }
    // The server sent a line that is no reply where a reply had to begin.
    bool HasSpokenOutOfTurn() const { return m_bOutOfTurn; }
    // Why the login was refused for the sake of TLS ("" otherwise).
    const std::string& GetTlsFailure() const { return m_strTlsFailure; }

    // A wait in progress ends within POLL_SLICE_MS once *pStop is non-zero.
    void SetStopFlag(const std::atomic<int32_t>* pStop) { m_pStop = pStop; }
    // Drops the connection without waiting for the server.
    void Close();

private:
    friend class CInternetSession;
    CFtpControlChannel(std::shared_ptr<CSocketRegistry> pRegistry, const CInternetOptions& options);

    // Connects, logs in and reads FEAT; 0 or an error code.
    uint32_t Connect(const std::string& strServer, const std::string& strUser,
                     const std::string& strPassword, uint16_t nPort, const std::string& strAgent);
    // Moves bytes both ways for at most nWaitMs; false once dead.
    bool Pump(int nWaitMs);
    bool SendPending();
    bool ReceiveAvailable();
    // Cuts complete lines off the input and turns them into replies.
    bool TakeLines();
    // Holds a whole reply for ReadReply (a preliminary one is only counted).
    bool Queue(CFtpReply reply);
    bool Die(uint32_t nError);
    bool Fail(uint32_t nError);

    static int OnProgress(void* pThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept;
    static int OnDebug(CURL*, curl_infotype nType, char*, size_t, void* pThis) noexcept;

    std::shared_ptr<CSocketRegistry> m_pRegistry;
    CInternetOptions m_options;
    CURL* m_pEasy = nullptr;
    curl_socket_t m_socket = CURL_SOCKET_BAD;
    std::string m_strTlsFailure;
    bool HasUnsent() const { return !m_strOut.empty() || m_nOutSent < m_strInFlight.size(); }

    std::string m_strOut;      // queued commands not yet handed to the line
    std::string m_strInFlight; // the bytes being sent, unchanged until all are out
    size_t m_nOutSent = 0;     // of m_strInFlight
    std::string m_strIn;
    size_t m_nInRead = 0;
    bool m_bInReply = false; // inside a multi-line reply
    bool m_bDrained = false; // the last read found nothing more to read
    CFtpReply m_current;
    std::deque<CFtpReply> m_replies;
    uint64_t m_nQueuedBytes = 0;  // held by m_replies and m_current
    size_t m_nPreliminary = 0;    // 1xx replies since the last final one
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    std::string m_strFeatures;
    CFtpChannelStats m_stats;
    uint32_t m_nDeadError = 0;
    bool m_bOutOfTurn = false;
    const std::atomic<int32_t>* m_pStop = nullptr;
};
