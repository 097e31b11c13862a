#include "search/NameIndex.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "model/FTPSite.h"
#include "search/NameFold.h"

namespace
{
uint32_t Key(unsigned char a, unsigned char b, unsigned char c)
{
    return (uint32_t{a} << 16) | (uint32_t{b} << 8) | uint32_t{c};
}

// What the copy under the tree lock keeps of the folders with children.
struct CSnapshot
{
    std::vector<CFTPDir*> folders;
    std::vector<uint32_t> childCount; // per folder
    std::string names;                // raw names of every child, folder by folder
    std::vector<uint32_t> nameLength; // per child
};

// An array whose elements are written before they are read: no clearing.
template <class T> class CRawArray
{
public:
    T* Get(size_t n)
    {
        if (n > m_nSize)
        {
            m_p.reset(new T[n]);
            m_nSize = n;
        }
        return m_p.get();
    }

private:
    std::unique_ptr<T[]> m_p;
    size_t m_nSize = 0;
};

// What one build thread needs only while it builds, kept for the next build:
// a site after site build then finds its memory mapped already (in a virtual
// machine a page fault costs more than the work done on the page).
struct CBuildScratch
{
    CSnapshot snap;
    std::vector<uint64_t> pairs;
    CRawArray<uint64_t> sorted;
    std::vector<uint32_t> keys;
    std::vector<uint32_t> postingStart;
    std::vector<uint8_t> postings;
    std::vector<uint32_t> blockKeys;
    std::vector<uint32_t> usedSlots;
};

thread_local std::unique_ptr<CBuildScratch> t_pScratch;

// Pre-order over the folders, iteratively (a deep tree must not exhaust the
// stack); a folder's sub-folders' names, then its files' names.
void TakeSnapshot(CFTPDir* pRoot, bool bNames, CSnapshot* pSnap)
{
    struct Frame
    {
        CFTPDir* pDir;
        size_t nNext;
    };
    std::vector<Frame> stack{{pRoot, 0}};
    auto visit = [&](CFTPDir* pDir)
    {
        size_t nChildren = pDir->m_dirList.size() + pDir->m_fileList.size();
        if (nChildren == 0)
            return;
        pSnap->folders.push_back(pDir);
        pSnap->childCount.push_back(static_cast<uint32_t>(nChildren));
        if (!bNames)
            return;
        for (const auto& pSub : pDir->m_dirList)
        {
            pSnap->names += pSub->m_strName;
            pSnap->nameLength.push_back(static_cast<uint32_t>(pSub->m_strName.size()));
        }
        for (const auto& pFile : pDir->m_fileList)
        {
            pSnap->names += pFile->m_strName;
            pSnap->nameLength.push_back(static_cast<uint32_t>(pFile->m_strName.size()));
        }
    };
    visit(pRoot);
    while (!stack.empty())
    {
        Frame& frame = stack.back();
        if (frame.nNext < frame.pDir->m_dirList.size())
        {
            CFTPDir* pSub = frame.pDir->m_dirList[frame.nNext++].get();
            visit(pSub);
            stack.push_back({pSub, 0});
            continue;
        }
        stack.pop_back();
    }
}

// The distinct trigrams of one block: an open-addressing table sized to the
// block's names, so an ordinary block's stays in the first-level cache;
// emptied for the next block by clearing only the slots it used.
class CBlockKeySet
{
public:
    static constexpr uint32_t EMPTY = 0xFFFFFFFF; // keys have 24 bits

    CBlockKeySet(std::vector<uint32_t>& slots, std::vector<uint32_t>& used)
        : m_slots(slots), m_used(used)
    {
    }
    ~CBlockKeySet() { Empty(); }
    CBlockKeySet(const CBlockKeySet&) = delete;
    CBlockKeySet& operator=(const CBlockKeySet&) = delete;

    // A block whose names hold nBytes bytes (no more distinct trigrams).
    void Start(size_t nBytes)
    {
        Empty();
        size_t nSlots = std::bit_ceil(std::max<size_t>(nBytes, 1024));
        if (m_slots.size() < nSlots)
        {
            m_slots.assign(nSlots, EMPTY);
            m_used.resize(nSlots);
        }
        m_nMask = static_cast<uint32_t>(nSlots - 1);
        m_nShift = 32 - std::countr_zero(nSlots);
        m_nLimit = nSlots - nSlots / 8;
    }
    // 1 the first time a key is seen in the block, else 0: an answer to
    // add, not to branch on (it goes either way half the time).
    size_t Insert(uint32_t nKey)
    {
        uint32_t n = (nKey * 0x9E3779B1u) >> m_nShift;
        uint32_t nSlot = m_slots[n];
        while (!((nSlot == nKey) | (nSlot == EMPTY)))
        {
            n = (n + 1) & m_nMask;
            nSlot = m_slots[n];
        }
        size_t nNew = nSlot == EMPTY ? 1 : 0;
        if (m_nUsed >= m_nLimit)
            return nNew; // full: a repeat costs a longer list, not a miss
        m_slots[n] = nKey;
        m_used[m_nUsed] = n;
        m_nUsed += nNew;
        return nNew;
    }

private:
    void Empty()
    {
        for (size_t i = 0; i < m_nUsed; ++i)
            m_slots[m_used[i]] = EMPTY;
        m_nUsed = 0;
    }

