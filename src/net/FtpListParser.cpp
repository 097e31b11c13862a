#include "net/FtpListParser.h"

#include <array>
#include <cstring>

namespace
{
struct CToken
{
    size_t nStart;
    size_t nEnd;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view str, std::string_view prefix)
{
    return str.size() >= prefix.size() && EqualsNoCase(str.substr(0, prefix.size()), prefix);
}

bool AllDigits(std::string_view str)
{
    if (str.empty())
        return false;
    for (char c : str)
        if (!IsDigit(c))
            return false;
    return true;
}

// Decimal digits to 64 bits; false on anything else or on overflow.
bool ParseSize(std::string_view str, uint64_t& nSize)
{
    if (!AllDigits(str))
        return false;
    uint64_t n = 0;
    for (char c : str)
    {
        uint64_t nDigit = static_cast<uint64_t>(c - '0');
        if (n > (UINT64_MAX - nDigit) / 10)
            return false;
        n = n * 10 + nDigit;
    }
    nSize = n;
    return true;
}

std::vector<CToken> Tokenize(std::string_view line)
{
    std::vector<CToken> tokens;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        size_t nStart = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        tokens.push_back(CToken{nStart, i});
    }
    return tokens;
}

bool IsMonth(std::string_view str)
{
    static constexpr std::array<std::string_view, 12> months = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (str.size() != 3)
        return false;
    for (std::string_view month : months)
        if (EqualsNoCase(str, month))
            return true;
    return false;
}

bool IsDay(std::string_view str)
{
    return !str.empty() && str.size() <= 2 && AllDigits(str);
}

// "12:00", "9:05" or "12:00:59".
bool IsClock(std::string_view str)
{
    size_t nColon = str.find(':');
    if (nColon == std::string_view::npos || nColon == 0 || nColon > 2)
        return false;
    std::string_view rest = str.substr(nColon + 1);
    if (rest.size() == 5 && rest[2] == ':')
        return AllDigits(str.substr(0, nColon)) && AllDigits(rest.substr(0, 2)) &&
               AllDigits(rest.substr(3));
    return rest.size() == 2 && AllDigits(str.substr(0, nColon)) && AllDigits(rest);
}

bool IsYear(std::string_view str)
{
    return str.size() == 4 && AllDigits(str);
}

// "2020-01-21": the ISO date some servers use in ls -l listings.
bool IsIsoDate(std::string_view str)
{
    return str.size() == 10 && str[4] == '-' && str[7] == '-' && AllDigits(str.substr(0, 4)) &&
           AllDigits(str.substr(5, 2)) && AllDigits(str.substr(8, 2));
}

// "01-21-20", "01/21/2020", "2020-01-21": a DOS/IIS date.
bool IsDosDate(std::string_view str)
{
    int nGroups = 0;
    size_t nDigits = 0;
    for (size_t i = 0; i <= str.size(); ++i)
    {
        if (i < str.size() && IsDigit(str[i]))
        {
            if (++nDigits > 4)
                return false;
            continue;
        }
        if (nDigits == 0)
            return false;
        ++nGroups;
        nDigits = 0;
        if (i < str.size() && str[i] != '-' && str[i] != '/' && str[i] != '.')
            return false;
    }
    return nGroups == 3;
}

// "02:35PM", "14:35", "2:35am".
bool IsDosTime(std::string_view str)
{
    if (str.size() > 2 && (EqualsNoCase(str.substr(str.size() - 2), "am") ||
                           EqualsNoCase(str.substr(str.size() - 2), "pm")))
        str.remove_suffix(2);
    return IsClock(str);
}

// The first character of an ls -l mode and the nine permission letters.
bool IsUnixMode(std::string_view str)
{
    if (str.size() < 10 || std::strchr("-dlbcpsDn", str[0]) == nullptr)
        return false;
    for (size_t i = 1; i < 10; ++i)
        if (std::strchr("rwxsStTlL-", str[i]) == nullptr)
            return false;
    // ACL, extended-attribute and SELinux marks.
    for (size_t i = 10; i < str.size(); ++i)
        if (std::strchr("+@.", str[i]) == nullptr)
            return false;
    return true;
}

bool KeepName(std::string_view name)
{
    return !name.empty() && name != "." && name != "..";
}
} // namespace

bool CFtpListParser::ParseLine(std::string_view line, CFtpListEntry& entry)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.empty())
        return false;
    return ParseMlsd(line, entry) || ParseUnix(line, entry) || ParseDos(line, entry);
}

