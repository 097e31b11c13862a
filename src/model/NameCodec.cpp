#include "model/NameCodec.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <map>
#include <memory>
#include <mutex>

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
    // Windows' form, where a backslash stays a backslash, not a yen sign.
    {"Shift_JIS", "CP932", {"SJIS", "SHIFT_JIS", "SHIFT-JIS", "MS_KANJI"}},
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
    else if (c < 0x10000)
    {
        str += static_cast<char>(0xE0 | (c >> 12));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        str += static_cast<char>(0xF0 | (c >> 18));
        str += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
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
    // The names are the literals of KNOWN_SETS, so their addresses are keys.
    iconv_t Get(const char* pszTo, const char* pszFrom)
    {
        auto key = std::make_pair(pszTo, pszFrom);
        auto it = m_open.find(key);
        if (it == m_open.end())
            it = m_open.emplace(key, iconv_open(pszTo, pszFrom)).first;
        iconv_t cd = it->second;
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv(cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return cd;
    }

private:
    std::map<std::pair<const char*, const char*>, iconv_t> m_open;
};

thread_local CIconvCache t_iconv;

// Converts as much as the set allows; a byte it cannot take is shown as its
// Windows-1252 character and conversion goes on after it.
void DecodeWith(const char* pszSet, std::string_view bytes, std::string& strOut)
{
    iconv_t cd = t_iconv.Get("UTF-8", pszSet);
    if (cd == reinterpret_cast<iconv_t>(-1))
    {
        for (char c : bytes)
            AppendCp1252(strOut, static_cast<unsigned char>(c));
        return;
    }
    strOut.reserve(strOut.size() + bytes.size() * 3 / 2 + 8);
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
}

// A set's characters as tables, built once from iconv itself, so most names
// decode without a call into iconv: one code point per single byte that is a
// character of its own, and one per two-byte sequence whose first byte is
// not. Names with anything else (GB18030's four-byte forms, EUC-JP's
// three-byte ones, stray bytes) go to iconv, which gives the same text.
class CFastTable
{
public:
    explicit CFastTable(const char* pszIconv)
    {
        iconv_t cd = iconv_open("UTF-32LE", pszIconv);
        if (cd == reinterpret_cast<iconv_t>(-1))
            return;
        for (unsigned nLead = 0; nLead < 256; ++nLead)
        {
            char in[1] = {static_cast<char>(nLead)};
            if (Convert(cd, in, 1, &m_single[nLead]) || nLead < 0x80 || !m_bIncomplete)
                continue;
            for (unsigned nTrail = 0; nTrail < 256; ++nTrail)
            {
                char pair[2] = {static_cast<char>(nLead), static_cast<char>(nTrail)};
                char32_t c = 0;
                if (!Convert(cd, pair, 2, &c))
                    continue;
                if (m_double.empty())
                    m_double.resize(128 * 256);
                m_double[(nLead - 0x80) * 256 + nTrail] = c;
            }
        }
        iconv_close(cd);
        m_bUsable = true;
    }

    // False when the name needs iconv.
    bool Decode(std::string_view bytes, std::string& strOut) const
    {
        if (!m_bUsable)
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const unsigned char* pEnd = p + bytes.size();
        while (p < pEnd)
        {
            char32_t c = m_single[*p];
            if (c != 0 || *p == 0)
            {
                AppendUtf8(strOut, c);
                ++p;
                continue;
            }
            if (*p < 0x80 || pEnd - p < 2 || m_double.empty())
                return false;
            c = m_double[(p[0] - 0x80) * 256 + p[1]];
            if (c == 0)
                return false;
            AppendUtf8(strOut, c);
            p += 2;
        }
        return true;
    }

private:
    // True when the bytes are exactly one character; m_bIncomplete says
    // whether they were the start of a longer one.
    bool Convert(iconv_t cd, char* pIn, size_t nIn, char32_t* pc)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        unsigned char out[8];
        char* pOut = reinterpret_cast<char*>(out);
        size_t nOut = sizeof out;
        size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
        m_bIncomplete = r == static_cast<size_t>(-1) && errno == EINVAL;
        if (r == static_cast<size_t>(-1) || nIn != 0 || sizeof out - nOut != 4)
            return false;
        *pc = static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24));
        return true;
    }

    char32_t m_single[256] = {};
    std::vector<char32_t> m_double; // [lead - 0x80][trail], 0: not a pair
    bool m_bIncomplete = false;
    bool m_bUsable = false;
};