    std::vector<uint32_t>& m_slots;
    std::vector<uint32_t>& m_used;
    size_t m_nUsed = 0;
    uint32_t m_nMask = 0;
    int m_nShift = 0;
    size_t m_nLimit = 0;
};

// Sorts (key << 32 | block) pairs by key, keeping the block order of each
// key: once through memory by the key's high byte, then each of those
// buckets, which the cache holds, by the two low bytes. *ppOut: the result,
// in *pPairs or pOther.
void SortByKey(std::vector<uint64_t>* pPairs, uint64_t* pOther, const uint64_t** ppOut)
{
    uint64_t* pIn = pPairs->data();
    const size_t nPairs = pPairs->size();
    auto countingPass =
        [](const uint64_t* pFrom, const uint64_t* pFromEnd, uint64_t* pTo, int nShift)
    {
        size_t counts[256] = {};
        for (const uint64_t* p = pFrom; p != pFromEnd; ++p)
            ++counts[(*p >> nShift) & 0xFF];
        size_t nAt = 0;
        for (size_t& nCount : counts)
        {
            size_t n = nCount;
            nCount = nAt;
            nAt += n;
        }
        for (const uint64_t* p = pFrom; p != pFromEnd; ++p)
            pTo[counts[(*p >> nShift) & 0xFF]++] = *p;
    };
    size_t bucketStart[257] = {};
    for (size_t i = 0; i < nPairs; ++i)
        ++bucketStart[((pIn[i] >> 48) & 0xFF) + 1];
    for (size_t i = 1; i < 257; ++i)
        bucketStart[i] += bucketStart[i - 1];
    {
        size_t next[256];
        std::copy(bucketStart, bucketStart + 256, next);
        for (size_t i = 0; i < nPairs; ++i)
            pOther[next[(pIn[i] >> 48) & 0xFF]++] = pIn[i];
    }
    for (size_t b = 0; b < 256; ++b)
    {
        size_t nBegin = bucketStart[b];
        size_t nEnd = bucketStart[b + 1];
        if (nEnd - nBegin < 2)
            continue;
        countingPass(pOther + nBegin, pOther + nEnd, pIn + nBegin, 32);
        countingPass(pIn + nBegin, pIn + nEnd, pOther + nBegin, 40);
    }
    *ppOut = pOther;
}

void PutVarint(std::vector<uint8_t>& out, uint32_t n)
{
    while (n >= 0x80)
    {
        out.push_back(static_cast<uint8_t>(n | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<uint8_t>(n));
}
} // namespace

void AddTrigrams(std::string_view folded, std::vector<uint32_t>* pKeys)
{
    size_t nFirst = pKeys->size();
    for (size_t i = 0; i + 2 < folded.size(); ++i)
    {
        uint32_t nKey =
            Key(static_cast<unsigned char>(folded[i]), static_cast<unsigned char>(folded[i + 1]),
                static_cast<unsigned char>(folded[i + 2]));
        if (std::find(pKeys->begin() + static_cast<ptrdiff_t>(nFirst), pKeys->end(), nKey) ==
            pKeys->end())
            pKeys->push_back(nKey);
    }
}

uint64_t SignatureOf(std::string_view folded)
{
    uint64_t nMask = 0;
    for (size_t i = 0; i + 2 < folded.size(); ++i)
        nMask |= CNameIndex::SignatureBit(Key(static_cast<unsigned char>(folded[i]),
                                              static_cast<unsigned char>(folded[i + 1]),
                                              static_cast<unsigned char>(folded[i + 2])));
    return nMask;
}

std::shared_ptr<CNameIndex> CNameIndex::Build(CFTPSite& site, bool bTrigrams, uint64_t nEpoch,
                                              const std::atomic<bool>* pStop)
{
    auto pIndex = std::make_shared<CNameIndex>();
    pIndex->m_nEpoch = nEpoch;
    pIndex->m_bTrigrams = bTrigrams;
    pIndex->m_codec = site.GetCodec();
    if (t_pScratch == nullptr)
        t_pScratch = std::make_unique<CBuildScratch>();
    CBuildScratch& scratch = *t_pScratch;
    CSnapshot& snap = scratch.snap;
    snap.folders.clear();
    snap.childCount.clear();
    snap.names.clear();
    snap.nameLength.clear();
    {
        std::shared_lock lock(site.m_treeLock);
        TakeSnapshot(site.m_pRoot.get(), bTrigrams, &snap);
    }
    auto stopped = [pStop] { return pStop != nullptr && pStop->load(std::memory_order_relaxed); };
    if (stopped())
        return nullptr;

    // Blocks: whole folders, about BLOCK_ENTRIES children each.
    pIndex->m_folders = snap.folders;
    size_t nEntries = 0;
    size_t nInBlock = 0;
    for (size_t i = 0; i < pIndex->m_folders.size(); ++i)
    {
        if (nInBlock == 0)
            pIndex->m_blockStart.push_back(static_cast<uint32_t>(i));
        nInBlock += snap.childCount[i];
        nEntries += snap.childCount[i];
        if (nInBlock >= BLOCK_ENTRIES)
            nInBlock = 0;
    }
    pIndex->m_blockStart.push_back(static_cast<uint32_t>(pIndex->m_folders.size()));
    pIndex->m_nEntries = nEntries;
    pIndex->m_removed.assign((pIndex->m_folders.size() + 63) / 64, 0);
    pIndex->m_byAddress.resize(pIndex->m_folders.size());
    for (size_t i = 0; i < pIndex->m_byAddress.size(); ++i)
        pIndex->m_byAddress[i] = static_cast<uint32_t>(i);
    std::sort(pIndex->m_byAddress.begin(), pIndex->m_byAddress.end(),
              [&folders = pIndex->m_folders](uint32_t a, uint32_t b)
              { return std::less<CFTPDir*>()(folders[a], folders[b]); });
    if (!bTrigrams)
        return pIndex;

    // Each block's distinct trigrams as (key, block) pairs, block after
    // block; sorted by key they are each trigram's blocks, ascending.
    CBlockKeySet keySet(scratch.blockKeys, scratch.usedSlots);
    const CNameCodec& codec = pIndex->m_codec;
    std::vector<uint64_t>& pairs = scratch.pairs;
    size_t nPairs = 0;
    pIndex->m_signatures.resize(nEntries);
    pIndex->m_folderFirst.reserve(pIndex->m_folders.size() + 1);
    uint32_t nFirst = 0;
    for (uint32_t nCount : snap.childCount)
    {
        pIndex->m_folderFirst.push_back(nFirst);
        nFirst += nCount;
    }
    pIndex->m_folderFirst.push_back(nFirst);
    std::string strText;
    std::string strFolded;
    size_t nName = 0;
    size_t nOffset = 0;
    const size_t nBlocks = pIndex->BlockCount();
    for (size_t nBlock = 0; nBlock < nBlocks; ++nBlock)
    {
        if ((nBlock & 255) == 0 && stopped())
            return nullptr;
        size_t nChildren = 0;
        for (size_t f = pIndex->m_blockStart[nBlock]; f < pIndex->m_blockStart[nBlock + 1]; ++f)
            nChildren += snap.childCount[f];
        size_t nBytes = 0;
        for (size_t c = 0; c < nChildren; ++c)
            nBytes += snap.nameLength[nName + c];
        // Folding may lengthen a name (a sharp s becomes "ss"), a little.
        keySet.Start(nBytes + nBytes / 2);
        for (size_t c = 0; c < nChildren; ++c, ++nName)
        {
            std::string_view raw(snap.names.data() + nOffset, snap.nameLength[nName]);
            nOffset += snap.nameLength[nName];
            if (raw.size() < 3)
            {
                pIndex->m_signatures[nName] = 0;
                continue;
            }
            std::string_view text = raw;
            if (!codec.IsDecodedAsIs(raw))
            {
                codec.DecodeTo(raw, &strText);
                text = strText;
            }
            FoldCase(text, &strFolded);
            const auto* p = reinterpret_cast<const unsigned char*>(strFolded.data());
            uint64_t nSignature = 0;
            if (strFolded.size() >= 3)
            {
                // Every trigram written, the pair count moved on for new ones.
                if (pairs.size() < nPairs + strFolded.size())
                    pairs.resize(std::max(pairs.size() * 2, nPairs + strFolded.size()));
                uint64_t* pOut = pairs.data() + nPairs;
                for (size_t i = 0; i + 2 < strFolded.size(); ++i)
                {
                    uint32_t nKey = Key(p[i], p[i + 1], p[i + 2]);
                    nSignature |= SignatureBit(nKey);
                    *pOut = (uint64_t{nKey} << 32) | nBlock;
                    pOut += keySet.Insert(nKey);
                }
                nPairs = static_cast<size_t>(pOut - pairs.data());
            }
            pIndex->m_signatures[nName] = nSignature;
        }
    }
    pairs.resize(nPairs);
    const uint64_t* pSorted = nullptr;
    SortByKey(&pairs, scratch.sorted.Get(pairs.size()), &pSorted);

    // Encoded into the scratch, then copied at their size: no slack kept.
    std::vector<uint32_t>& keys = scratch.keys;
    std::vector<uint32_t>& postingStart = scratch.postingStart;
    std::vector<uint8_t>& postings = scratch.postings;
    keys.clear();
    postingStart.clear();
    postings.clear();
    for (size_t i = 0; i < pairs.size();)
    {
        auto nKey = static_cast<uint32_t>(pSorted[i] >> 32);
        keys.push_back(nKey);
        postingStart.push_back(static_cast<uint32_t>(postings.size()));
        uint32_t nPrev = 0;
        for (; i < pairs.size() && static_cast<uint32_t>(pSorted[i] >> 32) == nKey; ++i)
        {
            auto nBlock = static_cast<uint32_t>(pSorted[i]);
            PutVarint(postings, nBlock - nPrev);
            nPrev = nBlock;
        }
    }
    postingStart.push_back(static_cast<uint32_t>(postings.size()));
    pIndex->m_keys.assign(keys.begin(), keys.end());
    pIndex->m_postingStart.assign(postingStart.begin(), postingStart.end());
    pIndex->m_postings.assign(postings.begin(), postings.end());
    if (stopped())
        return nullptr;
    return pIndex;
}

void ReleaseIndexScratch()
{
    t_pScratch.reset();
}

void CNameIndex::MarkRemoved(const CFTPDir* pDir)
{
    auto it = std::lower_bound(m_byAddress.begin(), m_byAddress.end(), pDir,
                               [this](uint32_t n, const CFTPDir* p)
                               { return std::less<const CFTPDir*>()(m_folders[n], p); });
    if (it != m_byAddress.end() && m_folders[*it] == pDir)
        m_removed[*it / 64] |= uint64_t{1} << (*it % 64);
}

void CNameIndex::BlocksWithAll(const std::vector<uint32_t>& keys, CBlockSet* pBlocks) const
{
    *pBlocks = CBlockSet(BlockCount(), false);
    if (keys.empty())
    {
        pBlocks->Fill();
        return;
    }
    // The rarest trigram first: its list is the shortest to check the
    // others against.
    std::vector<std::pair<uint32_t, size_t>> lists; // (bytes, key number)
    for (uint32_t nKey : keys)
    {
        auto it = std::lower_bound(m_keys.begin(), m_keys.end(), nKey);
        if (it == m_keys.end() || *it != nKey)
            return; // no block has it
        size_t k = static_cast<size_t>(it - m_keys.begin());
        lists.emplace_back(m_postingStart[k + 1] - m_postingStart[k], k);
    }
    std::sort(lists.begin(), lists.end());
    auto decode = [this](size_t k, auto&& fn)
    {
        const uint8_t* p = m_postings.data() + m_postingStart[k];
        const uint8_t* pEnd = m_postings.data() + m_postingStart[k + 1];
        uint32_t nBlock = 0;
        while (p < pEnd)
        {
            uint32_t nDelta = 0;
            int nShift = 0;
            while (*p & 0x80)
            {
                nDelta |= uint32_t{*p++ & 0x7fu} << nShift;
                nShift += 7;
            }
            nDelta |= uint32_t{*p++} << nShift;
            nBlock += nDelta;
            fn(nBlock);
        }
    };
    std::vector<uint32_t> hits;
    decode(lists[0].second, [&](uint32_t n) { hits.push_back(n); });
    CBlockSet other(BlockCount(), false);
    for (size_t i = 1; i < lists.size() && !hits.empty(); ++i)
    {
        // Few blocks left: their signatures rule out the rest more cheaply
        // than reading another long list.
        if (hits.size() * 32 < lists[i].first)
            break;
        other.Clear();
        decode(lists[i].second, [&](uint32_t n) { other.Add(n); });
        std::erase_if(hits, [&](uint32_t n) { return !other.Has(n); });
    }
    for (uint32_t n : hits)
        pBlocks->Add(n);
}

size_t CNameIndex::MemoryBytes() const
{
    return m_folders.capacity() * sizeof(CFTPDir*) + m_blockStart.capacity() * 4 +
           m_byAddress.capacity() * 4 + m_removed.capacity() * 8 + m_keys.capacity() * 4 +
           m_postingStart.capacity() * 4 + m_postings.capacity() + m_signatures.capacity() * 8 +
           m_folderFirst.capacity() * 4;
}
