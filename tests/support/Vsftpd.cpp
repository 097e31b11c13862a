#include "support/Vsftpd.h"
#include "support/LoopbackPort.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace
{
constexpr const char* VSFTPD = "/usr/sbin/vsftpd";

bool Accepts(uint16_t nPort)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(nPort);
    bool bOk = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bOk;
}
} // namespace

bool CTestVsftpd::IsAvailable()
{
    return geteuid() == 0 && access(VSFTPD, X_OK) == 0;
}

CTestVsftpd::CTestVsftpd(const std::string& strRoot) : CTestVsftpd(strRoot, COptions()) {}

CTestVsftpd::CTestVsftpd(const std::string& strRoot, const COptions& options)
{
    if (!IsAvailable())
        return;
    char szTemplate[] = "/tmp/tarn-vsftpd-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr)
        return;
    m_strStateDir = szTemplate;
    std::filesystem::create_directory(m_strStateDir + "/empty");
    // The anonymous user must be able to enter the served folder.
    std::filesystem::permissions(strRoot, std::filesystem::perms(0755));
    uint16_t nPort = FindFreeLoopbackPort();
    std::string strConfig = m_strStateDir + "/vsftpd.conf";
    std::ofstream(strConfig) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                             << "listen_port=" << nPort << "\nbackground=NO\n"
                             << "anonymous_enable=YES\nno_anon_password="
                             << (options.bAskPassword ? "NO" : "YES") << "\n"
                             << "anon_root=" << strRoot << "\nlocal_enable=NO\nwrite_enable=NO\n"
                             << "pasv_enable=YES\npasv_address=127.0.0.1\nseccomp_sandbox=NO\n"
                             << "isolate=NO\nisolate_network=NO\n"
                             << "secure_chroot_dir=" << m_strStateDir << "/empty\n"
                             << "max_clients=0\nmax_per_ip=0\n"
                             << "log_ftp_protocol=YES\nxferlog_enable=YES\nvsftpd_log_file="
                             << m_strStateDir << "/vsftpd.log\n";
    if (options.nTls != Tls::none)
    {
        std::ofstream(strConfig, std::ios::app)
            << "ssl_enable=YES\nallow_anon_ssl=YES\n"
            << "force_anon_logins_ssl=" << (options.bTlsOptional ? "NO" : "YES") << "\n"
            << "force_anon_data_ssl=" << (options.bTlsOptional ? "NO" : "YES") << "\n"
            << "require_ssl_reuse=YES\n"
            << "implicit_ssl=" << (options.nTls == Tls::implicitTls ? "YES" : "NO") << "\n"
            << "rsa_cert_file=" << options.strCertFile << "\n"
            << "rsa_private_key_file=" << options.strKeyFile << "\n";
    }
    char* argv[] = {const_cast<char*>(VSFTPD), strConfig.data(), nullptr};
    if (posix_spawn(&m_nPid, VSFTPD, nullptr, nullptr, argv, environ) != 0)
    {
        m_nPid = -1;
        return;
    }
    for (int i = 0; i < 100 && m_nPort == 0; ++i)
    {
        if (Accepts(nPort))
            m_nPort = nPort;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string CTestVsftpd::ReadLog() const
{
    std::ifstream file(m_strStateDir + "/vsftpd.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

CTestVsftpd::~CTestVsftpd()
{
    if (m_nPid > 0)
    {
        kill(m_nPid, SIGTERM);
        waitpid(m_nPid, nullptr, 0);
    }
    if (!m_strStateDir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strStateDir, ec);
    }
}

namespace
{
bool Run(const std::string& strCommand)
{
    return std::system(("(" + strCommand + ") 2>/dev/null").c_str()) == 0;
}

bool ReadPin(CTestCert* pCert)
{
    std::string strOut = pCert->strCertFile + ".pin";
    if (!Run("openssl x509 -in " + pCert->strCertFile +
             " -pubkey -noout | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary "
             "| openssl base64 -A > " +
             strOut))
        return false;
    std::ifstream file(strOut);
    std::string strBase64;
    std::getline(file, strBase64);
    pCert->strPin = "sha256//" + strBase64;
    return strBase64.size() == 44;
}

int g_nCertCount = 0;

// Unique file names in strDir: a test may re-key the same name.
CTestCert NewFiles(const std::string& strDir)
{
    std::string strBase = strDir + "/cert" + std::to_string(++g_nCertCount);
    return {strBase + ".pem", strBase + ".key", ""};
}
} // namespace

bool MakeSelfSignedCert(const std::string& strDir, const std::string& strName, CTestCert* pCert)
{
    CTestCert cert = NewFiles(strDir);
    if (!Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + strName + "'" +
             " -keyout " + cert.strKeyFile + " -out " + cert.strCertFile) ||
        !ReadPin(&cert))
        return false;
    *pCert = cert;
    return true;
}

bool MakeExpiredCert(const std::string& strDir, const std::string& strName, CTestCert* pCert)
{
    CTestCert cert = NewFiles(strDir);
    std::string strCsr = cert.strCertFile + ".csr";
    // "req -x509" refuses a negative lifetime; "x509 -req" takes one.
    if (!Run("openssl req -new -newkey rsa:2048 -nodes -subj '/CN=" + strName + "' -keyout " +
             cert.strKeyFile + " -out " + strCsr) ||
        !Run("openssl x509 -req -in " + strCsr + " -signkey " + cert.strKeyFile +
             " -days -1 -out " + cert.strCertFile) ||
        !ReadPin(&cert))
        return false;
    *pCert = cert;
    return true;
}

bool MakeCaSignedCert(const std::string& strDir, const CTestCert& ca, const std::string& strName,
                      const std::string& strAltName, CTestCert* pCert)
{
    CTestCert cert = NewFiles(strDir);
    std::string strCsr = cert.strCertFile + ".csr";
    std::string strExt = cert.strCertFile + ".ext";
    std::ofstream(strExt) << "subjectAltName=" << strAltName << "\n";
    if (!Run("openssl req -new -newkey rsa:2048 -nodes -subj '/CN=" + strName + "'" + " -keyout " +
             cert.strKeyFile + " -out " + strCsr) ||
        !Run("openssl x509 -req -in " + strCsr + " -CA " + ca.strCertFile + " -CAkey " +
             ca.strKeyFile + " -CAcreateserial -days 2 -extfile " + strExt + " -out " +
             cert.strCertFile) ||
        !ReadPin(&cert))
        return false;
    *pCert = cert;
    return true;
}
