#pragma once
// Files under the archive: a POSIX file, an in-memory file, and a writer that
// replaces its target atomically so a failed save never destroys the old file.

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// A failing file operation; m_lOsError is the errno value.
class CFileException : public std::exception
{
public:
    enum Cause
    {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        accessDenied = 5,
        diskFull = 13,
        endOfFile = 14,
    };

    CFileException(int nCause, int lOsError, std::string strFileName);
    // The exception for a failed system call (errno value nErr) on strPath.
    static CFileException FromErrno(int nErr, const std::string& strPath);
    const char* what() const noexcept override { return m_strText.c_str(); }
    // The system's error text ("No space left on device", ...).
    std::string GetErrorText() const;

    int m_cause;
    int m_lOsError;
    std::string m_strFileName;

private:
    std::string m_strText;
};

class CFile
{
public:
    virtual ~CFile() = default;
    // Reads up to n bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* p, size_t n) = 0;
    // Writes all n bytes or raises CFileException.
    virtual void Write(const void* p, size_t n) = 0;
    virtual uint64_t GetLength() const = 0;
    virtual uint64_t GetPosition() const = 0;
};

// A file on disk opened for reading (an fd owned by the object).
class CDiskFile : public CFile
{
public:
    CDiskFile() = default;
    ~CDiskFile() override;
    CDiskFile(const CDiskFile&) = delete;
    CDiskFile& operator=(const CDiskFile&) = delete;

    // Returns false (errno kept) when the file cannot be opened.
    [[nodiscard]] bool OpenRead(const std::string& strPath);
    // Creates or truncates; mode is the permission for a new file.
    [[nodiscard]] bool OpenWrite(const std::string& strPath, unsigned nMode = 0644);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // Forces written data to the disk; raises CFileException on failure.
    void Sync();
    // Whether strPath names the file this object has open (both absent
    // counts as the same).
    bool IsSameFileAs(const std::string& strPath) const;

    size_t Read(void* p, size_t n) override;
    void Write(const void* p, size_t n) override;
    uint64_t GetLength() const override;
    uint64_t GetPosition() const override { return m_nPos; }

private:
    int m_fd = -1;
    uint64_t m_nPos = 0;
    std::string m_strPath;
};

// A growable byte buffer; used by tests and by in-memory round trips.
class CMemFile : public CFile
{
public:
    CMemFile() = default;
    explicit CMemFile(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    size_t Read(void* p, size_t n) override;
    void Write(const void* p, size_t n) override;
    uint64_t GetLength() const override { return m_bytes.size(); }
    uint64_t GetPosition() const override { return m_nPos; }
    const std::vector<uint8_t>& GetBytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_nPos = 0;
};

// Writes a temporary file beside the target and renames it over the target
// on Commit. If Commit is never reached (an exception, a crash, a full disk)
// the target keeps its previous content and the temporary file is removed
// (after a crash, by the next load or save of its folder).
class CAtomicFileWriter
{
public:
    CAtomicFileWriter() = default;
    ~CAtomicFileWriter(); // removes the temporary file unless committed or kept
    CAtomicFileWriter(const CAtomicFileWriter&) = delete;
    CAtomicFileWriter& operator=(const CAtomicFileWriter&) = delete;

    // Returns false (errno kept) when the temporary file cannot be created.
    [[nodiscard]] bool Open(const std::string& strTarget, unsigned nMode = 0644);
    // Open, raising CFileException when the temporary file cannot be created.
    void OpenOrThrow(const std::string& strTarget, unsigned nMode = 0644);
    CFile* GetFile() { return &m_file; }
    const std::string& GetTempPath() const { return m_strTemp; }
    // Syncs and closes the temporary file; raises CFileException.
    void Finish();
    // From now on the temporary file outlives this object (a record of a
    // pending replacement names it).
    void Keep() { m_bKept = true; }
    // Finish (unless done) and rename over the target; raises CFileException.
    void Commit();

private:
    CDiskFile m_file;
    std::string m_strTarget;
    std::string m_strTemp;
    bool m_bFinished = false;
    bool m_bCommitted = false;
    bool m_bKept = false;
};

// Temporary files are named "<target>.tmp<pid>.<n>": unique per process and
// call, and telling whose they are.
std::string MakeTempName(const std::string& strTarget);
// The target and writing process of a name made by MakeTempName; false for
// any other name.
bool SplitTempName(std::string_view strName, std::string_view* pTarget, pid_t* pPid);
// Whether a process runs with that id (a temporary of a running writer is
// never taken for a crash's leftover).
bool IsProcessAlive(pid_t nPid);

// Creates a folder unless it exists; raises CFileException when it cannot
// be created or something other than a folder has the name.
void CreateFolder(const std::string& strPath);
// Makes the folder's entries (creations, renames) durable; raises
// CFileException on an I/O error.
void SyncFolder(const std::string& strPath);
