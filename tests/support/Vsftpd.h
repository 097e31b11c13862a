#pragma once
// vsftpd serving a folder to the anonymous user on 127.0.0.1, for the few
// tests that must meet a real server's listing habits. vsftpd chroots, so it
// runs only as root and only where installed (scripts/setup.sh);
// elsewhere IsAvailable is false and those tests are skipped.
//
// Threads: create, query and destroy it on the test's thread.

#include <cstdint>
#include <string>
#include <sys/types.h>

class CTestVsftpd
{
public:
    enum class Tls
    {
        none,
        explicitTls, // AUTH TLS required for login and data
        implicitTls,
    };
    struct COptions
    {
        Tls nTls = Tls::none;
        std::string strCertFile; // PEM certificate and key, for TLS
        std::string strKeyFile;
        // Explicit TLS offered, not required: logins and listings in clear
        // are served too (what a man in the middle needs).
        bool bTlsOptional = false;
        // The anonymous login is asked for a password (any is taken), so a
        // client sends one.
        bool bAskPassword = false;
    };

    static bool IsAvailable();

    // Serves strRoot (made readable to the anonymous user); GetPort() is 0
    // when the server did not come up. Every command it receives is logged
    // (ReadLog).
    explicit CTestVsftpd(const std::string& strRoot);
    CTestVsftpd(const std::string& strRoot, const COptions& options);
    ~CTestVsftpd();
    CTestVsftpd(const CTestVsftpd&) = delete;
    CTestVsftpd& operator=(const CTestVsftpd&) = delete;

    uint16_t GetPort() const { return m_nPort; }
    std::string ReadLog() const;

private:
    std::string m_strStateDir;
    uint16_t m_nPort = 0;
    pid_t m_nPid = -1;
};

// Certificates for the TLS tests, made with the openssl tool in strDir.
struct CTestCert
{
    std::string strCertFile;
    std::string strKeyFile;
    std::string strPin; // "sha256//<base64>" of its public key, as openssl computes it
};
// A self-signed certificate for strName (a new key each call); false when
// openssl failed.
[[nodiscard]] bool MakeSelfSignedCert(const std::string& strDir, const std::string& strName,
                                      CTestCert* pCert);
// A self-signed certificate for strName whose end date has passed (it ends
// a day before it begins).
[[nodiscard]] bool MakeExpiredCert(const std::string& strDir, const std::string& strName,
                                   CTestCert* pCert);
// A certificate for strName (its CN and subjectAltName: "IP:127.0.0.1" or
// "DNS:other.test") signed by the CA pCa (made by MakeSelfSignedCert).
[[nodiscard]] bool MakeCaSignedCert(const std::string& strDir, const CTestCert& ca,
                                    const std::string& strName, const std::string& strAltName,
                                    CTestCert* pCert);
