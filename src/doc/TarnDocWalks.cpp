// The document's long walks: search, unread listings and read marks. They run
// on the GUI thread, pump the host on a time budget and read each tree under
// its lock only between pumps (CTreeWalk).

#include <algorithm>
#include <cstring>

#include "doc/TarnDoc.h"
#include "doc/TreeWalk.h"

namespace
{
constexpr const char* NOTHING_FOUND = "对不起，没有找到你要的文件！";
constexpr const char* NO_UNREAD = "没有未读文件！";
constexpr const char* NONE_UPDATED_YET =
    "本次运行中还没有更新过站点。要查看所有未读文件，请用“显示所有未读文件”。";

// Tests entries against a keyword and hands every match to the result lists
// and, at once, to the file list. Names are matched as people read them:
// decoded with their site's character set (SetSite).
class CSearchVisitor
{
public:
    CSearchVisitor(std::deque<CFTPDir*>& foundDirs, std::deque<CFTPFile*>& foundFiles,
                   IDocHost& host, const std::string& strKeyword)
        : m_foundDirs(foundDirs), m_foundFiles(foundFiles), m_host(host), m_strKeyword(strKeyword),
          m_bNew(strKeyword == NEW_KEYWORD)
    {
        // Folder names are compared lower-cased (A-Z only) with the keyword as
        // typed, so a keyword holding A-Z can never match a folder.
        for (char c : m_strKeyword)
        {
            if (c >= 'A' && c <= 'Z')
                m_bFoldersNeverMatch = true;
        }
        m_bAsciiKeyword = IsAscii(m_strKeyword);
    }

    // The site whose entries come next.
    void SetSite(const CFTPSite& site)
    {
        if (!m_bNew && !m_strKeyword.empty())
            m_codec = site.GetCodec();
    }

    bool VisitDir(CFTPDir& dir)
    {
        bool bMatch;
        if (m_bNew)
            bMatch = dir.m_nState != 0;
        else if (m_bFoldersNeverMatch)
            bMatch = false;
        else if (m_strKeyword.empty())
            bMatch = true;
        else
            bMatch = Matches(dir.m_strName, true);
        if (bMatch)
        {
            m_foundDirs.push_back(&dir);
            m_host.AppendResultRow(&dir, IUpdateObserver::entryFolder);
        }
        // An unread folder stands for all of its contents.
        return !(m_bNew && bMatch);
    }

    void VisitFile(CFTPFile& file)
    {
        bool bMatch;
        if (m_bNew)
            bMatch = file.m_nState != 0;
        else
            bMatch = m_strKeyword.empty() || Matches(file.m_strName, false);
        if (bMatch)
        {
            m_foundFiles.push_back(&file);
            m_host.AppendResultRow(&file, IUpdateObserver::entryFile);
        }
    }

private:
    // Matches the name as text (folders lower-cased). UTF-8 and ASCII names
    // are their own text; others are decoded, since a keyword's bytes could
    // match inside a GB18030, Big5 or Shift_JIS character (their second
    // bytes include ASCII). ASCII in the text is ASCII in the bytes, so an
    // ASCII keyword that the bytes lack cannot be in the text either: most
    // names need no decoding.
    bool Matches(const std::string& strName, bool bFolder)
    {
        if (m_bAsciiKeyword || m_codec.IsDecodedAsIs(strName))
        {
            if (!ContainsKeyword(bFolder ? LowerCase(strName) : strName))
                return false;
            if (!m_bAsciiKeyword || m_codec.IsDecodedAsIs(strName))
                return true;
        }
        m_codec.DecodeTo(strName, &m_strDecoded);
        return ContainsKeyword(bFolder ? LowerCase(m_strDecoded) : m_strDecoded);
    }

    // Byte search over UTF-8: a keyword of whole characters can only match
    // on character boundaries.
    bool ContainsKeyword(std::string_view strText) const
    {
        return ::memmem(strText.data(), strText.size(), m_strKeyword.data(), m_strKeyword.size()) !=
               nullptr;
    }

    std::string_view LowerCase(std::string_view strText)
    {
        m_strLower.assign(strText);
        for (char& c : m_strLower)
        {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return m_strLower;
    }

    std::deque<CFTPDir*>& m_foundDirs;
    std::deque<CFTPFile*>& m_foundFiles;
    IDocHost& m_host;
    const std::string m_strKeyword;
    const bool m_bNew;
    bool m_bFoldersNeverMatch = false;
    bool m_bAsciiKeyword = true;
    CNameCodec m_codec;
    std::string m_strDecoded; // reused: no allocation per name
    std::string m_strLower;
};

// Clears unread marks and remembers whether any was set.
class CMarkVisitor
{
public:
    bool VisitDir(CFTPDir& dir)
    {
        Clear(dir.m_nState);
        return true;
    }
    void VisitFile(CFTPFile& file) { Clear(file.m_nState); }