std::vector<CFtpListEntry> CFtpListParser::ParseListing(std::string_view listing)
{
    std::vector<CFtpListEntry> entries;
    size_t nStart = 0;
    while (nStart < listing.size())
    {
        size_t nEnd = listing.find('\n', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = listing.size();
        CFtpListEntry entry;
        if (ParseLine(listing.substr(nStart, nEnd - nStart), entry))
            entries.push_back(std::move(entry));
        nStart = nEnd + 1;
    }
    return entries;
}

bool CFtpListParser::ParseMlsd(std::string_view line, CFtpListEntry& entry)
{
    // The facts end with ";" right before the single space that precedes
    // the name; a facts part never contains a space.
    size_t nSpace = line.find(' ');
    if (nSpace == std::string_view::npos || nSpace == 0 || line[nSpace - 1] != ';')
        return false;
    std::string_view facts = line.substr(0, nSpace);
    if (facts.find('=') == std::string_view::npos)
        return false;
    std::string_view name = line.substr(nSpace + 1);

    bool bDirectory = false;
    uint64_t nSize = 0;
    size_t nPos = 0;
    while (nPos < facts.size())
    {
        size_t nEnd = facts.find(';', nPos);
        if (nEnd == std::string_view::npos)
            nEnd = facts.size();
        std::string_view fact = facts.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        size_t nEqual = fact.find('=');
        if (nEqual == std::string_view::npos)
            continue;
        std::string_view key = fact.substr(0, nEqual);
        std::string_view value = fact.substr(nEqual + 1);
        if (EqualsNoCase(key, "type"))
        {
            if (EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir"))
                return false;
            // Links (OS.unix=slink:...) and device types count as files.
            bDirectory = EqualsNoCase(value, "dir");
        }
        else if (EqualsNoCase(key, "size"))
        {
            uint64_t n = 0;
            if (ParseSize(value, n))
                nSize = n;
        }
    }
    if (!KeepName(name))
        return false;
    entry.strName = std::string(name);
    entry.bDirectory = bDirectory;
    entry.nSize = bDirectory ? 0 : nSize;
    return true;
}

bool CFtpListParser::ParseUnix(std::string_view line, CFtpListEntry& entry)
{
    std::vector<CToken> tokens = Tokenize(line);
    auto text = [&](size_t i) {
        return line.substr(tokens[i].nStart, tokens[i].nEnd - tokens[i].nStart);
    };
    if (tokens.size() < 5 || !IsUnixMode(text(0)))
        return false;

    // Find the date: "Jan 21 12:00", "Jan 21 2019", "21 Jan 12:00" or
    // "2020-01-21 12:00", right after the size field. The size decides,
    // so an owner called "may" is not taken for a date.
    for (size_t i = 2; i + 1 < tokens.size(); ++i)
    {
        size_t nLast = 0; // the token that ends the date
        if (IsIsoDate(text(i)) && IsClock(text(i + 1)))
            nLast = i + 1;
        else if (i + 2 < tokens.size() && IsMonth(text(i)) && IsDay(text(i + 1)) &&
                 (IsClock(text(i + 2)) || IsYear(text(i + 2))))
            nLast = i + 2;
        else if (i + 2 < tokens.size() && IsDay(text(i)) && IsMonth(text(i + 1)) &&
                 (IsClock(text(i + 2)) || IsYear(text(i + 2))))
            nLast = i + 2;
        if (nLast == 0)
            continue;

        uint64_t nSize = 0;
        std::string_view sizeText = text(i - 1);
        bool bDevice = text(i - 2).back() == ',' || sizeText.find(',') != std::string_view::npos;
        if (!bDevice && !ParseSize(sizeText, nSize))
            continue;

        // ls separates the date from the name by one blank; further blanks
        // belong to the name.
        size_t nNameStart = tokens[nLast].nEnd + 1;
        if (nNameStart >= line.size())
            return false;
        std::string_view name = line.substr(nNameStart);
        char cType = line[tokens[0].nStart];
        if (cType == 'l')
        {
            size_t nArrow = name.find(" -> ");
            if (nArrow != std::string_view::npos)
                name = name.substr(0, nArrow);
        }
        if (!KeepName(name))
            return false;
        entry.strName = std::string(name);
        entry.bDirectory = cType == 'd' || cType == 'D';
        entry.nSize = (entry.bDirectory || bDevice) ? 0 : nSize;
        return true;
    }
    return false;
}

bool CFtpListParser::ParseDos(std::string_view line, CFtpListEntry& entry)
{
    std::vector<CToken> tokens = Tokenize(line);
    auto text = [&](size_t i) {
        return line.substr(tokens[i].nStart, tokens[i].nEnd - tokens[i].nStart);
    };
    if (tokens.size() < 4 || !IsDosDate(text(0)) || !IsDosTime(text(1)))
        return false;
    size_t nField = 2;
    if (EqualsNoCase(text(2), "AM") || EqualsNoCase(text(2), "PM"))
        ++nField;
    if (nField + 1 >= tokens.size())
        return false;

    std::string_view field = text(nField);
    bool bDirectory = false;
    bool bLink = false;
    uint64_t nSize = 0;
    if (EqualsNoCase(field, "<DIR>"))
        bDirectory = true;
    else if (EqualsNoCase(field, "<JUNCTION>") || StartsWithNoCase(field, "<SYMLINK"))
        bLink = true;
    else
    {
        // Some servers group digits: "1,234,567".
        std::string digits;
        for (char c : field)
            if (c != ',' && c != '.')
                digits += c;
        if (!ParseSize(digits, nSize))
            return false;
    }

    std::string_view name = line.substr(tokens[nField + 1].nStart);
    if (bLink && name.size() > 2 && name.back() == ']')
    {
        size_t nBracket = name.rfind(" [");
        if (nBracket != std::string_view::npos)
            name = name.substr(0, nBracket);
    }
    if (!KeepName(name))
        return false;
    entry.strName = std::string(name);
    entry.bDirectory = bDirectory;
    entry.nSize = nSize;
    return true;
}
