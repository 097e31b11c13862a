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
#include <utility>

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
    // The names the two programs write into the lock file while they hold
    // it, so that a program that finds the folder busy can say who has it.
    static constexpr const char* HOLDER_WINDOW = "tarn";
    static constexpr const char* HOLDER_CLI = "tarn-cli";

    CDataFolderLock() = default;
    ~CDataFolderLock() { Release(); }
    CDataFolderLock(const CDataFolderLock&) = delete;
    CDataFolderLock& operator=(const CDataFolderLock&) = delete;

    // Takes the lock on <strFolder>/tarn.lock, waiting up to wait for another
    // holder to let go. On failed, *pstrError gets the system's error text.
    [[nodiscard]] Result Acquire(const std::string& strFolder, std::chrono::milliseconds wait,
                                 std::string* pstrError);
    // The program name written into the lock file once it is taken
    // (default: none).
    void SetHolderName(std::string strName) { m_strHolder = std::move(strName); }
    // The program name the current holder wrote, or "" when none is known
    // (the lock is free, or its holder wrote no name).
    static std::string ReadHolderName(const std::string& strFolder);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    static std::string GetLockPath(const std::string& strFolder);

private:
    void WriteHolder();

    int m_fd = -1;
    std::string m_strHolder;
};
