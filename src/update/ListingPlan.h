#pragma once
// How one session lists a site's folders, and what it found out.
//
// Two ways exist. The normal way changes into each folder and lists it over
// a data connection of its own (MLSD or LIST): four or more round trips per
// folder. Most servers also send a folder's listing over the control
// connection itself in answer to "STAT ." (RFC 959), which can be pipelined:
// a site of thousands of folders then costs a small fraction of a round trip
// per folder. The site option "listing" (CSiteSettings::LISTING) says which way to use:
//   auto  (default) list the first folder both ways and use STAT for the
//         session only when both give the same names, kinds and sizes;
//   stat  use STAT without that comparison;
//   list  the normal way only.
// Whichever way is used, any STAT answer that is not a listing turns the rest
// of the session to the normal way, so the cache ends up the same. A STAT
// reply is in-band text that a file name can forge, so it is trusted for
// speed only: a listing that would remove cached entries (or shows a folder
// empty, or has lines that cannot be read or that look like replies) is
// listed again the normal way before the merge, and replies seen out of
// step with their requests turn the session to the normal way.
//
// Auto's finding is remembered in the option "listing_found" ("stat" or
// "list"), with why STAT was not used in "listing_found_why", never in
// "listing", so a choice the user made is not overwritten.
// Every auto session compares afresh (a server may change its software; the
// comparison costs one listing); the finding tells people and tools how the
// site was last listed. A STAT session that met a reply out of turn also
// records "list", and the site's later sessions in the same run of the
// program (its automatic continuations) list the normal way.
//
// Threads: the plan is made and the report read by the site's worker.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/SiteSettings.h"
#include "net/FtpControlChannel.h"

class CFTPSite;

// Folders requested ahead of the crawl on the control connection; 1 sends
// each request only when the crawl needs its folder.
inline constexpr size_t DEFAULT_PIPELINE_DEPTH = 64;
// The pipeline is topped up once this many folders' answers are in, so that
// fewer, larger writes carry the requests.
constexpr size_t PipelineBatch(size_t nDepth)
{
    return nDepth >= 8 ? nDepth / 4 : 1;
}
// Listings fetched ahead and not merged yet are held up to this many bytes.
inline constexpr uint64_t DEFAULT_HOLD_AHEAD_BYTES = uint64_t{32} << 20;

struct CListingPlan
{
    ListingMode nMode = ListingMode::automatic;
    // Send "OPTS UTF8 ON" when the server offers UTF8 (the site's character
    // set is auto or UTF-8), as the normal connection does.
    bool bUtf8 = true;
    size_t nPipelineDepth = DEFAULT_PIPELINE_DEPTH;
    uint64_t nHoldAheadBytes = DEFAULT_HOLD_AHEAD_BYTES;
    // The longest one listing may take, request to final reply, both ways
    // (the site option "listing_timeout").
    uint32_t nListingTimeoutMs = 300000;
};

struct CListingReport
{
    bool bProbed = false;        // auto listed a folder both ways
    bool bUsedStat = false;      // STAT was the session's way
    bool bFellBack = false;      // ... until an answer turned it to the normal way
    bool bOutOfTurn = false;     // a reply came that no request asked for
    bool bDesync = false;        // replies and requests were seen out of step
    uint64_t nConfirmed = 0;     // STAT listings checked the normal way before a merge
    std::string strWhy;          // why STAT was not used or given up
    uint64_t nStatFolders = 0;   // folders merged from STAT listings
    uint64_t nDroppedAhead = 0;  // listings fetched ahead and dropped to keep the cap
    uint64_t nMostHeldBytes = 0; // the most bytes held ahead at once
    CFtpChannelStats channel;    // what went over the STAT control connection
    uint64_t nFoldersListed = 0; // folders whose listing was merged, both ways
    // The listing connection could not log in protected as the first one
    // is (TLS refused, another key): the error and its text. The update
    // fails then.
    uint32_t nTlsError = 0;
    std::string strTlsFailure;
};

// The plan of the site's next session, from its options and this run's
// history (see above).
CListingPlan MakeListingPlan(const CFTPSite& site);
// Remembers what a session found (see above). Never throws: an options
// file that cannot be written only loses the note.
void RememberListing(CFTPSite& site, const CListingPlan& plan, const CListingReport& report);
