#include "update/UpdateEngine.h"

#include <chrono>
#include <new>
#include <shared_mutex>
#include <system_error>
#include <thread>

#include "model/FTPSite.h"
#include "model/IsoTime.h"
#include "model/SiteStats.h"
#include "net/FtpConnection.h"
#include "net/InternetSession.h"
#include "update/ChangeRecorder.h"
#include "update/Crawler.h"
#include "update/ListingPlan.h"
#include "update/SiteConnection.h"
#include "update/UpdateObserver.h"

std::mutex g_engineLock;
std::deque<std::unique_ptr<UpdateTask>> g_taskQueue;
std::multimap<std::string, CInternetSession*> g_sessionMap;

namespace
{
constexpr auto DISPATCH_POLL = std::chrono::milliseconds(10);
constexpr auto WORKER_POLL = std::chrono::milliseconds(2);

// Threads started by the engine; finished ones are joined by the dispatcher
// on its next pass and the rest by ShutdownEngine. Guarded by g_engineLock.
struct CEngineThread
{
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> pDone;
};
std::vector<CEngineThread> g_workerThreads;
std::thread g_dispatchThread;
CSessionTimeouts g_timeouts; // guarded by g_engineLock

CSessionTimeouts GetEngineTimeouts()
{
    std::lock_guard lock(g_engineLock);
    return g_timeouts;
}

void PostSiteUpdated(CFTPSite* pSite)
{
    if (IUpdateObserver* pObserver = GetUpdateObserver())
        pObserver->PostSiteUpdated(pSite);
}

void SendSiteUpdated(CFTPSite* pSite)
{
    if (IUpdateObserver* pObserver = GetUpdateObserver())
        pObserver->SendSiteUpdated(pSite);
}

// Joins the workers that have ended; returns them so the caller joins
// outside the lock.
std::vector<std::thread> TakeFinishedWorkers()
{
    std::vector<std::thread> finished;
    std::lock_guard lock(g_engineLock);
    for (auto it = g_workerThreads.begin(); it != g_workerThreads.end();)
    {
        if (it->pDone->load())
        {
            finished.push_back(std::move(it->thread));
            it = g_workerThreads.erase(it);
        }
        else
            ++it;
    }
    return finished;
}

// Every task holds its site from the moment it is queued; whatever ends
// the task lowers the hold as its last act.
void ReleaseSiteHold(CFTPSite* pSite)
{
    pSite->m_nEngineHold.fetch_sub(1);
}

std::string ThreadStartFailure(const std::system_error& e)
{
    return "无法启动更新线程（" + e.code().message() + "）";
}

void BeginUpdateRun(CUpdateRun& run)
{
    if (!run.strId.empty())
        return; // a continuation carries its update on
    run.start = std::chrono::system_clock::now();
    run.startSteady = std::chrono::steady_clock::now();
    run.strId = FormatIsoTime(run.start, true);
}

// What the update has done so far, as the statistics keep it.
CRunFigures MakeRunFigures(const CFTPSite& site, const CUpdateRun& run)
{
    CRunFigures figures;
    figures.strRun = run.strId;
    figures.strStart = FormatIsoTime(run.start);
    figures.strEnd = FormatIsoTime(std::chrono::system_clock::now());
    figures.nDurationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - run.startSteady)
                              .count();
    figures.nFoldersListed = run.nFoldersListed;
    figures.nCommands = run.nCommands;
    figures.nListingBytes = run.nListingBytes;
    figures.nRefused = site.GetRefusedCount();
    figures.refusedPaths = site.GetRefusedPaths();
    if (site.m_nStatus.load() != 2)
        figures.strLastError = site.GetStatusText();
    else if (!run.strChangeLogError.empty())
        figures.strLastError = "更改记录无法写入：" + run.strChangeLogError;
    return figures;
}

