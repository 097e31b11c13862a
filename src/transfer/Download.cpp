#include "transfer/Download.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "transfer/LocalName.h"

namespace
{
using Clock = std::chrono::steady_clock;

constexpr size_t WRITE_BUFFER = 1 << 20;
// Attempts in a row that bring no byte before a download gives up.
constexpr int ATTEMPTS_WITHOUT_PROGRESS = 3;

const char* const NOTE_NO_REST = "服务器不支持续传，已从头开始下载";
const char* const NOTE_PART_TOO_LONG = "已下载的部分比服务器上的文件大，已从头开始下载";

std::string FolderOf(const std::string& strPath)
{
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
}

// The .part file as the transfer's sink: writes in large blocks, stops a
// server that sends more than it announced, reports progress.
class CPartFile : public IFtpFileSink
{
public:
    CPartFile(int nFd, uint64_t nOnDisk, const CDownloadJob& job, const ProgressFn& onProgress)
        : m_nFd(nFd), m_nOnDisk(nOnDisk), m_job(job), m_onProgress(onProgress)
    {
        m_buffer.reserve(WRITE_BUFFER);
    }

    void StartAttempt(const CFtpConnection* pConnection)
    {
        m_pConnection = pConnection;
        m_nAttemptStart = m_nOnDisk;
    }

    bool Write(const char* pData, size_t nBytes) override
    {
        int64_t nAnnounced = GetAnnounced();
        if (nAnnounced >= 0 &&
            GetLength() + nBytes > static_cast<uint64_t>(nAnnounced) + DOWNLOAD_EXCESS_MARGIN)
        {
            m_bTooMuch = true;
            return false;
        }
        m_buffer.insert(m_buffer.end(), pData, pData + nBytes);
        if (m_buffer.size() >= WRITE_BUFFER && !Flush())
            return false;
        Report(false);
        return true;
    }

    // Writes what is buffered; false with the errno kept.
    [[nodiscard]] bool Flush()
    {
        size_t nDone = 0;
        while (nDone < m_buffer.size())
        {
            ssize_t n = ::write(m_nFd, m_buffer.data() + nDone, m_buffer.size() - nDone);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
            {
                m_nErrno = n < 0 ? errno : EIO;
                // What did reach the disk is good: the next attempt goes on after it.
                m_nOnDisk += nDone;
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(nDone));
                return false;
            }
            nDone += static_cast<size_t>(n);
        }
        m_nOnDisk += nDone;
        m_buffer.clear();
        return true;
    }

    [[nodiscard]] bool Truncate()
    {
        m_buffer.clear();
        if (::ftruncate(m_nFd, 0) != 0 || ::lseek(m_nFd, 0, SEEK_SET) != 0)
        {
            m_nErrno = errno;
            return false;
        }
        m_nOnDisk = 0;
        return true;
    }

    void Report(bool bForce)
    {
        auto now = Clock::now();
        if (!bForce && now - m_lastReport < std::chrono::milliseconds(100))
            return;
        double dSeconds = std::chrono::duration<double>(now - m_lastReport).count();
        uint64_t nNow = GetLength();
        if (dSeconds > 0 && m_bReported)
            m_dSpeed = 0.7 * m_dSpeed +
                       0.3 * static_cast<double>(nNow - std::min(nNow, m_nReported)) / dSeconds;
        m_lastReport = now;
        m_nReported = nNow;
        m_bReported = true;
        if (m_onProgress)
            m_onProgress(nNow, GetAnnounced(), m_dSpeed);
    }

    int64_t GetAnnounced() const
    {
        int64_t nServer = m_pConnection != nullptr ? m_pConnection->GetLastSizeReply() : -1;
        return nServer >= 0 ? nServer : m_job.nListedSize;
    }
    uint64_t GetLength() const { return m_nOnDisk + m_buffer.size(); }
    uint64_t GetOnDisk() const { return m_nOnDisk; }
    bool MadeProgress() const { return GetLength() > m_nAttemptStart; }
    bool IsTooMuch() const { return m_bTooMuch; }
    int GetErrno() const { return m_nErrno; }

private:
    int m_nFd;
    uint64_t m_nOnDisk;
    const CDownloadJob& m_job;
    const ProgressFn& m_onProgress;
    const CFtpConnection* m_pConnection = nullptr;
    std::vector<char> m_buffer;
    uint64_t m_nAttemptStart = 0;
    bool m_bTooMuch = false;
    int m_nErrno = 0;
    Clock::time_point m_lastReport = Clock::now();
    uint64_t m_nReported = 0;
    bool m_bReported = false;
    double m_dSpeed = 0;
};