const CFastTable& GetFastTable(size_t nSet)
{
    static std::once_flag s_once[KNOWN_SETS.size()];
    static std::unique_ptr<CFastTable> s_tables[KNOWN_SETS.size()];
    std::call_once(s_once[nSet], [nSet]
                   { s_tables[nSet] = std::make_unique<CFastTable>(KNOWN_SETS[nSet].pszIconv); });
    return *s_tables[nSet];
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

namespace
{
// Bytes before the first one at or above 0x80, eight at a time: searches
// test every name, and most names are plain ASCII.
size_t AsciiPrefix(const char* p, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        uint64_t nWord;
        std::memcpy(&nWord, p + i, 8);
        if ((nWord & 0x8080808080808080ULL) != 0)
            break;
    }
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80)
        ++i;
    return i;
}
} // namespace

bool IsAscii(std::string_view bytes)
{
    return AsciiPrefix(bytes.data(), bytes.size()) == bytes.size();
}

bool IsValidUtf8(std::string_view bytes)
{
    size_t nAscii = AsciiPrefix(bytes.data(), bytes.size());
    if (nAscii == bytes.size())
        return true;
    bytes.remove_prefix(nAscii);
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
    m_bUtf8First = IsAuto() || m_strCharset == CHARSET_UTF8;
    const CCharsetName* pSet = FindSet(IsAuto() ? m_strFallback : m_strCharset);
    m_nDecodingSet = pSet != nullptr ? static_cast<int>(pSet - KNOWN_SETS.data()) : 1;
}

bool CNameCodec::IsDecodedAsIs(std::string_view bytes) const
{
    return m_bUtf8First ? IsValidUtf8(bytes) : IsAscii(bytes);
}

std::string CNameCodec::Decode(std::string_view bytes) const
{
    std::string strText;
    DecodeTo(bytes, &strText);
    return strText;
}

void CNameCodec::DecodeTo(std::string_view bytes, std::string* pText) const
{
    if (IsDecodedAsIs(bytes))
    {
        pText->assign(bytes);
        return;
    }
    pText->clear();
    // (An explicit UTF-8 site's name with a stray byte keeps its valid parts.)
    auto nSet = static_cast<size_t>(m_nDecodingSet);
    if (!GetFastTable(nSet).Decode(bytes, *pText))
    {
        pText->clear();
        DecodeWith(KNOWN_SETS[nSet].pszIconv, bytes, *pText);
    }
}

namespace
{
// UTF-8 text -> the bytes of a known set; false when the text cannot be
// written in it.
bool EncodeWith(const char* pszSet, std::string_view text, std::string* pBytes)
{
    iconv_t cd = t_iconv.Get(pszSet, "UTF-8");
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
} // namespace

bool CNameCodec::Encode(std::string_view text, std::string* pBytes) const
{
    if (IsAuto() || m_strCharset == CHARSET_UTF8 || IsAscii(text))
    {
        pBytes->assign(text);
        return true;
    }
    return EncodeWith(KNOWN_SETS[static_cast<size_t>(m_nDecodingSet)].pszIconv, text, pBytes);
}

bool CNameCodec::IsDecodedExactly(std::string_view bytes) const
{
    if (IsDecodedAsIs(bytes))
        return true;
    std::string strBytes;
    return EncodeWith(KNOWN_SETS[static_cast<size_t>(m_nDecodingSet)].pszIconv, Decode(bytes),
                      &strBytes) &&
           strBytes == bytes;
}

std::string DecodeAuto(std::string_view bytes)
{
    static const CNameCodec s_codec;
    return s_codec.Decode(bytes);
}