// After each save of the pair: the counts of the tree now on disk, and the
// run so far, so that a crash before the update's end leaves figures that
// match the cache (its changes are in the log already). Never throws: the
// figures are a convenience, the cache is what counts.
void StoreSavedFigures(CFTPSite& site, const CUpdateRun& run) noexcept
{
    try
    {
        CTreeTotals totals;
        {
            std::shared_lock lock(site.m_treeLock);
            totals = CountTreeTotals(*site.m_pRoot);
        }
        CRunFigures figures = MakeRunFigures(site, run);
        site.UpdateSettings(
            [&](CSiteSettings& settings)
            {
                StoreTreeTotals(settings, totals);
                StoreRunFigures(settings, figures);
            });
    }
    catch (...)
    {
    }
}

// The end of an update (not of a worker that queued a continuation): its
// figures. The counts were stored with the last save that succeeded. Never
// throws.
void FinishUpdateRun(CFTPSite& site, const CUpdateRun& run) noexcept
{
    if (run.strId.empty())
        return; // dropped before it began
    try
    {
        CRunFigures figures = MakeRunFigures(site, run);
        site.UpdateSettings([&](CSiteSettings& settings) { StoreRunFigures(settings, figures); });
    }
    catch (...)
    {
    }
}

// Ends a task that never got a worker with "更新失败:\n" + why.
void FailTask(std::unique_ptr<UpdateTask> pTask, const std::string& strWhy)
{
    CFTPSite* pSite = pTask->pSite;
    pSite->SetStatus("更新失败:\n" + strWhy, 1);
    FinishUpdateRun(*pSite, pTask->run);
    pTask.reset();
    PostSiteUpdated(pSite);
    ReleaseSiteHold(pSite);
}

// "更新成功", with a word on listing lines that could not be read and on
// folders that could not be entered or listed (their folders kept their
// cached entries, which the user may want to know), the
// connection's TLS note (GetTlsNote) and lines of options.ini that could not
// be read (the window shows them nowhere else).
std::string SuccessText(CFTPSite& site, const std::string& strTlsNote)
{
    std::string strText = "更新成功";
    uint64_t nUnreadable = site.m_nUnreadableLines.load();
    if (nUnreadable != 0)
        strText +=
            "\n" + std::to_string(nUnreadable) + " 行目录列表无法识别，相关目录保留了原有条目";
    uint64_t nRefused = site.GetRefusedCount();
    if (nRefused != 0)
        strText += "\n" + std::to_string(nRefused) + " 个目录无法进入，保留了原有条目";
    if (!strTlsNote.empty())
        strText += "\n" + strTlsNote;
    std::vector<size_t> damagedLines = site.TakeDamagedOptionLines();
    if (!damagedLines.empty())
    {
        std::string strLines;
        for (size_t nLine : damagedLines)
            strLines += (strLines.empty() ? "" : "、") + std::to_string(nLine);
        strText += "\n站点选项 " + std::string(SITE_OPTIONS_FILE) + " 第 " + strLines +
                   " 行不是“键=值”，已原样保留并跳过";
    }
    return strText;
}

// Queues one site: status 4, "正在等待更新...", resume point cleared.
void QueueSite(CFTPSite* pSite, CFTPDir* pStartDir)
{
    auto pTask = std::make_unique<UpdateTask>();
    pTask->pSite = pSite;
    pTask->pStartDir = pStartDir;
    pSite->m_nEngineHold.fetch_add(1);
    pSite->m_bResume = 0;
    pSite->m_nUnreadableLines = 0;
    pSite->ClearRefusedFolders();
    pSite->m_nListedFolders = 0;
    pSite->SetStatus("正在等待更新...", 4);
    PostSiteUpdated(pSite);
    {
        std::lock_guard lock(g_engineLock);
        g_taskQueue.push_back(std::move(pTask));
    }
    StartDispatchThread();
}

