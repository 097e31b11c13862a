#pragma once
// A site's own options: what site.ds has no field for (character set,
// listing mode, TLS, statistics). They live beside the cache in
// Data/<site folder>/options.ini as UTF-8 "key=value" lines, so site.ds,
// content.ct and state.st keep their exact bytes and stay exchangeable.
//
// Rewriting keeps what it does not know: unknown keys, comments and damaged
// lines stay where they were, so a newer program's options survive an older
// one. A missing file means every default.
//
// Threads: a CSiteOptions is a plain value; CFTPSite guards the copy it
// keeps (see CFTPSite::GetOptions).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SITE_OPTIONS_FILE = "options.ini";

// The keys this program reads; anything else is kept as it is.
inline constexpr const char* OPTION_CHARSET = "charset";
inline constexpr const char* OPTION_CHARSET_FALLBACK = "charset_fallback";
inline constexpr const char* OPTION_LISTING = "listing";
inline constexpr const char* OPTION_LISTING_FOUND = "listing_found";
inline constexpr const char* OPTION_TLS = "tls";
inline constexpr const char* OPTION_TLS_PIN = "tls_pin";
inline constexpr const char* OPTION_TLS_TRUST = "tls_trust";

class CSiteOptions
{
public:
    // Reads strPath. A missing or unreadable file gives the defaults; each
    // line that is not "key=value" adds a warning to *pWarnings (when
    // given) and is kept for the next save.
    static CSiteOptions Load(const std::string& strPath,
                             std::vector<std::string>* pWarnings = nullptr);
    // Replaces strPath atomically (mode 0600: options may hold secrets such
    // as pins). Raises CFileException when it cannot be written.
    void Save(const std::string& strPath) const;
    // The file's text as Save writes it.
    std::string Format() const;
    static CSiteOptions Parse(std::string_view text, std::vector<std::string>* pWarnings = nullptr);

    // The value of a key, or strDefault when it is not set.
    std::string Get(std::string_view strKey, std::string_view strDefault = {}) const;
    std::optional<std::string> Find(std::string_view strKey) const;
    int64_t GetInt(std::string_view strKey, int64_t nDefault = 0) const;
    // Sets a key in place (appended when new). Keys are [A-Za-z0-9_.-]+;
    // values lose any line break. False for an unusable key.
    bool Set(std::string_view strKey, std::string_view strValue);
    void SetInt(std::string_view strKey, int64_t nValue);
    void Remove(std::string_view strKey);
    bool IsEmpty() const;

    bool operator==(const CSiteOptions&) const = default;

private:
    struct CLine
    {
        std::string strKey; // empty: a comment, blank or damaged line kept verbatim
        std::string strValue;
        bool operator==(const CLine&) const = default;
    };

    std::vector<CLine> m_lines;
};

// True for a key this file format can hold.
[[nodiscard]] bool IsValidOptionKey(std::string_view strKey);