    bool m_bCleared = false;

private:
    void Clear(int32_t& nState)
    {
        if (nState != 0)
        {
            nState = 0;
            m_bCleared = true;
        }
    }
};

} // namespace

// Marks the document busy for the duration of a walk.
class CTarnDoc::CBusyGuard
{
public:
    explicit CBusyGuard(CTarnDoc& doc) : m_doc(doc)
    {
        if (m_doc.m_nBusy++ == 0)
            m_doc.m_pump.Start();
    }
    ~CBusyGuard() { --m_doc.m_nBusy; }
    CBusyGuard(const CBusyGuard&) = delete;
    CBusyGuard& operator=(const CBusyGuard&) = delete;

private:
    CTarnDoc& m_doc;
};

bool CTarnDoc::IsInScope(CFTPSite& site, int nScope)
{
    if (nScope == UNREAD_THIS_UPDATE)
    {
        // Not updated in this run, or failed: skipped, and never loaded here.
        int32_t nStatus = site.m_nStatus.load();
        return nStatus != 0 && nStatus != 1;
    }
    EnsureLoaded(site);
    return true;
}

template <bool bExclusive, class Visitor>
bool CTarnDoc::Walk(CFTPSite& site, CFTPDir* pDir, bool bVisitSelf, Visitor& visitor)
{
    CTreeWalk<bExclusive, Visitor> walk(site, m_pump, visitor);
    return walk.Run(pDir, bVisitSelf);
}

void CTarnDoc::StartResultListing()
{
    m_foundFiles.clear();
    m_foundDirs.clear();
    m_host.ClearList();
    m_host.AppendResultRow(nullptr, IUpdateObserver::entryFile);
}

void CTarnDoc::AppendFound(CObject* pEntry, int nType)
{
    if (nType == IUpdateObserver::entryFolder)
        m_foundDirs.push_back(static_cast<CFTPDir*>(pEntry));
    else
        m_foundFiles.push_back(static_cast<CFTPFile*>(pEntry));
    m_host.AppendResultRow(pEntry, nType);
}

bool CTarnDoc::SearchWalk(CFTPDir* pDir, bool bVisitSelf, const std::string& strKeyword)
{
    CFTPSite* pSite = pDir != nullptr ? pDir->GetSite() : nullptr;
    if (pSite == nullptr)
        return true;
    CSearchVisitor visitor(m_foundDirs, m_foundFiles, m_host, strKeyword);
    visitor.SetSite(*pSite);
    return Walk<false>(*pSite, pDir, bVisitSelf, visitor);
}

bool CTarnDoc::SearchDir(CFTPDir* pDir, const std::string& strKeyword)
{
    if (IsBusy())
        return false;
    CBusyGuard busy(*this);
    return SearchWalk(pDir, false, strKeyword);
}

bool CTarnDoc::SearchDirList(const std::vector<CFTPDir*>& list, const std::string& strKeyword)
{
    if (IsBusy())
        return false;
    CBusyGuard busy(*this);
    for (size_t i = 0; i < list.size(); ++i)
    {
        if (!SearchWalk(list[i], true, strKeyword))
            return false;
    }
    return true;
}

bool CTarnDoc::Search(const std::string& strKeyword)
{
    if (IsBusy())
        return false;
    CBusyGuard busy(*this);
    StartResultListing();
    // Sites added while the walk pumps are not searched.
    size_t nTotal = m_siteList.size();
    m_host.OpenProgress(static_cast<int>(nTotal));
    if (nTotal == 0)
    {
        m_host.CloseProgress();
        return false;
    }
    m_host.BeginWaitCursor();
    CSearchVisitor visitor(m_foundDirs, m_foundFiles, m_host, strKeyword);
    bool bGoOn = true;
    for (size_t i = 0; bGoOn && i < nTotal && i < m_siteList.size(); ++i)
    {
        m_host.SetProgressPos(static_cast<int>(i + 1));
        CFTPSite& site = *m_siteList[i];
        bool bWasLoaded = site.IsLoaded();
        EnsureLoaded(site);
        // Loading took a while: let the window breathe before walking.
        if (!bWasLoaded || m_pump.Tick())
            bGoOn = m_pump.Pump();
        visitor.SetSite(site);
        if (bGoOn)
            bGoOn = Walk<false>(site, site.m_pRoot.get(), false, visitor);
    }
    m_host.CloseProgress();
    m_host.EndWaitCursor();
    if (!bGoOn)
        return false;
    if (m_foundDirs.empty() && m_foundFiles.empty())
        m_host.ShowMessage(NOTHING_FOUND);
    return true;
}

bool CTarnDoc::ShowUnread(int nScope)
{
    return ShowUnread(nScope, {});
}

bool CTarnDoc::ShowUnread(int nScope, const std::vector<CFTPSite*>& sites)
{
    if (IsBusy())
        return false;
    CBusyGuard busy(*this);
    StartResultListing();
    size_t nTotal = m_siteList.size();
    m_host.OpenProgress(static_cast<int>(nTotal));
    if (nTotal == 0)
    {
        m_host.CloseProgress();
        return false;
    }
    CSearchVisitor visitor(m_foundDirs, m_foundFiles, m_host, NEW_KEYWORD);
    bool bGoOn = true;
    bool bAnyInScope = false;
    for (size_t i = 0; bGoOn && i < nTotal && i < m_siteList.size(); ++i)
    {
        m_host.SetProgressPos(static_cast<int>(i + 1));
        CFTPSite& site = *m_siteList[i];
        if (!sites.empty() && std::find(sites.begin(), sites.end(), &site) == sites.end())
            continue;
        if (!IsInScope(site, nScope))
            continue;
        bAnyInScope = true;
        if (m_pump.Tick())
            bGoOn = m_pump.Pump();
        if (bGoOn)
            bGoOn = Walk<false>(site, site.m_pRoot.get(), false, visitor);
    }
    m_host.CloseProgress();
    if (!bGoOn)
        return false;
    // After a restart the marks of earlier runs are all there, but this
    // scope takes in none of them: "none" would be misread.
    if (!bAnyInScope)
        m_host.ShowMessage(NONE_UPDATED_YET);
    else if (m_foundDirs.empty() && m_foundFiles.empty())
        m_host.ShowMessage(NO_UNREAD);
    return true;
}

void CTarnDoc::ShowFolderUnread(CFTPDir* pDir)
{
    if (IsBusy())
        return;
    CBusyGuard busy(*this);
    StartResultListing();
    (void)SearchWalk(pDir, false, NEW_KEYWORD); // a stop keeps what was found
}

void CTarnDoc::MarkShownRead()
{
    MarkFilesRead(m_listFiles);
}

void CTarnDoc::MarkFilesRead(const std::vector<CFTPFile*>& files)
{
    // Files of one site usually come together: one lock for each run of them.
    size_t i = 0;
    while (i < files.size())
    {
        CFTPSite* pSite = files[i] != nullptr ? files[i]->GetSite() : nullptr;
        if (pSite == nullptr)
        {
            ++i;
            continue;
        }
        std::unique_lock lock(pSite->m_treeLock);
        bool bCleared = false;
        for (; i < files.size() && files[i] != nullptr && files[i]->GetSite() == pSite; ++i)
        {
            if (files[i]->m_nState != 0)
            {
                files[i]->m_nState = 0;
                bCleared = true;
            }
        }
        if (bCleared)
            pSite->m_bStateDirty = true;
    }
}

bool CTarnDoc::MarkBelow(CFTPDir* pDir)
{
    CFTPSite* pSite = pDir != nullptr ? pDir->GetSite() : nullptr;
    if (pSite == nullptr)
        return true;
    CMarkVisitor visitor;
    bool bGoOn = Walk<true>(*pSite, pDir, false, visitor);
    if (visitor.m_bCleared)
        pSite->m_bStateDirty = true;
    return bGoOn;
}

bool CTarnDoc::MarkTreeRead(CFTPDir* pDir)
{
    if (IsBusy())
        return false;
    CBusyGuard busy(*this);
    return MarkBelow(pDir);
}

void CTarnDoc::MarkFolderRead(CFTPDir* pDir)
{
    CFTPSite* pSite = pDir != nullptr ? pDir->GetSite() : nullptr;
    if (pSite == nullptr || IsBusy())
        return;
    CBusyGuard busy(*this);
    EnsureLoaded(*pSite);
    (void)MarkBelow(pDir); // a stop keeps what was cleared
}

void CTarnDoc::MarkSitesRead(int nScope)
{
    if (IsBusy())
        return;
    CBusyGuard busy(*this);
    for (size_t i = 0; i < m_siteList.size(); ++i)
    {
        CFTPSite& site = *m_siteList[i];
        if (!IsInScope(site, nScope))
            continue;
        if (m_pump.Tick() && !m_pump.Pump())
            return;
        if (!MarkBelow(site.m_pRoot.get()))
            return;
        // Nothing of the site is unread now: it is not shown bold.
        site.m_bHasNew = false;
    }
}
