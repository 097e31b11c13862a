#pragma once
// A site's change log, Data/<site folder>/changes.log: what each update found
// added, removed or resized, one JSON object per line, oldest first:
//
//   {"time":"2024-05-01T12:00:03Z","run":"2024-05-01T12:00:00.125Z","kind":"added",
//    "path":"/pub/a.txt","folder":false,"size":1536}
//   {"time":...,"kind":"removed","path":"/pub/old","folder":true,"old_size":0,
//    "folders":2,"files":9,"bytes":40960}
//   {"time":...,"kind":"resized","path":"/pub/b.txt","folder":false,"size":9,"old_size":7}
//   {"time":...,"kind":"first","path":"/","folder":true,"folders":12,"files":340,"bytes":123456}
//
// "time" is when the line's folder was merged and "run" when its update began
// (ISO 8601, UTC; IsoTime.h): the lines of one update, its automatic
// continuations included, share "run". "path" runs from the site's root and
// is text (decoded with the site's character set); where the server's bytes
// are not UTF-8, "raw" holds them percent-encoded ("/" and A-Z a-z 0-9 - . _ ~
// as they are). A removed folder is one line, with what it held; the first
// update of a site with an empty cache writes one "first" line instead of a
// line per entry.
//
// Lines are written straight to the system as each folder's merge ends, so a
// crash loses at most the folder in progress; a line cut short by a crash is
// skipped by the reader and never joined to the next one. Past
// CHANGE_LOG_LIMIT bytes the oldest half is dropped (an atomic rewrite).
//
// Threads: a writer belongs to one site's worker; readers may read while it
// appends (they skip a last line that is not finished).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

inline constexpr uint64_t CHANGE_LOG_LIMIT = uint64_t{16} << 20;

enum class ChangeKind
{
    added,
    removed,
    resized,
    first,
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

// Appends lines to one change log, keeping it open between appends.
class CChangeLogWriter
{
public:
    explicit CChangeLogWriter(std::string strPath, uint64_t nLimit = CHANGE_LOG_LIMIT);
    ~CChangeLogWriter();
    CChangeLogWriter(const CChangeLogWriter&) = delete;
    CChangeLogWriter& operator=(const CChangeLogWriter&) = delete;

    // Writes whole lines (each ended by "\n") at the end of the file,
    // creating it; its folder must exist. Raises CFileException; what was
    // written before stays.
    void Append(std::string_view strLines);
    const std::string& GetPath() const { return m_strPath; }

private:
    void Open();
    void Close();
    // Drops whole lines from the start until at least half the bytes are
    // gone; the file is replaced atomically.
    void KeepNewerHalf();

    std::string m_strPath;
    uint64_t m_nLimit;
    int m_fd = -1;
    uint64_t m_nSize = 0;
};

// Calls fn for every change line of the file, oldest first. A missing file
// has none; damaged lines are skipped and counted in *pnDamaged (when given).
// An unfinished last line (being written) is neither read nor counted.
void ReadChangeLog(const std::string& strPath, const std::function<void(CChangeRecord&)>& fn,
                   size_t* pnDamaged = nullptr);
