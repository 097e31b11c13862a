#include "model/SiteStats.h"

#include <mutex>
#include <shared_mutex>
#include <vector>

#include "model/FTPSite.h"
#include "model/SiteOptions.h"

namespace
{
std::optional<uint64_t> FindUnsigned(const CSiteOptions& options, const char* pszKey)
{
    if (!options.Find(pszKey))
        return std::nullopt;
    int64_t n = options.GetInt(pszKey, -1);
    if (n < 0)
        return std::nullopt;
    return static_cast<uint64_t>(n);
}
} // namespace

CTreeTotals CountTreeTotals(const CFTPDir& root)
{
    CTreeTotals totals;
    std::vector<const CFTPDir*> stack{&root};
    while (!stack.empty())
    {
        const CFTPDir* pDir = stack.back();
        stack.pop_back();
        for (const auto& pFile : pDir->m_fileList)
        {
            ++totals.nFiles;
            totals.nBytes += pFile->m_nSize;
            totals.nUnread += pFile->m_nState != 0 ? 1 : 0;
        }
        for (const auto& pSub : pDir->m_dirList)
        {
            ++totals.nFolders;
            totals.nUnread += pSub->m_nState != 0 ? 1 : 0;
            stack.push_back(pSub.get());
        }
    }
    return totals;
}

CSiteStats ReadStoredStats(const CSiteOptions& options)
{
    CSiteStats stats;
    std::optional<uint64_t> nFolders = FindUnsigned(options, OPTION_STAT_FOLDERS);
    std::optional<uint64_t> nFiles = FindUnsigned(options, OPTION_STAT_FILES);
    std::optional<uint64_t> nBytes = FindUnsigned(options, OPTION_STAT_BYTES);
    std::optional<uint64_t> nUnread = FindUnsigned(options, OPTION_STAT_UNREAD);
    // Counts go together: one missing or damaged and the tree is counted.
    if (nFolders && nFiles && nBytes && nUnread)
        stats.totals = CTreeTotals{*nFolders, *nFiles, *nBytes, *nUnread};

    std::optional<std::string> strStart = options.Find(OPTION_STAT_LAST_START);
    if (strStart && !strStart->empty())
    {
        CRunFigures run;
        run.strRun = options.Get(OPTION_STAT_RUN);
        run.strStart = *strStart;
        run.strEnd = options.Get(OPTION_STAT_LAST_END);
        run.nDurationMs = options.GetInt(OPTION_STAT_DURATION_MS, 0);
        run.nFoldersListed = FindUnsigned(options, OPTION_STAT_FOLDERS_LISTED).value_or(0);
        run.nCommands = FindUnsigned(options, OPTION_STAT_COMMANDS).value_or(0);
        run.nListingBytes = FindUnsigned(options, OPTION_STAT_LISTING_BYTES).value_or(0);
        run.strLastError = options.Get(OPTION_STAT_LAST_ERROR);
        stats.run = std::move(run);
    }
    return stats;
}

void StoreTreeTotals(CSiteOptions& options, const CTreeTotals& totals)
{
    options.SetInt(OPTION_STAT_FOLDERS, static_cast<int64_t>(totals.nFolders));
    options.SetInt(OPTION_STAT_FILES, static_cast<int64_t>(totals.nFiles));
    options.SetInt(OPTION_STAT_BYTES, static_cast<int64_t>(totals.nBytes));
    options.SetInt(OPTION_STAT_UNREAD, static_cast<int64_t>(totals.nUnread));
}

void StoreRunFigures(CSiteOptions& options, const CRunFigures& figures)
{
    (void)options.Set(OPTION_STAT_RUN, figures.strRun);
    (void)options.Set(OPTION_STAT_LAST_START, figures.strStart);
    (void)options.Set(OPTION_STAT_LAST_END, figures.strEnd);
    options.SetInt(OPTION_STAT_DURATION_MS, figures.nDurationMs);
    options.SetInt(OPTION_STAT_FOLDERS_LISTED, static_cast<int64_t>(figures.nFoldersListed));
    options.SetInt(OPTION_STAT_COMMANDS, static_cast<int64_t>(figures.nCommands));
    options.SetInt(OPTION_STAT_LISTING_BYTES, static_cast<int64_t>(figures.nListingBytes));
    // One line per key: a multi-line status text is kept on one.
    std::string strError = figures.strLastError;
    for (char& c : strError)
    {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    (void)options.Set(OPTION_STAT_LAST_ERROR, strError);
}

void RefreshStoredTotals(CFTPSite& site)
{
    if (!site.IsLoaded())
        return;
    CTreeTotals totals;
    {
        std::shared_lock lock(site.m_treeLock);
        totals = CountTreeTotals(*site.m_pRoot);
    }
    try
    {
        site.UpdateOptions([&totals](CSiteOptions& options) { StoreTreeTotals(options, totals); });
    }
    catch (const std::exception&)
    {
        // The figures are a convenience: the old ones stay.
    }
}
