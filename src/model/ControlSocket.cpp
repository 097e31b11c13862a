#include "model/ControlSocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
std::string SystemError(int nErr)
{
    return std::strerror(nErr);
}

// A socket address for strPath; a path too long for sun_path is reached
// through the folder's descriptor (*pfdDir, closed by the caller).
bool MakeAddress(const std::string& strPath, sockaddr_un* pAddress, int* pfdDir)
{
    *pfdDir = -1;
    std::memset(pAddress, 0, sizeof(*pAddress));
    pAddress->sun_family = AF_UNIX;
    std::string strUsed = strPath;
    if (strUsed.size() >= sizeof(pAddress->sun_path))
    {
        size_t nSlash = strPath.rfind('/');
        std::string strDir = nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
        *pfdDir = ::open(strDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (*pfdDir < 0)
            return false;
        strUsed = "/proc/self/fd/" + std::to_string(*pfdDir) + "/" + strPath.substr(nSlash + 1);
        if (strUsed.size() >= sizeof(pAddress->sun_path))
            return false;
    }
    std::memcpy(pAddress->sun_path, strUsed.c_str(), strUsed.size() + 1);
    return true;
}

void CloseIfOpen(int fd)
{
    if (fd >= 0)
        ::close(fd);
}
} // namespace

std::string GetControlSocketPath(const std::string& strFolder)
{
    return strFolder + "/" + CONTROL_SOCKET_NAME;
}

int ListenControlSocket(const std::string& strFolder, std::string* pstrError)
{
    // Bound inside a folder only we can enter, given its mode there, then
    // renamed into place: nobody else ever finds it with wider rights.
    std::string strTemplate = strFolder + "/.tarn-sock-XXXXXX";
    if (::mkdtemp(strTemplate.data()) == nullptr)
    {
        *pstrError = SystemError(errno);
        return -1;
    }
    std::string strPrivate = strTemplate + "/" + CONTROL_SOCKET_NAME;
    std::string strFinal = GetControlSocketPath(strFolder);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int nErr = 0;
    if (fd < 0)
        nErr = errno;
    sockaddr_un address{};
    int fdDir = -1;
    if (nErr == 0 && !MakeAddress(strPrivate, &address, &fdDir))
        nErr = errno != 0 ? errno : ENAMETOOLONG;
    if (nErr == 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        nErr = errno;
    CloseIfOpen(fdDir);
    if (nErr == 0 && ::chmod(strPrivate.c_str(), S_IRUSR | S_IWUSR) != 0)
        nErr = errno;
    if (nErr == 0 && ::listen(fd, 8) != 0)
        nErr = errno;
    if (nErr == 0 && ::rename(strPrivate.c_str(), strFinal.c_str()) != 0)
        nErr = errno;
    ::unlink(strPrivate.c_str());
    ::rmdir(strTemplate.c_str());
    if (nErr != 0)
    {
        CloseIfOpen(fd);
        *pstrError = SystemError(nErr);
        return -1;
    }
    return fd;
}

void RemoveStaleControlSocket(const std::string& strFolder)
{
    std::string strPath = GetControlSocketPath(strFolder);
    struct stat info
    {
    };
    if (::lstat(strPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(strPath.c_str());
}

ControlConnect ConnectControlSocket(const std::string& strFolder, int* pfd, std::string* pstrError)
{
    *pfd = -1;
    std::string strPath = GetControlSocketPath(strFolder);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        *pstrError = SystemError(errno);
        return ControlConnect::failed;
    }
    sockaddr_un address{};
    int fdDir = -1;
    if (!MakeAddress(strPath, &address, &fdDir))
    {
        int nErr = errno != 0 ? errno : ENAMETOOLONG;
        CloseIfOpen(fdDir);
        ::close(fd);
        *pstrError = SystemError(nErr);
        return nErr == ENOENT ? ControlConnect::absent : ControlConnect::failed;
    }
    int nResult;
    do
        nResult = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    while (nResult != 0 && errno == EINTR);
    int nErr = nResult == 0 ? 0 : errno;
    CloseIfOpen(fdDir);
    if (nErr == 0)
    {
        *pfd = fd;
        return ControlConnect::connected;
    }
    ::close(fd);
    *pstrError = SystemError(nErr);
    switch (nErr)
    {
    case ENOENT:
        return ControlConnect::absent;
    case ECONNREFUSED:
        return ControlConnect::stale;
    case EACCES:
    case EPERM:
        return ControlConnect::denied;
    default:
        return ControlConnect::failed;
    }
}

bool IsPeerSameUser(int fd)
{
    ucred cred{};
    socklen_t nSize = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &nSize) != 0)
        return false;
    return cred.uid == ::getuid();
}

CControlChannel::~CControlChannel()
{
    CloseIfOpen(m_fd);
}

bool CControlChannel::WriteLine(const std::string& strLine)
{
    std::string strData = strLine;
    if (strData.empty() || strData.back() != '\n')
        strData += '\n';
    size_t nDone = 0;
    while (nDone < strData.size())
    {
        ssize_t nSent = ::send(m_fd, strData.data() + nDone, strData.size() - nDone, MSG_NOSIGNAL);
        if (nSent > 0)
        {
            nDone += size_t(nSent);
            continue;
        }
        if (nSent < 0 && errno == EINTR)
            continue;
        if (nSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            pollfd wait{m_fd, POLLOUT, 0};
            if (::poll(&wait, 1, 5000) > 0)
                continue;
        }
        return false;
    }
    return true;
}

bool CControlChannel::TakeLine(std::string* pstrLine)
{
    size_t nEnd = m_strBuffer.find('\n');
    if (nEnd == std::string::npos)
        return false;
    pstrLine->assign(m_strBuffer, 0, nEnd);
    m_strBuffer.erase(0, nEnd + 1);
    return true;
}

CControlChannel::ReadResult CControlChannel::ReadLine(std::string* pstrLine,
                                                      std::chrono::milliseconds wait)
{
    auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;)
    {
        if (TakeLine(pstrLine))
            return ReadResult::line;
        if (m_bEnded || m_strBuffer.size() > MAX_LINE)
            return ReadResult::closed;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        int nReady = ::poll(&ready, 1, int(std::max<int64_t>(0, left.count())));
        if (nReady < 0 && errno == EINTR)
            return ReadResult::timeout; // the caller looks at its signals
        if (nReady <= 0)
            return ReadResult::timeout;
        char buffer[4096];
        ssize_t nRead = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (nRead > 0)
            m_strBuffer.append(buffer, size_t(nRead));
        else if (nRead == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            m_bEnded = true;
    }
}
