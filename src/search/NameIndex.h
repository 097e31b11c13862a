#pragma once
// The name index of one site: which blocks of the site's folders hold names
// with which trigrams, so that a search reads only the folders that may
// hold a match instead of every name.
//
// A block is a run of folders in pre-order (about BLOCK_ENTRIES children
// together); the index keeps, per trigram of the case-folded names, the
// blocks whose children have it (delta-coded block numbers). A scan reads a
// block's folders' children from the live tree, so entries removed since
// the build are simply not there; folders removed since the build are
// marked (MarkRemoved) and never read; folders that gained children are the
// site index's business (SiteIndex.h).
//
// Threads: built on any thread (Build takes the site's tree lock, shared,
// only while it copies the names). Afterwards the trigram tables never
// change; the removed marks change under the site's exclusive tree lock and
// are read under the shared one, as are the folders they guard.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "model/NameCodec.h"
#include "search/BlockSet.h"

class CFTPDir;
class CFTPSite;

// Leaves what resize adds unset, for arrays whose every element is written
// at once (zeroing a large one first is a pass of its own).
template <class T> struct CUnsetAllocator : std::allocator<T>
{
    CUnsetAllocator() = default;
    template <class U> CUnsetAllocator(const CUnsetAllocator<U>&) noexcept {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
};

class CNameIndex
{
public:
    // Children per block, about: fewer blocks cost less memory, smaller
    // ones less reading per candidate.
    static constexpr size_t BLOCK_ENTRIES = 256;

    // Builds from the site's loaded tree. bTrigrams false: the folders and
    // blocks only (every block a candidate), which is quick. Null when
    // *pStop was raised meanwhile. nEpoch: the site index's count of builds.
    [[nodiscard]] static std::shared_ptr<CNameIndex>
    Build(CFTPSite& site, bool bTrigrams, uint64_t nEpoch, const std::atomic<bool>* pStop);

    uint64_t Epoch() const { return m_nEpoch; }
    // The character set the names were read in: an index read another way
    // than the site reads its names now tells nothing about them.
    const CNameCodec& Codec() const { return m_codec; }
    bool HasTrigrams() const { return m_bTrigrams; }
    size_t BlockCount() const { return m_blockStart.empty() ? 0 : m_blockStart.size() - 1; }
    size_t FolderCount() const { return m_folders.size(); }
    size_t BlockBegin(size_t nBlock) const { return m_blockStart[nBlock]; }
    size_t BlockEnd(size_t nBlock) const { return m_blockStart[nBlock + 1]; }
    // Tree lock held; the folder must not be marked removed to be read.
    CFTPDir* Folder(size_t n) const { return m_folders[n]; }
    bool IsRemoved(size_t n) const { return (m_removed[n / 64] >> (n % 64)) & 1; }
    // The folder (by address) is gone; its address is only compared.
    // Exclusive tree lock held.
    void MarkRemoved(const CFTPDir* pDir);

    // *pBlocks = the blocks whose names hold every one of the trigrams.
    void BlocksWithAll(const std::vector<uint32_t>& keys, CBlockSet* pBlocks) const;
    // *pBlocks = the blocks with a name whose folded text holds the bytes a
    // then b; false, *pBlocks untouched, when that is most blocks anyway.
    bool BlocksWithPair(unsigned char a, unsigned char b, CBlockSet* pBlocks) const;

    // Each child's signature: one bit per trigram of its folded name (64
    // bits, hashed), in the order the folder listed its sub-folders, then
    // its files when the index was built. A child whose signature lacks a
    // bit of a word's trigrams cannot hold the word. Null when the folder's
    // children are no longer exactly those (it grew or lost some since).
    const uint64_t* Signatures(size_t nFolder, size_t nLiveChildren) const
    {
        if (m_signatures.empty() ||
            m_folderFirst[nFolder + 1] - m_folderFirst[nFolder] != nLiveChildren)
            return nullptr;
        return m_signatures.data() + m_folderFirst[nFolder];
    }
    // Whether the index kept signatures, and those of folder nFolder as
    // built (no tree needed: to skip a folder whose children all fail).
    bool HasSignatures() const { return !m_signatures.empty(); }
    const uint64_t* BuiltSignatures(size_t nFolder, size_t* pnCount) const
    {
        *pnCount = m_folderFirst[nFolder + 1] - m_folderFirst[nFolder];
        return m_signatures.data() + m_folderFirst[nFolder];
    }
    // The signatures of a block's children, as built: its folders' in turn.
    const uint64_t* BlockSignatures(size_t nBlock, size_t* pnCount) const
    {
        size_t nFirst = m_folderFirst[m_blockStart[nBlock]];
        *pnCount = m_folderFirst[m_blockStart[nBlock + 1]] - nFirst;
        return m_signatures.data() + nFirst;
    }
    static uint64_t SignatureBit(uint32_t nKey)
    {
        return uint64_t{1} << ((uint64_t{nKey} * 0x9E3779B97F4A7C15ull) >> 58);
    }

    // Heap bytes the index holds.
    size_t MemoryBytes() const;
    size_t EntryCount() const { return m_nEntries; }

private:
    uint64_t m_nEpoch = 0;
    bool m_bTrigrams = false;
    CNameCodec m_codec;
    size_t m_nEntries = 0;
    std::vector<CFTPDir*> m_folders;      // with children, pre-order
    std::vector<uint32_t> m_blockStart;   // first folder of each block, then the end
    std::vector<uint32_t> m_byAddress;    // folder numbers ordered by address
    std::vector<uint64_t> m_removed;      // one bit per folder
    std::vector<uint32_t> m_keys;         // trigrams present, ascending
    std::vector<uint32_t> m_postingStart; // per key, then the end
    std::vector<uint8_t> m_postings;      // block numbers, delta varints
    std::vector<uint64_t, CUnsetAllocator<uint64_t>> m_signatures; // per child, folder by folder
    std::vector<uint32_t> m_folderFirst;  // per folder its first signature, then the end
};

// A build keeps its working memory for the thread's next build; this gives
// it back (a builder with nothing more to do).
void ReleaseIndexScratch();

// The signature mask of a word: the bits of its trigrams (case-folded).
uint64_t SignatureOf(std::string_view folded);

// The trigrams of case-folded text, each once, into *pKeys (appended).
void AddTrigrams(std::string_view folded, std::vector<uint32_t>* pKeys);