// Unregisters the session, so no other thread can reach it any more.
void DropSession(CInternetSession* pSession, const std::string& strKey)
{
    std::lock_guard lock(g_engineLock);
    auto range = g_sessionMap.equal_range(strKey);
    for (auto it = range.first; it != range.second; ++it)
    {
        if (it->second == pSession)
        {
            g_sessionMap.erase(it);
            break;
        }
    }
}

// A worker's session in g_sessionMap while the worker may block on it, so
// that closing can cut it; unregistered on every way out.
class CSessionEntry
{
public:
    CSessionEntry(CInternetSession* pSession, std::string strKey)
        : m_pSession(pSession), m_strKey(std::move(strKey))
    {
        std::lock_guard lock(g_engineLock);
        g_sessionMap.emplace(m_strKey, m_pSession);
        // Closing may have cut the sessions just before this one registered.
        if (g_bStopUpdate)
            m_pSession->Close();
    }
    ~CSessionEntry() { Drop(); }
    CSessionEntry(const CSessionEntry&) = delete;
    CSessionEntry& operator=(const CSessionEntry&) = delete;

    void Drop()
    {
        if (m_pSession != nullptr)
            DropSession(m_pSession, m_strKey);
        m_pSession = nullptr;
    }

private:
    CInternetSession* m_pSession;
    std::string m_strKey;
};

// A worker's share of the engine: its place in g_nRunning (taken by the
// dispatcher at the hand-over) and its site's hold. The hold goes last:
// from then on the worker does not touch the site, which may be deleted.
class CWorkerLease
{
public:
    explicit CWorkerLease(CFTPSite* pSite) : m_pSite(pSite) {}
    ~CWorkerLease()
    {
        LeaveRunning();
        ReleaseSiteHold(m_pSite);
    }
    CWorkerLease(const CWorkerLease&) = delete;
    CWorkerLease& operator=(const CWorkerLease&) = delete;

    void LeaveRunning()
    {
        if (!m_bLeft)
            --g_nRunning;
        m_bLeft = true;
    }

private:
    CFTPSite* m_pSite;
    bool m_bLeft = false;
};

void FailSite(CFTPSite* pSite, const std::string& strWhy) noexcept
{
    try
    {
        pSite->SetStatus("更新失败:\n" + strWhy, 1);
        PostSiteUpdated(pSite);
    }
    catch (...)
    {
        // No memory even for the text: the status value still says it.
        pSite->m_nStatus = 1;
    }
}

// Starts a worker for the task; false (with the reason) when no thread can
// be started, and the task stays with the caller.
bool StartWorker(std::unique_ptr<UpdateTask>& pTask, std::string* pstrError)
{
    auto pDone = std::make_shared<std::atomic<bool>>(false);
    UpdateTask* pRaw = pTask.get();
    std::thread thread;
    try
    {
        thread = std::thread(
            [pRaw, pDone]
            {
                UpdateThread(std::unique_ptr<UpdateTask>(pRaw));
                pDone->store(true);
            });
    }
    catch (const std::system_error& e)
    {
        *pstrError = ThreadStartFailure(e);
        return false;
    }
    (void)pTask.release(); // the worker owns it now
    std::lock_guard lock(g_engineLock);
    g_workerThreads.push_back({std::move(thread), pDone});
    return true;
}

