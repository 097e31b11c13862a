#pragma once
// The directory crawler: walks a site's folders on the server depth first and
// merges each fresh listing into the cached tree (new entries unread and
// appended, vanished ones announced and dropped, sizes refreshed).
//
// Threads: runs on the site's update worker, on that worker's own
// connection. It changes the tree only under the site's exclusive tree lock
// and never holds that lock across network I/O.

#include <cstdint>

#include "update/ListingPlan.h"

class CChangeRecorder;
class CFtpConnection;
class CFTPDir;
class CFTPSite;

// Crawls pDir and everything below it, down to MAX_TREE_DEPTH: folders at
// that depth are kept as their parent listed them but not entered. 1: done; 0: the crawl must end
// (stopped or connection lost; the site's status and resume point are set).
// The plan says how folders are listed (ListingPlan.h); *pReport, when
// given, receives what the session found out; pChanges, when given, notes
// what the merges changed for the site's change log.
[[nodiscard]] int CrawlDir(CFtpConnection* pConnection, CFTPSite* pSite, CFTPDir* pDir,
                           const CListingPlan& plan = {}, CListingReport* pReport = nullptr,
                           CChangeRecorder* pChanges = nullptr);
