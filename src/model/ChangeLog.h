#pragma once
// A site's change log, Data/<site folder>/changes.log: what each update found
// added, removed or resized, one JSON object per line, oldest first:
//
//   {"time":"2024-05-01T12:00:03Z","run":"2024-05-01T12:00:00.125Z","kind":"added",
//    "path":"/pub/a.txt","folder":false,"size":1536}
//   {"time":...,"kind":"removed","path":"/pub/old","folder":true,"old_size":0,
//    "folders":2,"files":9,"bytes":40960}
//   {"time":...,"kind":"resized","path":"/pub/b.txt","folder":false,"size":9,"old_size":7}
//   {"time":...,"kind":"modified","path":"/pub/c.txt","folder":false,"size":9,
//    "mtime":"2024-05-01T10:00:00Z","old_mtime":"2024-04-01T10:00:00Z"}
//   {"time":...,"kind":"first","path":"/","folder":true,"folders":12,"files":340,"bytes":123456}
//
// An added entry whose listing gave a time carries it as "mtime"; a
// "modified" line (only for sites that ask for them: log_modified) is a
// file of the same size whose time moved. Both are ISO 8601 as exports
// write them (ModTime.h: without "Z" where the server's zone is unknown).
// "time" is when the line's folder was merged (for "first", when its save
// began) and "run" when its update began (ISO 8601, UTC; IsoTime.h): the
// lines of one update, its automatic continuations included, share "run".
// "path" runs from the site's root and is text (decoded with the site's
// character set); where the server's bytes are not UTF-8, "raw" holds them
// percent-encoded ("/" and A-Z a-z 0-9 - . _ ~ as they are). A removed folder
// is one line, with what it held; the first update of a site with an empty
// cache sums up what it added in a "first" line instead of a line per entry
// (one per save: an update continued after a lost connection saves more than
// once, and readers add up the "first" lines of one run).
//
// The log says what the saved cache holds, never more, never twice. Lines
// wait in memory with the tree they describe (CUnsavedChanges) and go to
// disk with the pair that holds their changes: SaveTree writes them as a
// batch, changes.pending, replaced together with content.ct and state.st
// under one record, and then joins the batch to the log:
//
//   {"log_size":40960}        <- the log's length when the batch was made
//   {"time":...,"kind":"added",...}
//
// Joining cuts the log back to log_size (what a crashed join appended) and
// appends the lines, synced, then removes the batch; the next load or save
// of the folder finishes a join a crash or a full disk interrupted. Readers
// show a batch that has not joined yet after the log's first log_size bytes.
// A batch that the disk refuses is left out of the save (the pair comes
// first) and its lines wait for the next one. Past CHANGE_LOG_LIMIT bytes the
// oldest half of the log is dropped (an atomic rewrite).
//
// Threads: a site's saves are one at a time; other processes take part
// through CChangeLogLock. Readers take it shared, so a log and its batch
// read as one.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint64_t CHANGE_LOG_LIMIT = uint64_t{16} << 20;

enum class ChangeKind
{
    added,
    removed,
    resized,
    first,
    modified,
};

const char* FormatChangeKind(ChangeKind nKind);
[[nodiscard]] bool ParseChangeKind(std::string_view str, ChangeKind* pKind);

struct CChangeRecord
{
    std::string strTime; // ISO 8601 UTC
    std::string strRun;  // the update's start, ISO 8601 UTC with milliseconds
    ChangeKind nKind = ChangeKind::added;
    std::string strPath; // text, "/" + names from the root
    std::string strRaw;  // the path's bytes encoded, when they are not UTF-8
    bool bFolder = false;
    uint64_t nSize = 0;    // added, resized: the size now
    uint64_t nOldSize = 0; // removed, resized: the size before
    // first: what the update found; a removed folder: what it held.
    uint64_t nFolders = 0;
    uint64_t nFiles = 0;
    uint64_t nBytes = 0;
    // added, modified: the listed time (FormatModTimeIso), "" for none;
    // modified: the time before.
    std::string strMtime;
    std::string strOldMtime;

    // The server's bytes of the path (raw decoded, else the text itself).
    std::string GetPathBytes() const;
};

class CJsonLine;
// The record's keys, as a line of the log holds them, added to line.
void AddChangeFields(CJsonLine& line, const CChangeRecord& record);
// One line, "\n" included.
std::string FormatChangeLine(const CChangeRecord& record);
// False for a line that is not a change (damaged, cut short, unknown kind).
[[nodiscard]] bool ParseChangeLine(std::string_view strLine, CChangeRecord* pRecord);

// "raw": every byte but A-Z a-z 0-9 - . _ ~ and "/" as %XX, and back.
std::string EncodeRawPath(std::string_view bytes);
[[nodiscard]] bool DecodeRawPath(std::string_view strRaw, std::string* pBytes);

