#pragma once
// The downloads of a program run: a queue of files, each fetched by one of a
// few workers over connections that stay logged in from one file to the next
// (at most nPerSite to one site, nTotal in all). What is not finished is kept
// in a file of the data folder, so the next start can offer it again.
//
// Threads: the methods may be called from any thread; the listener is called
// on a worker thread (a window hands it on to its own thread). Sites are
// looked up by the caller and must outlive their jobs: RemoveSite before a
// site goes away.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "transfer/Download.h"

class CFTPSite;
class CInternetSession;

struct CDownloadLimits
{
    uint32_t nPerSite = 2;
    uint32_t nTotal = 4;
};

// The file of the data folder that keeps unfinished downloads.
inline constexpr const char* DOWNLOAD_QUEUE_FILE = "downloads.jsonl";

class CDownloadQueue
{
public:
    CDownloadQueue();
    ~CDownloadQueue(); // Shutdown
    CDownloadQueue(const CDownloadQueue&) = delete;
    CDownloadQueue& operator=(const CDownloadQueue&) = delete;

    void SetLimits(const CDownloadLimits& limits);
    CDownloadLimits GetLimits() const;
    // Where unfinished jobs are kept ("" : nowhere); rewritten on each change
    // of a job's state.
    void SetQueueFile(const std::string& strPath);
    // Called (on a worker or the caller's thread) whenever a job changed.
    void SetListener(std::function<void()> onChange);

    // Queues job (state waiting unless given as stopped) for site; returns
    // its id. A target another job of the queue already has gets "(1)".
    uint64_t Add(CDownloadJob job, CFTPSite* pSite);
    // The same for many jobs (a folder's files) at once: one pass over the
    // queue and one write of the queue file, however many there are.
    std::vector<uint64_t> AddAll(std::vector<std::pair<CDownloadJob, CFTPSite*>> jobs);
    void Stop(uint64_t nId);
    // Stopped or failed: queued again (retry is the same).
    void Resume(uint64_t nId);
    // Forgets the job; an unfinished one loses its .part file.
    void Remove(uint64_t nId);
    // Stops and forgets every job of the site (before the site is deleted).
    void RemoveSite(const CFTPSite* pSite);

    std::vector<CDownloadJob> GetJobs() const;
    std::optional<CDownloadJob> GetJob(uint64_t nId) const;
    // Nothing waiting or running.
    bool IsIdle() const;
    // Waits until IsIdle; false on time-out.
    bool WaitIdle(std::chrono::milliseconds timeout) const;
    // Logins made so far (connections opened), for the reuse check.
    uint64_t CountLogins() const { return m_nLogins.load(); }
    // Waits until the queue file holds every change asked of the queue so far.
    void FlushSaves();
    // Times the queue file was written, for the batching check.
    uint64_t CountQueueWrites() const { return m_nQueueWrites.load(); }

    // Stops every transfer, cuts the connections and joins the workers.
    void Shutdown();

    // The unfinished jobs a queue file kept, as stopped jobs; the site key
    // says which site each is for. A damaged line is skipped.
    static std::vector<CDownloadJob> LoadQueueFile(const std::string& strPath);

private:
    struct CEntry
    {
        CDownloadJob job;
        CFTPSite* pSite = nullptr;
        std::atomic<int32_t> nStop{0};
        bool bRemoved = false;
    };
    struct CWorkerSlot
    {
        std::thread thread;
        CInternetSession* pSession = nullptr; // under m_lock, for Shutdown
    };

    void WorkerMain(size_t nSlot);
    // A waiting job for a worker holding a connection to pHeld (may be null).
    CEntry* PickJob(const CFTPSite* pHeld);
    void StartWorkers();
    void Changed();
    // Writes the queue file now (workers: their own thread is no window's).
    void Save();
    // Has the saver thread write it: the file is synced to disk, which must
    // not hold up the window's thread that queues, stops and removes.
    void RequestSave();
    void SaverMain();
    // Folder and relative path of every job that still has a target (not
    // done, not removed), as TargetKey makes them.
    std::unordered_set<std::string> TakenTargets() const;
    static std::string MakeUniqueTarget(const CDownloadJob& job,
                                        const std::unordered_set<std::string>& taken);
    CEntry* Find(uint64_t nId) const;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_cv;
    std::deque<std::unique_ptr<CEntry>> m_entries;
    std::map<const CFTPSite*, uint32_t> m_openPerSite;
    std::vector<std::unique_ptr<CWorkerSlot>> m_workers;
    CDownloadLimits m_limits;
    uint64_t m_nNextId = 1;
    uint32_t m_nRunning = 0;
    bool m_bShutdown = false;
    std::string m_strQueueFile;
    std::function<void()> m_onChange;
    std::mutex m_saveLock;
    std::optional<std::string> m_savedText; // under m_saveLock: what the file holds
    std::condition_variable m_saveCv;
    std::thread m_saver;
    bool m_bSaveWanted = false; // under m_lock, as the two below
    bool m_bSaving = false;
    std::atomic<uint64_t> m_nLogins{0};
    std::atomic<uint64_t> m_nQueueWrites{0};
};

// The job's state as the list and tarn-cli show it.
const char* DescribeState(DownloadState nState);
