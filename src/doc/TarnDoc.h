#pragma once
// The one document of the program: the ordered site list and site.ds, the
// browsing history and listings, unread listings, read marks, FTP URLs and
// search.
//
// Threads: used on the GUI thread only. Update workers read the site records
// and change their trees meanwhile; a site that the update engine holds
// (IsSiteBusy: from being queued until its worker has saved it) is neither
// deleted nor given new connection values. Trees are
// read under the site's tree lock, never across a pump. Long walks pump the
// host's event loop; while one runs the document is busy (IsBusy) and refuses
// another walk and a delete, and the GUI refuses other commands that would
// disturb it and defers closing until the walk has ended.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doc/Ancestry.h"
#include "doc/BrowseState.h"
#include "doc/ChangeListing.h"
#include "doc/DocHost.h"
#include "doc/FtpUrl.h"
#include "doc/PumpBudget.h"
#include "model/Archive.h"
#include "model/FTPSite.h"

// The keyword that selects unread entries instead of matching names.
inline constexpr const char* NEW_KEYWORD = "#new";
// Scopes of the unread listings and of marking sites read.
inline constexpr int UNREAD_THIS_UPDATE = 1; // sites updated in this run
inline constexpr int UNREAD_ALL = 2;         // every site, loaded when needed
// States kept per history direction.
inline constexpr size_t HISTORY_LIMIT = 20;

// Import files: a longer line is skipped; a larger file is not imported.
inline constexpr size_t IMPORT_LINE_LIMIT = 4096;
inline constexpr uint64_t IMPORT_FILE_LIMIT = uint64_t{16} << 20;

// The site store's refusals.
inline constexpr const char* SITE_LIST_UNREADABLE = "站点列表无法读取，本次运行不能更改站点！";
inline constexpr const char* IMPORT_TOO_LARGE = "所选文件过大，没有导入任何站点！";

// One line of an import file that gave no site, and why. Blank lines are
// passed over without a note.
struct CImportNote
{
    enum Kind
    {
        lineTooLong,       // longer than IMPORT_LINE_LIMIT bytes
        emptyHost,         // the host text is empty
        badPort,           // the port is outside 1-65535
        controlCharacters, // the line holds control characters
        comment,           // begins with "#"
        duplicate,         // a site with that host, port and user exists
    };
    size_t m_nLine = 0; // counted from 1
    Kind m_nKind = lineTooLong;
    int32_t m_nPort = 0; // badPort: the port the line gave
};

// What ImportSites did, for a caller that shows it.
struct CImportResult
{
    std::vector<std::string> m_addedKeys; // the sites added, in file order
    std::vector<CImportNote> m_notes;     // the lines skipped, in line order
};

// What the window says after an import that skipped lines: "已导入 N 个站点，
// 跳过 M 行：" and one line per skipped line (the first IMPORT_NOTES_SHOWN)
// with its number and reason. Empty when no line was skipped.
std::string DescribeImport(const CImportResult& result);
inline constexpr size_t IMPORT_NOTES_SHOWN = 20;

// The values the site dialog collects; AddSite and ModifySite take them.
struct CSiteInfo
{
    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword;
    bool m_bAnonymous = false; // user "anonymous", password ANON_PASSWORD
    int32_t m_nPort = 21;
    bool m_bAnonUpdate = false;
    std::string m_strNickname;
    std::string m_strRemark;
};

class CTarnDoc
{
public:
    explicit CTarnDoc(IDocHost& host);
    ~CTarnDoc();
    CTarnDoc(const CTarnDoc&) = delete;
    CTarnDoc& operator=(const CTarnDoc&) = delete;

    // Makes sure site.ds exists and reads it. Only a missing file is created.
    // A damaged file keeps the sites read before the damage and is reported;
    // the damaged file is kept aside before it is first rewritten. A file
    // that exists but cannot be read (permission, I/O error, a folder) is
    // reported and left alone, and the site list cannot be changed in this
    // run. Returns true whatever happened to site.ds.
    bool OnNewDocument();
    // Writes the unread marks of every site whose marks changed; a site
    // whose marks could not be written is reported and stays marked as
    // changed. Called by the closing sequence (CloseSequence.h).
    void OnCloseDocument();

    // Reads or writes m_siteList (the site.ds archive); loading appends.
    void Serialize(CArchive& ar);

    std::string GetProgramFolder() const;
    std::string GetSiteListPath() const;

    // The first site whose key equals strKey (exact), or null.
    CFTPSite* FindSite(const std::string& strKey) const;
    bool HasSite(const CFTPSite* pSite) const;

