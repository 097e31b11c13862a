#pragma once
// The one document of the program: the ordered site list and site.ds.
//
// Threads: used on the GUI thread only. Update workers read the site records
// and their trees meanwhile; a site that waits for or runs an update
// (m_nStatus 4) is neither deleted nor given new connection values.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "doc/DocHost.h"
#include "model/Archive.h"
#include "model/FTPSite.h"

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

    // Makes sure site.ds exists and reads it. A damaged file keeps the sites
    // read before the damage and is reported; the damaged file is kept aside
    // before it is first rewritten. Returns true whatever happened to site.ds.
    bool OnNewDocument();
    // Writes the unread marks of every site whose marks changed.
    void OnCloseDocument();

    // Reads or writes m_siteList (the site.ds archive); loading appends.
    void Serialize(CArchive& ar);

    std::string GetProgramFolder() const;
    std::string GetSiteListPath() const;

    // The first site whose key equals strKey (exact), or null.
    CFTPSite* FindSite(const std::string& strKey) const;
    bool HasSite(const CFTPSite* pSite) const;

    // Waiting for or running an update: no delete, no new connection values.
    static bool IsSiteBusy(const CFTPSite& site);

    // False (with "站点已有！") when a site with that host and user exists.
    [[nodiscard]] bool AddSite(const CSiteInfo& info);
    // False (with a message) when the site is updating and a connection
    // value would change.
    [[nodiscard]] bool ModifySite(CFTPSite* pSite, const CSiteInfo& info);
    // False when the key is unknown or the site is updating (with a message).
    [[nodiscard]] bool DeleteSite(const std::string& strKey);
    // One site per line; an unreadable file gives "无法打开所选文件！".
    void ImportSites(const std::string& strPath);
    // Rewrites site.ds whole and atomically (mode 0600). False, after telling
    // the user, when it could not be written.
    [[nodiscard]] bool SaveSiteList();

    // All sites in display order; owning.
    std::vector<std::unique_ptr<CFTPSite>> m_siteList;

private:
    [[nodiscard]] bool KeepDamagedSiteList(std::string* pstrError);
    bool HasHostAndUser(const std::string& strHost, const std::string& strUser) const;

    IDocHost& m_host;
    // site.ds could not be read to its end; its bytes are kept aside before
    // the first rewrite.
    bool m_bSiteListDamaged = false;
};
