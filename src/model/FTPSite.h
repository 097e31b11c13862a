#pragma once
// One FTP site: how to reach it, how the user names it, its cached tree and
// the run-time state of its updates, plus the per-site storage
// (<program folder>/Data/<site folder>/content.ct and state.st).
//
// Threads: the GUI thread and the site's update worker both touch a site.
// The tree is guarded by m_treeLock (exclusive to change, shared to read);
// the status text by m_statusLock; the flags and counters are atomics.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "model/Archive.h"
#include "model/FTPEntry.h"

// The placeholder password of anonymous logins; a site whose password equals
// it counts as anonymous.
inline constexpr const char* ANON_PASSWORD = "tarn@example.com";

class CFTPSite : public CObject
{
    TARN_DECLARE_SERIAL(CFTPSite)

public:
    CFTPSite();
    ~CFTPSite() override;
    CFTPSite(const CFTPSite&) = delete;
    CFTPSite& operator=(const CFTPSite&) = delete;

    // The site.ds record: host, password, user, port, anonymous-update flag,
    // nickname, remark.
    void Serialize(CArchive& ar) override;

    bool IsAnonymous() const { return m_strPassword == ANON_PASSWORD; }
    // Host alone for an anonymous site, otherwise host "@" user.
    std::string GetKey() const;
    std::string GetNickname() const { return m_strNickname; }
    // The shown name: the nickname when set, otherwise the key.
    std::string GetDisplayName() const;

    // Per-site storage. The forms without an argument use the process-wide
    // program folder (GetProgramFolder). Loads never report: what could be
    // read stays. Saves replace their file atomically and raise
    // CFileException on a write error; a file that cannot be created is
    // skipped silently. All four take the tree lock themselves.
    void LoadContent(const std::string& strProgramFolder);
    void SaveContent(const std::string& strProgramFolder);
    void LoadState(const std::string& strProgramFolder);
    void SaveState(const std::string& strProgramFolder);
    void LoadContent();
    void SaveContent();
    void LoadState();
    void SaveState();
    // Walks the unread marks below pDir: each sub-folder's mark then its
    // sub-tree, then the files' marks; pDir's own mark is not transferred.
    void SerializeState(CArchive& ar, CFTPDir* pDir);

    // Loads the tree once: exactly one caller loads, the others wait.
    void EnsureLoaded();
    bool IsLoaded() const { return m_nLoadState.load() == 1; }

    // Status text and value, set together by the update engine.
    void SetStatus(const std::string& strText, int32_t nStatus);
    void SetStatusText(const std::string& strText);
    std::string GetStatusText() const;

    // Persisted fields.
    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword;
    int32_t m_nPort = 21;

    std::unique_ptr<CFTPDir> m_pRoot;
    std::atomic<bool> m_bHasNew{false};
    std::atomic<bool> m_bStateDirty{false};
    std::atomic<int32_t> m_nLoadState{0}; // 0 not loaded, 2 loading, 1 loaded
    std::atomic<int32_t> m_nStatus{0};    // 0 none, 1 failed, 2 done, 3 stopped, 4 waiting/running
    std::atomic<int32_t> m_bResume{0};
    std::atomic<CFTPDir*> m_pResumeDir{nullptr};

    std::string m_strNickname;
    std::string m_strRemark;
    std::atomic<int32_t> m_nRetries{0};
    bool m_bAnonUpdate = false;
    // The last load found content.ct / state.st damaged (what could be read
    // was kept); callers that can warn the user look here.
    std::atomic<bool> m_bContentDamaged{false};
    std::atomic<bool> m_bStateDamaged{false};

    mutable std::shared_mutex m_treeLock;

private:
    mutable std::mutex m_statusLock;
    std::string m_strStatus = "未更新";
};

// The site's folder name under Data/: the key itself, except that "/" and NUL
// are percent-escaped and the names "", "." and ".." are replaced, so no key can
// reach outside Data/.
std::string GetSiteFolderName(const std::string& strKey);
// <program folder>/Data/<site folder>
std::string GetSiteFolderPath(const std::string& strProgramFolder, const std::string& strKey);
