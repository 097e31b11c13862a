#include "model/ChangeLog.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/Json.h"

namespace
{
bool IsKeptInRaw(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
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
    case ChangeKind::added:
        break;
    }
    return "added";
}

bool ParseChangeKind(std::string_view str, ChangeKind* pKind)
{
    for (ChangeKind nKind :
         {ChangeKind::added, ChangeKind::removed, ChangeKind::resized, ChangeKind::first})
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
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    std::string str;
    str.reserve(bytes.size() * 2);
    for (char ch : bytes)
    {
        auto c = static_cast<unsigned char>(ch);
        if (IsKeptInRaw(c))
        {
            str += ch;
            continue;
        }
        str += '%';
        str += HEX_DIGITS[c >> 4];
        str += HEX_DIGITS[c & 0x0F];
    }
    return str;
}

bool DecodeRawPath(std::string_view strRaw, std::string* pBytes)
{
    pBytes->clear();
    for (size_t i = 0; i < strRaw.size(); ++i)
    {
        if (strRaw[i] != '%')
        {
            *pBytes += strRaw[i];
            continue;
        }
        if (i + 2 >= strRaw.size())
            return false;
        int nHigh = HexValue(strRaw[i + 1]);
        int nLow = HexValue(strRaw[i + 2]);
        if (nHigh < 0 || nLow < 0)
            return false;
        *pBytes += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    return true;
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
        line.Add("folders", record.nFolders).Add("files", record.nFiles).Add("bytes", record.nBytes);
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
    *pRecord = std::move(record);
    return true;
}

std::string GetChangeLogPath(const std::string& strProgramFolder, const std::string& strKey)
{
    return GetSiteFolderPath(strProgramFolder, strKey) + "/" + SITE_CHANGES_FILE;
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
    struct stat st{};
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
    if (strLines.empty())
        return;
    if (m_fd < 0)
        Open();
    WriteAll(m_fd, strLines, m_strPath);
    m_nSize += strLines.size();
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
        strText = ReadWhole(strPath);
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
