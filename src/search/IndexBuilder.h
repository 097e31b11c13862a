#pragma once
// Builds the name indexes of search on threads of its own (two sites at a
// time, one per core), so a window never waits for one: after a site was
// loaded or updated the window asks (Request), and the builder loads the
// site if needed and builds its index when the tree changed since the last
// build (or has none yet).
//
// Threads: the public calls from one owning thread (the GUI's); the builds
// on the builder's threads, never two of one site at once. Forget and the
// destructor wait for a build of the site (or any) to end; the build stops
// early when asked.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CFTPSite;

class CIndexBuilder
{
public:
    CIndexBuilder();
    ~CIndexBuilder();
    CIndexBuilder(const CIndexBuilder&) = delete;
    CIndexBuilder& operator=(const CIndexBuilder&) = delete;

    // Queues the site (once) for a build.
    void Request(CFTPSite* pSite);
    // The site is going away: it leaves the queue, and a build of it is
    // stopped and waited for.
    void Forget(CFTPSite* pSite);
    // Nothing queued or building.
    bool IsIdle();
    // Waits until idle (tests, benchmarks).
    void WaitIdle();

    static constexpr size_t THREADS = 2;

private:
    // What one thread builds; its stop flag is the build's.
    struct CWorker
    {
        CFTPSite* pBuilding = nullptr;
        std::atomic<bool> bStop{false};
        std::thread thread;
    };

    void Run(CWorker& worker);
    bool IsBuilding(const CFTPSite* pSite) const;
    // The first queued site no other thread builds, taken off the queue.
    CFTPSite* TakeNext();

    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<CFTPSite*> m_queue;
    bool m_bQuit = false;
    std::vector<std::unique_ptr<CWorker>> m_workers;
};
