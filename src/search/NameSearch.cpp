#include "search/NameSearch.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_set>

#include "model/FTPSite.h"
#include "search/NameFold.h"
#include "search/SiteIndex.h"

namespace
{
// How long one slice holds a site's tree lock, about.
constexpr auto SLICE = std::chrono::milliseconds(2);

// Some child of the folder, as the index saw it, may match. A folder that
// changed since is read whole by the grown pass, or (changed during this
// search) may be missed by it, as any search racing an update may.
// Files ahead of the one tested whose memory is asked for.
constexpr size_t PREFETCH_AHEAD = 8;

bool AnySigned(const uint64_t* pSignatures, size_t nCount, const CQuery& query)
{
    if (query.m_bPlainMask)
    {
        // Branch-free in runs, which the compiler turns into vector code:
        // a rare word's blocks are mostly thousands of children that fail.
        const uint64_t nMask = query.m_nPlainMask;
        for (size_t i = 0; i < nCount; i += 64)
        {
            size_t nEnd = std::min(nCount, i + 64);
            uint64_t nAny = 0;
            for (size_t j = i; j < nEnd; ++j)
                nAny |= static_cast<uint64_t>((pSignatures[j] & nMask) == nMask);
            if (nAny != 0)
                return true;
        }
        return false;
    }
    for (size_t i = 0; i < nCount; ++i)
    {
        if (query.MaySign(pSignatures[i]))
            return true;
    }
    return false;
}

bool AnySigned(const CNameIndex& index, size_t nFolder, const CQuery& query)
{
    size_t nCount = 0;
    const uint64_t* pSignatures = index.BuiltSignatures(nFolder, &nCount);
    return AnySigned(pSignatures, nCount, query);
}

bool IsAtOrBelow(const CFTPDir* pDir, const CFTPDir* pTop)
{
    for (; pDir != nullptr; pDir = pDir->m_pParent)
    {
        if (pDir == pTop)
            return true;
    }
    return false;
}

// Counts a site's running searches, so a new index build keeps what they use.
class CSearchingGuard
{
public:
    explicit CSearchingGuard(CSiteIndex& state) : m_state(state) {}
    ~CSearchingGuard() { m_state.m_nSearches.fetch_sub(1); }
    CSearchingGuard(const CSearchingGuard&) = delete;
    CSearchingGuard& operator=(const CSearchingGuard&) = delete;

private:
    CSiteIndex& m_state;
};

class CRun
{
public:
    CRun(const CSearchRequest& request, ISearchSink& sink, const std::atomic<bool>& stop)
        : m_request(request), m_sink(sink), m_stop(stop), m_buffers(request.sites.size()),
          m_done(request.sites.size(), false)
    {
    }

    void Worker()
    {
        for (;;)
        {
            size_t i = m_nNextSite.fetch_add(1);
            if (i >= m_request.sites.size())
                return;
            if (!Stopped())
                SearchSite(i);
            Finish(i);
        }
    }

    CSearchStats Stats() const
    {
        CSearchStats stats;
        stats.nFound = m_nFound.load();
        stats.nRead = m_nRead.load();
        stats.nBlocks = m_nBlocks.load();
        stats.bStopped = Stopped();
        return stats;
    }

private:
    bool Stopped() const { return m_bQuit.load() || m_stop.load(std::memory_order_relaxed); }

