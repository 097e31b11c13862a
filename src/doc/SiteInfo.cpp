#include "doc/SiteInfo.h"

#include <mutex>
#include <shared_mutex>

#include "doc/TarnDoc.h"

CSiteStats GetSiteStats(CTarnDoc& doc, CFTPSite& site, bool bLoad)
{
    CSiteStats stats = ReadStoredStats(site.GetSettings());
    if (!site.IsLoaded() && (stats.totals || !bLoad))
        return stats;
    doc.EnsureLoaded(site);
    std::shared_lock lock(site.m_treeLock);
    stats.totals = CountTreeTotals(*site.m_pRoot);
    stats.bTotalsLive = true;
    return stats;
}
