// The document's URL side: node addresses of the views -> FTP URLs.

#include <mutex>
#include <shared_mutex>

#include "doc/FtpUrl.h"
#include "doc/NodeAddress.h"
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
    // and ends at a "/" (or at its end) is the site's. Keys are compared as
    // stored and as shown (an old site.ds may hold GBK bytes).
    CFTPSite* pBest = nullptr;
    size_t nBest = 0;
    for (const auto& pSite : m_siteList)
    {
        std::string strStored = pSite->GetKey();
        for (const std::string& strKey : {strStored, GetDisplayKey(*pSite)})
        {
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
    }
    *pnPathStart = nStart + nBest;
    return pBest;
}

std::string CTarnDoc::GetUrl(const std::string& strAddress, UrlLogin nLogin) const
{
    size_t nPathStart = 0;
    CFTPSite* pSite = FindSiteByAddress(strAddress, &nPathStart);
    if (pSite == nullptr)
        return {};
    std::string_view strPath = std::string_view(strAddress).substr(nPathStart);
    CNameCodec codec = pSite->GetCodec();
    if (pSite->IsLoaded() && !strPath.empty())
    {
        // The server wants its own bytes: those of the cached entry.
        std::shared_lock lock(pSite->m_treeLock);
        CEntryRef ref;
        if (FindEntryByPath(*pSite, strPath, codec, &ref))
        {
            std::string strServerPath = GetServerPath(ref);
            if (strPath.ends_with('/') && !strServerPath.ends_with('/'))
                strServerPath += '/';
            return BuildFtpUrl(*pSite, strServerPath, nLogin);
        }
    }
    // Nothing cached there: the text in the site's character set.
    std::string strBytes;
    if (!codec.Encode(strPath, &strBytes))
        strBytes.assign(strPath);
    return BuildFtpUrl(*pSite, strBytes, nLogin);
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
    // The handler gets the URL on its command line, which every local user
    // can read: no password in it (the handler asks for one).
    std::string strUrl = GetUrl(strAddress, UrlLogin::userOnly);
    if (strUrl.empty())
        return;
    CEntryRef ref;
    if (ResolveAddress(*this, strAddress, &ref) == ResolveResult::found && ref.pFile != nullptr)
        m_host.OpenCachedFile(strUrl, *ref.pSite, *ref.pFile);
    else
        m_host.OpenUrl(strUrl);
}
