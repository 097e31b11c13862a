#include "support/FtpProxy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
int ConnectToServer(uint16_t nPort)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(nPort);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool SendAll(int fd, const char* p, size_t n)
{
    while (n > 0)
    {
        ssize_t nSent = send(fd, p, n, MSG_NOSIGNAL);
        if (nSent <= 0)
        {
            if (nSent < 0 && errno == EINTR)
                continue;
            return false;
        }
        p += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}

bool IsCommand(const std::string& strLine, const char* pszVerb)
{
    size_t nLength = std::char_traits<char>::length(pszVerb);
    return strLine.size() >= nLength && strncasecmp(strLine.c_str(), pszVerb, nLength) == 0 &&
           (strLine.size() == nLength || strLine[nLength] == ' ');
}
} // namespace

CTestFtpProxy::CTestFtpProxy(std::vector<CLeg> legs) : m_legs(std::move(legs))
{
    if (m_legs.empty() || pipe2(m_wakePipe, O_CLOEXEC) != 0)
        return;
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), nLength) != 0 ||
        listen(m_listenFd, 16) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &nLength) != 0)
        return;
    m_nPort = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { Accept(); });
}

CTestFtpProxy::~CTestFtpProxy()
{
    if (m_wakePipe[1] >= 0)
        (void)write(m_wakePipe[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> relays;
    {
        std::lock_guard lock(m_lock);
        relays.swap(m_relays);
    }
    for (std::thread& relay : relays)
        relay.join();
    for (int fd : {m_listenFd, m_wakePipe[0], m_wakePipe[1]})
    {
        if (fd >= 0)
            close(fd);
    }
}

std::vector<std::string> CTestFtpProxy::GetClearLines() const
{
    std::lock_guard lock(m_lock);
    return m_clearLines;
}

bool CTestFtpProxy::SawPasswordInClear() const
{
    for (const std::string& strLine : GetClearLines())
    {
        if (IsCommand(strLine.substr(strLine.find(' ') + 1), "PASS"))
            return true;
    }
    return false;
}

void CTestFtpProxy::Record(int nConnection, const std::string& strLine)
{
    std::lock_guard lock(m_lock);
    m_clearLines.push_back(std::to_string(nConnection) + " " + strLine);
}

void CTestFtpProxy::Accept()
{
    for (;;)
    {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        int nClient = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (nClient < 0)
            continue;
        int nConnection = ++m_nConnections;
        std::lock_guard lock(m_lock);
        m_relays.emplace_back([this, nClient, nConnection] { Relay(nClient, nConnection); });
    }
}

void CTestFtpProxy::Relay(int nClient, int nConnection)
{
    const CLeg& leg = m_legs[std::min(static_cast<size_t>(nConnection), m_legs.size()) - 1];
    int nServer = ConnectToServer(leg.nServerPort);
    // A passing connection is read as lines until the server takes AUTH;
    // TLS follows (the client waits for that reply before it starts).
    bool bReadLines = true;
    bool bAuthSent = false;
    std::string strPending;
    char buffer[16384];
    while (nServer >= 0)
    {
        pollfd fds[3] = {{nClient, POLLIN, 0}, {nServer, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[2].revents != 0)
            break;
        if (fds[1].revents != 0)
        {
            ssize_t n = recv(nServer, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            if (bAuthSent)
                bReadLines = !(n >= 3 && std::string_view(buffer, 3) == "234");
            bAuthSent = false;
            if (!SendAll(nClient, buffer, static_cast<size_t>(n)))
                break;
        }
        if (fds[0].revents == 0)
            continue;
        ssize_t n = recv(nClient, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        if (!bReadLines)
        {
            if (!SendAll(nServer, buffer, static_cast<size_t>(n)))
                break;
            continue;
        }
        strPending.append(buffer, static_cast<size_t>(n));
        bool bOk = true;
        for (size_t nEnd; bOk && (nEnd = strPending.find('\n')) != std::string::npos;)
        {
            std::string strLine = strPending.substr(0, nEnd + 1);
            strPending.erase(0, nEnd + 1);
            std::string strCommand = strLine.substr(0, strLine.find_first_of("\r\n"));
            Record(nConnection, strCommand);
            if (IsCommand(strCommand, "AUTH") && leg.bStripTls)
            {
                const char szRefusal[] = "502 AUTH not available.\r\n";
                bOk = SendAll(nClient, szRefusal, sizeof szRefusal - 1);
                continue;
            }
            bOk = SendAll(nServer, strLine.data(), strLine.size());
            bAuthSent = bAuthSent || IsCommand(strCommand, "AUTH");
        }
        if (!bOk)
            break;
    }
    if (nServer >= 0)
        close(nServer);
    close(nClient);
}
