// The document's change listing ("显示更改"): log lines, with the cached
// entries they name where these are still there.

#include <mutex>
#include <shared_mutex>

#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"

namespace
{
// The entry a line names, by the server's bytes: its folder, then the name
// in the list of its kind (a file and a folder may share a name).
void FindRowEntry(CFTPSite& site, const CNameCodec& codec, CChangeRow* pRow)
{
    const CChangeRecord& record = pRow->record;
    if (record.nKind == ChangeKind::removed || record.nKind == ChangeKind::first)
        return;
    std::string strBytes = record.GetPathBytes();
    size_t nSlash = strBytes.rfind('/');
    if (nSlash == std::string::npos)
        return;
    std::string strName = strBytes.substr(nSlash + 1);
    CEntryRef parent;
    if (!FindEntryByPath(site, std::string_view(strBytes).substr(0, nSlash), codec, &parent) ||
        parent.pDir == nullptr)
        return;
    if (record.bFolder)
    {
        for (const auto& pSub : parent.pDir->m_dirList)
        {
            if (pSub->m_strName == strName)
            {
                pRow->pDir = pSub.get();
                return;
            }
        }
        return;
    }
    for (const auto& pFile : parent.pDir->m_fileList)
    {
        if (pFile->m_strName == strName)
        {
            pRow->pFile = pFile.get();
            return;
        }
    }
}
} // namespace

size_t CTarnDoc::ListChanges(CFTPDir* pDir, const std::optional<CWallTime>& since)
{
    m_foundChanges.clear();
    CChangeQuery query;
    query.since = since;
    std::vector<CFTPSite*> sites;
    if (pDir != nullptr)
    {
        sites.push_back(pDir->GetSite());
        query.strPath = GetBytesPath(*pDir);
        query.bPathIsBytes = true;
    }
    else
    {
        for (const auto& pSite : m_siteList)
            sites.push_back(pSite.get());
    }
    for (CFTPSite* pSite : sites)
    {
        if (pSite == nullptr)
            continue;
        std::vector<CChangeRecord> records = ReadSiteChanges(*pSite, query);
        if (records.empty())
            continue;
        EnsureLoaded(*pSite);
        CNameCodec codec = pSite->GetCodec();
        std::string strKey = GetDisplayKey(*pSite);
        std::shared_lock lock(pSite->m_treeLock);
        for (CChangeRecord& record : records)
        {
            CChangeRow row;
            row.pSite = pSite;
            row.strAddress = "ftp://" + strKey + record.strPath;
            row.record = std::move(record);
            FindRowEntry(*pSite, codec, &row);
            m_foundChanges.push_back(std::move(row));
        }
    }
    return m_foundChanges.size();
}
