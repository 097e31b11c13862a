#pragma once
// A site's statistics: the size of its cached tree and what its last update
// did. They live in the site's options.ini as "stat_*" keys (declared in
// CSiteSettings), written at the end of every update (and the counts again
// whenever the read marks are saved), so they can be shown without loading
// the tree.
//
// Threads: CountTreeTotals and RefreshStoredTotals take the site's tree lock
// (shared) themselves; the rest are plain values.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/ModTime.h"

class CFTPDir;
class CFTPSite;
class CSiteSettings;

// The entries below a root (the root itself not counted).
struct CTreeTotals
{
    uint64_t nFolders = 0;
    uint64_t nFiles = 0;
    uint64_t nBytes = 0;  // of the files
    uint64_t nUnread = 0; // folders and files with an unread mark
    CModTime newest;      // the newest time of a file; none when no file has one
    bool operator==(const CTreeTotals&) const = default;
};
// The caller holds the tree's lock (or no update changes it).
CTreeTotals CountTreeTotals(const CFTPDir& root);

// What one update did, from its start to its end (its automatic
// continuations included).
struct CRunFigures
{
    std::string strRun;   // its start, ISO 8601 with milliseconds
    std::string strStart; // ISO 8601
    std::string strEnd;
    int64_t nDurationMs = 0;
    uint64_t nFoldersListed = 0;
    uint64_t nCommands = 0;     // FTP commands sent, both listing ways
    uint64_t nListingBytes = 0; // listing bytes received, both listing ways
    std::string strLastError;   // "" when the update succeeded
    uint64_t nRefused = 0;      // folders that could not be entered or listed
    std::vector<std::string> refusedPaths; // the first of them (bytes)
};

struct CSiteStats
{
    std::optional<CTreeTotals> totals; // none: never counted
    bool bTotalsLive = false;          // counted from the tree in memory just now
    std::optional<CRunFigures> run;    // none: never updated
};

// What options.ini holds.
CSiteStats ReadStoredStats(const CSiteSettings& settings);
void StoreTreeTotals(CSiteSettings& settings, const CTreeTotals& totals);
void StoreRunFigures(CSiteSettings& settings, const CRunFigures& figures);

// Counts the loaded tree and stores the counts (nothing when the tree is not
// loaded). Never throws: an options file that cannot be written keeps its
// old figures.
void RefreshStoredTotals(CFTPSite& site);
