#pragma once
// Names from a server are bytes in the server's character set, and the cache
// keeps them that way (so a CWD sends back exactly what was listed). People
// and other programs read them as UTF-8: CNameCodec decodes them for display,
// search and output, and encodes typed text back when needed.
//
// "auto" (the default) takes a name that is valid UTF-8 as UTF-8 and any
// other name in the fallback set (GB18030, a superset of GBK and GB2312,
// for the older Chinese servers this program is mostly used with). Bytes
// that the chosen set cannot decode either show as their Windows-1252
// character, so no name ever turns into replacement boxes.
//
// Threads: a codec is immutable and usable from any thread; each thread
// keeps its own iconv descriptors.

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* CHARSET_AUTO = "auto";
inline constexpr const char* CHARSET_UTF8 = "UTF-8";
inline constexpr const char* DEFAULT_CHARSET_FALLBACK = "GB18030";

// The sets a site may name, in the order they are offered ("auto" first).
const std::vector<std::string>& GetKnownCharsets();
// The known set's own spelling for a name given in any letter case
// ("gbk" and "gb2312" give "GB18030"), or "" when it is not one of them.
std::string NormalizeCharsetName(std::string_view strName);

[[nodiscard]] bool IsValidUtf8(std::string_view bytes);
// Plain ASCII needs no decoding in any of the known sets.
[[nodiscard]] bool IsAscii(std::string_view bytes);

class CNameCodec
{
public:
    CNameCodec() = default;
    // Unknown names fall back to "auto".
    explicit CNameCodec(std::string_view strCharset,
                        std::string_view strFallback = DEFAULT_CHARSET_FALLBACK);

    const std::string& GetCharset() const { return m_strCharset; }
    const std::string& GetFallback() const { return m_strFallback; }
    bool IsAuto() const { return m_strCharset == CHARSET_AUTO; }

    // Bytes -> UTF-8; never fails.
    std::string Decode(std::string_view bytes) const;
    // The same into *pText, reusing its memory (for walks over many names).
    void DecodeTo(std::string_view bytes, std::string* pText) const;
    // True when Decode would return the bytes unchanged, cheaply.
    bool IsDecodedAsIs(std::string_view bytes) const;
    // UTF-8 -> the site's bytes (auto: UTF-8 itself). False when the text
    // cannot be written in the site's set.
    [[nodiscard]] bool Encode(std::string_view text, std::string* pBytes) const;
    // True when Decode's text, written back in the set it was read in,
    // gives these bytes again: false for a name with bytes the set cannot
    // read (shown as stand-ins) or a character's second spelling, whose text
    // may be another name's too.
    [[nodiscard]] bool IsDecodedExactly(std::string_view bytes) const;

    bool operator==(const CNameCodec&) const = default;

private:
    std::string m_strCharset = CHARSET_AUTO;
    std::string m_strFallback = DEFAULT_CHARSET_FALLBACK;
    // Looked up once: the known set that non-UTF-8 names are read in.
    int m_nDecodingSet = 1;
    bool m_bUtf8First = true; // auto or explicit UTF-8
};

// The default codec (auto, GB18030 fallback): for hosts, nicknames and
// remarks of site.ds, and for names of sites without options.
std::string DecodeAuto(std::string_view bytes);
