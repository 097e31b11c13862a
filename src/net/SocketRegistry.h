#pragma once
// The sockets of one FTP connection, recorded as libcurl opens and closes
// them, so that another thread can cut them all at once without touching
// the libcurl handles (which belong to the connection's own thread).
//
// Threads: Open/Release run on the connection's thread inside libcurl
// callbacks; CloseAll and IsClosed on any thread.

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <sys/types.h>
#include <vector>

class CSocketRegistry
{
public:
    // Creates and records a socket; -1 once the registry is closed, so a
    // connection that is closed while connecting cannot open another one.
    int Open(int nFamily, int nType, int nProtocol);
    // Forgets and closes a socket that libcurl is done with.
    void Release(int fd);
    // Marks the registry closed and shuts every recorded socket down, so
    // that every blocked call on them returns at once.
    void CloseAll();
    bool IsClosed() const { return m_bClosed.load(); }

private:
    struct CRecord
    {
        int fd;
        dev_t nDevice;
        ino_t nInode;
    };

    std::mutex m_lock;
    std::atomic<bool> m_bClosed{false};
    std::vector<CRecord> m_records;
};

// Makes every socket of the handle go through the registry.
void AttachSocketRegistry(CURL* e, CSocketRegistry* pRegistry);
