#include "model/File.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
int CauseFromErrno(int nErr)
{
    switch (nErr)
    {
    case ENOENT:
        return CFileException::fileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return CFileException::accessDenied;
    case ENOSPC:
    case EDQUOT:
        return CFileException::diskFull;
    default:
        return CFileException::genericException;
    }
}

[[noreturn]] void ThrowFromErrno(int nErr, const std::string& strPath)
{
    throw CFileException(CauseFromErrno(nErr), nErr, strPath);
}
} // namespace

CFileException::CFileException(int nCause, int lOsError, std::string strFileName)
    : m_cause(nCause), m_lOsError(lOsError), m_strFileName(std::move(strFileName))
{
    m_strText = m_strFileName + ": " + GetErrorText();
}

std::string CFileException::GetErrorText() const
{
    if (m_lOsError != 0)
        return std::strerror(m_lOsError);
    return "file error";
}

CDiskFile::~CDiskFile()
{
    Close();
}

bool CDiskFile::OpenRead(const std::string& strPath)
{
    Close();
    m_fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    m_strPath = strPath;
    m_nPos = 0;
    return m_fd >= 0;
}

bool CDiskFile::OpenWrite(const std::string& strPath, unsigned nMode)
{
    Close();
    m_fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, nMode);
    m_strPath = strPath;
    m_nPos = 0;
    return m_fd >= 0;
}

void CDiskFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CDiskFile::Sync()
{
    if (m_fd >= 0 && ::fsync(m_fd) != 0)
        ThrowFromErrno(errno, m_strPath);
}

size_t CDiskFile::Read(void* p, size_t n)
{
    size_t nDone = 0;
    while (nDone < n)
    {
        ssize_t r = ::read(m_fd, static_cast<char*>(p) + nDone, n - nDone);
        if (r < 0)
        {
            if (errno == EINTR)
                continue;
            ThrowFromErrno(errno, m_strPath);
        }
        if (r == 0)
            break;
        nDone += static_cast<size_t>(r);
    }
    m_nPos += nDone;
    return nDone;
}

void CDiskFile::Write(const void* p, size_t n)
{
    size_t nDone = 0;
    while (nDone < n)
    {
        ssize_t r = ::write(m_fd, static_cast<const char*>(p) + nDone, n - nDone);
        if (r < 0)
        {
            if (errno == EINTR)
                continue;
            ThrowFromErrno(errno, m_strPath);
        }
        nDone += static_cast<size_t>(r);
    }
    m_nPos += nDone;
}

uint64_t CDiskFile::GetLength() const
{
    struct stat st{};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

size_t CMemFile::Read(void* p, size_t n)
{
    size_t nAvail = m_bytes.size() - m_nPos;
    if (n > nAvail)
        n = nAvail;
    if (n != 0)
        std::memcpy(p, m_bytes.data() + m_nPos, n);
    m_nPos += n;
    return n;
}

void CMemFile::Write(const void* p, size_t n)
{
    const auto* b = static_cast<const uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
    m_nPos = m_bytes.size();
}

CAtomicFileWriter::~CAtomicFileWriter()
{
    if (!m_bCommitted && !m_strTemp.empty())
    {
        m_file.Close();
        ::unlink(m_strTemp.c_str());
    }
}

bool CAtomicFileWriter::Open(const std::string& strTarget, unsigned nMode)
{
    static std::atomic<unsigned> s_nCounter{0};
    m_strTarget = strTarget;
    // Unique per process and call, so two savers never share a temporary.
    m_strTemp = strTarget + ".tmp" + std::to_string(::getpid()) + "." +
                std::to_string(s_nCounter.fetch_add(1));
    if (!m_file.OpenWrite(m_strTemp, nMode))
    {
        int nErr = errno;
        m_strTemp.clear();
        errno = nErr;
        return false;
    }
    return true;
}

void CAtomicFileWriter::Commit()
{
    m_file.Sync();
    m_file.Close();
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        ThrowFromErrno(errno, m_strTarget);
    m_bCommitted = true;
}
