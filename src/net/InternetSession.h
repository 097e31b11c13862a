#pragma once
// An internet session: the agent name, the time-outs, and the FTP
// connections opened through it. Closing it (from any thread) cuts every
// connection's sockets, so every call blocked on them fails at once and
// every later call fails without touching the network.
//
// Threads: created, configured and used by one worker; Close may be called
// from any thread while the worker is inside a call.

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/TlsSettings.h"

class CFtpConnection;
class CFtpControlChannel;
class CSocketRegistry;

inline constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr uint32_t INTERNET_OPTION_CONNECT_RETRIES = 3;
inline constexpr uint32_t INTERNET_OPTION_CONTROL_SEND_TIMEOUT = 5;
inline constexpr uint32_t INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT = 6;
inline constexpr uint32_t INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
inline constexpr uint32_t INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
// Non-zero (the default): after login, a server whose FEAT lists UTF8 is
// asked once for UTF-8 names ("OPTS UTF8 ON"). Zero for a site whose names
// are in another character set, which such a server might then convert.
inline constexpr uint32_t INTERNET_OPTION_FTP_UTF8 = 1000;

inline constexpr uint16_t INTERNET_DEFAULT_FTP_PORT = 21;

// The time-outs a session hands to each connection it opens (ms; retries
// is the number of connect attempts), and its TLS.
struct CInternetOptions
{
    uint32_t nConnectTimeout = 60000;
    uint32_t nConnectRetries = 5;
    uint32_t nControlSendTimeout = 60000;
    uint32_t nControlReceiveTimeout = 60000;
    uint32_t nDataSendTimeout = 60000;
    uint32_t nDataReceiveTimeout = 60000;
    bool bRequestUtf8 = true;
    CTlsSettings tls;
};

// A failure to open a connection: the error code and its message.
class CInternetException : public std::runtime_error
{
public:
    CInternetException(uint32_t nError, const std::string& strMessage)
        : std::runtime_error(strMessage), m_dwError(nError)
    {
    }
    // The message cut to fit a buffer of nMax bytes (with its terminator),
    // never in the middle of a UTF-8 character.
    std::string GetErrorMessage(size_t nMax = 1024) const;

    uint32_t m_dwError;
};

class CInternetSession
{
public:
    explicit CInternetSession(std::string strAgent = "my");
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // One of the INTERNET_OPTION_ numbers above; false for any other.
    [[nodiscard]] bool SetOption(uint32_t nOption, uint32_t nValue);
    CInternetOptions GetOptions() const;
    // How the connections opened from now on use TLS (TlsSettings.h). The
    // port given to them is dialled as it is: see GetTlsPort.
    void SetTlsSettings(const CTlsSettings& tls);
    const std::string& GetAgent() const { return m_strAgent; }

    // Logs in over a new control connection of its own (passive mode
    // always). Throws CInternetException on failure.
    std::unique_ptr<CFtpConnection> GetFtpConnection(const std::string& strServer,
                                                     const std::string& strUser,
                                                     const std::string& strPassword,
                                                     uint16_t nPort = INTERNET_DEFAULT_FTP_PORT,
                                                     bool bPassive = true);

    // Logs in over another control connection of its own that the caller
    // speaks on directly (see CFtpControlChannel), with the session's TLS or
    // *pTls. Null on failure, with the thread's last internet error set.
    std::unique_ptr<CFtpControlChannel> OpenControlChannel(const std::string& strServer,
                                                           const std::string& strUser,
                                                           const std::string& strPassword,
                                                           uint16_t nPort,
                                                           const CTlsSettings* pTls = nullptr);

    // Connects with the session's TLS mode (explicit when it is off or
    // "try") up to the end of the TLS handshake and reads the server's
    // certificate, without logging in: nothing of a login is sent, whatever
    // the certificate. Close cuts it like any other call. 0, or an error
    // code with its text in *pstrError.
    [[nodiscard]] uint32_t FetchServerCertificate(const std::string& strServer, uint16_t nPort,
                                                  CTlsCertificate* pCert, std::string* pstrError);

    // Cuts every connection of this session; safe from any thread and more
    // than once.
    void Close();
    bool IsClosed() const;

private:
    // A socket registry for a new connection, or null once closed.
    std::shared_ptr<CSocketRegistry> AddRegistry();

    std::string m_strAgent;
    mutable std::mutex m_lock;
    CInternetOptions m_options;
    bool m_bClosed = false;
    std::vector<std::weak_ptr<CSocketRegistry>> m_registries;
};