// Creates the folders of strRelative below strFolder, which must exist.
int MakeSubfolders(const std::string& strFolder, const std::string& strRelative)
{
    struct stat st
    {
    };
    if (::stat(strFolder.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    std::string strPath = strFolder;
    size_t nStart = 0;
    for (;;)
    {
        size_t nSlash = strRelative.find('/', nStart);
        if (nSlash == std::string::npos)
            return 0;
        strPath += "/" + strRelative.substr(nStart, nSlash - nStart);
        if (::mkdir(strPath.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
        nStart = nSlash + 1;
    }
}

// Renames without replacing anything; the name taken in *pstrFinal.
int RenameToFreeName(const std::string& strPart, const std::string& strTarget,
                     std::string* pstrFinal)
{
    std::string strFolder = FolderOf(strTarget);
    std::string strName = strTarget.substr(strFolder.size() + 1);
    for (unsigned n = 0; n < 10000; ++n)
    {
        std::string strCandidate = strFolder + "/" + NumberedName(strName, n);
        int nResult = ::renameat2(AT_FDCWD, strPart.c_str(), AT_FDCWD, strCandidate.c_str(),
                                  RENAME_NOREPLACE);
        if (nResult != 0 && (errno == EINVAL || errno == ENOSYS))
        {
            // A file system without the flag: a hard link never replaces either.
            nResult = ::link(strPart.c_str(), strCandidate.c_str());
            if (nResult == 0)
                ::unlink(strPart.c_str());
        }
        if (nResult == 0)
        {
            *pstrFinal = strCandidate;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

void SyncFolderOf(const std::string& strPath)
{
    int nFd = ::open(FolderOf(strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nFd >= 0)
    {
        (void)::fsync(nFd);
        ::close(nFd);
    }
}

std::string Bytes(uint64_t n)
{
    return std::to_string(n) + " 字节";
}
} // namespace

std::string DescribeDiskError(int nErrno, const CDownloadJob& job)
{
    switch (nErrno)
    {
    case ENOSPC:
    case EDQUOT:
        return "磁盘已满，已下载的部分保留在 " + job.GetPartPath();
    case ENOENT:
    case ENOTDIR:
        return "下载文件夹不存在：" + job.strFolder;
    case EACCES:
    case EPERM:
    case EROFS:
        return "下载文件夹不可写：" + FolderOf(job.GetTarget());
    default:
        return "写入 " + job.GetPartPath() + " 失败：" + std::strerror(nErrno);
    }
}

DownloadState RunDownload(CDownloadJob& job, const ConnectionSource& getConnection,
                          const std::atomic<int32_t>* pStop, const ProgressFn& onProgress)
{
    job.strError.clear();
    job.dSpeed = 0;
    auto fail = [&job](std::string strError)
    {
        // An empty .part holds nothing worth continuing.
        struct stat st
        {
        };
        if (::stat(job.GetPartPath().c_str(), &st) == 0 && st.st_size == 0)
            ::unlink(job.GetPartPath().c_str());
        job.strError = std::move(strError);
        job.nState = DownloadState::failed;
        return job.nState;
    };
    if (int nError = MakeSubfolders(job.strFolder, job.strRelative); nError != 0)
        return fail(DescribeDiskError(nError, job));
    std::string strPart = job.GetPartPath();
    int nFd = ::open(strPart.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (nFd < 0)
        return fail(DescribeDiskError(errno, job));
    struct CCloser
    {
        int& nFd;
        ~CCloser()
        {
            if (nFd >= 0)
                ::close(nFd);
        }
    } closer{nFd};
    off_t nOnDisk = ::lseek(nFd, 0, SEEK_END);
    if (nOnDisk < 0)
        return fail(DescribeDiskError(errno, job));
    CPartFile part(nFd, static_cast<uint64_t>(nOnDisk), job, onProgress);
    job.nDone = part.GetOnDisk();

    int nBarren = 0;
    int64_t nServerSize = -1;
    for (;;)
    {
        if (pStop != nullptr && pStop->load() != 0)
        {
            job.nState = DownloadState::stopped;
            return job.nState;
        }
        std::string strConnectError;
        CFtpConnection* pConnection = getConnection(&strConnectError);
        if (pConnection == nullptr)
        {
            if (pStop != nullptr && pStop->load() != 0)
            {
                job.nState = DownloadState::stopped;
                return job.nState;
            }
            return fail(strConnectError);
        }
        part.StartAttempt(pConnection);
        CFtpRetrieveInfo info;
        bool bDone = pConnection->RetrieveFile(job.strServerPath, part.GetOnDisk(), part, &info);
        uint32_t nError = bDone ? 0 : GetLastInternetError();
        nServerSize = info.nServerSize;
        bool bFlushed = part.Flush();
        job.nDone = part.GetOnDisk();
        part.Report(true);
        if (!bFlushed)
            return fail(DescribeDiskError(part.GetErrno(), job));
        if (bDone)
            break;
        // libcurl itself stops at the size SIZE gave and calls the rest a
        // short transfer: a file that long already is a server sending more.
        bool bOverran = nError == ERROR_FTP_PARTIAL_FILE && part.GetAnnounced() >= 0 &&
                        part.GetOnDisk() >= static_cast<uint64_t>(part.GetAnnounced());
        if (part.IsTooMuch() || bOverran)
            return fail("服务器发送的数据超过了它报告的文件大小（" +
                        Bytes(static_cast<uint64_t>(part.GetAnnounced())) + "），已中止");
        if (pStop != nullptr && pStop->load() != 0)
        {
            job.nState = DownloadState::stopped;
            return job.nState;
        }
        if (nError == ERROR_FTP_REST_REFUSED || nError == ERROR_FTP_OFFSET_BEYOND_END)
        {
            // Only a file started over from its first byte is trustworthy now.
            if (!part.Truncate())
                return fail(DescribeDiskError(part.GetErrno(), job));
            job.nDone = 0;
            job.strNote = nError == ERROR_FTP_REST_REFUSED ? NOTE_NO_REST : NOTE_PART_TOO_LONG;
            if (++nBarren >= ATTEMPTS_WITHOUT_PROGRESS)
                return fail(FormatInternetError(nError));
            continue;
        }
        if (nError == ERROR_FTP_RETRIEVE_REFUSED)
        {
            std::string strReply = pConnection->GetLastReply();
            return fail(FormatInternetError(nError) + (strReply.empty() ? "" : "：" + strReply));
        }
        if (IsTlsFailure(nError) || nError == ERROR_INTERNET_INVALID_URL ||
            nError == ERROR_NOT_ENOUGH_MEMORY)
            return fail(GetLastInternetErrorText());
        // The line broke: once more from the bytes on disk, while that helps.
        nBarren = part.MadeProgress() ? 0 : nBarren + 1;
        if (nBarren >= ATTEMPTS_WITHOUT_PROGRESS)
            return fail(GetLastInternetErrorText());
    }

    uint64_t nLength = part.GetOnDisk();
    int64_t nExpected = nServerSize >= 0 ? nServerSize : job.nListedSize;
    job.nTotal = nExpected >= 0 ? nExpected : static_cast<int64_t>(nLength);
    if (nExpected >= 0 && nLength != static_cast<uint64_t>(nExpected))
        return fail("大小不符：服务器上的文件有 " + Bytes(static_cast<uint64_t>(nExpected)) +
                    "，收到 " + Bytes(nLength));
    if (::fsync(nFd) != 0)
        return fail(DescribeDiskError(errno, job));
    ::close(nFd);
    nFd = -1;
    std::string strFinal;
    if (int nError = RenameToFreeName(strPart, job.GetTarget(), &strFinal); nError != 0)
        return fail(DescribeDiskError(nError, job));
    SyncFolderOf(strFinal);
    job.strSaved = strFinal;
    job.nState = DownloadState::done;
    return job.nState;
}
