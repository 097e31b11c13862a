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
    std::vector<uint64_t> blockKeys;
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

unsigned char LowerAscii(unsigned char c)
{
    return static_cast<unsigned char>(static_cast<unsigned>(c - 'A') < 26u ? c + ('a' - 'A') : c);
}

unsigned char AsIs(unsigned char c)
{
    return c;
}

// The distinct trigrams of one block: one bit for every possible trigram
// (2 MB). A block's names share their letters, so it touches a few hundred
// cache lines of it; no hashing, no probing, and the answer is arithmetic,
// not a branch. Emptied for the next block by clearing only what it set.
class CBlockKeySet
{
public:
    CBlockKeySet(std::vector<uint64_t>& bits, std::vector<uint32_t>& used)
        : m_bits(bits), m_used(used)
    {
        if (m_bits.size() != (size_t{1} << 24) / 64)
            m_bits.assign((size_t{1} << 24) / 64, 0);
    }
    ~CBlockKeySet() { Empty(); }
    CBlockKeySet(const CBlockKeySet&) = delete;
    CBlockKeySet& operator=(const CBlockKeySet&) = delete;

    // The block's trigrams are counted (by their high byte) and forgotten.
    void NextBlock() { Empty(); }
    // Per high byte of the key, the distinct trigrams of the blocks so far.
    const size_t (&HighByteCounts() const)[256] { return m_highCounts; }
    // The trigrams of n bytes (folded by fold) as (key << 32 | block) pairs
    // at pOut, those seen before in the block written over; returns the
    // end. Adds their signature bits to *pnSignature.
    template <class Fold>
    uint64_t* Add(const unsigned char* p, size_t n, Fold fold, size_t nBlock, uint64_t* pOut,
                  uint64_t* pnSignature)
    {
        Reserve(n);
        // Locals: the compiler cannot tell the pairs' stores from members.
        uint64_t* pBits = m_pBits;
        uint32_t* pUsed = m_pUsed + m_nUsed;
        uint64_t nSignature = *pnSignature;
        uint32_t nKey = (uint32_t{fold(p[0])} << 8) | fold(p[1]);
        for (size_t i = 2; i < n; ++i)
        {
            nKey = ((nKey << 8) | fold(p[i])) & 0xFFFFFF;
            nSignature |= CNameIndex::SignatureBit(nKey);
            uint64_t& nWord = pBits[nKey >> 6];
            uint64_t nBit = uint64_t{1} << (nKey & 63);
            size_t nNew = (nWord & nBit) == 0 ? 1 : 0;
            nWord |= nBit;
            *pOut = (uint64_t{nKey} << 32) | nBlock;
            pOut += nNew;
            *pUsed = nKey;
            pUsed += nNew;
        }
        m_nUsed = static_cast<size_t>(pUsed - m_pUsed);
        *pnSignature = nSignature;
        return pOut;
    }

private:
    // Room for nKeys more inserts.
    void Reserve(size_t nKeys)
    {
        if (m_used.size() < m_nUsed + nKeys)
            m_used.resize(std::max(m_used.size() * 2, m_nUsed + nKeys));
        m_pBits = m_bits.data();
        m_pUsed = m_used.data();
    }
    void Empty()
    {
        for (size_t i = 0; i < m_nUsed; ++i)
        {
            ++m_highCounts[m_used[i] >> 16];
            m_bits[m_used[i] >> 6] = 0;
        }
        m_nUsed = 0;
    }

    std::vector<uint64_t>& m_bits;
    std::vector<uint32_t>& m_used;
    uint64_t* m_pBits = nullptr;
    uint32_t* m_pUsed = nullptr;
    size_t m_nUsed = 0;
    size_t m_highCounts[256] = {};
};

// Sorts (key << 32 | block) pairs by key, keeping the block order of each
// key, and hands fn each run of pairs whose keys share their high byte, in
// key order, while the cache still holds the run: once through memory by
// the high byte (counts: how many pairs have each), then each run by the two
// low bytes. pOther: room for as many pairs; pIn's order is lost.
template <class Fn>
void SortByKey(uint64_t* pIn, size_t nPairs, const size_t (&counts)[256], uint64_t* pOther, Fn fn)
{
    auto countingPass =
        [](const uint64_t* pFrom, const uint64_t* pFromEnd, uint64_t* pTo, int nShift)
    {
        size_t digits[256] = {};
        for (const uint64_t* p = pFrom; p != pFromEnd; ++p)
            ++digits[(*p >> nShift) & 0xFF];
        size_t nAt = 0;
        for (size_t& nCount : digits)
        {
            size_t n = nCount;
            nCount = nAt;
            nAt += n;
        }
        for (const uint64_t* p = pFrom; p != pFromEnd; ++p)
            pTo[digits[(*p >> nShift) & 0xFF]++] = *p;
    };
    size_t bucketStart[257] = {};
    for (size_t b = 0; b < 256; ++b)
        bucketStart[b + 1] = bucketStart[b] + counts[b];
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
        if (nEnd - nBegin >= 2)
        {
            countingPass(pOther + nBegin, pOther + nEnd, pIn + nBegin, 32);
            countingPass(pIn + nBegin, pIn + nEnd, pOther + nBegin, 40);
        }
        if (nEnd > nBegin)
            fn(pOther + nBegin, nEnd - nBegin);
    }
}

