#pragma once
// Writes what one update changes in a site's tree to the site's change log
// (model/ChangeLog.h). The crawler notes each change while it merges a
// folder under the tree lock (no I/O there: copies of names and sizes only)
// and flushes the folder's lines once it has let go of the lock, before it
// hands the removed entries over.
//
// Threads: the site's worker, like the crawler.

#include <memory>
#include <string>
#include <vector>

#include "model/ChangeLog.h"
#include "model/NameCodec.h"
#include "model/SiteStats.h"

class CFTPDir;
class CFTPSite;
class CObject;

class CChangeRecorder
{
public:
    // strRun: the update's "run". bFirst: the update began with an empty
    // cache; its additions are summed up by one "first" line
    // (WriteFirstSummary) instead of a line each.
    CChangeRecorder(const CFTPSite& site, std::string strRun, bool bFirst);
    ~CChangeRecorder();
    CChangeRecorder(const CChangeRecorder&) = delete;
    CChangeRecorder& operator=(const CChangeRecorder&) = delete;

    // While the folder's merge holds the tree lock.
    void BeginFolder(const CFTPDir& dir);
    void NoteAdded(const std::string& strName, bool bFolder, uint64_t nSize);
    void NoteResized(const std::string& strName, uint64_t nOldSize, uint64_t nSize);
    // pEntry has been unlinked and is still the crawler's (read at Flush).
    void NoteRemoved(const CObject* pEntry, int nType);

    // After the merge: the folder's lines go to the log.
    void Flush();
    // The "first" line, with what the tree holds now (nothing for an empty
    // tree: the next update is a first one again).
    void WriteFirstSummary(const CTreeTotals& totals);

    // The first failure to write, "" when none. After one the rest of the
    // update's lines are dropped; the crawl itself goes on.
    const std::string& GetError() const { return m_strError; }

private:
    struct CPending
    {
        ChangeKind nKind;
        std::string strPathBytes;
        bool bFolder;
        uint64_t nSize;
        uint64_t nOldSize;
        const CObject* pEntry; // a removed folder, for what it held
    };

    std::string PathOf(const std::string& strName) const;
    void FillPath(const std::string& strBytes, CChangeRecord* pRecord) const;
    void Write(const std::string& strLines);

    CNameCodec m_codec;
    std::string m_strRun;
    bool m_bFirst;
    std::string m_strProgramFolder;
    std::string m_strKey;
    std::string m_strFolderPath; // bytes, "/" for the root
    std::vector<CPending> m_pending;
    std::unique_ptr<CChangeLogWriter> m_pWriter;
    std::string m_strError;
};
