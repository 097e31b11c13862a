#include "update/Crawler.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/FTPSite.h"
#include "net/FtpConnection.h"
#include "net/InternetError.h"
#include "update/ChangeRecorder.h"
#include "update/EngineState.h"
#include "update/FolderSource.h"
#include "update/UpdateObserver.h"

namespace
{
bool IsStopRequested()
{
    return g_bStopUpdate.load() != 0;
}

void RecordResumePoint(CFTPSite* pSite, CFTPDir* pDir)
{
    // The root is never a resume point: a continuation crawls it whole.
    if (pDir->m_pParent == nullptr)
        return;
    pSite->m_pResumeDir.store(pDir);
    pSite->m_bResume.store(1);
}

int StopAt(CFTPSite* pSite, CFTPDir* pDir)
{
    RecordResumePoint(pSite, pDir);
    pSite->SetStatus("更新终止！", 3);
    return 0;
}

int ConnectionLostAt(CFTPSite* pSite, CFTPDir* pDir, uint32_t nError)
{
    RecordResumePoint(pSite, pDir);
    pSite->SetStatus("更新意外终止:\n" + FormatInternetError(nError), 3);
    return 0;
}

// A listing too large to hold: the folder keeps its cache and the update
// fails, as a continuation would meet the same listing.
int ListingFailedAt(CFTPSite* pSite, uint32_t nError)
{
    pSite->SetStatus("更新失败:\n" + FormatInternetError(nError), 1);
    return 0;
}

// A listing too large to hold, or one that hit a bound on its replies or
// its time: the server would do the same again.
bool IsTooLargeToHold(uint32_t nError)
{
    return nError == ERROR_FTP_LISTING_TOO_LARGE || nError == ERROR_NOT_ENOUGH_MEMORY ||
           IsListingBound(nError);
}

// A folder that could not be entered or listed keeps its cached subtree;
// the update still succeeds, and says so.
int RefusedAt(CFTPSite* pSite, CFTPDir* pDir)
{
    pSite->NoteRefusedFolder(pDir->GetPath());
    return 1;
}

// The time an entry's line gave, as kept: a LIST time (the server's wall
// clock) moved to UTC by the site's offset when it has one.
CModTime ListedTime(const CFtpListEntry& entry, int64_t nOffsetSeconds)
{
    if (entry.nTimePrecision == EFtpTimePrecision::NONE)
        return {};
    auto nPrecision = static_cast<TimePrecision>(entry.nTimePrecision);
    if (entry.bTimeZoneKnown || nOffsetSeconds == 0)
        return CModTime(entry.nTime, nPrecision, entry.bTimeZoneKnown);
    return CModTime(entry.nTime - nOffsetSeconds, nPrecision, true);
}

// The time moved, as far as the coarser of the two precisions tells (a
// time first learnt, or one whose zone became known, did not move).
bool TimeMoved(CModTime oldTime, CModTime time)
{
    if (!oldTime.IsKnown() || !time.IsKnown() || oldTime.IsZoneKnown() != time.IsZoneKnown())
        return false;
    auto unit = [](CModTime t)
    {
        return t.Precision() == TimePrecision::day      ? 86400
               : t.Precision() == TimePrecision::minute ? 60
                                                        : 1;
    };
    int64_t nUnit = std::max(unit(oldTime), unit(time));
    auto floorTo = [nUnit](int64_t n) { return n >= 0 ? n / nUnit : -((-n + nUnit - 1) / nUnit); };
    return floorTo(oldTime.Seconds()) != floorTo(time.Seconds());
}

struct CRemoval
{
    CObject* pEntry;
    int nType;
};

// Steps 6 and 7 for one folder, with the listing already in memory:
// marks what the listing names (appending what is new), then drops what
// it did not name. False when the stop flag ended the walk; the marks set
// so far are cleared then, so nothing survives a later merge wrongly.
// pChanges (when given) notes what changed, for the change log.
bool MergeListing(CFTPSite* pSite, CFTPDir* pDir, CFtpListing& listing,
                  std::vector<CRemoval>& removals, std::vector<std::unique_ptr<CObject>>& removed,
                  CChangeRecorder* pChanges, int64_t nTimeOffset)
{
    std::unique_lock lock(pSite->m_treeLock);
    CChangeFolderScope changesOfFolder(pChanges, *pDir);
    // The first entry of each name, as a search from the head would find it.
    std::unordered_map<std::string_view, CFTPFile*> files;
    std::unordered_map<std::string_view, CFTPDir*> dirs;
    files.reserve(pDir->m_fileList.size());
    dirs.reserve(pDir->m_dirList.size());
    for (const auto& pFile : pDir->m_fileList)
        files.emplace(pFile->m_strName, pFile.get());
    for (const auto& pSub : pDir->m_dirList)
        dirs.emplace(pSub->m_strName, pSub.get());

    const size_t nFilesBefore = pDir->m_fileList.size();
    const size_t nDirsBefore = pDir->m_dirList.size();
    bool bStopped = false;
    for (CFtpListEntry& entry : listing.entries)
    {
        if (IsStopRequested())
        {
            bStopped = true;
            break;
        }
        std::string strName = std::move(entry.strName);
        if (!IsAddressableName(strName))
            continue;
        if (entry.bDirectory)
        {
            auto it = dirs.find(strName);
            if (it != dirs.end())
            {
                it->second->m_bSeen = 1;
                if (CModTime time = ListedTime(entry, nTimeOffset); time != it->second->m_time)
                {
                    it->second->m_time = time;
                    pSite->m_bContentDirty.store(true); // times.bin goes with the pair
                }
                continue;
            }
            auto pNew = std::make_unique<CFTPDir>();
            pNew->m_strName = std::move(strName);
            pNew->m_nState = 1;
            pNew->m_pParent = pDir;
            pNew->m_bSeen = 1;
            pNew->m_time = ListedTime(entry, nTimeOffset);
            dirs.emplace(pNew->m_strName, pNew.get());
            if (pChanges != nullptr)
                pChanges->NoteAdded(pNew->m_strName, true, 0, pNew->m_time);
            pDir->m_dirList.push_back(std::move(pNew));
            pSite->m_bHasNew.store(true);
            pSite->m_bContentDirty.store(true);
        }
        else
        {
            auto it = files.find(strName);
            if (it != files.end())
            {
                CFTPFile* pFile = it->second;
                pFile->m_bSeen = 1;
                CModTime time = ListedTime(entry, nTimeOffset);
                if (pFile->m_nSize != entry.nSize)
                {
                    if (pChanges != nullptr)
                        pChanges->NoteResized(pFile->m_strName, pFile->m_nSize, entry.nSize);
                    pFile->m_nSize = entry.nSize;
                }
                else if (pChanges != nullptr && TimeMoved(pFile->m_time, time))
                    pChanges->NoteModified(pFile->m_strName, pFile->m_nSize, pFile->m_time, time);
                if (time != pFile->m_time)
                {
                    pFile->m_time = time;
                    pSite->m_bContentDirty.store(true); // times.bin goes with the pair
                }
                continue;
            }
            auto pNew = std::make_unique<CFTPFile>();
            pNew->m_strName = std::move(strName);
            pNew->m_nState = 1;
            pNew->m_pParent = pDir;
            pNew->m_nSize = entry.nSize;
            pNew->m_bSeen = 1;
            pNew->m_time = ListedTime(entry, nTimeOffset);
            files.emplace(pNew->m_strName, pNew.get());
            if (pChanges != nullptr)
                pChanges->NoteAdded(pNew->m_strName, false, pNew->m_nSize, pNew->m_time);
            pDir->m_fileList.push_back(std::move(pNew));
            pSite->m_bHasNew.store(true);
            pSite->m_bContentDirty.store(true);
        }
    }
    size_t nUnreadable = listing.nUnreadable;
    listing = {};
    pSite->m_nListedFolders.fetch_add(1);
    ITreeListener* pListener = pSite->m_pTreeListener.get();
    if (pListener != nullptr &&
        (pDir->m_fileList.size() > nFilesBefore || pDir->m_dirList.size() > nDirsBefore))
        pListener->OnChildrenAdded(*pDir);

    // A stop, or a listing with lines that could not be read: nothing is
    // dropped on the strength of a partial reading.
    if (bStopped || nUnreadable > 0)
    {
        for (const auto& pFile : pDir->m_fileList)
            pFile->m_bSeen = 0;
        for (const auto& pSub : pDir->m_dirList)
            pSub->m_bSeen = 0;
        pSite->m_nUnreadableLines.fetch_add(nUnreadable);
        return !bStopped;
    }

    // Files first, then folders; survivors keep their order.
    auto sweep = [&](auto& list, int nType)
    {
        size_t nKept = 0;
        for (size_t i = 0; i < list.size(); ++i)
        {
            if (list[i]->m_bSeen != 0)
            {
                list[i]->m_bSeen = 0;
                if (nKept != i)
                    list[nKept] = std::move(list[i]);
                ++nKept;
                continue;
            }
            removals.push_back(CRemoval{list[i].get(), nType});
            if (pListener != nullptr)
                pListener->OnEntryRemoved(list[i].get(), nType);
            if (pChanges != nullptr)
                pChanges->NoteRemoved(list[i].get(), nType);
            removed.emplace_back(list[i].release());
        }
        list.resize(nKept);
    };
    sweep(pDir->m_fileList, IUpdateObserver::entryFile);
    sweep(pDir->m_dirList, IUpdateObserver::entryFolder);
    if (!removals.empty())
        pSite->m_bContentDirty.store(true);
    return true;
}

// Announces the entries one merge unlinked, then hands them over: the
// observer frees them once nothing shows them any more; without one they
// go at once.
void AnnounceRemoved(std::vector<CRemoval>& removals,
                     std::vector<std::unique_ptr<CObject>>& removed)
{
    if (removed.empty())
        return;
    if (IUpdateObserver* pObserver = GetUpdateObserver())
    {
        for (const CRemoval& removal : removals)
            pObserver->PostEntryRemoved(removal.pEntry, removal.nType);
        pObserver->DisposeRemoved(std::move(removed));
    }
    else
        FreeRemovedEntries(std::move(removed));
    removed.clear();
}

// One crawl's companions, handed down the recursion.
struct CCrawl
{
    CFolderSource& source;
    CFTPSite* pSite;
    CChangeRecorder* pChanges;
    int64_t nTimeOffset = 0; // seconds taken off LIST times
    uint64_t nFoldersListed = 0;
};

int Crawl(CCrawl& crawl, CFTPDir* pDir, int nDepth);

// Passes over the folders the interrupted crawl had finished, without
// listing them, until it meets the resume folder.
int ResumeWalk(CCrawl& crawl, CFTPDir* pDir, int nDepth)
{
    CFTPSite* pSite = crawl.pSite;
    for (size_t i = 0; i < pDir->m_dirList.size(); ++i)
    {
        if (IsStopRequested())
            return StopAt(pSite, pDir);
        CFTPDir* pSub = pDir->m_dirList[i].get();
        if (pSite->m_pResumeDir.load() == pSub)
            pSite->m_bResume.store(0);
        if (Crawl(crawl, pSub, nDepth + 1) == 0)
            return 0;
    }
    return 1;
}

int Crawl(CCrawl& crawl, CFTPDir* pDir, int nDepth)
{
    CFolderSource& source = crawl.source;
    CFTPSite* pSite = crawl.pSite;
    if (IsStopRequested())
        return StopAt(pSite, pDir);
    if (nDepth >= MAX_TREE_DEPTH)
        return 1;
    if (pSite->m_bResume.load() != 0)
        return ResumeWalk(crawl, pDir, nDepth);
    // No server takes a command line that long: it would cut it and hang up.
    if (!IsEnterableName(pDir))
        return RefusedAt(pSite, pDir);

    if (!source.ChangeDirectory(pDir))
    {
        uint32_t nError = GetLastInternetError();
        // Closing cuts the sessions after raising the stop flag: the failure
        // it causes is the user's stop, not the server's doing.
        if (nError == ERROR_INTERNET_OPERATION_CANCELLED || IsStopRequested())
            return StopAt(pSite, pDir);
        if (IsConnectionLost(nError))
            return ConnectionLostAt(pSite, pDir, nError);
        // A listing fetched ahead was too large to hold, or the listing
        // connection would not be protected as the first one is.
        if (IsTooLargeToHold(nError) || IsTlsFailure(nError))
            return ListingFailedAt(pSite, nError);
        // Refused: the cached subtree stays as it is.
        return RefusedAt(pSite, pDir);
    }
    if (IsStopRequested())
        return StopAt(pSite, pDir);

    // The whole listing is fetched before the tree is locked.
    CFtpListing listing;
    if (!source.List(listing))
    {
        uint32_t nError = GetLastInternetError();
        listing = {};
        // A listing cut short by a stop is no empty folder.
        if (nError == ERROR_INTERNET_OPERATION_CANCELLED || IsStopRequested())
            return StopAt(pSite, pDir);
        if (IsConnectionLost(nError))
            return ConnectionLostAt(pSite, pDir, nError);
        if (IsTooLargeToHold(nError))
            return ListingFailedAt(pSite, nError);
        // A failed listing is no empty folder: what is cached stays.
        if (nError != ERROR_NO_MORE_FILES)
            return RefusedAt(pSite, pDir);
    }

    std::vector<CRemoval> removals;
    std::vector<std::unique_ptr<CObject>> removed;
    // What a stopped merge added stays in the tree, so it is logged too; the
    // removed entries are read by the log before they are handed over.
    bool bMerged =
        MergeListing(pSite, pDir, listing, removals, removed, crawl.pChanges, crawl.nTimeOffset);
    if (!bMerged)
        return StopAt(pSite, pDir);
    ++crawl.nFoldersListed;
    AnnounceRemoved(removals, removed);

    // Only this worker changes the tree, so its own reads need no lock.
    for (size_t i = 0; i < pDir->m_dirList.size(); ++i)
    {
        if (IsStopRequested())
            return StopAt(pSite, pDir);
        if (Crawl(crawl, pDir->m_dirList[i].get(), nDepth + 1) == 0)
            return 0;
    }
    return 1;
}

bool IsStrictlyBelow(const CFTPDir* pDir, const CFTPDir* pAncestor)
{
    for (const CFTPDir* p = pDir != nullptr ? pDir->m_pParent : nullptr; p != nullptr;
         p = p->m_pParent)
        if (p == pAncestor)
            return true;
    return false;
}
} // namespace

int CrawlDir(CFtpConnection* pConnection, CFTPSite* pSite, CFTPDir* pDir, const CListingPlan& plan,
             CListingReport* pReport, CChangeRecorder* pChanges)
{
    // A resume walk only meets folders below its start: a resume point at
    // the start folder itself (or outside it) would make the continuation
    // pass over everything and list nothing, so that crawl starts afresh.
    if (pSite->m_bResume.load() != 0 && !IsStrictlyBelow(pSite->m_pResumeDir.load(), pDir))
        pSite->m_bResume.store(0);
    std::unique_ptr<CFolderSource> pSource = MakeFolderSource(pConnection, pDir, plan);
    CCrawl crawl{*pSource, pSite, pChanges};
    crawl.nTimeOffset = pSite->GetSettings().Get(CSiteSettings::TIME_OFFSET) * 60;
    int nResult = Crawl(crawl, pDir, pDir->GetDepth());
    pSource->Finish(pReport);
    if (pReport != nullptr)
        pReport->nFoldersListed = crawl.nFoldersListed;
    return nResult;
}
