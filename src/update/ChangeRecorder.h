#pragma once
// Notes what one update changes in a site's tree, for the site's change log
// (model/ChangeLog.h). The crawler notes each change while it merges a
// folder under the tree lock (copies of names and sizes only); when the
// folder's merge ends, still under the lock, its lines join the site's
// unsaved changes, which go to disk with the next save of the pair that
// holds them.
//
// Threads: the site's worker, like the crawler.

#include <string>
#include <vector>

#include "model/ChangeLog.h"
#include "model/ModTime.h"
#include "model/NameCodec.h"
#include "model/SiteStats.h"

class CFTPDir;
class CFTPSite;
class CObject;

class CChangeRecorder
{
public:
    // strRun: the update's "run". bFirst: the update began with an empty
    // cache; its additions are summed up in a "first" line instead of a
    // line each.
    CChangeRecorder(CFTPSite& site, std::string strRun, bool bFirst);
    CChangeRecorder(const CChangeRecorder&) = delete;
    CChangeRecorder& operator=(const CChangeRecorder&) = delete;

    // While the folder's merge holds the tree lock (exclusive).
    void BeginFolder(const CFTPDir& dir);
    void NoteAdded(const std::string& strName, bool bFolder, uint64_t nSize,
                   CModTime time = {});
    // A file of the same size whose time moved; noted only where the site
    // asks for it (log_modified: some servers touch files on every listing).
    void NoteModified(const std::string& strName, uint64_t nSize, CModTime oldTime,
                      CModTime time);
    void NoteResized(const std::string& strName, uint64_t nOldSize, uint64_t nSize);
    // pEntry has been unlinked and is still the crawler's.
    void NoteRemoved(const CObject* pEntry, int nType);
    // The folder's lines go to the site's unsaved changes; before the tree
    // lock is let go, so that no save takes the tree without them.
    void EndFolder();

private:
    struct CPending
    {
        ChangeKind nKind;
        std::string strPathBytes;
        bool bFolder;
        uint64_t nSize;
        uint64_t nOldSize;
        const CObject* pEntry; // a removed folder, for what it held
        CModTime time;
        CModTime oldTime;
    };

    std::string PathOf(const std::string& strName) const;
    void FillPath(const std::string& strBytes, CChangeRecord* pRecord) const;

    CUnsavedChanges& m_unsaved;
    CNameCodec m_codec;
    std::string m_strRun;
    bool m_bFirst;
    bool m_bLogModified;
    std::string m_strFolderPath; // bytes, "/" for the root
    std::vector<CPending> m_pending;
    CTreeTotals m_first; // the folder's additions in a first update
};

// BeginFolder when made, EndFolder when it goes. Declared after the merge's
// tree lock, it ends before the lock is let go. Nothing without a recorder.
class CChangeFolderScope
{
public:
    CChangeFolderScope(CChangeRecorder* pChanges, const CFTPDir& dir) : m_pChanges(pChanges)
    {
        if (m_pChanges != nullptr)
            m_pChanges->BeginFolder(dir);
    }
    ~CChangeFolderScope()
    {
        if (m_pChanges != nullptr)
            m_pChanges->EndFolder();
    }
    CChangeFolderScope(const CChangeFolderScope&) = delete;
    CChangeFolderScope& operator=(const CChangeFolderScope&) = delete;

private:
    CChangeRecorder* m_pChanges;
};