// Each block number of a posting list (delta varints), ascending.
template <class Fn> void ForEachBlock(const uint8_t* p, const uint8_t* pEnd, Fn fn)
{
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
        const bool bBlockAscii = IsAscii(std::string_view(snap.names.data() + nOffset, nBytes));
        keySet.NextBlock();
        for (size_t c = 0; c < nChildren; ++c, ++nName)
        {
            std::string_view raw(snap.names.data() + nOffset, snap.nameLength[nName]);
            nOffset += snap.nameLength[nName];
            // ASCII reads as itself in every character set: folded here, on
            // the way, instead of decoded and folded into a copy. Other
            // names are measured folded: two GBK bytes are three of UTF-8.
            std::string_view folded = raw;
            bool bAscii = bBlockAscii || IsAscii(raw);
            if (!bAscii)
            {
                std::string_view text = raw;
                if (!codec.IsDecodedAsIs(raw))
                {
                    codec.DecodeTo(raw, &strText);
                    text = strText;
                }
                FoldCase(text, &strFolded);
                folded = strFolded;
            }
            uint64_t nSignature = 0;
            if (folded.size() == 2)
            {
                // Its two bytes and a zero: what a two-byte word looks for.
                if (pairs.size() < nPairs + 1)
                    pairs.resize(std::max(pairs.size() * 2, nPairs + 1));
                auto fold = bAscii ? LowerAscii : AsIs;
                const unsigned char padded[3] = {fold(static_cast<unsigned char>(folded[0])),
                                                 fold(static_cast<unsigned char>(folded[1])), 0};
                uint64_t nNoBits = 0; // too short for a signature
                nPairs = static_cast<size_t>(
                    keySet.Add(padded, 3, AsIs, nBlock, pairs.data() + nPairs, &nNoBits) -
                    pairs.data());
            }
            else if (folded.size() >= 3)
            {
                if (pairs.size() < nPairs + folded.size())
                    pairs.resize(std::max(pairs.size() * 2, nPairs + folded.size()));
                const auto* p = reinterpret_cast<const unsigned char*>(folded.data());
                uint64_t* pOut = pairs.data() + nPairs;
                if (bAscii)
                    pOut = keySet.Add(p, folded.size(), LowerAscii, nBlock, pOut, &nSignature);
                else
                    pOut = keySet.Add(p, folded.size(), AsIs, nBlock, pOut, &nSignature);
                nPairs = static_cast<size_t>(pOut - pairs.data());
            }
            pIndex->m_signatures[nName] = nSignature;
        }
    }
    keySet.NextBlock(); // its trigrams counted too

    // Encoded into the scratch, then copied at their size: no slack kept.
    std::vector<uint32_t>& keys = scratch.keys;
    std::vector<uint32_t>& postingStart = scratch.postingStart;
    std::vector<uint8_t>& postings = scratch.postings;
    keys.clear();
    postingStart.clear();
    postings.clear();
    auto encode = [&](const uint64_t* pSorted, size_t n)
    {
        for (size_t i = 0; i < n;)
        {
            auto nKey = static_cast<uint32_t>(pSorted[i] >> 32);
            keys.push_back(nKey);
            postingStart.push_back(static_cast<uint32_t>(postings.size()));
            uint32_t nPrev = 0;
            for (; i < n && static_cast<uint32_t>(pSorted[i] >> 32) == nKey; ++i)
            {
                auto nBlock = static_cast<uint32_t>(pSorted[i]);
                PutVarint(postings, nBlock - nPrev);
                nPrev = nBlock;
            }
        }
    };
    SortByKey(pairs.data(), nPairs, keySet.HighByteCounts(), scratch.sorted.Get(nPairs), encode);
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
        ForEachBlock(m_postings.data() + m_postingStart[k],
                     m_postings.data() + m_postingStart[k + 1], fn);
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

bool CNameIndex::BlocksWithPair(unsigned char a, unsigned char b, CBlockSet* pBlocks) const
{
    // Every name holding the two bytes has a trigram that starts or ends
    // with them, or is them alone (kept as the pair and a zero).
    const uint32_t nPair = (uint32_t{a} << 8) | b;
    auto first = std::lower_bound(m_keys.begin(), m_keys.end(), nPair << 8);
    auto last = std::lower_bound(first, m_keys.end(), (nPair + 1) << 8);
    std::vector<size_t> lists;
    for (auto it = first; it != last; ++it)
        lists.push_back(static_cast<size_t>(it - m_keys.begin()));
    for (size_t k = 0; k < m_keys.size(); ++k)
    {
        if ((m_keys[k] & 0xFFFF) == nPair && (m_keys[k] >> 8) != nPair)
            lists.push_back(k);
    }
    // Lists this long say "most blocks": reading them would cost more than
    // the blocks they could rule out.
    size_t nBytes = 0;
    for (size_t k : lists)
        nBytes += m_postingStart[k + 1] - m_postingStart[k];
    if (nBytes > m_postings.size() / 4)
        return false;
    *pBlocks = CBlockSet(BlockCount(), false);
    for (size_t k : lists)
        ForEachBlock(m_postings.data() + m_postingStart[k],
                     m_postings.data() + m_postingStart[k + 1],
                     [pBlocks](uint32_t nBlock) { pBlocks->Add(nBlock); });
    return true;
}
