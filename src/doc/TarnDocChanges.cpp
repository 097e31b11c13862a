// The document's change listing ("显示更改"): log lines, with the cached
// entries they name where these are still there.

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <unordered_map>

#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"

namespace
{
// Entries by their names, for the folders lines name, built once per folder.
// It points into the tree: the walk clears it whenever entries may have been
// freed during a pump (the document forgot some).
class CEntryIndex
{
public:
    void Clear() { m_byPath.clear(); }

    // The entry a line names, by the server's bytes: its folder, then the
    // name among the entries of its kind (a file and a folder may share a
    // name).
    void Find(CFTPSite& site, const CNameCodec& codec, CChangeRow* pRow)
    {
        const CChangeRecord& record = pRow->record;
        if (record.nKind == ChangeKind::removed || record.nKind == ChangeKind::first)
            return;
        std::string strBytes = record.GetPathBytes();
        size_t nSlash = strBytes.rfind('/');
        if (nSlash == std::string::npos)
            return;
        const CFolder* pFolder = Folder(site, codec, strBytes.substr(0, nSlash));
        if (pFolder == nullptr)
            return;
        std::string_view strName = std::string_view(strBytes).substr(nSlash + 1);
        if (record.bFolder)
        {
            if (auto found = pFolder->dirs.find(strName); found != pFolder->dirs.end())
                pRow->pDir = found->second;
        }
        else if (auto found = pFolder->files.find(strName); found != pFolder->files.end())
            pRow->pFile = found->second;
    }

private:
    struct CFolder
    {
        std::unordered_map<std::string_view, CFTPDir*> dirs;
        std::unordered_map<std::string_view, CFTPFile*> files;
    };

    const CFolder* Folder(CFTPSite& site, const CNameCodec& codec, const std::string& strPath)
    {
        auto [it, bNew] = m_byPath.try_emplace(strPath);
        if (!bNew)
            return it->second.get();
        CEntryRef ref;
        if (!FindEntryByPath(site, strPath, codec, &ref) || ref.pDir == nullptr)
            return nullptr;
        auto pFolder = std::make_unique<CFolder>();
        pFolder->dirs.reserve(ref.pDir->m_dirList.size());
        for (const auto& pSub : ref.pDir->m_dirList)
            pFolder->dirs.emplace(pSub->m_strName, pSub.get());
        pFolder->files.reserve(ref.pDir->m_fileList.size());
        for (const auto& pFile : ref.pDir->m_fileList)
            pFolder->files.emplace(pFile->m_strName, pFile.get());
        it->second = std::move(pFolder);
        return it->second.get();
    }

    std::unordered_map<std::string, std::unique_ptr<CFolder>> m_byPath;
};
} // namespace

size_t CTarnDoc::ListChanges(CFTPDir* pDir, const std::optional<CWallTime>& since)
{
    m_foundChanges.clear();
    if (IsBusy())
        return 0;
    // A walk that pumps: the window refuses what would disturb it meanwhile.
    if (m_nBusy++ == 0)
        m_pump.Start();
    struct CBusyEnd
    {
        int& nBusy;
        ~CBusyEnd() { --nBusy; }
    } busyEnd{m_nBusy};

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
        m_foundChanges.reserve(m_foundChanges.size() + records.size());
        size_t i = 0;
        CEntryIndex index;
        while (i < records.size())
        {
            {
                // Slices under the shared lock; the rows made so far follow
                // removals between them (ForgetEntries).
                std::shared_lock lock(pSite->m_treeLock);
                while (i < records.size())
                {
                    CChangeRow row;
                    row.pSite = pSite;
                    row.strAddress = "ftp://" + strKey + records[i].strPath;
                    row.record = std::move(records[i]);
                    index.Find(*pSite, codec, &row);
                    m_foundChanges.push_back(std::move(row));
                    ++i;
                    if (m_pump.Tick())
                        break;
                }
            }
            uint64_t nForgets = m_nForgets;
            if (i < records.size() && !m_pump.Pump())
                return m_foundChanges.size(); // stopped: what was found so far
            if (m_nForgets != nForgets)
                index.Clear();
        }
    }
    return m_foundChanges.size();
}
