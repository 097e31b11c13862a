#pragma once
// The sites' change logs (model/ChangeLog.h) as people look at them: the
// window's "显示更改" and tarn-cli changes. By default the changes of each
// site's last update; with a time, every change since then.
//
// Thread: the GUI thread (tarn-cli's main thread). Reading a log needs no
// lock: the writer only appends and replaces the file atomically.

#include <optional>
#include <string>
#include <vector>

#include "model/ChangeLog.h"
#include "model/IsoTime.h"

class CFTPDir;
class CFTPFile;
class CFTPSite;

struct CChangeQuery
{
    // Entries at or below this path (text, "/" + names; "/" or "": the whole
    // site). A "first" line is the site's and always selected.
    std::string strPath = "/";
    // strPath is the server's bytes ("/" + names as cached), compared with
    // each line's bytes: a change of the site's character set since the
    // lines were written changes their text, never their bytes.
    bool bPathIsBytes = false;
    // Every change from this time on; none: the last update's only.
    std::optional<CWallTime> since;
};

// The "run" of the site's last update: the newer of its statistics' and of
// the log's last line (an update the process did not live to finish); ""
// when it has none.
std::string GetLastRun(const CFTPSite& site);

// The lines of the site's log that the query selects, oldest first; lines
// that cannot be read are skipped and counted in *pnDamaged (when given).
std::vector<CChangeRecord> ReadSiteChanges(const CFTPSite& site, const CChangeQuery& query,
                                           size_t* pnDamaged = nullptr);

// One row of a change listing.
struct CChangeRow
{
    CChangeRecord record;
    CFTPSite* pSite = nullptr;
    // The node address of the path, as the file list's address column shows.
    std::string strAddress;
    // The cached entry the path names now, for an added or resized entry that
    // is still there; null for a removed one (shown struck through with its
    // old size, not openable), a "first" line and what has gone since.
    CFTPDir* pDir = nullptr;
    CFTPFile* pFile = nullptr;
};

// The path of a cached folder as text, as the log writes paths.
std::string GetTextPath(const CFTPDir& dir);
// The same as the server's bytes.
std::string GetBytesPath(const CFTPDir& dir);
