#include "transfer/LocalName.h"

#include <array>
#include <cctype>

namespace
{
bool IsForbiddenByte(unsigned char c)
{
    if (c < 0x20 || c == 0x7f)
        return true;
    switch (c)
    {
    case '/':
    case '\\':
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        return false;
    }
}

// Windows opens a device, whatever the extension, for these stems.
bool IsDeviceName(std::string_view strName)
{
    std::string_view stem = strName.substr(0, strName.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string strUpper;
    for (char c : stem)
        strUpper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 4> PLAIN = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view device : PLAIN)
        if (strUpper == device)
            return true;
    return strUpper.size() == 4 && (strUpper.starts_with("COM") || strUpper.starts_with("LPT")) &&
           strUpper[3] >= '1' && strUpper[3] <= '9';
}

// The start of the UTF-8 character that holds byte n (n itself when n is a
// boundary).
size_t CharStart(std::string_view str, size_t n)
{
    while (n > 0 && n < str.size() && (static_cast<unsigned char>(str[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Splits "name.ext" at its last dot; a dot that begins the name is no
// extension's.
size_t ExtensionStart(const std::string& strName)
{
    size_t nDot = strName.rfind('.');
    return nDot == std::string::npos || nDot == 0 ? strName.size() : nDot;
}
} // namespace

std::string MapLocalName(std::string_view strText)
{
    std::string strName;
    strName.reserve(strText.size());
    for (char c : strText)
        strName += IsForbiddenByte(static_cast<unsigned char>(c)) ? '_' : c;
    for (size_t n = strName.size(); n > 0 && (strName[n - 1] == '.' || strName[n - 1] == ' '); --n)
        strName[n - 1] = '_';
    if (strName.empty())
        strName = "_";
    if (IsDeviceName(strName))
        strName = "_" + strName;
    if (strName.size() > LOCAL_NAME_MAX)
    {
        size_t nExt = ExtensionStart(strName);
        std::string strExt = strName.substr(nExt);
        if (strExt.size() > 16)
            strExt.clear();
        size_t nKeep = CharStart(strName, LOCAL_NAME_MAX - strExt.size());
        strName = strName.substr(0, nKeep) + strExt;
    }
    return strName;
}

std::string NumberedName(const std::string& strName, unsigned n)
{
    if (n == 0)
        return strName;
    size_t nExt = ExtensionStart(strName);
    return strName.substr(0, nExt) + " (" + std::to_string(n) + ")" + strName.substr(nExt);
}

std::string NextFreeName(const std::string& strName,
                         const std::function<bool(const std::string&)>& isTaken)
{
    for (unsigned n = 0;; ++n)
    {
        std::string strCandidate = NumberedName(strName, n);
        if (!isTaken(strCandidate))
            return strCandidate;
    }
}
