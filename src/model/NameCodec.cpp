#include "model/NameCodec.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <map>

namespace
{
// What iconv calls each known set; the first entry of each row is the
// spelling shown to people, the others are accepted on input.
struct CCharsetName
{
    const char* pszName;
    const char* pszIconv;
    std::array<const char*, 4> aliases;
};

constexpr std::array<CCharsetName, 10> KNOWN_SETS = {{
    {"UTF-8", "UTF-8", {"UTF8", nullptr, nullptr, nullptr}},
    {"GB18030", "GB18030", {"GBK", "GB2312", "CP936", "EUC-CN"}},
    {"Big5", "BIG5", {"BIG-5", "CP950", nullptr, nullptr}},
    {"Shift_JIS", "SHIFT_JIS", {"SJIS", "CP932", "SHIFT-JIS", nullptr}},
    {"EUC-JP", "EUC-JP", {"EUCJP", nullptr, nullptr, nullptr}},
    {"EUC-KR", "EUC-KR", {"EUCKR", "CP949", nullptr, nullptr}},
    {"Windows-1251", "CP1251", {"CP1251", "WIN1251", nullptr, nullptr}},
    {"KOI8-R", "KOI8-R", {"KOI8R", nullptr, nullptr, nullptr}},
    {"Windows-1252", "CP1252", {"CP1252", "WIN1252", nullptr, nullptr}},
    {"ISO-8859-1", "ISO-8859-1", {"LATIN1", "ISO8859-1", nullptr, nullptr}},
}};

// Windows-1252 at 0x80-0x9F; the five holes stay C1 code points.
constexpr std::array<char16_t, 32> CP1252_HIGH = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        char ca = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char cb = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (ca != cb)
            return false;
    }
    return true;
}

const CCharsetName* FindSet(std::string_view strName)
{
    for (const CCharsetName& set : KNOWN_SETS)
    {
        if (EqualsNoCase(strName, set.pszName) || EqualsNoCase(strName, set.pszIconv))
            return &set;
        for (const char* pszAlias : set.aliases)
        {
            if (pszAlias != nullptr && EqualsNoCase(strName, pszAlias))
                return &set;
        }
    }
    return nullptr;
}

