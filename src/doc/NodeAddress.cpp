#include "doc/NodeAddress.h"

#include <mutex>
#include <shared_mutex>
#include <vector>

#include "doc/FtpUrl.h"
#include "doc/TarnDoc.h"

namespace
{
// "ftp://key/" then the names from the root down to pParent, then strOwn.
std::string DisplayAddress(const CFTPDir* pParent, const std::string& strOwn,
                           const CNameCodec& codec)
{
    std::vector<const CFTPDir*> chain;
    const CFTPDir* pTop = pParent;
    for (const CFTPDir* p = pParent; p != nullptr; p = p->m_pParent)
    {
        chain.push_back(p);
        pTop = p;
    }
    std::string str = "ftp://";
    if (pTop != nullptr && pTop->m_pSite != nullptr)
        str += GetDisplayKey(*pTop->m_pSite);
    str += '/';
    // The root (last in the chain) has no name of its own.
    for (size_t i = chain.size(); i-- > 1;)
    {
        str += codec.Decode(chain[i - 1]->m_strName);
        str += '/';
    }
    str += codec.Decode(strOwn);
    return str;
}

CNameCodec CodecOf(const CFTPSite* pSite)
{
    return pSite != nullptr ? pSite->GetCodec() : CNameCodec();
}

// The first entry of the list named strName: by its bytes, else by its text.
template <class T>
T* FindByName(const std::vector<std::unique_ptr<T>>& list, std::string_view strName,
              const CNameCodec& codec, std::string& strText)
{
    for (const auto& p : list)
    {
        if (p->m_strName == strName)
            return p.get();
    }
    for (const auto& p : list)
    {
        if (codec.IsDecodedAsIs(p->m_strName))
            continue; // its text is its bytes: compared above
        codec.DecodeTo(p->m_strName, &strText);
        if (strText == strName)
            return p.get();
    }
    return nullptr;
}
} // namespace

std::string GetDisplayKey(const CFTPSite& site)
{
    return DecodeAuto(site.GetKey());
}

std::string GetDisplayAddress(const CFTPDir& dir, const CNameCodec& codec)
{
    if (dir.m_pParent == nullptr)
        return "ftp://" + (dir.m_pSite != nullptr ? GetDisplayKey(*dir.m_pSite) : "") + "/";
    return DisplayAddress(dir.m_pParent, dir.m_strName, codec);
}

std::string GetDisplayAddress(const CFTPFile& file, const CNameCodec& codec)
{
    return DisplayAddress(file.m_pParent, file.m_strName, codec);
}

std::string GetDisplayAddress(const CFTPDir& dir)
{
    return GetDisplayAddress(dir, CodecOf(dir.GetSite()));
}

std::string GetDisplayAddress(const CFTPFile& file)
{
    return GetDisplayAddress(file, CodecOf(file.GetSite()));
}

bool FindEntryByPath(CFTPSite& site, std::string_view strPath, const CNameCodec& codec,
                     CEntryRef* pRef)
{
    *pRef = CEntryRef{};
    pRef->pSite = &site;
    CFTPDir* pDir = site.m_pRoot.get();
    CFTPFile* pFile = nullptr;
    std::string strText;
    while (!strPath.empty())
    {
        size_t nSlash = strPath.find('/');
        std::string_view strName = strPath.substr(0, nSlash);
        strPath =
            nSlash == std::string_view::npos ? std::string_view() : strPath.substr(nSlash + 1);
        if (strName.empty())
            continue;
        if (pDir == nullptr)
            return false; // a name below a file
        if (CFTPDir* pSub = FindByName(pDir->m_dirList, strName, codec, strText))
        {
            pDir = pSub;
            continue;
        }
        pFile = FindByName(pDir->m_fileList, strName, codec, strText);
        if (pFile == nullptr)
            return false;
        pDir = nullptr;
    }
    pRef->pDir = pDir;
    pRef->pFile = pDir == nullptr ? pFile : nullptr;
    return true;
}

ResolveResult ResolveAddress(CTarnDoc& doc, const std::string& strAddress, CEntryRef* pRef)
{
    *pRef = CEntryRef{};
    size_t nPathStart = 0;
    CFTPSite* pSite = doc.FindSiteByAddress(strAddress, &nPathStart);
    if (pSite == nullptr)
        return ResolveResult::noSite;
    doc.EnsureLoaded(*pSite);
    CNameCodec codec = pSite->GetCodec();
    std::shared_lock lock(pSite->m_treeLock);
    bool bFound =
        FindEntryByPath(*pSite, std::string_view(strAddress).substr(nPathStart), codec, pRef);
    if (!bFound)
    {
        *pRef = CEntryRef{};
        pRef->pSite = pSite;
    }
    return bFound ? ResolveResult::found : ResolveResult::noEntry;
}

std::string GetServerPath(const CEntryRef& ref)
{
    if (ref.pDir != nullptr)
        return ref.pDir->GetPath();
    if (ref.pFile == nullptr)
        return "/";
    std::string strParent = ref.pFile->m_pParent != nullptr ? ref.pFile->m_pParent->GetPath() : "/";
    if (strParent.back() != '/')
        strParent += '/';
    return strParent + ref.pFile->m_strName;
}

std::string GetEntryUrl(const CEntryRef& ref)
{
    return ref.pSite != nullptr ? BuildFtpUrl(*ref.pSite, GetServerPath(ref)) : std::string();
}
