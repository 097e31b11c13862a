#include "model/ChangeLog.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/Json.h"
#include "model/PercentCode.h"

namespace
{
bool IsKeptInRaw(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

void WriteAll(int fd, std::string_view bytes, const std::string& strPath)
{
    while (!bytes.empty())
    {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            throw CFileException::FromErrno(errno, strPath);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

// The whole file; "" when it is missing.
std::string ReadWhole(const std::string& strPath)
{
    CDiskFile file;
    if (!file.OpenRead(strPath))
    {
        if (errno == ENOENT)
            return {};
        throw CFileException::FromErrno(errno, strPath);
    }
    std::string strText;
    strText.reserve(static_cast<size_t>(file.GetLength()));
    char buf[65536];
    for (size_t n; (n = file.Read(buf, sizeof buf)) != 0;)
        strText.append(buf, n);
    return strText;
}

// A batch's first line, {"log_size":N}, and the lines after it.
struct CBatch
{
    std::optional<uint64_t> nLogSize; // none: the first line is damaged
    std::string_view strLines;
};

CBatch SplitBatch(std::string_view strBatch)
{
    CBatch batch;
    size_t nEnd = strBatch.find('\n');
    if (nEnd == std::string_view::npos)
        return batch; // cut short: a record never names such a batch
    CJsonFields fields;
    if (ReadJsonLine(strBatch.substr(0, nEnd), &fields))
        batch.nLogSize = fields.GetUnsigned("log_size");
    batch.strLines = strBatch.substr(nEnd + 1);
    return batch;
}

std::string FolderOf(const std::string& strPath)
{
    size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string(".") : strPath.substr(0, nSlash);
}

std::string BatchPathIn(const std::string& strFolder)
{
    return strFolder + "/" + SITE_CHANGES_BATCH_FILE;
}

std::string LogPathIn(const std::string& strFolder)
{
    return strFolder + "/" + SITE_CHANGES_FILE;
}
} // namespace

const char* FormatChangeKind(ChangeKind nKind)
{
    switch (nKind)
    {
    case ChangeKind::removed:
        return "removed";
    case ChangeKind::resized:
        return "resized";
    case ChangeKind::first:
        return "first";
    case ChangeKind::modified:
        return "modified";
    case ChangeKind::added:
        break;
    }
    return "added";
}

bool ParseChangeKind(std::string_view str, ChangeKind* pKind)
{
    for (ChangeKind nKind :
         {ChangeKind::added, ChangeKind::removed, ChangeKind::resized, ChangeKind::first,
          ChangeKind::modified})
    {
        if (str == FormatChangeKind(nKind))
        {
            *pKind = nKind;
            return true;
        }
    }
    return false;
}

std::string EncodeRawPath(std::string_view bytes)
{
    return PercentEncodeBytes(bytes, IsKeptInRaw);
}

bool DecodeRawPath(std::string_view strRaw, std::string* pBytes)
{
    return PercentDecode(strRaw, pBytes);
}

std::string CChangeRecord::GetPathBytes() const
{
    std::string strBytes;
    if (!strRaw.empty() && DecodeRawPath(strRaw, &strBytes))
        return strBytes;
    return strPath;
}

void AddChangeFields(CJsonLine& line, const CChangeRecord& record)
{
    line.Add("time", record.strTime)
        .Add("run", record.strRun)
        .Add("kind", FormatChangeKind(record.nKind))
        .Add("path", record.strPath);
    if (!record.strRaw.empty())
        line.Add("raw", record.strRaw);
    line.Add("folder", record.bFolder);
    switch (record.nKind)
    {
    case ChangeKind::added:
        line.Add("size", record.nSize);
        if (!record.strMtime.empty())
            line.Add("mtime", record.strMtime);
        break;
    case ChangeKind::modified:
        line.Add("size", record.nSize)
            .Add("mtime", record.strMtime)
            .Add("old_mtime", record.strOldMtime);
        break;
    case ChangeKind::resized:
        line.Add("size", record.nSize).Add("old_size", record.nOldSize);
        break;
    case ChangeKind::removed:
        line.Add("old_size", record.nOldSize);
        if (record.bFolder)
            line.Add("folders", record.nFolders)
                .Add("files", record.nFiles)
                .Add("bytes", record.nBytes);
        break;
    case ChangeKind::first:
        line.Add("folders", record.nFolders)
            .Add("files", record.nFiles)
            .Add("bytes", record.nBytes);
        break;
    }
}

std::string FormatChangeLine(const CChangeRecord& record)
{
    CJsonLine line;
    AddChangeFields(line, record);
    return line.Finish();
}

bool ParseChangeLine(std::string_view strLine, CChangeRecord* pRecord)
{
    CJsonFields fields;
    if (!ReadJsonLine(strLine, &fields))
        return false;
    std::optional<std::string> strTime = fields.GetString("time");
    std::optional<std::string> strRun = fields.GetString("run");
    std::optional<std::string> strKind = fields.GetString("kind");
    std::optional<std::string> strPath = fields.GetString("path");
    CChangeRecord record;
    if (!strTime || !strRun || !strKind || !strPath || !ParseChangeKind(*strKind, &record.nKind))
        return false;
    record.strTime = std::move(*strTime);
    record.strRun = std::move(*strRun);
    record.strPath = std::move(*strPath);
    record.strRaw = fields.GetString("raw").value_or("");
    record.bFolder = fields.GetBool("folder").value_or(false);
    record.nSize = fields.GetUnsigned("size").value_or(0);
    record.nOldSize = fields.GetUnsigned("old_size").value_or(0);
    record.nFolders = fields.GetUnsigned("folders").value_or(0);
    record.nFiles = fields.GetUnsigned("files").value_or(0);
    record.nBytes = fields.GetUnsigned("bytes").value_or(0);
    record.strMtime = fields.GetString("mtime").value_or("");
    record.strOldMtime = fields.GetString("old_mtime").value_or("");
    *pRecord = std::move(record);
    return true;
}

std::string GetChangeLogPath(const std::string& strProgramFolder, const std::string& strKey)
{
    return GetSiteFolderPath(strProgramFolder, strKey) + "/" + SITE_CHANGES_FILE;
}

void CUnsavedChanges::AddLines(std::string_view strLines)
{
    std::lock_guard lock(m_lock);
    m_strLines += strLines;
}

void CUnsavedChanges::CountFirst(const std::string& strRun, uint64_t nFolders, uint64_t nFiles,
                                 uint64_t nBytes)
{
    std::lock_guard lock(m_lock);
    auto it = std::find_if(m_firsts.begin(), m_firsts.end(),
                           [&strRun](const CFirstCount& count) { return count.strRun == strRun; });
    if (it == m_firsts.end())
        it = m_firsts.insert(m_firsts.end(), CFirstCount{strRun});
    it->nFolders += nFolders;
    it->nFiles += nFiles;
    it->nBytes += nBytes;
}

bool CUnsavedChanges::IsEmpty() const
{
    std::lock_guard lock(m_lock);
    return m_strLines.empty() && m_firsts.empty();
}

CUnsavedChanges::CTaken CUnsavedChanges::Take(const std::string& strTime) const
{
    std::lock_guard lock(m_lock);
    CTaken taken;
    taken.firsts = m_firsts;
    for (const CFirstCount& count : m_firsts)
    {
        CChangeRecord record;
        record.strTime = strTime;
        record.strRun = count.strRun;
        record.nKind = ChangeKind::first;
        record.strPath = "/";
        record.bFolder = true;
        record.nFolders = count.nFolders;
        record.nFiles = count.nFiles;
        record.nBytes = count.nBytes;
        taken.strLines += FormatChangeLine(record);
    }
    taken.strLines += m_strLines;
    taken.nLineBytes = m_strLines.size();
    return taken;
}

void CUnsavedChanges::Drop(const CTaken& taken)
{
    std::lock_guard lock(m_lock);
    m_strLines.erase(0, std::min(taken.nLineBytes, m_strLines.size()));
    for (const CFirstCount& dropped : taken.firsts)
    {
        for (CFirstCount& count : m_firsts)
        {
            if (count.strRun != dropped.strRun)
                continue;
            count.nFolders -= std::min(count.nFolders, dropped.nFolders);
            count.nFiles -= std::min(count.nFiles, dropped.nFiles);
            count.nBytes -= std::min(count.nBytes, dropped.nBytes);
        }
    }
    std::erase_if(m_firsts, [](const CFirstCount& count)
                  { return count.nFolders == 0 && count.nFiles == 0 && count.nBytes == 0; });
}

void CUnsavedChanges::SetError(const std::string& strError)
{
    std::lock_guard lock(m_lock);
    m_strError = strError;
}

std::string CUnsavedChanges::TakeError()
{
    std::lock_guard lock(m_lock);
    return std::exchange(m_strError, {});
}

CChangeLogLock::CChangeLogLock(const std::string& strFolder, bool bExclusive)
{
    m_fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, bExclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR)
    {
    }
}

CChangeLogLock::~CChangeLogLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

std::string MakeChangeBatch(const std::string& strFolder, std::string_view strLines)
{
    std::string strOld = ReadWhole(BatchPathIn(strFolder));
    std::optional<uint64_t> nLogSize;
    std::string strBatch;
    if (!strOld.empty())
    {
        CBatch old = SplitBatch(strOld);
        nLogSize = old.nLogSize;
        strBatch.assign(old.strLines);
    }
    if (!nLogSize)
    {
        // The log as it ends now; a line an older version's crash cut short
        // is ended first, so it never runs into the batch's first line.
        CChangeLogWriter writer(LogPathIn(strFolder));
        writer.Append("");
        struct stat st
        {
        };
        nLogSize = ::stat(LogPathIn(strFolder).c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    }
    CJsonLine header;
    header.Add("log_size", *nLogSize);
    return header.Finish() + strBatch + std::string(strLines);
}

void JoinChangeBatch(const std::string& strFolder, uint64_t nLimit,
                     const std::function<void(int)>& fnStep)
{
    const std::string strBatchPath = BatchPathIn(strFolder);
    std::string strBatch = ReadWhole(strBatchPath);
    if (strBatch.empty())
    {
        ::unlink(strBatchPath.c_str());
        return;
    }
    CBatch batch = SplitBatch(strBatch);
    CChangeLogWriter writer(LogPathIn(strFolder), nLimit);
    // A damaged first line leaves no length to go back to: at the end.
    writer.AppendAt(batch.nLogSize.value_or(UINT64_MAX), batch.strLines);
    if (fnStep)
        fnStep(1);
    if (::unlink(strBatchPath.c_str()) != 0 && errno != ENOENT)
        throw CFileException::FromErrno(errno, strBatchPath);
    // The batch is gone for good before the log may be rewritten shorter:
    // a join done again would find it shorter than log_size and append twice.
    SyncFolder(strFolder);
    if (fnStep)
        fnStep(2);
    try
    {
        writer.KeepWithinLimit();
    }
    catch (const CFileException&)
    {
        // No room for the shorter copy: the log stays long until next time.
    }
}

CChangeLogWriter::CChangeLogWriter(std::string strPath, uint64_t nLimit)
    : m_strPath(std::move(strPath)), m_nLimit(nLimit)
{
}

CChangeLogWriter::~CChangeLogWriter()
{
    Close();
}

void CChangeLogWriter::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CChangeLogWriter::Open()
{
    m_fd = ::open(m_strPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw CFileException::FromErrno(errno, m_strPath);
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
    {
        int nErr = errno;
        Close();
        throw CFileException::FromErrno(nErr, m_strPath);
    }
    m_nSize = static_cast<uint64_t>(st.st_size);
    // A line a crash cut short is ended here, so it stays one damaged line
    // instead of spoiling the first line written now.
    char cLast = '\n';
    if (m_nSize > 0 && ::pread(m_fd, &cLast, 1, static_cast<off_t>(m_nSize - 1)) == 1 &&
        cLast != '\n')
    {
        WriteAll(m_fd, "\n", m_strPath);
        ++m_nSize;
    }
}

void CChangeLogWriter::Append(std::string_view strLines)
{
    if (m_fd < 0)
        Open();
    if (strLines.empty())
        return;
    WriteAll(m_fd, strLines, m_strPath);
    m_nSize += strLines.size();
    KeepWithinLimit();
}

void CChangeLogWriter::AppendAt(uint64_t nLength, std::string_view strLines)
{
    if (m_fd >= 0)
        Close();
    m_fd = ::open(m_strPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        throw CFileException::FromErrno(errno, m_strPath);
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
    {
        int nErr = errno;
        Close();
        throw CFileException::FromErrno(nErr, m_strPath);
    }
    m_nSize = static_cast<uint64_t>(st.st_size);
    // Longer: a crash came in the middle of an earlier try. Shorter (the log
    // was removed meanwhile): the lines go at its end.
    if (m_nSize > nLength)
    {
        if (::ftruncate(m_fd, static_cast<off_t>(nLength)) != 0)
        {
            int nErr = errno;
            Close();
            throw CFileException::FromErrno(nErr, m_strPath);
        }
        m_nSize = nLength;
    }
    try
    {
        WriteAll(m_fd, strLines, m_strPath);
        if (::fsync(m_fd) != 0)
            throw CFileException::FromErrno(errno, m_strPath);
    }
    catch (...)
    {
        // A full disk: no part of the lines stays to be shown or doubled.
        (void)::ftruncate(m_fd, static_cast<off_t>(m_nSize));
        Close();
        throw;
    }
    m_nSize += strLines.size();
}

void CChangeLogWriter::KeepWithinLimit()
{
    if (m_nSize > m_nLimit)
        KeepNewerHalf();
}

void CChangeLogWriter::KeepNewerHalf()
{
    Close();
    std::string strText = ReadWhole(m_strPath);
    size_t nCut = strText.size() / 2;
    // The line that straddles the middle goes too: lines stay whole.
    if (nCut > 0 && strText[nCut - 1] != '\n')
    {
        size_t nEnd = strText.find('\n', nCut);
        nCut = nEnd == std::string::npos ? strText.size() : nEnd + 1;
    }
    CAtomicFileWriter writer;
    writer.OpenOrThrow(m_strPath);
    writer.GetFile()->Write(strText.data() + nCut, strText.size() - nCut);
    writer.Commit();
}

void ReadChangeLog(const std::string& strPath, const std::function<void(CChangeRecord&)>& fn,
                   size_t* pnDamaged)
{
    if (pnDamaged != nullptr)
        *pnDamaged = 0;
    std::string strText;
    try
    {
        const std::string strFolder = FolderOf(strPath);
        std::string strBatch;
        {
            // Log and batch as one: no join runs between the two reads.
            CChangeLogLock lock(strFolder, false);
            strText = ReadWhole(strPath);
            // A save a crash cut short after its record lands with its
            // batch, which holds the older one's lines too.
            std::string strRecorded = FindRecordedTemp(strFolder, SITE_CHANGES_BATCH_FILE);
            strBatch = ReadWhole(strRecorded.empty() ? BatchPathIn(strFolder) : strRecorded);
        }
        if (!strBatch.empty())
        {
            CBatch batch = SplitBatch(strBatch);
            // What a crashed join appended is the batch's own beginning.
            if (batch.nLogSize && strText.size() > *batch.nLogSize)
                strText.resize(*batch.nLogSize);
            if (!strText.empty() && strText.back() != '\n')
                strText += '\n';
            strText += batch.strLines;
        }
    }
    catch (const CFileException&)
    {
        return; // unreadable: no changes to show
    }
    std::string_view text(strText);
    CChangeRecord record;
    for (size_t nEnd; (nEnd = text.find('\n')) != std::string_view::npos;)
    {
        std::string_view line = text.substr(0, nEnd);
        text.remove_prefix(nEnd + 1);
        if (line.empty())
            continue;
        if (!ParseChangeLine(line, &record))
        {
            if (pnDamaged != nullptr)
                ++*pnDamaged;
            continue;
        }
        fn(record);
    }
}
