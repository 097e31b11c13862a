#include "update/UpdateEngine.h"

#include <chrono>
#include <thread>

#include "model/FTPSite.h"
#include "net/FtpConnection.h"
#include "net/InternetSession.h"
#include "update/Crawler.h"
#include "update/SiteConnection.h"
#include "update/UpdateObserver.h"

std::mutex g_engineLock;
std::deque<std::unique_ptr<UpdateTask>> g_taskQueue;
std::multimap<std::string, CInternetSession*> g_sessionMap;

namespace
{
constexpr auto kDispatchPoll = std::chrono::milliseconds(10);
constexpr auto kWorkerPoll = std::chrono::milliseconds(2);

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

// Queues one site: status 4, "正在等待更新...", resume point cleared.
void QueueSite(CFTPSite* pSite, CFTPDir* pStartDir)
{
    pSite->m_bResume = 0;
    pSite->SetStatus("正在等待更新...", 4);
    PostSiteUpdated(pSite);
    auto pTask = std::make_unique<UpdateTask>();
    pTask->pSite = pSite;
    pTask->pStartDir = pStartDir;
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

void StartWorker(std::unique_ptr<UpdateTask> pTask)
{
    auto pDone = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([pTask = std::move(pTask), pDone]() mutable {
        UpdateThread(std::move(pTask));
        pDone->store(true);
    });
    g_workerThreads.push_back({std::move(thread), pDone});
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
        if (pSite->m_nStatus == 4)
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
    if (!bListed || pSite->m_nStatus == 4)
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

bool IsSiteUpdating(const CFTPSite* pSite)
{
    return pSite->m_nStatus == 4;
}

void StartDispatchThread()
{
    std::thread old;
    {
        std::lock_guard lock(g_engineLock);
        if (g_bDispatching)
            return;
        g_bDispatching = true;
        old = std::move(g_dispatchThread);
        g_dispatchThread = std::thread(DispatchThread);
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
            {
                std::lock_guard lock(g_engineLock);
                if (!g_taskQueue.empty() && g_nRunning < g_nThreadLimit)
                {
                    // Counted as running from the hand-over on, so a task is
                    // always either waiting or running, and the limit holds.
                    ++g_nRunning;
                    StartWorker(std::move(g_taskQueue.front()));
                    g_taskQueue.pop_front();
                }
            }
            for (std::thread& t : TakeFinishedWorkers())
                t.join();
            std::this_thread::sleep_for(kDispatchPoll);
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
            SendSiteUpdated(pSite);
            std::lock_guard lock(g_engineLock);
            if (!g_taskQueue.empty() && g_taskQueue.front()->pSite == pSite)
                g_taskQueue.pop_front();
        }

        while (g_nRunning > 0)
            std::this_thread::sleep_for(kWorkerPoll);
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
    pSite->SetStatusText("正在连接...");

    auto finish = [&](int nResult) {
        --g_nRunning;
        return nResult;
    };

    if (g_bStopUpdate)
    {
        pSite->SetStatus("更新终止！", 3);
        PostSiteUpdated(pSite);
        return finish(0);
    }

    const std::string strKey = pSite->GetKey();
    std::unique_ptr<CInternetSession> pSession = OpenSiteSession(GetEngineTimeouts());
    if (!pSession)
    {
        pSite->SetStatus("更新失败:\n创建Internet会话失败", 1);
        PostSiteUpdated(pSite);
        return finish(0);
    }
    {
        std::lock_guard lock(g_engineLock);
        g_sessionMap.emplace(strKey, pSession.get());
        // Closing may have cut the sessions just before this one registered.
        if (g_bStopUpdate)
            pSession->Close();
    }

    std::string strError;
    std::unique_ptr<CFtpConnection> pConnection = OpenSiteConnection(*pSession, *pSite, &strError);
    if (!pConnection)
    {
        pSite->SetStatus("更新失败:\n" + strError, 1);
        PostSiteUpdated(pSite);
        DropSession(pSession.get(), strKey);
        return finish(0);
    }

    pSite->SetStatusText("已连接,正在更新...");
    PostSiteUpdated(pSite);

    if (g_bStopUpdate)
    {
        pConnection.reset();
        DropSession(pSession.get(), strKey);
        pSite->SetStatus("更新终止！", 3);
        PostSiteUpdated(pSite);
        return finish(0);
    }

    pSite->EnsureLoaded();
    CFTPDir* pStartDir = pTask->pStartDir != nullptr ? pTask->pStartDir : pSite->m_pRoot.get();
    if (CrawlDir(pConnection.get(), pSite, pStartDir))
    {
        pSite->m_bResume = 0;
        pSite->SetStatus("更新成功", 2);
    }

    PostSiteUpdated(pSite);
    DropSession(pSession.get(), strKey);
    pConnection.reset();
    pSession.reset();

    // Saved whatever the crawl's outcome, so what was merged is kept.
    try
    {
        pSite->SaveContent();
        pSite->SaveState();
        pSite->m_bStateDirty = false;
    }
    catch (const CFileException& e)
    {
        // A full disk or a read-only folder must not end the process; the
        // marks stay dirty so they are written again later.
        pSite->SetStatus("更新失败:\n" + e.GetErrorText(), 1);
        PostSiteUpdated(pSite);
    }
    catch (const CArchiveException& e)
    {
        pSite->SetStatus(std::string("更新失败:\n") + e.what(), 1);
        PostSiteUpdated(pSite);
    }

    // A lost connection is continued automatically, at most four times per
    // site and run of the program, and never after a stop.
    std::string strStatus = pSite->GetStatusText();
    if (strStatus.rfind("更新意外终止", 0) == 0 && g_bStopUpdate == 0 && pSite->m_nRetries <= 3)
    {
        pSite->SetStatus(strStatus + "\t等待继续更新", 4);
        auto pNext = std::make_unique<UpdateTask>();
        pNext->pSite = pSite;
        pNext->pStartDir = pTask->pStartDir;
        {
            // Queued before the running count drops, so the run never looks
            // finished in between.
            std::lock_guard lock(g_engineLock);
            g_taskQueue.push_back(std::move(pNext));
            --g_nRunning;
        }
        PostSiteUpdated(pSite);
        StartDispatchThread();
        ++pSite->m_nRetries;
        return 1;
    }
    return finish(1);
}

void ShutdownEngine()
{
    g_bStopUpdate = 1;
    while (!IsEngineIdle())
        std::this_thread::sleep_for(kWorkerPoll);
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
