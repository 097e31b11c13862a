#pragma once
// How a site's connections use TLS, as its options name it: the mode and
// whom they trust. What each mode does on the wire is in net/TlsSettings.h;
// which mode a site's connections get is CSiteSettings::GetTls.
//
// Threads: plain values.

#include <string>
#include <string_view>

#include "model/SiteSetting.h"

enum class TlsMode
{
    off,
    explicitTls,
    tryTls,
    implicitTls,
};

inline constexpr const char* TLS_OFF = "off";
inline constexpr const char* TLS_EXPLICIT = "explicit";
inline constexpr const char* TLS_TRY = "try";
inline constexpr const char* TLS_IMPLICIT = "implicit";

template <> struct CSettingNames<TlsMode>
{
    static constexpr CSettingName<TlsMode> NAMES[] = {
        {TLS_OFF, TlsMode::off},
        {TLS_EXPLICIT, TlsMode::explicitTls},
        {TLS_TRY, TlsMode::tryTls},
        {TLS_IMPLICIT, TlsMode::implicitTls},
    };
};

// Whom a site without a pinned key trusts.
enum class TlsTrust
{
    ca,       // a certificate that chains to the system's CA store and names the host
    firstUse, // the first key a connection meets (which then becomes the pin)
};

inline constexpr const char* TLS_TRUST_CA = "ca";
inline constexpr const char* TLS_TRUST_FIRST_USE = "first-use";

template <> struct CSettingNames<TlsTrust>
{
    static constexpr CSettingName<TlsTrust> NAMES[] = {
        {TLS_TRUST_CA, TlsTrust::ca},
        {TLS_TRUST_FIRST_USE, TlsTrust::firstUse},
    };
};

[[nodiscard]] inline bool ParseTlsMode(std::string_view strText, TlsMode* pMode)
{
    return ReadSettingText(strText, pMode);
}
inline const char* FormatTlsMode(TlsMode nMode)
{
    return SettingName(nMode);
}

struct CTlsSettings
{
    TlsMode nMode = TlsMode::off;
    std::string strPin; // accept exactly this key ("sha256//<base64>")
    // No pin yet: accept the first key; the connection then holds on to it.
    bool bTrustFirstUse = false;
};