// <program folder>/Data/<site folder>/changes.log
std::string GetChangeLogPath(const std::string& strProgramFolder, const std::string& strKey);

// Change lines of a site's tree in memory that no saved pair holds yet. The
// crawler adds them while it holds the site's tree lock (exclusive); SaveTree
// takes them together with the tree it serialises, under the same lock, and
// drops them once the pair holding their changes is sure to land.
//
// Threads: any; its own mutex keeps it whole.
class CUnsavedChanges
{
public:
    // A first update's additions, summed up per run.
    struct CFirstCount
    {
        std::string strRun;
        uint64_t nFolders = 0;
        uint64_t nFiles = 0;
        uint64_t nBytes = 0;
    };
    // What one save takes: its lines, and what Drop forgets.
    struct CTaken
    {
        std::string strLines; // "first" lines, then the others
        size_t nLineBytes = 0;
        std::vector<CFirstCount> firsts;
        bool IsEmpty() const { return strLines.empty(); }
    };

    // Whole lines, each ended by "\n".
    void AddLines(std::string_view strLines);
    // Entries a first update (strRun) added.
    void CountFirst(const std::string& strRun, uint64_t nFolders, uint64_t nFiles, uint64_t nBytes);
    bool IsEmpty() const;
    // Everything waiting, the "first" lines dated strTime.
    CTaken Take(const std::string& strTime) const;
    // Forgets what taken holds; what was added since stays.
    void Drop(const CTaken& taken);

    // Why the last save could not write its lines, or join them to the log
    // ("" when it could); cleared by taking it.
    void SetError(const std::string& strError);
    std::string TakeError();

private:
    mutable std::mutex m_lock;
    std::string m_strLines;
    std::vector<CFirstCount> m_firsts;
    std::string m_strError;
};

// The change log's lock: a lock (flock) on the site folder, so that other
// processes take part too. Exclusive to make a batch, join it or cap the
// log; shared to read log and batch as one. Without the folder there is
// nothing to guard and nothing is locked.
class CChangeLogLock
{
public:
    CChangeLogLock(const std::string& strFolder, bool bExclusive);
    ~CChangeLogLock();
    CChangeLogLock(const CChangeLogLock&) = delete;
    CChangeLogLock& operator=(const CChangeLogLock&) = delete;

private:
    int m_fd = -1;
};

// The bytes of a new batch for the site folder: strLines after the lines of
// a batch that has not joined yet (which the new one replaces). The caller
// holds the folder's CChangeLogLock (exclusive) until the batch has joined.
// Raises CFileException.
std::string MakeChangeBatch(const std::string& strFolder, std::string_view strLines);
// Joins the folder's batch to its log and removes it; nothing without one.
// The caller holds the folder's CChangeLogLock (exclusive). Raises
// CFileException: the batch then stays and the log is as it was.
// fnStep (tests) is called after 1 the lines were appended and synced, 2
// the batch was removed.
void JoinChangeBatch(const std::string& strFolder, uint64_t nLimit = CHANGE_LOG_LIMIT,
                     const std::function<void(int)>& fnStep = {});

// Appends lines to one change log, keeping it open between appends.
class CChangeLogWriter
{
public:
    explicit CChangeLogWriter(std::string strPath, uint64_t nLimit = CHANGE_LOG_LIMIT);
    ~CChangeLogWriter();
    CChangeLogWriter(const CChangeLogWriter&) = delete;
    CChangeLogWriter& operator=(const CChangeLogWriter&) = delete;

    // Writes whole lines (each ended by "\n") at the end of the file,
    // creating it; its folder must exist. A line a crash cut short is ended
    // first (an empty strLines does only that). Raises CFileException; what
    // was written before stays.
    void Append(std::string_view strLines);
    // Cuts the log back to nLength bytes when it is longer, then writes
    // strLines at its end and syncs; on a failure the log is cut back to
    // where the lines began. Raises CFileException.
    void AppendAt(uint64_t nLength, std::string_view strLines);
    // Past the limit: drops whole lines from the start until at least half
    // the bytes are gone; the file is replaced atomically.
    void KeepWithinLimit();
    const std::string& GetPath() const { return m_strPath; }

private:
    void Open();
    void Close();
    void KeepNewerHalf();

    std::string m_strPath;
    uint64_t m_nLimit;
    int m_fd = -1;
    uint64_t m_nSize = 0;
};

// Calls fn for every change line of the file and of a batch beside it that
// has not joined yet, oldest first. A missing file has none; damaged lines
// are skipped and counted in *pnDamaged (when given). An unfinished last line
// (cut short by a crash of an older version) is neither read nor counted.
void ReadChangeLog(const std::string& strPath, const std::function<void(CChangeRecord&)>& fn,
                   size_t* pnDamaged = nullptr);
