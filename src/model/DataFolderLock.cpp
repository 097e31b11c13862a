#include "model/DataFolderLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr auto RETRY_PERIOD = std::chrono::milliseconds(50);
}

std::string CDataFolderLock::GetLockPath(const std::string& strFolder)
{
    return strFolder + "/" + LOCK_FILE_NAME;
}

CDataFolderLock::Result CDataFolderLock::Acquire(const std::string& strFolder,
                                                 std::chrono::milliseconds wait,
                                                 std::string* pstrError)
{
    Release();
    int fd = ::open(GetLockPath(strFolder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        *pstrError = std::strerror(errno);
        return Result::failed;
    }
    auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;)
    {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        {
            m_fd = fd;
            return Result::taken;
        }
        int nErr = errno;
        if (nErr == EINTR)
            continue;
        if (nErr != EWOULDBLOCK)
        {
            ::close(fd);
            *pstrError = std::strerror(nErr);
            return Result::failed;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
        {
            ::close(fd);
            return Result::busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(RETRY_PERIOD, deadline - now));
    }
}

void CDataFolderLock::Release()
{
    if (m_fd < 0)
        return;
    // Closing the only descriptor of the open file drops the lock.
    ::close(m_fd);
    m_fd = -1;
}