// One task from the hand-over to the end: connect, crawl, save, and queue a
// continuation after a lost connection (*pbContinued: the update goes on
// there, with task.run).
int RunWorker(UpdateTask& task, CWorkerLease& lease, bool* pbContinued)
{
    CFTPSite* pSite = task.pSite;
    CUpdateRun& run = task.run;
    BeginUpdateRun(run);
    pSite->SetStatusText("正在连接...");
    if (g_bStopUpdate)
    {
        pSite->SetStatus("更新终止！", 3);
        PostSiteUpdated(pSite);
        return 0;
    }

    // Read as defaults, a TLS site's options would have it log in plain.
    if (std::string strOptionsError = pSite->CheckOptions(); !strOptionsError.empty())
    {
        pSite->SetStatus("更新失败:\n站点选项无法读取：" + strOptionsError, 1);
        PostSiteUpdated(pSite);
        return 0;
    }

    std::unique_ptr<CInternetSession> pSession = OpenSiteSession(GetEngineTimeouts());
    if (!pSession)
    {
        pSite->SetStatus("更新失败:\n创建Internet会话失败", 1);
        PostSiteUpdated(pSite);
        return 0;
    }
    CSessionEntry sessionEntry(pSession.get(), pSite->GetKey());

    std::string strError;
    std::unique_ptr<CFtpConnection> pConnection = OpenSiteConnection(*pSession, *pSite, &strError);
    if (!pConnection)
    {
        // Closing cut the session while it connected: the server did nothing wrong.
        if (g_bStopUpdate)
            pSite->SetStatus("更新终止！", 3);
        else
            pSite->SetStatus("更新失败:\n" + strError, 1);
        PostSiteUpdated(pSite);
        return 0;
    }

    std::string strTlsNote = GetTlsNote(*pConnection);
    pSite->SetStatusText("已连接,正在更新...");
    PostSiteUpdated(pSite);

    if (g_bStopUpdate)
    {
        pSite->SetStatus("更新终止！", 3);
        PostSiteUpdated(pSite);
        return 0;
    }

    pSite->EnsureLoaded();
    if (!run.bFirstKnown)
    {
        std::shared_lock lock(pSite->m_treeLock);
        run.bFirst = pSite->m_pRoot->m_dirList.empty() && pSite->m_pRoot->m_fileList.empty();
        run.bFirstKnown = true;
    }
    CFTPDir* pStartDir = task.pStartDir != nullptr ? task.pStartDir : pSite->m_pRoot.get();
    CListingPlan plan = MakeListingPlan(*pSite);
    CListingReport report;
    CChangeRecorder changes(*pSite, run.strId, run.bFirst);
    try
    {
        if (CrawlDir(pConnection.get(), pSite, pStartDir, plan, &report, &changes))
        {
            pSite->m_bResume = 0;
            pSite->SetStatus(SuccessText(*pSite, strTlsNote), 2);
        }
    }
    catch (const std::bad_alloc&)
    {
        // What was merged before stays and is saved below.
        pSite->SetStatus("更新失败:\n内存不足", 1);
    }
    if (!report.strTlsFailure.empty())
        pSite->SetStatus("更新失败:\n" + DescribeListingTlsFailure(*pSite, report.nTlsError,
                                                                   report.strTlsFailure),
                         1);
    run.nFoldersListed += report.nFoldersListed;
    run.nCommands += pConnection->GetStats().nCommands + report.channel.nCommands;
    run.nListingBytes += pConnection->GetStats().nListingBytes + report.channel.nBytesReceived;

    PostSiteUpdated(pSite);
    pConnection.reset();
    sessionEntry.Drop();
    pSession.reset();
    RememberListing(*pSite, plan, report);

    // Saved whatever the crawl's outcome, so what was merged is kept. The
    // mark is cleared first: one the GUI clears during the save sets it
    // again and is written later.
    pSite->m_bStateDirty = false;
    try
    {
        pSite->SaveTree();
        // Lines the disk refused wait for the next save; the run says so.
        std::string strLogError = pSite->m_unsavedChanges.TakeError();
        if (run.strChangeLogError.empty())
            run.strChangeLogError = strLogError;
        StoreSavedFigures(*pSite, run);
    }
    catch (const CFileException& e)
    {
        // A full disk or an unusable folder must not end the process.
        pSite->m_bStateDirty = true;
        pSite->SetStatus("更新失败:\n无法保存缓存：" + e.GetErrorText(), 1);
        PostSiteUpdated(pSite);
    }
    catch (const CArchiveException& e)
    {
        pSite->m_bStateDirty = true;
        pSite->SetStatus(std::string("更新失败:\n") + e.what(), 1);
        PostSiteUpdated(pSite);
    }
    catch (const std::bad_alloc&)
    {
        pSite->m_bStateDirty = true;
        pSite->SetStatus("更新失败:\n内存不足", 1);
        PostSiteUpdated(pSite);
    }

    // A lost connection is continued automatically, at most four times per
    // site and run of the program, and never after a stop.
    std::string strStatus = pSite->GetStatusText();
    if (strStatus.rfind("更新意外终止", 0) == 0 && g_bStopUpdate == 0 && pSite->m_nRetries <= 3)
    {
        auto pNext = std::make_unique<UpdateTask>();
        pNext->pSite = pSite;
        pNext->pStartDir = task.pStartDir;
        pNext->run = std::move(run);
        *pbContinued = true;
        ++pSite->m_nRetries;
        pSite->SetStatus(strStatus + "\t等待继续更新", 4);
        // The continuation holds the site before this worker lets go of it.
        pSite->m_nEngineHold.fetch_add(1);
        {
            // Queued before the running count drops, so the run never looks
            // finished in between.
            std::lock_guard lock(g_engineLock);
            g_taskQueue.push_back(std::move(pNext));
            lease.LeaveRunning();
        }
        PostSiteUpdated(pSite);
        StartDispatchThread();
    }
    return 1;
}
} // namespace

