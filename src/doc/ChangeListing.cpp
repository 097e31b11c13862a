#include "doc/ChangeListing.h"

#include <map>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "model/SiteStats.h"

namespace
{
// "/a/b/" and "" read as "/a/b" and "/".
std::string NormalizePath(std::string strPath)
{
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.pop_back();
    if (strPath.empty() || strPath.front() != '/')
        strPath.insert(strPath.begin(), '/');
    return strPath;
}

bool IsAtOrBelow(const std::string& strPath, const std::string& strTop)
{
    if (strTop == "/")
        return true;
    return strPath.size() >= strTop.size() && strPath.compare(0, strTop.size(), strTop) == 0 &&
           (strPath.size() == strTop.size() || strPath[strTop.size()] == '/');
}
// A first update that saved more than once (continued after a lost
// connection) has a "first" line per save: shown as one, at the first.
std::vector<CChangeRecord> MergeFirstLines(std::vector<CChangeRecord> records)
{
    std::vector<CChangeRecord> merged;
    merged.reserve(records.size());
    std::map<std::string, size_t> firstOfRun;
    for (CChangeRecord& record : records)
    {
        if (record.nKind == ChangeKind::first)
        {
            auto [it, bNew] = firstOfRun.emplace(record.strRun, merged.size());
            if (!bNew)
            {
                CChangeRecord& first = merged[it->second];
                first.nFolders += record.nFolders;
                first.nFiles += record.nFiles;
                first.nBytes += record.nBytes;
                first.strTime = record.strTime;
                continue;
            }
        }
        merged.push_back(std::move(record));
    }
    return merged;
}
} // namespace

std::string GetLastRun(const CFTPSite& site)
{
    std::string strRun = site.GetSettings().Get(CSiteSettings::STAT_RUN);
    ReadChangeLog(GetChangeLogPath(GetProgramFolder(), site.GetKey()),
                  [&strRun](CChangeRecord& record)
                  {
                      // Runs are start times in one format: text order is time order.
                      if (record.strRun > strRun)
                          strRun = record.strRun;
                  });
    return strRun;
}

std::vector<CChangeRecord> ReadSiteChanges(const CFTPSite& site, const CChangeQuery& query,
                                           size_t* pnDamaged)
{
    const std::string strTop = NormalizePath(query.strPath);
    // Lines carry whole seconds: a line of the second the bound falls in is
    // taken.
    CWallTime sinceSecond;
    if (query.since)
        sinceSecond = std::chrono::floor<std::chrono::seconds>(*query.since);
    std::string strLastRun = site.GetSettings().Get(CSiteSettings::STAT_RUN);
    std::vector<CChangeRecord> records;
    ReadChangeLog(
        GetChangeLogPath(GetProgramFolder(), site.GetKey()),
        [&](CChangeRecord& record)
        {
            if (!query.since && record.strRun > strLastRun)
                strLastRun = record.strRun;
            if (record.nKind != ChangeKind::first &&
                !IsAtOrBelow(query.bPathIsBytes ? record.GetPathBytes() : record.strPath, strTop))
                return;
            CWallTime time;
            if (query.since && (!ParseIsoTime(record.strTime, &time) || time < sinceSecond))
                return;
            records.push_back(std::move(record));
        },
        pnDamaged);
    if (!query.since)
        std::erase_if(records, [&strLastRun](const CChangeRecord& record)
                      { return record.strRun != strLastRun; });
    return MergeFirstLines(std::move(records));
}

std::string GetTextPath(const CFTPDir& dir)
{
    const CFTPSite* pSite = dir.GetSite();
    CNameCodec codec = pSite != nullptr ? pSite->GetCodec() : CNameCodec();
    std::string strPath;
    for (const CFTPDir* p = &dir; p != nullptr && p->m_pParent != nullptr; p = p->m_pParent)
        strPath.insert(0, "/" + codec.Decode(p->m_strName));
    return strPath.empty() ? "/" : strPath;
}

std::string GetBytesPath(const CFTPDir& dir)
{
    std::string strPath;
    for (const CFTPDir* p = &dir; p != nullptr && p->m_pParent != nullptr; p = p->m_pParent)
        strPath.insert(0, "/" + p->m_strName);
    return strPath.empty() ? "/" : strPath;
}
