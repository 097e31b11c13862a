#pragma once
// Told of every change of a site tree's shape, so that something kept beside
// the tree (the name index of search) stays true to it without walking it
// again.
//
// Threads: called by whoever changes the tree (the site's update worker),
// while it holds the site's exclusive tree lock, so the listener's own state
// may be guarded by that lock too. A listener must not take the tree lock,
// block, or keep a removed entry's address for anything but comparison.

#include "model/Archive.h"

class CFTPDir;

class ITreeListener
{
public:
    virtual ~ITreeListener() = default;

    // New entries were appended to dir's file or folder list.
    virtual void OnChildrenAdded(CFTPDir& dir) = 0;
    // pEntry (nType 0 a CFTPFile, 1 a CFTPDir) was unlinked from its parent.
    // Its subtree is still whole during the call; it is freed later.
    virtual void OnEntryRemoved(CObject* pEntry, int nType) = 0;
};
