#pragma once
// What search keeps beside one site's tree: its name index, and what the
// tree did since the index was built, so that a search over an index built
// before an update finds exactly what the tree holds now.
//
// The site's update worker tells it of every change while it holds the
// tree lock (ITreeListener): a folder that gained or lost children is
// "grown" and is read whole by every search until the next build; a removed
// folder
// (with the folders below it) is marked in every index a search may still
// be using, so no search reads it after the worker has let go of the lock.
//
// Threads: the fields are guarded by the site's tree lock (shared to read,
// exclusive to change); builds of one site take turns (m_buildLock).

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "model/TreeListener.h"
#include "search/NameIndex.h"

class CFTPSite;

class CSiteIndex : public ITreeListener
{
public:
    void OnChildrenAdded(CFTPDir& dir) override;
    void OnEntryRemoved(CObject* pEntry, int nType) override;

    // The index searches use now; null before the first build.
    std::shared_ptr<CNameIndex> m_pIndex;
    // Folders that gained or lost children, with the build count when they did:
    // those of m_pIndex's epoch or later are not in it.
    std::unordered_map<CFTPDir*, uint64_t> m_grown;
    // Searches running over this site (they hold on to m_pIndex or an
    // older one, and to m_grown's entries).
    std::atomic<int> m_nSearches{0};
    // Shape changes since the last build began.
    std::atomic<uint64_t> m_nChanges{0};

private:
    friend bool BuildSiteIndex(CFTPSite& site, bool bTrigrams, const std::atomic<bool>* pStop);

    std::mutex m_buildLock;
    std::atomic<uint64_t> m_nEpoch{0};
    std::atomic<bool> m_bBuilding{false};
    // Folders removed while a build was copying or computing (only its
    // address is kept, for comparison).
    std::vector<const CFTPDir*> m_removedDuringBuild;
    // Indexes replaced while searches still used them: they are told of
    // removals too.
    std::vector<std::weak_ptr<CNameIndex>> m_retired;
};

// The site's search state, attached on first need. Any thread; takes the
// tree lock (exclusive) only when it attaches.
std::shared_ptr<CSiteIndex> GetSiteIndex(CFTPSite& site);
// Builds the site's index (the tree must be loaded) and puts it in place.
// bTrigrams false: folders and blocks only. False when stopped.
bool BuildSiteIndex(CFTPSite& site, bool bTrigrams, const std::atomic<bool>* pStop = nullptr);