void AppendUtf8(std::string& str, char32_t c)
{
    if (c < 0x80)
        str += static_cast<char>(c);
    else if (c < 0x800)
    {
        str += static_cast<char>(0xC0 | (c >> 6));
        str += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        str += static_cast<char>(0xE0 | (c >> 12));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendCp1252(std::string& str, unsigned char c)
{
    if (c >= 0x80 && c < 0xA0)
        AppendUtf8(str, CP1252_HIGH[c - 0x80]);
    else
        AppendUtf8(str, c);
}

// One thread's conversion descriptors, opened on first use and kept.
class CIconvCache
{
public:
    ~CIconvCache()
    {
        for (auto& [key, cd] : m_open)
        {
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
        }
    }
    iconv_t Get(const std::string& strTo, const std::string& strFrom)
    {
        std::string strKey = strTo + '\n' + strFrom;
        auto it = m_open.find(strKey);
        if (it == m_open.end())
            it = m_open.emplace(strKey, iconv_open(strTo.c_str(), strFrom.c_str())).first;
        iconv_t cd = it->second;
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv(cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return cd;
    }

private:
    std::map<std::string, iconv_t> m_open;
};

thread_local CIconvCache t_iconv;

// Converts as much as the set allows; a byte it cannot take is shown as its
// Windows-1252 character and conversion goes on after it.
std::string DecodeWith(const std::string& strSet, std::string_view bytes)
{
    std::string strOut;
    iconv_t cd = t_iconv.Get("UTF-8", strSet);
    if (cd == reinterpret_cast<iconv_t>(-1))
    {
        for (char c : bytes)
            AppendCp1252(strOut, static_cast<unsigned char>(c));
        return strOut;
    }
    strOut.reserve(bytes.size() * 3 / 2 + 8);
    char buf[512];
    auto* pIn = const_cast<char*>(bytes.data());
    size_t nIn = bytes.size();
    while (nIn > 0)
    {
        char* pOut = buf;
        size_t nOut = sizeof buf;
        size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
        strOut.append(buf, static_cast<size_t>(pOut - buf));
        if (r != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (a sequence cut short at the end).
        AppendCp1252(strOut, static_cast<unsigned char>(*pIn));
        ++pIn;
        --nIn;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return strOut;
}
} // namespace

const std::vector<std::string>& GetKnownCharsets()
{
    static const std::vector<std::string> s_sets = []
    {
        std::vector<std::string> sets{CHARSET_AUTO};
        for (const CCharsetName& set : KNOWN_SETS)
            sets.emplace_back(set.pszName);
        return sets;
    }();
    return s_sets;
}

std::string NormalizeCharsetName(std::string_view strName)
{
    if (EqualsNoCase(strName, CHARSET_AUTO))
        return CHARSET_AUTO;
    const CCharsetName* pSet = FindSet(strName);
    return pSet != nullptr ? pSet->pszName : "";
}

bool IsAscii(std::string_view bytes)
{
    for (char c : bytes)
    {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* pEnd = p + bytes.size();
    while (p < pEnd)
    {
        unsigned char c = *p;
        if (c < 0x80)
        {
            ++p;
            continue;
        }
        size_t nTrail;
        char32_t nMin;
        char32_t cp;
        if ((c & 0xE0) == 0xC0)
            nTrail = 1, nMin = 0x80, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            nTrail = 2, nMin = 0x800, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            nTrail = 3, nMin = 0x10000, cp = c & 0x07;
        else
            return false;
        if (static_cast<size_t>(pEnd - p) <= nTrail)
            return false;
        for (size_t i = 1; i <= nTrail; ++i)
        {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not text.
        if (cp < nMin || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += nTrail + 1;
    }
    return true;
}

CNameCodec::CNameCodec(std::string_view strCharset, std::string_view strFallback)
{
    std::string strSet = NormalizeCharsetName(strCharset);
    if (!strSet.empty())
        m_strCharset = strSet;
    std::string strBack = NormalizeCharsetName(strFallback);
    if (!strBack.empty() && strBack != CHARSET_AUTO)
        m_strFallback = strBack;
}

const std::string& CNameCodec::DecodingSet() const
{
    return IsAuto() ? m_strFallback : m_strCharset;
}

bool CNameCodec::IsDecodedAsIs(std::string_view bytes) const
{
    if (IsAscii(bytes))
        return true;
    if (IsAuto() || m_strCharset == CHARSET_UTF8)
        return IsValidUtf8(bytes);
    return false;
}

std::string CNameCodec::Decode(std::string_view bytes) const
{
    if (IsDecodedAsIs(bytes))
        return std::string(bytes);
    const CCharsetName* pSet = FindSet(DecodingSet());
    if (pSet == nullptr)
        return std::string(bytes);
    if (m_strCharset == CHARSET_UTF8)
    {
        // Explicit UTF-8 with a stray byte: keep the valid parts.
        return DecodeWith("UTF-8", bytes);
    }
    return DecodeWith(pSet->pszIconv, bytes);
}

bool CNameCodec::Encode(std::string_view text, std::string* pBytes) const
{
    if (IsAuto() || m_strCharset == CHARSET_UTF8 || IsAscii(text))
    {
        pBytes->assign(text);
        return true;
    }
    const CCharsetName* pSet = FindSet(m_strCharset);
    if (pSet == nullptr)
        return false;
    iconv_t cd = t_iconv.Get(pSet->pszIconv, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    pBytes->clear();
    char buf[512];
    auto* pIn = const_cast<char*>(text.data());
    size_t nIn = text.size();
    while (nIn > 0)
    {
        char* pOut = buf;
        size_t nOut = sizeof buf;
        size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
        pBytes->append(buf, static_cast<size_t>(pOut - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG)
            return false;
    }
    return true;
}

std::string DecodeAuto(std::string_view bytes)
{
    static const CNameCodec s_codec;
    return s_codec.Decode(bytes);
}
