#include "model/SiteStats.h"

#include <mutex>
#include <shared_mutex>
#include <vector>

#include "model/FTPSite.h"
#include "model/PercentCode.h"
#include "model/SiteSettings.h"

namespace
{
// One line of options.ini for a list of paths (bytes): tabs between them,
// "%", spaces and control bytes escaped (a line's ends may be trimmed).
std::string JoinPaths(const std::vector<std::string>& paths)
{
    std::string strText;
    for (size_t i = 0; i < paths.size(); ++i)
    {
        if (i != 0)
            strText += '\t';
        strText += PercentEncodeBytes(paths[i], [](unsigned char c) { return c != '%' && c > ' '; });
    }
    return strText;
}

std::vector<std::string> SplitPaths(const std::string& strText)
{
    std::vector<std::string> paths;
    if (strText.empty())
        return paths;
    size_t nStart = 0;
    for (;;)
    {
        size_t nTab = strText.find('\t', nStart);
        paths.push_back(PercentDecodeLenient(std::string_view(strText).substr(nStart, nTab - nStart)));
        if (nTab == std::string::npos)
            return paths;
        nStart = nTab + 1;
    }
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
            CModTime time = pFile->m_time;
            if (time.IsKnown() &&
                (!totals.newest.IsKnown() || time.Seconds() > totals.newest.Seconds()))
                totals.newest = time;
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

CSiteStats ReadStoredStats(const CSiteSettings& settings)
{
    using S = CSiteSettings;
    CSiteStats stats;
    std::optional<uint64_t> nFolders = settings.Get(S::STAT_FOLDERS);
    std::optional<uint64_t> nFiles = settings.Get(S::STAT_FILES);
    std::optional<uint64_t> nBytes = settings.Get(S::STAT_BYTES);
    std::optional<uint64_t> nUnread = settings.Get(S::STAT_UNREAD);
    // Counts go together: one missing or damaged and the tree is counted.
    if (nFolders && nFiles && nBytes && nUnread)
        stats.totals = CTreeTotals{*nFolders, *nFiles, *nBytes, *nUnread,
                                   CModTime::FromPacked(settings.Get(S::STAT_NEWEST))};

    std::string strStart = settings.Get(S::STAT_LAST_START);
    if (!strStart.empty())
    {
        CRunFigures run;
        run.strRun = settings.Get(S::STAT_RUN);
        run.strStart = strStart;
        run.strEnd = settings.Get(S::STAT_LAST_END);
        run.nDurationMs = settings.Get(S::STAT_DURATION_MS);
        run.nFoldersListed = settings.Get(S::STAT_FOLDERS_LISTED).value_or(0);
        run.nCommands = settings.Get(S::STAT_COMMANDS).value_or(0);
        run.nListingBytes = settings.Get(S::STAT_LISTING_BYTES).value_or(0);
        run.strLastError = settings.Get(S::STAT_LAST_ERROR);
        run.nRefused = settings.Get(S::STAT_REFUSED).value_or(0);
        run.refusedPaths = SplitPaths(settings.Get(S::STAT_REFUSED_PATHS));
        stats.run = std::move(run);
    }
    return stats;
}

void StoreTreeTotals(CSiteSettings& settings, const CTreeTotals& totals)
{
    using S = CSiteSettings;
    settings.Set(S::STAT_FOLDERS, totals.nFolders);
    settings.Set(S::STAT_FILES, totals.nFiles);
    settings.Set(S::STAT_BYTES, totals.nBytes);
    settings.Set(S::STAT_UNREAD, totals.nUnread);
    settings.Set(S::STAT_NEWEST, totals.newest.Packed());
}

void StoreRunFigures(CSiteSettings& settings, const CRunFigures& figures)
{
    using S = CSiteSettings;
    settings.Set(S::STAT_RUN, figures.strRun);
    settings.Set(S::STAT_LAST_START, figures.strStart);
    settings.Set(S::STAT_LAST_END, figures.strEnd);
    settings.Set(S::STAT_DURATION_MS, figures.nDurationMs);
    settings.Set(S::STAT_FOLDERS_LISTED, figures.nFoldersListed);
    settings.Set(S::STAT_COMMANDS, figures.nCommands);
    settings.Set(S::STAT_LISTING_BYTES, figures.nListingBytes);
    // One line per key: a multi-line status text is kept on one.
    std::string strError = figures.strLastError;
    for (char& c : strError)
    {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    settings.Set(S::STAT_LAST_ERROR, strError);
    settings.Set(S::STAT_REFUSED, figures.nRefused != 0 ? std::optional<uint64_t>(figures.nRefused)
                                                        : std::nullopt);
    settings.Set(S::STAT_REFUSED_PATHS, JoinPaths(figures.refusedPaths));
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
        site.UpdateSettings([&totals](CSiteSettings& settings)
                            { StoreTreeTotals(settings, totals); });
    }
    catch (const std::exception&)
    {
        // The figures are a convenience: the old ones stay.
    }
}
