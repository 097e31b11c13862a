#include "update/ListingPlan.h"

#include <algorithm>

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/NameCodec.h"

CListingPlan MakeListingPlan(const CFTPSite& site)
{
    CSiteSettings settings = site.GetSettings();
    CListingPlan plan;
    plan.nMode = settings.Get(CSiteSettings::LISTING);
    if (site.m_bStatListingFailed.load())
        plan.nMode = ListingMode::list;
    CNameCodec codec = settings.GetCodec();
    plan.bUtf8 = codec.IsAuto() || codec.GetCharset() == CHARSET_UTF8;
    int64_t nSeconds = settings.Get(CSiteSettings::LISTING_TIMEOUT);
    plan.nListingTimeoutMs =
        static_cast<uint32_t>(std::min<int64_t>(nSeconds, int64_t{24} * 3600) * 1000);
    return plan;
}

void RememberListing(CFTPSite& site, const CListingPlan& plan, const CListingReport& report)
{
    bool bOutOfStep = report.bOutOfTurn || report.bDesync;
    if (bOutOfStep)
        site.m_bStatListingFailed.store(true);
    if (plan.nMode != ListingMode::automatic || (!report.bProbed && !bOutOfStep))
        return;
    ListingMode nFound = report.bUsedStat && !report.bFellBack && !bOutOfStep
                             ? ListingMode::stat
                             : ListingMode::list;
    try
    {
        std::string strWhy = nFound == ListingMode::list ? report.strWhy : std::string();
        for (char& c : strWhy)
        {
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
        }
        site.UpdateSettings(
            [nFound, &strWhy](CSiteSettings& settings)
            {
                settings.Set(CSiteSettings::LISTING_FOUND, nFound);
                settings.Set(CSiteSettings::LISTING_FOUND_WHY, strWhy);
            });
    }
    catch (const std::exception&)
    {
        // Only the note is lost; the next auto session compares again anyway.
    }
}
