#pragma once
// What a site's options.ini means: every key this program reads or writes,
// declared once with its type, default and rules (SiteSetting.h), and the
// rules that read more than one key (the character set of names, the TLS a
// connection uses). The update engine, the window's dialogs and tarn-cli all
// read and write options through this class; nobody reads the file's text
// by hand.
//
// A CSiteSettings is a value: the file's lines (CSiteOptions) with typed
// access. Writing a value changes that key's line only, so unknown keys,
// comments and damaged lines keep their place and bytes.
//
// Threads: a plain value; CFTPSite hands out copies (GetSettings).

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "model/NameCodec.h"
#include "model/SiteOptions.h"
#include "model/SiteSetting.h"
#include "model/TlsMode.h"

// How a site's folders are listed (update/ListingPlan.h says what each does).
enum class ListingMode
{
    automatic,
    stat,
    list,
};

inline constexpr const char* LISTING_AUTO = "auto";
inline constexpr const char* LISTING_STAT = "stat";
inline constexpr const char* LISTING_LIST = "list";

template <> struct CSettingNames<ListingMode>
{
    static constexpr CSettingName<ListingMode> NAMES[] = {
        {LISTING_AUTO, ListingMode::automatic},
        {LISTING_STAT, ListingMode::stat},
        {LISTING_LIST, ListingMode::list},
    };
};

[[nodiscard]] inline bool ParseListingMode(std::string_view strText, ListingMode* pMode)
{
    return ReadSettingText(strText, pMode);
}
inline const char* FormatListingMode(ListingMode nMode)
{
    return SettingName(nMode);
}

// Checks of values read (see CSiteSetting::Checked).
[[nodiscard]] bool AcceptCharset(std::string& strName);
[[nodiscard]] bool AcceptFallbackCharset(std::string& strName);
[[nodiscard]] inline bool AcceptPositive(int64_t& nValue)
{
    return nValue > 0;
}
// Within a day either way.
[[nodiscard]] bool AcceptTimeOffset(int64_t& nMinutes);

class CSiteSettings
{
public:
    using Text = CSiteSetting<std::string>;
    using Count = CSiteSetting<std::optional<uint64_t>>;

    // --- The user's choices: at their default they leave no line.

    // The character set of the server's names; a set this program does not
    // know reads as auto.
    static constexpr Text CHARSET = Text("charset", CHARSET_AUTO).Checked(&AcceptCharset);
    // How auto reads a name that is not UTF-8: a set that reads any name.
    static constexpr Text CHARSET_FALLBACK =
        Text("charset_fallback", DEFAULT_CHARSET_FALLBACK).Checked(&AcceptFallbackCharset);
    static constexpr CSiteSetting<ListingMode> LISTING{"listing", ListingMode::automatic};
    // A mode this program does not know, or none at all ("tls="), reads as
    // explicit: a newer program's choice must never log in without TLS.
    static constexpr CSiteSetting<TlsMode> TLS =
        CSiteSetting<TlsMode>("tls", TlsMode::off).Unreadable(TlsMode::explicitTls);
    static constexpr CSiteSetting<TlsTrust> TLS_TRUST{"tls_trust", TlsTrust::ca};
    // "sha256//<base64>": the one server key the site accepts (set by "信任
    // 此证书", tarn-cli trust or a first connection that trusts on first use).
    static constexpr Text TLS_PIN{"tls_pin", ""};
    // The longest one listing may take, from its request to its final
    // reply, in seconds; a server that dribbles a listing out for longer
    // fails the update (the cache stays).
    static constexpr CSiteSetting<int64_t> LISTING_TIMEOUT =
        CSiteSetting<int64_t>("listing_timeout", 300).Checked(&AcceptPositive);
    // Minutes the server's LIST times run ahead of UTC (its zone, or a
    // clock known to be off), taken off them; MLSD times are UTC already.
    // 0: the zone is not known, and LIST times show as listed.
    static constexpr CSiteSetting<int64_t> TIME_OFFSET =
        CSiteSetting<int64_t>("time_offset", 0).Checked(&AcceptTimeOffset);
    // Log "modified" lines: files whose size stayed but whose time moved.
    static constexpr CSiteSetting<bool> LOG_MODIFIED{"log_modified", false};
    // "no": the window's scheduled updates leave the site out.
    static constexpr CSiteSetting<bool> AUTO_UPDATE{"auto_update", true};

