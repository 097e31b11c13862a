#include "cli/JsonWriter.h"

#include <cstdio>

namespace
{
// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t n)
{
    unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    size_t nLength;
    unsigned char nLow = 0x80;
    unsigned char nHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        nLength = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        nLength = 3;
        if (c == 0xE0)
            nLow = 0xA0; // no overlong forms
        else if (c == 0xED)
            nHigh = 0x9F; // no surrogates
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        nLength = 4;
        if (c == 0xF0)
            nLow = 0x90;
        else if (c == 0xF4)
            nHigh = 0x8F; // nothing above U+10FFFF
    }
    else
        return 0;
    if (n < nLength || p[1] < nLow || p[1] > nHigh)
        return 0;
    for (size_t i = 2; i < nLength; ++i)
    {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return nLength;
}
} // namespace

std::string JsonString(std::string_view strText)
{
    std::string str;
    str.reserve(strText.size() + 2);
    str += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    size_t n = strText.size();
    for (size_t i = 0; i < n;)
    {
        unsigned char c = p[i];
        if (c >= 0x80)
        {
            size_t nLength = Utf8SequenceLength(p + i, n - i);
            if (nLength == 0)
            {
                str += "\xEF\xBF\xBD";
                ++i;
            }
            else
            {
                str.append(reinterpret_cast<const char*>(p + i), nLength);
                i += nLength;
            }
            continue;
        }
        switch (c)
        {
        case '"':
            str += "\\\"";
            break;
        case '\\':
            str += "\\\\";
            break;
        case '\b':
            str += "\\b";
            break;
        case '\f':
            str += "\\f";
            break;
        case '\n':
            str += "\\n";
            break;
        case '\r':
            str += "\\r";
            break;
        case '\t':
            str += "\\t";
            break;
        default:
            if (c < 0x20)
            {
                char szEscape[8];
                std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", c);
                str += szEscape;
            }
            else
                str += static_cast<char>(c);
        }
        ++i;
    }
    str += '"';
    return str;
}

void CJsonLine::Key(std::string_view strKey)
{
    if (m_strText.size() > 1)
        m_strText += ',';
    m_strText += JsonString(strKey);
    m_strText += ':';
}

CJsonLine& CJsonLine::Add(std::string_view strKey, std::string_view strValue)
{
    Key(strKey);
    m_strText += JsonString(strValue);
    return *this;
}

CJsonLine& CJsonLine::Add(std::string_view strKey, int64_t nValue)
{
    Key(strKey);
    m_strText += std::to_string(nValue);
    return *this;
}

CJsonLine& CJsonLine::Add(std::string_view strKey, uint64_t nValue)
{
    Key(strKey);
    m_strText += std::to_string(nValue);
    return *this;
}

CJsonLine& CJsonLine::Add(std::string_view strKey, bool bValue)
{
    Key(strKey);
    m_strText += bValue ? "true" : "false";
    return *this;
}
