#pragma once
// One FTP site: how to reach it, how the user names it, its cached tree and
// the run-time state of its updates, plus the per-site storage
// (<program folder>/Data/<site folder>/content.ct and state.st, and the
// entries' modification times in times.bin, TimesFile.h).
//
// Threads: the GUI thread and the site's update worker both touch a site.
// The tree is guarded by m_treeLock (exclusive to change, shared to read);
// the status text by m_statusLock; the flags and counters are atomics.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "model/Archive.h"
#include "model/ChangeLog.h"
#include "model/FTPEntry.h"
#include "model/NameCodec.h"
#include "model/SiteSettings.h"
#include "model/TreeListener.h"

// The placeholder password of anonymous logins; a site whose password equals
// it counts as anonymous.
inline constexpr const char* ANON_PASSWORD = "tarn@example.com";

// The ports a connection can use. A stored port outside them (site.ds keeps
// 32 bits) is refused where it would be used, never cut to 16 bits.
inline constexpr int32_t PORT_MIN = 1;
inline constexpr int32_t PORT_MAX = 65535;
// The port a site key leaves out.
inline constexpr int32_t FTP_PORT = 21;
inline constexpr bool IsValidPort(int64_t nPort)
{
    return nPort >= PORT_MIN && nPort <= PORT_MAX;
}

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
    // Host alone for an anonymous site, otherwise host "@" user; a port
    // other than 21 follows the host (host ":" port).
    std::string GetKey() const;
    // The key as older versions formed it, without the port: the name of
    // the site folder they made (MovePortlessSiteFolder).
    std::string GetPortlessKey() const;
    std::string GetNickname() const { return m_strNickname; }
    // The shown name: the nickname when set, otherwise the key, as text
    // (DecodeAuto).
    std::string GetDisplayName() const;

    // Per-site storage. The forms without an argument use the process-wide
    // program folder (GetProgramFolder). Loads never report: what could be
    // read stays. Saves replace their files atomically and raise
    // CFileException when the site folder or a file cannot be created or
    // written; the previous files then stay. Each takes the tree lock itself
    // and holds it (shared) only while the bytes are built in memory.
    //
    // content.ct and state.st are one pair (state.st is positional): an
    // update saves them with SaveTree, which replaces both or neither, even
    // across a crash; a load finishes or drops what a crashed save left.
    // The files that describe the tree beside them are saved with them, in
    // the same replacement: the change lines waiting in m_unsavedChanges
    // (ChangeLog.h), which then join the log. Lines the disk refuses stay
    // waiting for the next save (m_unsavedChanges.TakeError says why): the
    // pair never fails for them.
    void SaveTree(const std::string& strProgramFolder);
    void SaveTree();
    // state.st alone (the marks changed, the tree did not); the pair when
    // the tree's shape changed since content.ct was last written, or change
    // lines wait.
    void SaveState(const std::string& strProgramFolder);
    void SaveState();
    // content.ct alone, for tools and tests that build a tree.
    void SaveContent(const std::string& strProgramFolder);
    void SaveContent();
    void LoadContent(const std::string& strProgramFolder);
    void LoadState(const std::string& strProgramFolder);
    void LoadContent();
    void LoadState();
    // Walks the unread marks below pDir: each sub-folder's mark then its
    // sub-tree, then the files' marks; pDir's own mark is not transferred.
    void SerializeState(CArchive& ar, CFTPDir* pDir);

    // Loads the tree once: exactly one caller loads, the others wait. The
    // load is over on every way out, an exception included.
    void EnsureLoaded();
    bool IsLoaded() const { return m_nLoadState.load() == 1; }

    // The site's settings (Data/<site folder>/options.ini), read on first
    // use. A missing file means every default. A file that is there but
    // cannot be read gives the defaults here too, but only for showing
    // names: CheckOptions reports it, an update fails before it connects
    // (UpdateEngine.cpp) and UpdateSettings refuses to write, so nothing
    // replaces the file the defaults were not read from. Any thread.
    CSiteSettings GetSettings() const;
    // False while options.ini is there but cannot be read: GetSettings is
    // then only the defaults, which must not decide anything about secrets.
    bool AreSettingsKnown() const;
    // Reads options.ini again when the last read failed; "" when the
    // settings are known (read, or no file), else why the file cannot be
    // read ("<path>: <reason>").
    std::string CheckOptions();
    // Writes the settings fn made of a copy of the current ones, and keeps
    // them; raises CFileException (nothing changes then), also when
    // options.ini cannot be read. Writers take turns; readers never wait
    // for a write to reach the disk.
    void UpdateSettings(const std::function<void(CSiteSettings&)>& fn);
    // The numbers of the lines of options.ini that are not "key=value"
    // (kept as they are), each reported once. Any thread.
    std::vector<size_t> TakeDamagedOptionLines();
    // How the site's names read as text (its "charset" settings).
    CNameCodec GetCodec() const;
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
    // The tree's shape changed since content.ct was last written (set by the
    // crawler), so state.st alone would not match it on disk.
    std::atomic<bool> m_bContentDirty{false};
    std::atomic<int32_t> m_nLoadState{0}; // 0 not loaded, 2 loading, 1 loaded
    std::atomic<int32_t> m_nStatus{0};    // 0 none, 1 failed, 2 done, 3 stopped, 4 waiting/running
    std::atomic<int32_t> m_bResume{0};
    std::atomic<CFTPDir*> m_pResumeDir{nullptr};

    std::string m_strNickname;
    std::string m_strRemark;

    // Host, user, password, port, the anonymous flag and the key they make,
    // copied together: a download connects while the window may edit them
    // (an update's worker needs no copy: its site is held from such edits).
    struct CConnectionValues
    {
        std::string strHost;
        std::string strUser;
        std::string strPassword;
        std::string strKey;
        int32_t nPort = 21;
        bool bAnonUpdate = false;
    };
    CConnectionValues CopyConnectionValues() const;
    // Writes those of from's values that differ, under the same lock.
    void AssignConnectionValues(const CFTPSite& from);
    // Listing lines of the current run that the parser could not read
    // (their folders kept every cached entry).
    std::atomic<uint64_t> m_nUnreadableLines{0};
    // Folders of the current run that could not be entered or listed, or
    // whose names cannot be sent (their cached entries were kept).
    void NoteRefusedFolder(const std::string& strPath);
    uint64_t GetRefusedCount() const { return m_nRefusedFolders.load(); }
    // Their paths, the first MAX_REFUSED_PATHS of them.
    std::vector<std::string> GetRefusedPaths() const;
    void ClearRefusedFolders();
    static constexpr size_t MAX_REFUSED_PATHS = 100;
    std::atomic<int32_t> m_nRetries{0};
    // Folders listed in the current run: how far an update got, for the
    // window's progress ticks.
    std::atomic<uint64_t> m_nListedFolders{0};
    // A listing over the control connection met a reply out of turn in this
    // run of the program: the site's later sessions list the normal way.
    std::atomic<bool> m_bStatListingFailed{false};
    bool m_bAnonUpdate = false;
    // The last load found content.ct / state.st damaged (what could be read
    // was kept); callers that can warn the user look here.
    std::atomic<bool> m_bContentDamaged{false};
    std::atomic<bool> m_bStateDamaged{false};
    // The last load found times.bin damaged or not of this tree: no times.
    std::atomic<bool> m_bTimesDamaged{false};
    // Update tasks that use this site: raised when the site is queued,
    // lowered by its worker as its very last act. While it is up, the site
    // is neither queued again, nor deleted, nor given new connection values.
    std::atomic<int32_t> m_nEngineHold{0};

    mutable std::mutex m_connectionLock;
    mutable std::shared_mutex m_treeLock;
    // Change lines of the tree in memory that the saved pair does not hold.
    CUnsavedChanges m_unsavedChanges;
    // Told of every change of the tree's shape; set, replaced and read under
    // m_treeLock (exclusive to set). May be null.
    std::shared_ptr<ITreeListener> m_pTreeListener;