    // --- What the program notes: written whatever the value.

    // What auto found the last time it compared the two listing ways; none
    // before it first did.
    static constexpr CSiteSetting<std::optional<ListingMode>> LISTING_FOUND =
        CSiteSetting<std::optional<ListingMode>>("listing_found", std::nullopt).AlwaysWritten();
    // Why it found "list" (a reply out of step, a listing that differed...).
    static constexpr Text LISTING_FOUND_WHY{"listing_found_why", ""};

    // The statistics (model/SiteStats.h): the cached tree's size...
    static constexpr Count STAT_FOLDERS = Count("stat_folders", std::nullopt).AlwaysWritten();
    static constexpr Count STAT_FILES = Count("stat_files", std::nullopt).AlwaysWritten();
    static constexpr Count STAT_BYTES = Count("stat_bytes", std::nullopt).AlwaysWritten();
    static constexpr Count STAT_UNREAD = Count("stat_unread", std::nullopt).AlwaysWritten();
    // The newest file time (CModTime::Packed); no line when no file has one.
    static constexpr CSiteSetting<int64_t> STAT_NEWEST{"stat_newest", 0};
    // ... and what the last update did; stat_run is its "run" (ChangeLog.h).
    static constexpr Text STAT_RUN = Text("stat_run", "").AlwaysWritten();
    static constexpr Text STAT_LAST_START = Text("stat_last_start", "").AlwaysWritten();
    static constexpr Text STAT_LAST_END = Text("stat_last_end", "").AlwaysWritten();
    static constexpr CSiteSetting<int64_t> STAT_DURATION_MS =
        CSiteSetting<int64_t>("stat_duration_ms", 0).AlwaysWritten();
    static constexpr Count STAT_FOLDERS_LISTED =
        Count("stat_folders_listed", std::nullopt).AlwaysWritten();
    static constexpr Count STAT_COMMANDS = Count("stat_commands", std::nullopt).AlwaysWritten();
    static constexpr Count STAT_LISTING_BYTES =
        Count("stat_listing_bytes", std::nullopt).AlwaysWritten();
    static constexpr Text STAT_LAST_ERROR = Text("stat_last_error", "").AlwaysWritten();
    // Folders the last update could not enter or list (their cached
    // entries kept): how many, and the first of their paths, each
    // percent-escaped ("%", spaces, control bytes) and separated by tabs.
    // No line when there were none.
    static constexpr Count STAT_REFUSED{"stat_refused", std::nullopt};
    static constexpr Text STAT_REFUSED_PATHS{"stat_refused_paths", ""};

    CSiteSettings() = default;
    explicit CSiteSettings(CSiteOptions options) : m_options(std::move(options)) {}

    template <typename T> T Get(const CSiteSetting<T>& setting) const
    {
        return setting.Get(m_options);
    }
    template <typename T>
    void Set(const CSiteSetting<T>& setting, const std::type_identity_t<T>& value)
    {
        setting.Set(m_options, value);
    }

    // How the site's names read as text.
    CNameCodec GetCodec() const { return MakeCodec(m_options); }
    static CNameCodec MakeCodec(const CSiteOptions& options);
    // The TLS every connection of the site uses: the chosen mode, except
    // that once a key is pinned "try" counts as "explicit", so a server
    // (or someone in between) refusing AUTH TLS can no longer have the
    // login sent in clear.
    CTlsSettings GetTls() const;

    // The file's lines, unknown keys and comments included.
    const CSiteOptions& GetOptions() const { return m_options; }

    bool operator==(const CSiteSettings&) const = default;

private:
    CSiteOptions m_options;
};
