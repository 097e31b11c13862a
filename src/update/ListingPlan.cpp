#include "update/ListingPlan.h"

#include "model/FTPSite.h"
#include "model/File.h"
#include "model/NameCodec.h"
#include "model/SiteOptions.h"

bool ParseListingMode(std::string_view strText, ListingMode* pMode)
{
    if (strText == LISTING_AUTO)
        *pMode = ListingMode::automatic;
    else if (strText == LISTING_STAT)
        *pMode = ListingMode::stat;
    else if (strText == LISTING_LIST)
        *pMode = ListingMode::list;
    else
        return false;
    return true;
}

const char* FormatListingMode(ListingMode nMode)
{
    switch (nMode)
    {
    case ListingMode::stat:
        return LISTING_STAT;
    case ListingMode::list:
        return LISTING_LIST;
    case ListingMode::automatic:
        break;
    }
    return LISTING_AUTO;
}

CListingPlan MakeListingPlan(const CFTPSite& site)
{
    CSiteOptions options = site.GetOptions();
    CListingPlan plan;
    // An unknown value is read as the default rather than refused: the
    // file may come from a newer program.
    if (!ParseListingMode(options.Get(OPTION_LISTING, LISTING_AUTO), &plan.nMode))
        plan.nMode = ListingMode::automatic;
    if (site.m_bStatListingFailed.load())
        plan.nMode = ListingMode::list;
    std::string strCharset = options.Get(OPTION_CHARSET, CHARSET_AUTO);
    plan.bUtf8 = strCharset == CHARSET_AUTO || strCharset == CHARSET_UTF8;
    return plan;
}

void RememberListing(CFTPSite& site, const CListingPlan& plan, const CListingReport& report)
{
    if (report.bOutOfTurn)
        site.m_bStatListingFailed.store(true);
    if (plan.nMode != ListingMode::automatic || (!report.bProbed && !report.bOutOfTurn))
        return;
    const char* pszFound =
        report.bUsedStat && !report.bFellBack && !report.bOutOfTurn ? LISTING_STAT : LISTING_LIST;
    try
    {
        site.UpdateOptions([pszFound](CSiteOptions& options)
                           { (void)options.Set(OPTION_LISTING_FOUND, pszFound); });
    }
    catch (const std::exception&)
    {
        // Only the note is lost; the next auto session compares again anyway.
    }
}
