#include "doc/FtpUrl.h"

#include "model/FTPSite.h"
#include "model/PercentCode.h"
#include "net/TlsSettings.h"

namespace
{
// sub-delims may stay in the user information.
constexpr std::string_view USER_INFO_KEEP = "!$&'()*+,;=";
// A path segment may also hold ":" and "@". ";" stays encoded: in an FTP
// URL it would start a ";type=" code.
constexpr std::string_view PATH_KEEP = "/!$&'()*+,=:@";

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}
} // namespace

std::string PercentEncode(std::string_view str, std::string_view strKeep)
{
    return PercentEncodeBytes(str,
                              [strKeep](unsigned char c)
                              {
                                  return IsUnreserved(c) ||
                                         (c < 0x80 && c != 0 &&
                                          strKeep.find(char(c)) != std::string_view::npos);
                              });
}

CUrlAccess GetUrlAccess(const CFTPSite& site)
{
    // The same reading of the options as the site's connections; options
    // that cannot be read may hide a TLS mode, so the password stays out.
    TlsMode nMode = site.GetSettings().GetTls().nMode;
    CUrlAccess access;
    access.bTls = nMode != TlsMode::off || !site.AreSettingsKnown();
    access.bImplicitTls = nMode == TlsMode::implicitTls;
    access.nPort = site.m_nPort;
    if (access.bImplicitTls && site.m_nPort >= 0 && site.m_nPort <= UINT16_MAX)
        access.nPort = GetTlsPort(nMode, static_cast<uint16_t>(site.m_nPort));
    return access;
}

std::string BuildFtpUrl(const CFTPSite& site, const CUrlAccess& access, UrlLogin nLogin,
                        std::string_view strPath)
{
    std::string strUrl = access.bImplicitTls ? "ftps://" : "ftp://";
    if (!site.IsAnonymous())
    {
        strUrl += PercentEncode(site.m_strUser, USER_INFO_KEEP);
        if (nLogin == UrlLogin::withPassword && !access.bTls)
        {
            strUrl += ':';
            strUrl += PercentEncode(site.m_strPassword, USER_INFO_KEEP);
        }
        strUrl += '@';
    }
    bool bIpv6 = site.m_strHost.find(':') != std::string::npos && !site.m_strHost.starts_with('[');
    strUrl += bIpv6 ? "[" + site.m_strHost + "]" : site.m_strHost;
    strUrl += ':';
    strUrl += std::to_string(access.nPort);
    strUrl += PercentEncode(strPath, PATH_KEEP);
    return strUrl;
}

std::string BuildFtpUrl(const CFTPSite& site, std::string_view strPath, UrlLogin nLogin)
{
    return BuildFtpUrl(site, GetUrlAccess(site), nLogin, strPath);
}

bool IsPasswordLeftOut(const CFTPSite& site)
{
    return !site.IsAnonymous() && GetUrlAccess(site).bTls;
}
