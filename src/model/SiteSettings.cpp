#include "model/SiteSettings.h"

bool AcceptCharset(std::string& strName)
{
    strName = NormalizeCharsetName(strName);
    return !strName.empty();
}

bool AcceptFallbackCharset(std::string& strName)
{
    // Auto and UTF-8 would leave the names they cannot read unread.
    strName = NormalizeCharsetName(strName);
    return !strName.empty() && strName != CHARSET_AUTO && strName != CHARSET_UTF8;
}

bool AcceptTimeOffset(int64_t& nMinutes)
{
    return nMinutes >= -24 * 60 && nMinutes <= 24 * 60;
}

CNameCodec CSiteSettings::MakeCodec(const CSiteOptions& options)
{
    return CNameCodec(CHARSET.Get(options), CHARSET_FALLBACK.Get(options));
}

CTlsSettings CSiteSettings::GetTls() const
{
    CTlsSettings tls;
    tls.nMode = Get(TLS);
    tls.strPin = Get(TLS_PIN);
    tls.bTrustFirstUse = Get(TLS_TRUST) == TlsTrust::firstUse;
    if (tls.nMode == TlsMode::tryTls && !tls.strPin.empty())
        tls.nMode = TlsMode::explicitTls;
    return tls;
}
