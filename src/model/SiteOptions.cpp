#include "model/SiteOptions.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "model/File.h"

namespace
{
std::string_view TrimSpaces(std::string_view str)
{
    while (!str.empty() && (str.front() == ' ' || str.front() == '\t'))
        str.remove_prefix(1);
    while (!str.empty() && (str.back() == ' ' || str.back() == '\t' || str.back() == '\r'))
        str.remove_suffix(1);
    return str;
}

std::string OneLine(std::string_view str)
{
    std::string strOut(str);
    std::replace(strOut.begin(), strOut.end(), '\n', ' ');
    std::replace(strOut.begin(), strOut.end(), '\r', ' ');
    return strOut;
}
} // namespace

bool IsValidOptionKey(std::string_view strKey)
{
    if (strKey.empty())
        return false;
    return std::all_of(strKey.begin(), strKey.end(),
                       [](char c)
                       {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
                       });
}

CSiteOptions CSiteOptions::Parse(std::string_view text, std::vector<size_t>* pDamagedLines)
{
    CSiteOptions options;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    size_t nLine = 0;
    while (!text.empty())
    {
        size_t nEnd = text.find('\n');
        std::string_view line = text.substr(0, nEnd);
        text.remove_prefix(nEnd == std::string_view::npos ? text.size() : nEnd + 1);
        ++nLine;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string_view trimmed = TrimSpaces(line);
        size_t nEqual = trimmed.find('=');
        std::string_view key = TrimSpaces(trimmed.substr(0, nEqual));
        bool bComment = trimmed.empty() || trimmed.front() == '#' || trimmed.front() == ';';
        if (!bComment && (nEqual == std::string_view::npos || !IsValidOptionKey(key)))
        {
            if (pDamagedLines != nullptr)
                pDamagedLines->push_back(nLine);
            bComment = true;
        }
        if (bComment)
        {
            options.m_lines.push_back({"", std::string(line)});
            continue;
        }
        std::string strKey(key);
        std::string strValue(TrimSpaces(trimmed.substr(nEqual + 1)));
        // A key given twice: the last one wins, as a reader going down the file would expect.
        options.Remove(strKey);
        options.m_lines.push_back({std::move(strKey), std::move(strValue)});
    }
    return options;
}

CSiteOptions CSiteOptions::Load(const std::string& strPath, std::vector<size_t>* pDamagedLines)
{
    CDiskFile file;
    if (!file.OpenRead(strPath))
    {
        int nErr = errno;
        // Only a file that is not there means the defaults: anything else
        // read as defaults would turn a TLS site plain.
        if (nErr == ENOENT || nErr == ENOTDIR)
            return {};
        throw CFileException::FromErrno(nErr, strPath);
    }
    if (file.GetLength() > MAX_OPTIONS_FILE_SIZE)
        throw CFileException::FromErrno(EFBIG, strPath);
    std::string strText;
    char buf[4096];
    for (size_t n; (n = file.Read(buf, sizeof buf)) != 0;)
    {
        strText.append(buf, n);
        // It grew while being read.
        if (strText.size() > MAX_OPTIONS_FILE_SIZE)
            throw CFileException::FromErrno(EFBIG, strPath);
    }
    return Parse(strText, pDamagedLines);
}

std::string CSiteOptions::Format() const
{
    std::string strText;
    for (const CLine& line : m_lines)
    {
        if (line.strKey.empty())
            strText += line.strValue;
        else
            strText += line.strKey + "=" + line.strValue;
        strText += '\n';
    }
    return strText;
}

void CSiteOptions::Save(const std::string& strPath) const
{
    CAtomicFileWriter writer;
    if (!writer.Open(strPath, 0600))
        throw CFileException(CFileException::genericException, errno, strPath);
    std::string strText = Format();
    writer.GetFile()->Write(strText.data(), strText.size());
    writer.Commit();
}

std::optional<std::string> CSiteOptions::Find(std::string_view strKey) const
{
    for (const CLine& line : m_lines)
    {
        if (!line.strKey.empty() && line.strKey == strKey)
            return line.strValue;
    }
    return std::nullopt;
}

std::string CSiteOptions::Get(std::string_view strKey, std::string_view strDefault) const
{
    std::optional<std::string> value = Find(strKey);
    return value ? *value : std::string(strDefault);
}

int64_t CSiteOptions::GetInt(std::string_view strKey, int64_t nDefault) const
{
    std::optional<std::string> value = Find(strKey);
    if (!value)
        return nDefault;
    int64_t n = 0;
    auto [p, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
    return ec == std::errc() && p == value->data() + value->size() ? n : nDefault;
}

bool CSiteOptions::Set(std::string_view strKey, std::string_view strValue)
{
    if (!IsValidOptionKey(strKey))
        return false;
    std::string strClean = OneLine(TrimSpaces(strValue));
    for (CLine& line : m_lines)
    {
        if (line.strKey == strKey)
        {
            line.strValue = std::move(strClean);
            return true;
        }
    }
    m_lines.push_back({std::string(strKey), std::move(strClean)});
    return true;
}

void CSiteOptions::SetInt(std::string_view strKey, int64_t nValue)
{
    (void)Set(strKey, std::to_string(nValue));
}

void CSiteOptions::Remove(std::string_view strKey)
{
    std::erase_if(m_lines,
                  [&](const CLine& line) { return !line.strKey.empty() && line.strKey == strKey; });
}

bool CSiteOptions::IsEmpty() const
{
    return std::none_of(m_lines.begin(), m_lines.end(),
                        [](const CLine& line) { return !line.strKey.empty(); });
}