    void SearchSite(size_t nSite)
    {
        const CSearchSite& ss = m_request.sites[nSite];
        const CQuery& query = *m_request.pQuery;
        if (!query.MayMatchSite(ss.facts))
            return;
        CFTPSite& site = *ss.pSite;
        site.EnsureLoaded();
        std::shared_ptr<CSiteIndex> pState = GetSiteIndex(site);
        bool bHasIndex = false;
        {
            std::shared_lock lock(site.m_treeLock);
            bHasIndex = pState->m_pIndex != nullptr;
        }
        if (!bHasIndex && !BuildSiteIndex(site, false, &m_stop))
            return;

        std::shared_ptr<CNameIndex> pIndex;
        std::vector<CFTPDir*> grown;
        {
            std::shared_lock lock(site.m_treeLock);
            pIndex = pState->m_pIndex;
            for (const auto& [pDir, nEpoch] : pState->m_grown)
            {
                if (nEpoch >= pIndex->Epoch())
                    grown.push_back(pDir);
            }
            pState->m_nSearches.fetch_add(1);
        }
        CSearchingGuard guard(*pState);
        std::unordered_set<const CFTPDir*> grownSet(grown.begin(), grown.end());

        // An index of names read in another character set is used for its
        // folders only.
        const bool bTrigrams = pIndex->HasTrigrams() && pIndex->Codec() == ss.codec;
        CBlockSet blocks(pIndex->BlockCount(), true);
        if (bTrigrams)
            query.Candidates(*pIndex, &blocks);

        CEntryContext ctx;
        ctx.SetSite(&ss.codec, &ss.facts);
        std::vector<CSearchHit> hits;
        uint64_t nRead = 0;
        uint64_t nBlocks = 0;
        const bool bNoSignTest = query.m_bPlainMask && query.m_nPlainMask == 0;
        // pSignatures: the children's signatures, or null to test them all.
        auto visit = [&](CFTPDir* pDir, const uint64_t* pSignatures)
        {
            if (m_request.pScope != nullptr && !IsAtOrBelow(pDir, m_request.pScope))
                return;
            ctx.SetFolder(pDir);
            size_t nChild = 0;
            for (const auto& pSub : pDir->m_dirList)
            {
                if (pSignatures != nullptr && !query.MaySign(pSignatures[nChild++]))
                    continue;
                ++nRead;
                ctx.SetEntry(pSub->m_strName, true, 0, pSub->m_nState != 0, pSub->m_time);
                if (query.Match(ctx))
                    hits.push_back({pSub.get(), &site, 1});
            }
            const auto& files = pDir->m_fileList;
            const bool bReadsAll = pSignatures == nullptr || bNoSignTest;
            for (size_t i = 0; i < files.size(); ++i)
            {
                // Every file is read: each is a heap object of its own, and
                // waiting for memory is most of the cost. Ask ahead.
                if (bReadsAll && i + PREFETCH_AHEAD < files.size())
                    __builtin_prefetch(files[i + PREFETCH_AHEAD].get());
                if (bReadsAll && i + PREFETCH_AHEAD / 2 < files.size())
                    __builtin_prefetch(files[i + PREFETCH_AHEAD / 2]->m_strName.data());
                const auto& pFile = files[i];
                if (pSignatures != nullptr && !query.MaySign(pSignatures[nChild++]))
                    continue;
                ++nRead;
                ctx.SetEntry(pFile->m_strName, false, pFile->m_nSize, pFile->m_nState != 0,
                             pFile->m_time);
                if (query.Match(ctx))
                    hits.push_back({pFile.get(), &site, 0});
            }
        };

        // The blocks the terms leave, in slices.
        size_t nBlock = blocks.Next(0);
        while (nBlock < blocks.Size() && !Stopped())
        {
            std::shared_lock lock(site.m_treeLock);
            auto deadline = std::chrono::steady_clock::now() + SLICE;
            for (int nCheck = 0; nBlock < blocks.Size(); nBlock = blocks.Next(nBlock + 1))
            {
                if (bTrigrams && pIndex->HasSignatures())
                {
                    size_t nCount = 0;
                    const uint64_t* pSignatures = pIndex->BlockSignatures(nBlock, &nCount);
                    if (!AnySigned(pSignatures, nCount, query))
                        continue; // no child of the block as built can match
                }
                ++nBlocks;
                for (size_t f = pIndex->BlockBegin(nBlock); f < pIndex->BlockEnd(nBlock); ++f)
                {
                    if (pIndex->IsRemoved(f))
                        continue;
                    if (bTrigrams && pIndex->HasSignatures() && !AnySigned(*pIndex, f, query))
                        continue; // none of its children as built can match

                    CFTPDir* pDir = pIndex->Folder(f);
                    if (!grownSet.contains(pDir))
                        visit(pDir, bTrigrams ? pIndex->Signatures(f, pDir->m_dirList.size() +
                                                                          pDir->m_fileList.size())
                                              : nullptr);
                }
                if (hits.size() >= m_request.nBatch && !Flush(nSite, hits))
                    break;
                if (++nCheck % 8 == 0 &&
                    (Stopped() || std::chrono::steady_clock::now() >= deadline))
                {
                    nBlock = blocks.Next(nBlock + 1);
                    break;
                }
            }
            Flush(nSite, hits);
        }
        // The folders that grew since the index was built, read whole. One
        // that is no longer listed as grown was removed.
        for (size_t i = 0; i < grown.size() && !Stopped();)
        {
            std::shared_lock lock(site.m_treeLock);
            auto deadline = std::chrono::steady_clock::now() + SLICE;
            for (; i < grown.size(); ++i)
            {
                if (!pState->m_grown.contains(grown[i]))
                    continue;
                visit(grown[i], nullptr);
                if (hits.size() >= m_request.nBatch && !Flush(nSite, hits))
                    break;
                if (std::chrono::steady_clock::now() >= deadline)
                {
                    ++i;
                    break;
                }
            }
            Flush(nSite, hits);
        }
        m_nRead.fetch_add(nRead);
        m_nBlocks.fetch_add(nBlocks);
    }