void SetEngineTimeouts(const CSessionTimeouts& timeouts)
{
    std::lock_guard lock(g_engineLock);
    g_timeouts = timeouts;
}

void UpdateAll(const std::vector<std::unique_ptr<CFTPSite>>& siteList, CUpdateProgress& progress)
{
    g_bStopUpdate = 0;
    progress.m_nUpdateTotal += static_cast<int>(siteList.size());
    for (const auto& pSite : siteList)
    {
        if (IsSiteBusy(*pSite))
        {
            --progress.m_nUpdateTotal;
            continue;
        }
        QueueSite(pSite.get(), nullptr);
    }
    progress.StartTimer();
}

void UpdateSelected(const std::vector<std::unique_ptr<CFTPSite>>& siteList, CFTPDir* pDir,
                    CUpdateProgress& progress)
{
    g_bStopUpdate = 0;
    if (pDir == nullptr)
        return;
    CFTPSite* pSite = pDir->GetSite();
    bool bListed = false;
    for (const auto& p : siteList)
        bListed = bListed || p.get() == pSite;
    if (!bListed || IsSiteBusy(*pSite))
        return;
    QueueSite(pSite, pDir->m_pParent != nullptr ? pDir : nullptr);
    progress.m_nUpdateTotal += 1;
    // A single site shows its progress too.
    progress.StartTimer();
}

void StopUpdate()
{
    g_bStopUpdate = 1;
}

void AbortForClose()
{
    g_bStopUpdate = 1;
    std::lock_guard lock(g_engineLock);
    for (auto& [strKey, pSession] : g_sessionMap)
        pSession->Close();
}

bool IsEngineIdle()
{
    std::lock_guard lock(g_engineLock);
    return g_nRunning == 0 && g_taskQueue.empty();
}

void StartDispatchThread()
{
    std::thread old;
    std::string strError;
    {
        std::lock_guard lock(g_engineLock);
        if (g_bDispatching)
            return;
        try
        {
            std::thread dispatcher(DispatchThread);
            g_bDispatching = true;
            old = std::move(g_dispatchThread);
            g_dispatchThread = std::move(dispatcher);
        }
        catch (const std::system_error& e)
        {
            strError = ThreadStartFailure(e);
        }
    }
    // No dispatcher means nobody serves the queue: its tasks fail now.
    while (!strError.empty())
    {
        std::unique_ptr<UpdateTask> pTask;
        {
            std::lock_guard lock(g_engineLock);
            if (g_bDispatching || g_taskQueue.empty())
                break;
            pTask = std::move(g_taskQueue.front());
            g_taskQueue.pop_front();
        }
        FailTask(std::move(pTask), strError);
    }
    // The previous dispatcher has already cleared its flag: it is ending.
    if (old.joinable())
        old.join();
}