    // Held by the update engine (queued, or its worker not yet done): no
    // delete, no new connection values.
    static bool IsSiteBusy(const CFTPSite& site);

    // False (with "站点已有！") when a site with that host, port and user
    // exists (HasSameServer).
    [[nodiscard]] bool AddSite(const CSiteInfo& info);
    // False (with a message) when the site is updating and a connection
    // value would change.
    [[nodiscard]] bool ModifySite(CFTPSite* pSite, const CSiteInfo& info);
    // False when the key is unknown, a walk is running, or the site is
    // updating (with a message). Nothing of the document points into the
    // site afterwards.
    [[nodiscard]] bool DeleteSite(const std::string& strKey);
    // One site per line, read line by line within IMPORT_LINE_LIMIT and
    // IMPORT_FILE_LIMIT; a line that cannot make a usable site is skipped.
    // What was added and what was skipped go to *pResult. False (with a
    // message, nothing changed) when the file cannot be read ("无法打开所选
    // 文件！"), is too large, or the list cannot be changed.
    bool ImportSites(const std::string& strPath, CImportResult* pResult = nullptr);
    // Rewrites site.ds whole and atomically (mode 0600). False, after telling
    // the user, when it could not be written.
    [[nodiscard]] bool SaveSiteList();
    // site.ds exists but could not be read at start-up: every change of the
    // site list is refused, so the file is never replaced by what little was
    // read. GetSiteListError is the system's reason.
    bool IsSiteListUnreadable() const { return m_bSiteListUnreadable; }
    const std::string& GetSiteListError() const { return m_strSiteListError; }

    // Browsing. After GoUp, GoBack, GoForward and OpenFolder the caller shows
    // the browse listing.
    void NavigateTo(CFTPDir* pDir);
    void SetListing(CFTPDir* pDir);
    // Clears the folder's own unread mark, then NavigateTo.
    void OpenFolder(CFTPDir* pDir);
    void GoUp();
    void GoBack();
    void GoForward();
    bool CanGoUp() const;
    bool CanGoBack() const { return !m_backList.empty(); }
    bool CanGoForward() const { return !m_forwardList.empty(); }

    // Unread listings (into the result lists). ShowUnread is false when
    // stopped, busy or without sites.
    bool ShowUnread(int nScope);
    // The same over the given sites only (a scheduled run's).
    bool ShowUnread(int nScope, const std::vector<CFTPSite*>& sites);
    void ShowFolderUnread(CFTPDir* pDir);

    // Read marks; each sets the site's m_bStateDirty when it cleared a mark.
    // The files of the folder listing (m_listFiles).
    void MarkShownRead();
    // Exactly these files, of any sites (the rows a result listing shows).
    void MarkFilesRead(const std::vector<CFTPFile*>& files);
    // Clears every mark below pDir (pDir's own mark stays). False when stopped.
    bool MarkTreeRead(CFTPDir* pDir);
    void MarkFolderRead(CFTPDir* pDir);
    void MarkSitesRead(int nScope);

    // Node address ("ftp://" + site key + path, as shown or as stored) -> FTP
    // URL, or "" when no site has the key. The path is the server's bytes of
    // the cached entry it names (in a loaded tree), else the text in the
    // site's character set. User name, password and path are percent-encoded.
    std::string GetUrl(const std::string& strAddress,
                       UrlLogin nLogin = UrlLogin::withPassword) const;
    // The URL onto the clipboard; false (clipboard unchanged) without a site.
    bool CopyAddress(const std::string& strAddress);
    // A file row's double click: the URL to the system's handler.
    void OpenFile(const std::string& strAddress);
    // The site whose key (stored or shown, GetDisplayKey), followed by "/" or
    // the end, begins the address (after an optional "ftp://"); the longest
    // such key wins.
    CFTPSite* FindSiteByAddress(const std::string& strAddress, size_t* pnPathStart) const;

    // Search over all sites into the result lists; false when stopped, busy
    // or without sites. An empty keyword matches everything; NEW_KEYWORD
    // selects unread entries (an unread folder stands for its contents).
    bool Search(const std::string& strKeyword);
    // The sub-folders of pDir with everything below them, then pDir's files.
    bool SearchDir(CFTPDir* pDir, const std::string& strKeyword);
    // Each folder of the list, everything below it and its files. The list is
    // read by index after every pump: pass a list that stays current (such
    // as m_listDirs), not a copy.
    bool SearchDirList(const std::vector<CFTPDir*>& list, const std::string& strKeyword);

