#pragma once
// One FTP control connection (one libcurl easy handle driven through a
// private multi handle), logged in once and kept for every folder: change
// of directory by absolute path and a fresh listing of the current folder.
//
// Threads: used only by the thread that opened it; its session may cut it
// from another thread (see CInternetSession::Close).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "net/FtpListParser.h"
#include "net/InternetSession.h"
#include "net/TlsSettings.h"

class CFtpControlChannel;
class CSocketRegistry;

// The most bytes one listing may take; a server that sends more fails that
// listing instead of exhausting memory.
inline constexpr uint64_t LISTING_SIZE_LIMIT = uint64_t{256} << 20;
// The limit in force for every connection (tests lower it).
void SetListingSizeLimit(uint64_t nBytes);
uint64_t GetListingSizeLimit();

// What went over one connection, for the site's statistics.
struct CFtpConnectionStats
{
    uint64_t nCommands = 0;     // commands sent on the control connection, login included
    uint64_t nListingBytes = 0; // listing bytes received on data connections
};

// Where a download's bytes go, in order. Write returns false to end the
// transfer; RetrieveFile then fails with ERROR_FTP_SINK_REFUSED and the sink
// knows why.
class IFtpFileSink
{
public:
    [[nodiscard]] virtual bool Write(const char* pData, size_t nBytes) = 0;

protected:
    ~IFtpFileSink() = default;
};

// What a retrieval learnt of the file.
struct CFtpRetrieveInfo
{
    int64_t nServerSize = -1; // the answer to SIZE; -1 when the server gave none
    uint64_t nReceived = 0;   // bytes handed to the sink
};

class CFtpConnection
{
public:
    ~CFtpConnection();
    CFtpConnection(const CFtpConnection&) = delete;
    CFtpConnection& operator=(const CFtpConnection&) = delete;

    // Changes to an absolute folder path ("/" or "/a/b"). On failure the
    // thread's last internet error holds the code.
    [[nodiscard]] bool SetCurrentDirectory(const std::string& strPath);
    const std::string& GetCurrentDirectory() const { return m_strCurrentPath; }

    // Lists the current folder afresh. Fails with ERROR_NO_MORE_FILES for an
    // empty folder, a connection-lost code, ERROR_FTP_LISTING_TOO_LARGE or
    // ERROR_NOT_ENOUGH_MEMORY for a listing that cannot be held, or an
    // ordinary code. A listing with lines the parser could not read
    // succeeds even without entries.
    [[nodiscard]] bool ListCurrentDirectory(std::vector<CFtpListEntry>& entries);
    // The longest one listing may take, request to final reply (0: no
    // bound); a longer one fails with ERROR_FTP_LISTING_TIMEOUT and ends
    // the connection.
    void SetListingTimeout(uint32_t nMs) { m_nListingTimeoutMs = nMs; }
    uint32_t GetListingTimeout() const { return m_nListingTimeoutMs; }
    // Lines of the last listing that the parser could not read.
    size_t GetLastUnreadable() const { return m_nLastUnreadable; }

    // Fetches the file at an absolute path (the server's bytes) from byte
    // nOffset on ("REST"; 0: from the start) into sink. Fails with
    // ERROR_FTP_REST_REFUSED, ERROR_FTP_OFFSET_BEYOND_END,
    // ERROR_FTP_PARTIAL_FILE, ERROR_FTP_RETRIEVE_REFUSED,
    // ERROR_FTP_SINK_REFUSED, a connection-lost code or another code;
    // IsUsable tells whether the connection may serve the next request.
    [[nodiscard]] bool RetrieveFile(const std::string& strPath, uint64_t nOffset, IFtpFileSink& sink,
                                    CFtpRetrieveInfo* pInfo);
    bool IsUsable() const { return m_nDeadError == 0 && m_pEasy != nullptr; }
    // The size the server gave for the file being retrieved (known before
    // its first byte arrives); -1 when it gave none.
    int64_t GetLastSizeReply() const { return m_nSizeReply; }

    // The server's last reply line, and whether listings use MLSD.
    const std::string& GetLastReply() const { return m_strLastReply; }
    bool UsesMlsd() const { return m_bMlsd; }
    // FEAT listed UTF8 (RFC 2640).
    bool OffersUtf8() const { return m_bUtf8Feature; }
    const CFtpConnectionStats& GetStats() const { return m_stats; }

    // The TLS this connection was opened with (a key accepted on first use
    // is its pin now).
    const CTlsSettings& GetTlsSettings() const { return m_options.tls; }
    // The control connection is protected by TLS.
    bool UsesTls() const { return m_bTlsActive; }
    // So are the data connections: the server took "PROT P". Only "try"
    // goes on without it (the other modes fail the login).
    bool ProtectsListings() const { return m_bTlsActive && !m_bProtRefused; }
    // The server's certificate, when UsesTls.
    const CTlsCertificate& GetTlsCertificate() const { return m_tlsCertificate; }
    // The site trusts on first use and had no pin: this connection accepted
    // the server's key, holds every later connection to it, and the caller
    // should pin it (GetTlsCertificate().strPin).
    bool WasTrustedOnFirstUse() const { return m_bTrustedOnFirstUse; }

