#include "support/Vsftpd.h"

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

uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t nLength = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength);
    close(fd);
    return ntohs(address.sin_port);
}

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

CTestVsftpd::CTestVsftpd(const std::string& strRoot)
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
    uint16_t nPort = FreePort();
    std::string strConfig = m_strStateDir + "/vsftpd.conf";
    std::ofstream(strConfig) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                             << "listen_port=" << nPort << "\nbackground=NO\n"
                             << "anonymous_enable=YES\nno_anon_password=YES\n"
                             << "anon_root=" << strRoot << "\nlocal_enable=NO\nwrite_enable=NO\n"
                             << "pasv_enable=YES\npasv_address=127.0.0.1\nseccomp_sandbox=NO\n"
                             << "isolate=NO\nisolate_network=NO\n"
                             << "secure_chroot_dir=" << m_strStateDir << "/empty\n"
                             << "max_clients=0\nmax_per_ip=0\n";
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
