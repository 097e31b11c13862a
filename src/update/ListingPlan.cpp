#include "update/ListingPlan.h"

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
    return plan;
}

void RememberListing(CFTPSite& site, const CListingPlan& plan, const CListingReport& report)
{
    if (report.bOutOfTurn)
        site.m_bStatListingFailed.store(true);
    if (plan.nMode != ListingMode::automatic || (!report.bProbed && !report.bOutOfTurn))
        return;
    ListingMode nFound = report.bUsedStat && !report.bFellBack && !report.bOutOfTurn
                             ? ListingMode::stat
                             : ListingMode::list;
    try
    {
        site.UpdateSettings([nFound](CSiteSettings& settings)
                            { settings.Set(CSiteSettings::LISTING_FOUND, nFound); });
    }
    catch (const std::exception&)
    {
        // Only the note is lost; the next auto session compares again anyway.
    }
}
