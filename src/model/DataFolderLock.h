#pragma once
// The advisory lock that serialises the programs changing one data folder
// (the window program and tarn-cli): an exclusive flock on a lock file in the
// folder. Readers do not take it; every save replaces its file atomically, so
// they never see a half-written file. The lock goes with the process, so a
// crashed writer never leaves the folder locked.
//
// Thread: the thread that starts the program, before any update runs.

#include <chrono>
#include <string>

class CDataFolderLock
{
public:
    enum class Result
    {
        taken,  // this object holds the lock
        busy,   // another program held it for the whole wait
        failed, // the lock file could not be opened or locked
    };

    // The lock file's name inside the data folder.
    static constexpr const char* LOCK_FILE_NAME = "tarn.lock";
    // How long a second writer waits for the first.
    static constexpr std::chrono::milliseconds DEFAULT_WAIT{10000};

    CDataFolderLock() = default;
    ~CDataFolderLock() { Release(); }
    CDataFolderLock(const CDataFolderLock&) = delete;
    CDataFolderLock& operator=(const CDataFolderLock&) = delete;

    // Takes the lock on <strFolder>/tarn.lock, waiting up to wait for another
    // holder to let go. On failed, *pstrError gets the system's error text.
    [[nodiscard]] Result Acquire(const std::string& strFolder, std::chrono::milliseconds wait,
                                 std::string* pstrError);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    static std::string GetLockPath(const std::string& strFolder);

private:
    int m_fd = -1;
};