private:
    // Reads options.ini unless it was read, or (bRetry false) failed.
    void LoadOptions(bool bRetry) const;

    // Guards the four below; held only while they are read or replaced,
    // never across disk I/O (the GUI thread takes it to paint names).
    mutable std::mutex m_optionsLock;
    mutable std::optional<CSiteOptions> m_options; // none: not read yet, or unreadable
    mutable std::optional<CFileException> m_optionsError;
    mutable std::vector<size_t> m_damagedOptionLines;
    // One UpdateSettings at a time, from the read to the saved file.
    std::mutex m_optionsWriteLock;
    mutable std::mutex m_statusLock;
    std::string m_strStatus = "未更新";
    std::atomic<uint64_t> m_nRefusedFolders{0};
    std::vector<std::string> m_refusedPaths; // guarded by m_statusLock
    // One save of the tree at a time: two would both take the same waiting
    // change lines.
    std::mutex m_saveLock;
};

// Test hook: called on the saving thread after each step of SaveTree:
// 1 the files built in memory, 2 content.ct's temporary file written and
// synced, 3 state.st's, 4 those of the files saved with the pair
// (times.bin, the change batch), 5 the record naming them written and synced, 6 content.ct
// replaced, 7 state.st replaced, 8 the files saved with the pair replaced,
// 9 the record removed, 10 the change batch appended to the log and synced,
// 11 the batch removed.
using SaveStepHook = void (*)(int nStep);
void SetSaveStepHook(SaveStepHook pfnHook);
// Test hook: called on the writing thread by UpdateSettings just before
// options.ini is written.
using OptionsSaveHook = void (*)(CFTPSite& site);
void SetOptionsSaveHook(OptionsSaveHook pfnHook);

