#include "model/File.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
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
    throw CFileException::FromErrno(nErr, strPath);
}

// Reads the decimal digits at the front of str into *pn; false when there
// are none.
bool TakeNumber(std::string_view& str, unsigned long long* pn)
{
    auto [p, ec] = std::from_chars(str.data(), str.data() + str.size(), *pn);
    if (ec != std::errc() || p == str.data())
        return false;
    str.remove_prefix(static_cast<size_t>(p - str.data()));
    return true;
}
} // namespace

CFileException CFileException::FromErrno(int nErr, const std::string& strPath)
{
    return CFileException(CauseFromErrno(nErr), nErr, strPath);
}

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

bool CDiskFile::IsSameFileAs(const std::string& strPath) const
{
    struct stat path
    {
    };
    bool bExists = ::stat(strPath.c_str(), &path) == 0;
    struct stat own
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &own) != 0)
        return !bExists;
    return bExists && path.st_dev == own.st_dev && path.st_ino == own.st_ino;
}

uint64_t CDiskFile::GetLength() const
{
    struct stat st
    {
    };
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
    if (!m_bCommitted && !m_bKept && !m_strTemp.empty())
    {
        m_file.Close();
        ::unlink(m_strTemp.c_str());
    }
}

bool CAtomicFileWriter::Open(const std::string& strTarget, unsigned nMode)
{
    m_strTarget = strTarget;
    m_strTemp = MakeTempName(strTarget);
    if (!m_file.OpenWrite(m_strTemp, nMode))
    {
        int nErr = errno;
        m_strTemp.clear();
        errno = nErr;
        return false;
    }
    return true;
}

void CAtomicFileWriter::OpenOrThrow(const std::string& strTarget, unsigned nMode)
{
    if (!Open(strTarget, nMode))
        ThrowFromErrno(errno, strTarget);
}

void CAtomicFileWriter::Finish()
{
    m_file.Sync();
    m_file.Close();
    m_bFinished = true;
}

void CAtomicFileWriter::Commit()
{
    if (!m_bFinished)
        Finish();
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        ThrowFromErrno(errno, m_strTarget);
    m_bCommitted = true;
}

std::string MakeTempName(const std::string& strTarget)
{
    static std::atomic<unsigned> s_nCounter{0};
    return strTarget + ".tmp" + std::to_string(::getpid()) + "." +
           std::to_string(s_nCounter.fetch_add(1));
}

bool SplitTempName(std::string_view strName, std::string_view* pTarget, pid_t* pPid)
{
    size_t nMark = strName.rfind(".tmp");
    if (nMark == std::string_view::npos || nMark == 0)
        return false;
    std::string_view strRest = strName.substr(nMark + 4);
    unsigned long long nPid = 0, nCount = 0;
    if (!TakeNumber(strRest, &nPid) || strRest.empty() || strRest.front() != '.')
        return false;
    strRest.remove_prefix(1);
    if (!TakeNumber(strRest, &nCount) || !strRest.empty() || nPid == 0 ||
        nPid > static_cast<unsigned long long>(INT32_MAX))
        return false;
    *pTarget = strName.substr(0, nMark);
    *pPid = static_cast<pid_t>(nPid);
    return true;
}

bool IsProcessAlive(pid_t nPid)
{
    // EPERM: it runs, under another user.
    return ::kill(nPid, 0) == 0 || errno == EPERM;
}

void CreateFolder(const std::string& strPath)
{
    if (::mkdir(strPath.c_str(), 0755) == 0)
        return;
    int nErr = errno;
    struct stat st
    {
    };
    if (nErr == EEXIST && ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return;
    ThrowFromErrno(nErr == EEXIST ? ENOTDIR : nErr, strPath);
}

void SyncFolder(const std::string& strPath)
{
    int fd = ::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        ThrowFromErrno(errno, strPath);
    int nResult = ::fsync(fd);
    int nErr = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; their renames are as durable
    // as they get.
    if (nResult != 0 && nErr != EINVAL)
        ThrowFromErrno(nErr, strPath);
}