    // Drops the control connection without waiting for the server.
    void Close();

    // Logs in once more, through the same session with the same login, over
    // a control connection the caller speaks on itself (listings over the
    // control connection), protected at least as this one is: with the key
    // this one holds to, and, once this one speaks TLS, with TLS required
    // even for "try" (a refusal there means someone in between). Null with
    // the thread's last error (and its text) set.
    std::unique_ptr<CFtpControlChannel> OpenControlChannel();

    // A request in progress (a transfer stalled included) ends within about
    // a second once *pStop is non-zero; the call then fails with
    // ERROR_INTERNET_OPERATION_CANCELLED. Null: never stopped.
    void SetStopFlag(const std::atomic<int32_t>* pStop) { m_pStop = pStop; }

private:
    friend class CInternetSession;
    CFtpConnection(std::shared_ptr<CSocketRegistry> pRegistry, const CInternetOptions& options);

    // Connects and logs in; 0 or an error code (m_strLastReply has the
    // server's words, if any).
    uint32_t Connect(const std::string& strServer, const std::string& strUser,
                     const std::string& strPassword, uint16_t nPort, const std::string& strAgent);
    // Runs the easy handle's request to its end; libcurl's result code, or
    // -1 when the session was closed meanwhile.
    int Perform();
    // Turns a libcurl result into one of our codes; remembers a dead line.
    uint32_t Classify(int nResult);
    bool Fail(uint32_t nError);
    // libcurl logs in again on its own when it finds the reused control
    // connection dead in the middle of a request. One session keeps one
    // login: such a request counts as a dropped connection.
    [[nodiscard]] bool ReconnectedBehindOurBack() const;
    // "OPTS UTF8 ON" once after login; a refusal changes nothing.
    void RequestUtf8Names();
    // After login: what TLS the control connection ended up with.
    void TakeTlsOutcome();
    // A connect refused for the sake of TLS: the text, with the certificate
    // the server showed.
    uint32_t FailTls(uint32_t nError, const std::string& strServer);
    std::string MakeUrl(const std::string& strPath) const;
    // A retrieval's libcurl result as one of our codes.
    uint32_t ClassifyRetrieve(int nResult);

    // libcurl's callbacks. No exception may cross them: a failure is kept
    // in m_nCallbackError and ends the request.
    static size_t OnHeader(char* pData, size_t nSize, size_t nCount, void* pThis) noexcept;
    static size_t OnBody(char* pData, size_t nSize, size_t nCount, void* pThis) noexcept;
    static int OnProgress(void* pThis, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept;
    static int OnDebug(CURL*, curl_infotype nType, char*, size_t, void* pThis) noexcept;

    std::shared_ptr<CSocketRegistry> m_pRegistry;
    CInternetOptions m_options;
    CURL* m_pEasy = nullptr;
    CURLM* m_pMulti = nullptr;
    std::string m_strBase; // "ftp://host:port/"
    std::string m_strCurrentPath;
    std::string m_strCurrentUrl;
    std::string m_strLastReply;
    std::string m_strBody;
    size_t m_nLastUnreadable = 0;
    uint32_t m_nListingTimeoutMs = 0;
    CFtpConnectionStats m_stats;
    bool m_bReadingFeat = false;
    bool m_bMlsd = false;
    bool m_bUtf8Feature = false;
    uint32_t m_nDeadError = 0;     // set once the control connection is gone
    uint32_t m_nCallbackError = 0; // why a callback ended the request
    const std::atomic<int32_t>* m_pStop = nullptr;
    long m_nControlPort = 0; // local port of the control connection after login
    char m_szCurlError[CURL_ERROR_SIZE] = {};
    bool m_bTlsActive = false;
    bool m_bProtRefused = false;
    bool m_bAwaitingProtReply = false; // "PROT" went out, its reply is due
    bool m_bTrustedOnFirstUse = false;
    IFtpFileSink* m_pSink = nullptr; // set while a file is retrieved
    bool m_bAwaitingSizeReply = false;
    int64_t m_nSizeReply = -1;
    CTlsCertificate m_tlsCertificate;
    std::string m_strTlsFailure; // the text of a TLS failure at login
    // Set by the session once logged in, for OpenControlChannel.
    CInternetSession* m_pSession = nullptr;
    std::string m_strServer;
    std::string m_strUser;
    std::string m_strPassword;
    uint16_t m_nPort = 0;
};
