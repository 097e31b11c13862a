#pragma once
// Walks the entries of a fresh listing of a connection's current folder:
//   if (find.FindFile()) { bool bMore = true; while (bMore) {
//       bMore = find.FindNextFile(); use find.GetFileName() ... } }
//
// Threads: the thread that owns the connection.

#include <cstdint>
#include <string>
#include <vector>

#include "net/FtpListParser.h"

class CFtpConnection;

inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;

class CFtpFileFind
{
public:
    explicit CFtpFileFind(CFtpConnection* pConnection, uint32_t nContext = 1);

    // Lists the current folder (every entry; a name pattern is not
    // supported and must be null). True when at least one entry follows;
    // otherwise the thread's last internet error says why (18: empty).
    [[nodiscard]] bool FindFile(const char* pszName = nullptr,
                                uint32_t nFlags = INTERNET_FLAG_RELOAD);
    // Makes the next entry current; false when that entry is the last.
    bool FindNextFile();
    std::string GetFileName() const;
    bool IsDirectory() const;
    uint64_t GetLength() const;
    // Lines of the listing that the parser could not read: the listing may
    // have left out entries that are still there.
    size_t GetUnreadableCount() const { return m_nUnreadable; }
    void Close();

private:
    CFtpConnection* m_pConnection;
    uint32_t m_nContext;
    std::vector<CFtpListEntry> m_entries;
    size_t m_nNext = 0; // index of the entry FindNextFile makes current
    size_t m_nUnreadable = 0;
};
