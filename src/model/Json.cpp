#include "model/Json.h"

#include <charconv>
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

CJsonLine& CJsonLine::Add(std::string_view strKey, const std::vector<std::string>& values)
{
    Key(strKey);
    m_strText += '[';
    for (size_t i = 0; i < values.size(); ++i)
    {
        if (i != 0)
            m_strText += ',';
        m_strText += JsonString(values[i]);
    }
    m_strText += ']';
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

CJsonLine& CJsonLine::Add(std::string_view strKey, double dValue)
{
    Key(strKey);
    char szNumber[32];
    auto [p, ec] = std::to_chars(szNumber, szNumber + sizeof(szNumber), dValue);
    m_strText.append(szNumber, ec == std::errc() ? p : szNumber);
    return *this;
}

CJsonLine& CJsonLine::AddNull(std::string_view strKey)
{
    Key(strKey);
    m_strText += "null";
    return *this;
}

namespace
{
class CJsonReader
{
public:
    explicit CJsonReader(std::string_view strText) : m_str(strText) {}

    bool Object(std::map<std::string, CJsonFields::CValue, std::less<>>* pValues)
    {
        SkipBlanks();
        if (!Take('{'))
            return false;
        SkipBlanks();
        if (Take('}'))
            return AtEnd();
        for (;;)
        {
            std::string strKey;
            CJsonFields::CValue value;
            SkipBlanks();
            if (!String(&strKey))
                return false;
            SkipBlanks();
            if (!Take(':'))
                return false;
            SkipBlanks();
            if (!Value(&value))
                return false;
            (*pValues)[std::move(strKey)] = std::move(value);
            SkipBlanks();
            if (Take('}'))
                return AtEnd();
            if (!Take(','))
                return false;
        }
    }

private:
    bool AtEnd()
    {
        SkipBlanks();
        return m_nPos == m_str.size();
    }
    void SkipBlanks()
    {
        while (m_nPos < m_str.size() && (m_str[m_nPos] == ' ' || m_str[m_nPos] == '\t' ||
                                         m_str[m_nPos] == '\r' || m_str[m_nPos] == '\n'))
            ++m_nPos;
    }
    bool Take(char c)
    {
        if (m_nPos < m_str.size() && m_str[m_nPos] == c)
        {
            ++m_nPos;
            return true;
        }
        return false;
    }

    bool Value(CJsonFields::CValue* pValue)
    {
        if (m_nPos >= m_str.size())
            return false;
        char c = m_str[m_nPos];
        if (c == '"')
        {
            pValue->nType = CJsonFields::string;
            return String(&pValue->strText);
        }
        for (std::string_view literal : {"true", "false", "null"})
        {
            if (m_str.substr(m_nPos, literal.size()) == literal)
            {
                m_nPos += literal.size();
                pValue->nType = CJsonFields::literal;
                pValue->strText = literal;
                return true;
            }
        }
        pValue->nType = CJsonFields::number;
        size_t nStart = m_nPos;
        Take('-');
        if (!Digits())
            return false;
        if (Take('.') && !Digits())
            return false;
        if (Take('e') || Take('E'))
        {
            if (!Take('+'))
                Take('-');
            if (!Digits())
                return false;
        }
        pValue->strText = m_str.substr(nStart, m_nPos - nStart);
        return true;
    }

    bool Digits()
    {
        size_t nStart = m_nPos;
        while (m_nPos < m_str.size() && m_str[m_nPos] >= '0' && m_str[m_nPos] <= '9')
            ++m_nPos;
        return m_nPos > nStart;
    }

    bool Hex4(uint32_t* pn)
    {
        if (m_str.size() - m_nPos < 4)
            return false;
        uint32_t n = 0;
        for (int i = 0; i < 4; ++i)
        {
            char c = m_str[m_nPos++];
            n <<= 4;
            if (c >= '0' && c <= '9')
                n |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                n |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                n |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        *pn = n;
        return true;
    }

    static void AppendUtf8(uint32_t n, std::string* pstr)
    {
        if (n < 0x80)
            *pstr += static_cast<char>(n);
        else if (n < 0x800)
        {
            *pstr += static_cast<char>(0xC0 | (n >> 6));
            *pstr += static_cast<char>(0x80 | (n & 0x3F));
        }
        else if (n < 0x10000)
        {
            *pstr += static_cast<char>(0xE0 | (n >> 12));
            *pstr += static_cast<char>(0x80 | ((n >> 6) & 0x3F));
            *pstr += static_cast<char>(0x80 | (n & 0x3F));
        }
        else
        {
            *pstr += static_cast<char>(0xF0 | (n >> 18));
            *pstr += static_cast<char>(0x80 | ((n >> 12) & 0x3F));
            *pstr += static_cast<char>(0x80 | ((n >> 6) & 0x3F));
            *pstr += static_cast<char>(0x80 | (n & 0x3F));
        }
    }

    bool String(std::string* pstr)
    {
        if (!Take('"'))
            return false;
        pstr->clear();
        while (m_nPos < m_str.size())
        {
            char c = m_str[m_nPos++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\')
            {
                *pstr += c;
                continue;
            }
            if (m_nPos >= m_str.size())
                return false;
            char e = m_str[m_nPos++];
            switch (e)
            {
            case '"':
            case '\\':
            case '/':
                *pstr += e;
                break;
            case 'b':
                *pstr += '\b';
                break;
            case 'f':
                *pstr += '\f';
                break;
            case 'n':
                *pstr += '\n';
                break;
            case 'r':
                *pstr += '\r';
                break;
            case 't':
                *pstr += '\t';
                break;
            case 'u':
            {
                uint32_t n = 0;
                if (!Hex4(&n))
                    return false;
                if (n >= 0xD800 && n <= 0xDBFF)
                {
                    uint32_t nLow = 0;
                    if (!Take('\\') || !Take('u') || !Hex4(&nLow) || nLow < 0xDC00 || nLow > 0xDFFF)
                        return false;
                    n = 0x10000 + ((n - 0xD800) << 10) + (nLow - 0xDC00);
                }
                else if (n >= 0xDC00 && n <= 0xDFFF)
                    return false;
                AppendUtf8(n, pstr);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    std::string_view m_str;
    size_t m_nPos = 0;
};
} // namespace

std::optional<std::string> CJsonFields::GetString(std::string_view strKey) const
{
    auto it = m_values.find(strKey);
    if (it == m_values.end() || it->second.nType != string)
        return std::nullopt;
    return it->second.strText;
}

std::optional<uint64_t> CJsonFields::GetUnsigned(std::string_view strKey) const
{
    auto it = m_values.find(strKey);
    if (it == m_values.end() || it->second.nType != number)
        return std::nullopt;
    const std::string& str = it->second.strText;
    uint64_t n = 0;
    auto [p, ec] = std::from_chars(str.data(), str.data() + str.size(), n);
    if (ec != std::errc() || p != str.data() + str.size())
        return std::nullopt;
    return n;
}

std::optional<bool> CJsonFields::GetBool(std::string_view strKey) const
{
    auto it = m_values.find(strKey);
    if (it == m_values.end() || it->second.nType != literal || it->second.strText == "null")
        return std::nullopt;
    return it->second.strText == "true";
}

bool ReadJsonLine(std::string_view strLine, CJsonFields* pFields)
{
    pFields->m_values.clear();
    CJsonReader reader(strLine);
    if (reader.Object(&pFields->m_values))
        return true;
    pFields->m_values.clear();
    return false;
}
