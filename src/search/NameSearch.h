#pragma once
// Runs a query over the cached trees of some sites, off the thread that
// owns the window, and hands each match to a sink as it is found.
//
// Each site is read through its name index (SiteIndex.h): only the blocks
// of folders the query's terms allow, plus the folders that grew since the
// index was built. A site without an index first gets one of folders only
// (quick; every block then is read). The tree lock is taken shared in short
// slices, so an update of the site goes on meanwhile; the position between
// slices is a block number, never a pointer into the tree.
//
// Threads: RunNameSearch runs on the calling thread and on nThreads - 1
// helpers it starts and joins. The sites must stay alive until it returns
// (the caller keeps them from being deleted); their trees may change.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "model/Archive.h"
#include "model/NameCodec.h"
#include "search/Query.h"

class CFTPDir;
class CFTPSite;

struct CSearchHit
{
    CObject* pEntry = nullptr; // a CFTPDir or CFTPFile
    CFTPSite* pSite = nullptr;
    int nType = 0; // IUpdateObserver::entryFile or entryFolder
};

class ISearchSink
{
public:
    virtual ~ISearchSink() = default;
    // Matches, in the order found. Calls never overlap. While a call runs,
    // the hits' site's tree lock is held (shared): the entries may be read,
    // and an update cannot remove them before the call has returned.
    // False: the search is over (enough found).
    virtual bool OnHits(std::span<const CSearchHit> hits) = 0;
};

// One site as the search sees it: the facts copied on the owning thread.
struct CSearchSite
{
    CFTPSite* pSite = nullptr;
    CNameCodec codec;
    CSiteFacts facts;
};
// The copy for a site; call where the site's fields are not being changed.
CSearchSite MakeSearchSite(CFTPSite& site);

struct CSearchRequest
{
    std::shared_ptr<const CQuery> pQuery;
    std::vector<CSearchSite> sites;
    // Only below this folder (it must belong to the one site given).
    CFTPDir* pScope = nullptr;
    int nThreads = 2;
    // Hits in site order (site by site, each in tree order). For callers
    // whose trees do not change meanwhile: hits of later sites wait in the
    // search, outside any lock, until the earlier sites are done.
    bool bOrdered = false;
    // How many hits, at most, wait before the sink is called.
    size_t nBatch = 256;
};

struct CSearchStats
{
    uint64_t nFound = 0;
    uint64_t nRead = 0;    // entries tested
    uint64_t nBlocks = 0;  // blocks read
    bool bStopped = false; // by the stop flag or the sink
};

// Loads the sites that are not loaded yet, then searches them.
CSearchStats RunNameSearch(const CSearchRequest& request, ISearchSink& sink,
                           const std::atomic<bool>& stop);
