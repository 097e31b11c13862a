#pragma once
// Whether an entry lies inside a folder: what lets the document and the
// window drop every listing row, result, history state and tree item that a
// removed folder takes along.
//
// Parent links of linked entries never change, and those of an unlinked
// subtree stay intact until it is freed, so these tests need no tree lock.
// Every entry passed in must still be allocated.
//
// Thread: the GUI thread (or tarn-cli's main thread).

#include <unordered_set>

class CObject;
class CFTPDir;
class CFTPFile;

// pDir is pAncestor or lies below it.
bool IsWithin(const CFTPDir* pDir, const CFTPDir* pAncestor);
// pFile lies below pAncestor (in it or in one of its sub-folders).
bool IsWithin(const CFTPFile* pFile, const CFTPDir* pAncestor);

// A set of removed subtrees (folders with everything below them, and single
// files), asked about many entries. Each question walks the entry's
// ancestors once against a hash set, so n questions against m removals cost
// n times the depth, never n times m.
class CSubtreeSet
{
public:
    // A CFTPDir (with its subtree) or a CFTPFile; null is ignored.
    void Add(const CObject* pEntry);
    void Add(const CFTPDir* pDir);
    void Add(const CFTPFile* pFile);
    bool IsEmpty() const { return m_dirs.empty() && m_files.empty(); }

    // The entry is one of the removed ones or lies inside one. Null: false.
    bool Covers(const CFTPDir* pDir) const;
    bool Covers(const CFTPFile* pFile) const;

private:
    std::unordered_set<const CFTPDir*> m_dirs;
    std::unordered_set<const CFTPFile*> m_files;
    // Listings hold runs of files of one folder: the last folder's answer is
    // kept for the next file.
    mutable const CFTPDir* m_pLastParent = nullptr;
    mutable bool m_bLastParentCovered = false;
};
