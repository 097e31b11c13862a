#pragma once
// The update engine: a wait queue of tasks, one dispatcher thread that
// starts up to g_nThreadLimit workers, and the workers that connect, crawl
// and save one site each.
//
// Threads: the commands (UpdateAll, UpdateSelected, StopUpdate, the closing
// calls) run on the GUI thread; the dispatcher and the workers run on
// threads of their own and report through the update observer
// (UpdateObserver.h). Queue, session map and thread list change only under
// g_engineLock; the flags and counters are atomics (EngineState.h).

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "update/EngineState.h"
#include "update/SiteConnection.h"
#include "update/UpdateProgress.h"

class CFTPDir;
class CFTPSite;
class CInternetSession;

// What one update of a site has done so far, from the command that queued
// the site through the automatic continuations that carry it on; its end
// writes the site's statistics (model/SiteStats.h). Only the worker holding
// the task touches it.
struct CUpdateRun
{
    std::string strId; // the change log's "run": the start with milliseconds; "" until begun
    std::chrono::system_clock::time_point start;
    std::chrono::steady_clock::time_point startSteady;
    bool bFirstKnown = false; // bFirst is set (a worker has loaded the tree)
    bool bFirst = false;      // began with an empty cache
    uint64_t nFoldersListed = 0;
    uint64_t nCommands = 0;
    uint64_t nListingBytes = 0;
    std::string strChangeLogError; // the first failure to write changes.log
};

// A request to update one site, from pStartDir (null: the site's root).
struct UpdateTask
{
    CFTPSite* pSite = nullptr;
    CFTPDir* pStartDir = nullptr;
    CUpdateRun run;
};

extern std::mutex g_engineLock;
// Tasks waiting for a worker, first in first out (owned while they wait).
extern std::deque<std::unique_ptr<UpdateTask>> g_taskQueue;
// The session of every worker that is connecting or crawling, by site key,
// so that closing can cut them all at once. Two sites may share a key.
extern std::multimap<std::string, CInternetSession*> g_sessionMap;

// A site counts as busy (IsSiteBusy, FTPSite.h) from the moment it is queued
// until its worker has saved it and queued any continuation; neither update
// command queues a busy site, so at most one worker ever works on a site.

// "更新全部": queue every site that is not busy.
void UpdateAll(const std::vector<std::unique_ptr<CFTPSite>>& siteList, CUpdateProgress& progress);
// "更新": queue the site owning pDir, crawling from pDir when it lies below
// the root. Nothing happens without a folder, for a site not in the list, or
// for a busy site.
void UpdateSelected(const std::vector<std::unique_ptr<CFTPSite>>& siteList, CFTPDir* pDir,
                    CUpdateProgress& progress);
// "终止更新": the dispatcher, the workers and the crawler end at their next check.
void StopUpdate();

// Closing, in two steps so the GUI can show its waiting dialog in between:
// AbortForClose sets the stop flag and cuts every registered session so that
// blocked network calls fail at once; IsEngineIdle tells when no worker runs
// and the queue is empty.
void AbortForClose();
bool IsEngineIdle();
// Sets the stop flag, waits for the engine to go idle, and joins the
// dispatcher and every worker thread. Call on the GUI thread once
// IsEngineIdle() is true (or from a thread that is not the observer's), so
// no thread outlives the engine.
void ShutdownEngine();

// The time-outs of the workers' sessions (the design's values unless a test
// shortens them).
void SetEngineTimeouts(const CSessionTimeouts& timeouts);

// Thread bodies (also usable directly in tests).
int DispatchThread();
int UpdateThread(std::unique_ptr<UpdateTask> pTask);
// Starts a dispatcher unless one is running; one that is ending re-checks
// the queue before it ends, so queued tasks are always served. When no
// thread can be started, every waiting task fails ("更新失败:\n...").
void StartDispatchThread();