// The temporary file that the record of a save names for pszName (one of
// the files replaced with the pair) while that save has not replaced it
// yet, or "" (no such save, or it got past that file). A save that a crash
// cut short after its record is finished by the next load or save; until
// then a reader reads what the record names.
std::string FindRecordedTemp(const std::string& strFolder, const char* pszName);

// Waiting for or running an update, from the moment an update command
// queues the site until its worker has saved it and queued any
// continuation: the one test of the update commands, delete and edit.
inline bool IsSiteBusy(const CFTPSite& site)
{
    return site.m_nEngineHold.load() > 0;
}

// The site's folder name under Data/: the key itself, except that "/", NUL
// and "%" are percent-escaped and the keys "", "." and ".." get names of
// their own, so no key reaches outside Data/ and no two keys share a folder.
// Keys without "/", NUL or "%" keep their own text as the name.
std::string GetSiteFolderName(const std::string& strKey);
// <program folder>/Data/<site folder>
std::string GetSiteFolderPath(const std::string& strProgramFolder, const std::string& strKey);
// Gives a key's folder its current name when it still has the one older
// versions used ("%" keys); call before renaming or removing it.
void PrepareSiteFolder(const std::string& strProgramFolder, const std::string& strKey);
// Older versions left the port out of the key, so a site on another port
// than 21 finds its folder under GetPortlessKey: moves it to the key's name
// unless that exists. The caller makes sure no site has the portless key as
// its own (the folder is that site's then). Changes nothing in site.ds.
void MovePortlessSiteFolder(const std::string& strProgramFolder, const CFTPSite& site);
// Removes what a site keeps under Data/ (cache, marks, options, change log,
// what crashed saves left), then the folder when nothing else is in it.
void RemoveSiteFiles(const std::string& strProgramFolder, const std::string& strKey);
// The files a site folder holds besides the cache pair.
inline constexpr const char* SITE_CHANGES_FILE = "changes.log";
// Change lines saved with the pair that have not joined changes.log yet.
inline constexpr const char* SITE_CHANGES_BATCH_FILE = "changes.pending";
