#pragma once
// How the update engine reports to the window (or to a headless host).
//
// Workers and the crawler call it from their own threads; an implementation
// hands each call over to its own thread (the GUI queues it). The engine
// never touches a view directly.

#include <memory>
#include <vector>

#include "model/Archive.h"

class CFTPSite;

class IUpdateObserver
{
public:
    enum EntryType
    {
        entryFile = 0,
        entryFolder = 1,
    };

    virtual ~IUpdateObserver() = default;

    // A site's status text or value changed; posted, the caller goes on.
    virtual void PostSiteUpdated(CFTPSite* pSite) = 0;
    // The same, but the caller waits until the notice has been handled.
    virtual void SendSiteUpdated(CFTPSite* pSite) = 0;
    // pEntry (a CFTPFile or CFTPDir) was unlinked from its site's tree. It
    // stays valid until the observer disposes of it (below), so the handler
    // may still compare pointers into its subtree.
    virtual void PostEntryRemoved(CObject* pEntry, int nType) = 0;
    // Ownership of the entries announced by PostEntryRemoved for one folder
    // merge. A GUI frees them on its own thread once it has handled the
    // notices (nothing it shows may point into them then); a host that shows
    // nothing calls FreeRemovedEntries.
    virtual void DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries) = 0;
};

// Frees removed entries at once, at the end of their folder's merge: for
// hosts that keep no pointers into a tree.
void FreeRemovedEntries(std::vector<std::unique_ptr<CObject>> entries);

// The process-wide observer, like the application's main window: set before
// updates start, cleared after the engine has ended. May be null.
IUpdateObserver* GetUpdateObserver();
void SetUpdateObserver(IUpdateObserver* pObserver);