int DispatchThread()
{
    for (;;)
    {
        // Serve the queue until a stop is requested.
        while (g_bStopUpdate == 0)
        {
            std::unique_ptr<UpdateTask> pTask;
            {
                std::lock_guard lock(g_engineLock);
                if (!g_taskQueue.empty() && g_nRunning < g_nThreadLimit)
                {
                    // Counted as running from the hand-over on, so a task is
                    // always either waiting or running, and the limit holds.
                    ++g_nRunning;
                    pTask = std::move(g_taskQueue.front());
                    g_taskQueue.pop_front();
                }
            }
            std::string strError;
            if (pTask && !StartWorker(pTask, &strError))
            {
                --g_nRunning;
                FailTask(std::move(pTask), strError);
            }
            for (std::thread& t : TakeFinishedWorkers())
                t.join();
            std::this_thread::sleep_for(DISPATCH_POLL);
        }

        // Stopped: drop every waiting task. An update command arriving now
        // clears the flag; its tasks are served, not dropped.
        for (;;)
        {
            CFTPSite* pSite;
            {
                std::lock_guard lock(g_engineLock);
                if (g_bStopUpdate == 0 || g_taskQueue.empty())
                    break;
                pSite = g_taskQueue.front()->pSite;
            }
            pSite->SetStatus("更新终止!", 3);
            // The task leaves the queue only after the notice was handled:
            // until then the run is not over for the host waiting on it.
            SendSiteUpdated(pSite);
            std::unique_ptr<UpdateTask> pTask;
            {
                std::lock_guard lock(g_engineLock);
                if (!g_taskQueue.empty() && g_taskQueue.front()->pSite == pSite)
                {
                    pTask = std::move(g_taskQueue.front());
                    g_taskQueue.pop_front();
                }
            }
            if (pTask)
            {
                // A continuation dropped here ends its update.
                FinishUpdateRun(*pSite, pTask->run);
                ReleaseSiteHold(pSite);
            }
        }

        while (g_nRunning > 0)
            std::this_thread::sleep_for(WORKER_POLL);
        for (std::thread& t : TakeFinishedWorkers())
            t.join();

        std::lock_guard lock(g_engineLock);
        if (!g_taskQueue.empty())
            continue; // queued after the stop: serve (or drop) them too
        g_bDispatching = false;
        return 1;
    }
}

int UpdateThread(std::unique_ptr<UpdateTask> pTask)
{
    CFTPSite* pSite = pTask->pSite;
    CWorkerLease lease(pSite);
    bool bContinued = false;
    int nResult = 0;
    // Nothing may end the process from here: the site fails, the others go on.
    try
    {
        nResult = RunWorker(*pTask, lease, &bContinued);
    }
    catch (const std::bad_alloc&)
    {
        FailSite(pSite, "内存不足");
    }
    catch (const std::exception& e)
    {
        FailSite(pSite, e.what());
    }
    catch (...)
    {
        FailSite(pSite, "未知错误");
    }
    // Before the hold goes: once the site is not busy its figures are current.
    if (!bContinued)
        FinishUpdateRun(*pSite, pTask->run);
    return nResult;
}

void ShutdownEngine()
{
    g_bStopUpdate = 1;
    while (!IsEngineIdle())
        std::this_thread::sleep_for(WORKER_POLL);
    for (;;)
    {
        std::thread dispatcher;
        std::vector<CEngineThread> workers;
        {
            std::lock_guard lock(g_engineLock);
            dispatcher = std::move(g_dispatchThread);
            workers.swap(g_workerThreads);
        }
        if (!dispatcher.joinable() && workers.empty())
            return;
        if (dispatcher.joinable())
            dispatcher.join();
        for (CEngineThread& worker : workers)
            worker.thread.join();
    }
}