    // Results found elsewhere (the search box's search, off this thread):
    // StartFoundListing starts a result listing by the result protocol,
    // AppendFound adds one entry to the result lists and the file list.
    // AppendFound must be called where the entry may be read (its site's
    // tree lock held, shared).
    void StartFoundListing() { StartResultListing(); }
    void AppendFound(CObject* pEntry, int nType);

    // "显示更改": replaces m_foundChanges with the changes at or below pDir
    // (null: of every site, in list order): each site's last update's, or
    // every change since a time. The rows of entries still cached point at
    // them (the site's tree is loaded for that). Returns the number of rows.
    size_t ListChanges(CFTPDir* pDir, const std::optional<CWallTime>& since = std::nullopt);

    // Pumps the host now; false on a stop or quit request.
    [[nodiscard]] bool PumpWaitingMessages() { return m_pump.Pump(); }
    // How long a walk runs between two pumps (10 ms by default).
    void SetPumpInterval(std::chrono::nanoseconds interval) { m_pump.SetInterval(interval); }
    // A walk is running (it pumps events): refuse commands that disturb it.
    bool IsBusy() const { return m_nBusy > 0; }
    // Ends the running walk at its next pump (e.g. before closing).
    void RequestStop() { m_pump.RequestStop(); }

    // Entries are leaving their trees: nothing of the document may point
    // into them any longer. Takes them and everything below them out of the
    // browse listing, the result lists and the history; history states whose
    // folder is gone are dropped. Call before the entries are freed. Each
    // listed entry is looked up once, so a large batch is one pass.
    void ForgetEntries(const CSubtreeSet& removed);
    // The one-entry form: pEntry a CFTPFile or CFTPDir, nType 0 or 1 as in
    // the engine's notice.
    void ForgetEntry(CObject* pEntry, int nType);
    // The same for a whole site (before it is destroyed).
    void ForgetSite(CFTPSite* pSite);

    // Loads the site's tree if that has not happened yet, under the wait
    // cursor; every load the document starts goes through here.
    void EnsureLoaded(CFTPSite& site);

    // All sites in display order; owning.
    std::vector<std::unique_ptr<CFTPSite>> m_siteList;
    // History: owned states, oldest first.
    std::unique_ptr<CBrowseState> m_pCurrent;
    std::vector<std::unique_ptr<CBrowseState>> m_forwardList;
    std::vector<std::unique_ptr<CBrowseState>> m_backList;
    // The folder on display, and the last search or unread listing (not owning).
    std::vector<CFTPDir*> m_listDirs;
    std::vector<CFTPFile*> m_listFiles;
    // In blocks: a million results grow without being copied and without
    // one large allocation's page faults at once on the window's thread.
    std::deque<CFTPDir*> m_foundDirs;
    std::deque<CFTPFile*> m_foundFiles;
    // The last change listing (ListChanges). ForgetEntries clears the
    // pointers of rows whose entries go, and drops the rows of a deleted site.
    std::vector<CChangeRow> m_foundChanges;

private:
    class CBusyGuard;
    template <bool bExclusive, class Visitor>
    bool Walk(CFTPSite& site, CFTPDir* pDir, bool bVisitSelf, Visitor& visitor);
    bool SearchWalk(CFTPDir* pDir, bool bVisitSelf, const std::string& strKeyword);
    bool MarkBelow(CFTPDir* pDir);
    // A site an unread listing or marking of that scope takes in; scope 2
    // loads it.
    bool IsInScope(CFTPSite& site, int nScope);
    void StartResultListing();
    static void PushLimited(std::vector<std::unique_ptr<CBrowseState>>& list,
                            const CBrowseState& state);

    [[nodiscard]] bool KeepDamagedSiteList(std::string* pstrError);
    void MarkSiteListUnreadable(int nError);
    // True (after telling the user) when the list must not change.
    bool RefuseChange();
    bool HasSameServer(const CFTPSite& site) const;
    // Gives the sites from nFirst on the folders older versions made for
    // them under their key without the port, unless a site has that key.
    void MovePortlessFolders(size_t nFirst);

    IDocHost& m_host;
    CPumpBudget m_pump;
    int m_nBusy = 0;
    // Counts ForgetEntries calls: what a walk noted of the trees before a
    // pump may have been freed when it changed.
    uint64_t m_nForgets = 0;
    // site.ds could not be read to its end; its bytes are kept aside before
    // the first rewrite.
    bool m_bSiteListDamaged = false;
    bool m_bSiteListUnreadable = false;
    std::string m_strSiteListError;
};
