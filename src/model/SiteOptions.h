#pragma once
// The lines of a site's options file: what site.ds has no field for
// (character set, listing mode, TLS, statistics). They live beside the cache
// in Data/<site folder>/options.ini as UTF-8 "key=value" lines, so site.ds,
// content.ct and state.st keep their exact bytes and stay exchangeable. What
// the keys mean is CSiteSettings (SiteSettings.h); this class only keeps the
// lines.
//
// Rewriting keeps what it does not know: unknown keys, comments and damaged
// lines stay where they were, so a newer program's options survive an older
// one. A missing file means every default; a file that is there but cannot
// be read is an error, never the defaults.
//
// Threads: a CSiteOptions is a plain value; CFTPSite guards the copy it
// keeps (see CFTPSite::GetSettings).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SITE_OPTIONS_FILE = "options.ini";
// An options file is a handful of lines; anything far larger is not one.
inline constexpr uint64_t MAX_OPTIONS_FILE_SIZE = 1 << 20;

class CSiteOptions
{
public:
    // Reads strPath. A missing file (or site folder) gives no lines. A file
    // that is there but cannot be read (permissions, an I/O error, more than
    // MAX_OPTIONS_FILE_SIZE bytes) raises CFileException. The number of each
    // line that is not "key=value" goes into *pDamagedLines (when given);
    // the line is kept for the next save.
    static CSiteOptions Load(const std::string& strPath,
                             std::vector<size_t>* pDamagedLines = nullptr);
    // Replaces strPath atomically (mode 0600: options may hold secrets such
    // as pins). Raises CFileException when it cannot be written.
    void Save(const std::string& strPath) const;
    // The file's text as Save writes it.
    std::string Format() const;
    static CSiteOptions Parse(std::string_view text, std::vector<size_t>* pDamagedLines = nullptr);

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
