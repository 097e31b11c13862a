// The document's URL side: node addresses of the views -> FTP URLs.

#include "doc/FtpUrl.h"
#include "doc/TarnDoc.h"

CFTPSite* CTarnDoc::FindSiteByAddress(const std::string& strAddress, size_t* pnPathStart) const
{
    size_t nStart = strAddress.compare(0, 6, "ftp://") == 0 ? 6 : 0;
    std::string_view strRest = std::string_view(strAddress).substr(nStart);

    // The key is normally the text before the first "/".
    size_t nSlash = strRest.find('/');
    std::string_view strFirst = strRest.substr(0, nSlash);
    if (CFTPSite* pSite = FindSite(std::string(strFirst)))
    {
        *pnPathStart = nStart + strFirst.size();
        return pSite;
    }
    // A user name may hold "/": then the longest key that begins the address
    // and ends at a "/" (or at its end) is the site's.
    CFTPSite* pBest = nullptr;
    size_t nBest = 0;
    for (const auto& pSite : m_siteList)
    {
        std::string strKey = pSite->GetKey();
        if (strRest.size() < strKey.size() || strRest.compare(0, strKey.size(), strKey) != 0)
            continue;
        if (strRest.size() > strKey.size() && strRest[strKey.size()] != '/')
            continue;
        if (pBest == nullptr || strKey.size() > nBest)
        {
            pBest = pSite.get();
            nBest = strKey.size();
        }
    }
    *pnPathStart = nStart + nBest;
    return pBest;
}

std::string CTarnDoc::GetUrl(const std::string& strAddress) const
{
    size_t nPathStart = 0;
    const CFTPSite* pSite = FindSiteByAddress(strAddress, &nPathStart);
    if (pSite == nullptr)
        return {};
    return BuildFtpUrl(*pSite, std::string_view(strAddress).substr(nPathStart));
}

bool CTarnDoc::CopyAddress(const std::string& strAddress)
{
    std::string strUrl = GetUrl(strAddress);
    if (strUrl.empty())
        return false;
    m_host.SetClipboardText(strUrl);
    return true;
}

void CTarnDoc::OpenFile(const std::string& strAddress)
{
    std::string strUrl = GetUrl(strAddress);
    if (!strUrl.empty())
        m_host.OpenUrl(strUrl);
}
