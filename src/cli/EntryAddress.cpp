#include "cli/EntryAddress.h"

#include <mutex>
#include <shared_mutex>

#include "doc/TarnDoc.h"

namespace
{
template <class T>
T* FindByName(const std::vector<std::unique_ptr<T>>& list, std::string_view strName)
{
    for (const auto& p : list)
    {
        if (p->m_strName == strName)
            return p.get();
    }
    return nullptr;
}
} // namespace

ResolveResult ResolveAddress(CTarnDoc& doc, const std::string& strAddress, CEntryRef* pRef)
{
    *pRef = CEntryRef{};
    size_t nPathStart = 0;
    CFTPSite* pSite = doc.FindSiteByAddress(strAddress, &nPathStart);
    if (pSite == nullptr)
        return ResolveResult::noSite;
    doc.EnsureLoaded(*pSite);
    pRef->pSite = pSite;

    std::string_view strPath = std::string_view(strAddress).substr(nPathStart);
    std::shared_lock lock(pSite->m_treeLock);
    CFTPDir* pDir = pSite->m_pRoot.get();
    CFTPFile* pFile = nullptr;
    while (!strPath.empty())
    {
        size_t nSlash = strPath.find('/');
        std::string_view strName = strPath.substr(0, nSlash);
        strPath =
            nSlash == std::string_view::npos ? std::string_view() : strPath.substr(nSlash + 1);
        if (strName.empty())
            continue;
        if (pDir == nullptr)
            return ResolveResult::noEntry; // a name below a file
        if (CFTPDir* pSub = FindByName(pDir->m_dirList, strName))
        {
            pDir = pSub;
            continue;
        }
        pFile = FindByName(pDir->m_fileList, strName);
        if (pFile == nullptr)
            return ResolveResult::noEntry;
        pDir = nullptr;
    }
    pRef->pDir = pDir;
    pRef->pFile = pDir == nullptr ? pFile : nullptr;
    return ResolveResult::found;
}