    // Hands the hits on (or keeps them for their turn); false once the
    // search is over.
    bool Flush(size_t nSite, std::vector<CSearchHit>& hits)
    {
        if (hits.empty())
            return !Stopped();
        std::lock_guard lock(m_sinkLock);
        if (m_request.bOrdered && nSite != m_nHead)
        {
            auto& buffer = m_buffers[nSite];
            buffer.insert(buffer.end(), hits.begin(), hits.end());
        }
        else
            Emit(hits);
        hits.clear();
        return !Stopped();
    }

    // m_sinkLock held.
    void Emit(std::vector<CSearchHit>& hits)
    {
        if (hits.empty() || m_bQuit.load())
            return;
        m_nFound.fetch_add(hits.size());
        if (!m_sink.OnHits(hits))
            m_bQuit = true;
    }

    void Finish(size_t nSite)
    {
        if (!m_request.bOrdered)
            return;
        std::lock_guard lock(m_sinkLock);
        m_done[nSite] = true;
        while (m_nHead < m_done.size() && m_done[m_nHead])
        {
            ++m_nHead;
            if (m_nHead < m_buffers.size())
            {
                Emit(m_buffers[m_nHead]);
                m_buffers[m_nHead] = {};
            }
        }
    }

    const CSearchRequest& m_request;
    ISearchSink& m_sink;
    const std::atomic<bool>& m_stop;
    std::atomic<size_t> m_nNextSite{0};
    std::atomic<bool> m_bQuit{false};
    std::atomic<uint64_t> m_nFound{0};
    std::atomic<uint64_t> m_nRead{0};
    std::atomic<uint64_t> m_nBlocks{0};
    std::mutex m_sinkLock;
    size_t m_nHead = 0;
    std::vector<std::vector<CSearchHit>> m_buffers;
    std::vector<bool> m_done;
};
} // namespace

CSearchSite MakeSearchSite(CFTPSite& site)
{
    CSearchSite ss;
    ss.pSite = &site;
    ss.codec = site.GetCodec();
    ss.facts.strFoldedKey = FoldCase(DecodeAuto(site.GetKey()));
    ss.facts.strFoldedNickname = FoldCase(DecodeAuto(site.m_strNickname));
    return ss;
}

CSearchStats RunNameSearch(const CSearchRequest& request, ISearchSink& sink,
                           const std::atomic<bool>& stop)
{
    CRun run(request, sink, stop);
    std::vector<std::thread> helpers;
    size_t nHelpers = request.nThreads > 1 ? static_cast<size_t>(request.nThreads - 1) : 0;
    nHelpers = std::min(nHelpers, request.sites.size() > 0 ? request.sites.size() - 1 : 0);
    for (size_t i = 0; i < nHelpers; ++i)
        helpers.emplace_back([&run] { run.Worker(); });
    run.Worker();
    for (std::thread& helper : helpers)
        helper.join();
    return run.Stats();
}
