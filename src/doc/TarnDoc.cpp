#include "doc/TarnDoc.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <unistd.h>
#include <unordered_set>

#include "model/File.h"
#include "model/ProgramFolder.h"
#include "model/SiteStats.h"

namespace
{
constexpr const char* SITE_EXISTS = "站点已有！";
constexpr const char* CANNOT_OPEN_IMPORT = "无法打开所选文件！";
constexpr const char* UNEXPECTED_FORMAT = "Unexpected file format.";
constexpr const char* FAILED_TO_OPEN = "Failed to open document.";
constexpr const char* CANNOT_SAVE_SITES = "无法保存站点列表：";
constexpr const char* MARKS_NOT_SAVED = "无法保存已读标记：";
constexpr const char* SITE_UPDATING = "站点正在更新，请先终止更新！";

// site.ds holds passwords.
constexpr unsigned SITE_LIST_MODE = 0600;

const char* MessageForArchiveCause(int nCause)
{
    switch (nCause)
    {
    case CArchiveException::endOfFile:
    case CArchiveException::badIndex:
    case CArchiveException::badClass:
    case CArchiveException::badSchema:
        return UNEXPECTED_FORMAT;
    default:
        return FAILED_TO_OPEN;
    }
}

bool ReadWholeFile(const std::string& strPath, std::string* pstrBytes)
{
    CDiskFile file;
    if (!file.OpenRead(strPath))
        return false;
    try
    {
        char buf[4096];
        pstrBytes->clear();
        for (;;)
        {
            size_t n = file.Read(buf, sizeof buf);
            if (n == 0)
                break;
            pstrBytes->append(buf, n);
        }
    }
    catch (const CFileException&)
    {
        return false; // a folder, an I/O error
    }
    return true;
}

// Writes the bytes into a file that must not exist yet; errno on failure.
bool WriteNewFile(const std::string& strPath, const std::string& strBytes, unsigned nMode)
{
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, nMode);
    if (fd < 0)
        return false;
    size_t nDone = 0;
    while (nDone < strBytes.size())
    {
        ssize_t r = ::write(fd, strBytes.data() + nDone, strBytes.size() - nDone);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
        {
            int nErr = r < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(strPath.c_str());
            errno = nErr;
            return false;
        }
        nDone += static_cast<size_t>(r);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
    {
        int nErr = errno;
        ::unlink(strPath.c_str());
        errno = nErr;
        return false;
    }
    return true;
}

// Splits a file into lines (LF, a CR before it removed) without ever holding
// more than one line, cut a little beyond IMPORT_LINE_LIMIT, and stops after
// IMPORT_FILE_LIMIT bytes, so no input can exhaust memory or run forever.
class CLineReader
{
public:
    explicit CLineReader(CFile& file) : m_file(file) {}

    // The next line; false at the end. *pbCut: bytes beyond the kept part
    // were dropped. Raises CFileException.
    bool Next(std::string* pstrLine, bool* pbCut)
    {
        pstrLine->clear();
        *pbCut = false;
        bool bAny = false;
        for (;;)
        {
            if (m_nPos == m_nEnd && !Fill())
                break;
            bAny = true;
            const char* pBegin = m_buf + m_nPos;
            const auto* pEnd = static_cast<const char*>(std::memchr(pBegin, '\n', m_nEnd - m_nPos));
            size_t n = (pEnd != nullptr ? pEnd : m_buf + m_nEnd) - pBegin;
            size_t nRoom = KEEP - std::min(KEEP, pstrLine->size());
            pstrLine->append(pBegin, std::min(n, nRoom));
            *pbCut = *pbCut || n > nRoom;
            m_nPos += n;
            if (pEnd != nullptr)
            {
                ++m_nPos;
                break;
            }
        }
        if (!pstrLine->empty() && pstrLine->back() == '\r')
            pstrLine->pop_back();
        return bAny;
    }

    bool IsTooLarge() const { return m_bTooLarge; }

private:
    // Enough for a line at the limit with a byte-order mark and a CR.
    static constexpr size_t KEEP = IMPORT_LINE_LIMIT + 5;

    bool Fill()
    {
        if (m_bTooLarge)
            return false;
        m_nPos = 0;
        m_nEnd = m_file.Read(m_buf, sizeof m_buf);
        m_nTotal += m_nEnd;
        if (m_nTotal > IMPORT_FILE_LIMIT)
        {
            m_bTooLarge = true;
            m_nEnd = 0;
        }
        return m_nEnd > 0;
    }

    CFile& m_file;
    char m_buf[4096];
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    uint64_t m_nTotal = 0;
    bool m_bTooLarge = false;
};

bool HasControlCharacter(const std::string& str)
{
    return std::any_of(str.begin(), str.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& str)
{
    size_t nBegin = 0;
    size_t nEnd = str.size();
    while (nBegin < nEnd && IsSpace(str[nBegin]))
        ++nBegin;
    while (nEnd > nBegin && IsSpace(str[nEnd - 1]))
        --nEnd;
    return str.substr(nBegin, nEnd - nBegin);
}

// Decimal digits at the start of str; none give 0, too many saturate.
int32_t LeadingNumber(const std::string& str)
{
    int64_t n = 0;
    for (char c : str)
    {
        if (c < '0' || c > '9')
            break;
        n = std::min<int64_t>(n * 10 + (c - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(n);
}

struct CImportLine
{
    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword;
    int32_t m_nPort = 21;
};

// "[ftp://][user[:password]@]host[:port]", already trimmed.
CImportLine ParseImportLine(std::string str)
{
    CImportLine line;
    if (str.compare(0, 6, "ftp://") == 0)
        str.erase(0, 6);
    if (size_t nAt = str.find('@'); nAt != std::string::npos)
    {
        std::string strCred = str.substr(0, nAt);
        str.erase(0, nAt + 1);
        if (size_t nColon = strCred.find(':'); nColon != std::string::npos)
        {
            line.m_strUser = strCred.substr(0, nColon);
            line.m_strPassword = strCred.substr(nColon + 1);
        }
        else
        {
            // "user@host": a login without a password, not a password alone.
            line.m_strUser = strCred;
        }
    }
    else
    {
        line.m_strUser = "anonymous";
        line.m_strPassword = ANON_PASSWORD;
    }
    if (size_t nColon = str.find(':'); nColon != std::string::npos)
    {
        line.m_strHost = str.substr(0, nColon);
        line.m_nPort = LeadingNumber(str.substr(nColon + 1));
    }
    else
    {
        line.m_strHost = str;
    }
    return line;
}

void ApplyInfo(CFTPSite& site, const CSiteInfo& info)
{
    site.m_strHost = info.m_strHost;
    site.m_nPort = info.m_nPort;
    site.m_bAnonUpdate = info.m_bAnonUpdate;
    site.m_strNickname = info.m_strNickname;
    site.m_strRemark = info.m_strRemark;
    if (info.m_bAnonymous)
    {
        site.m_strUser = "anonymous";
        site.m_strPassword = ANON_PASSWORD;
    }
    else
    {
        site.m_strUser = info.m_strUser;
        site.m_strPassword = info.m_strPassword;
    }
}
} // namespace

CTarnDoc::CTarnDoc(IDocHost& host) : m_host(host), m_pump(host) {}

CTarnDoc::~CTarnDoc() = default;

std::string CTarnDoc::GetProgramFolder() const
{
    return ::GetProgramFolder();
}

std::string CTarnDoc::GetSiteListPath() const
{
    return GetProgramFolder() + "/site.ds";
}

void CTarnDoc::Serialize(CArchive& ar)
{
    ar.SerializeList(m_siteList);
}

bool CTarnDoc::OnNewDocument()
{
    std::string strPath = GetSiteListPath();
    CDiskFile file;
    if (!file.OpenRead(strPath))
    {
        int nError = errno;
        if (nError != ENOENT && nError != ENOTDIR)
        {
            // There but unreadable: never replaced by an empty list.
            MarkSiteListUnreadable(nError);
            return true;
        }
        // First start: an empty list is an empty file. Created exclusively, so
        // a file that appeared meanwhile is read, not truncated.
        if (!WriteNewFile(strPath, "", SITE_LIST_MODE) && errno != EEXIST)
        {
            m_host.ShowMessage(FAILED_TO_OPEN); // nothing there to protect
            return true;
        }
        if (!file.OpenRead(strPath))
        {
            MarkSiteListUnreadable(errno);
            return true;
        }
    }
    if (file.GetLength() == 0)
        return true;

    const char* pszError = nullptr;
    try
    {
        CArchive ar(&file, CArchive::load);
        Serialize(ar);
    }
    catch (const CArchiveException& e)
    {
        pszError = MessageForArchiveCause(e.m_cause);
    }
    catch (const CFileException& e)
    {
        // A read error (a folder, a failing disk) is not damage: the sites
        // read so far stay for browsing, but the file is left alone.
        MarkSiteListUnreadable(e.m_lOsError != 0 ? e.m_lOsError : EIO);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        pszError = FAILED_TO_OPEN;
    }
    if (pszError != nullptr)
    {
        m_bSiteListDamaged = true;
        m_host.ShowMessage(pszError);
    }
    // Before any tree, option or change log is read under the new keys.
    MovePortlessFolders(0);
    return true;
}

void CTarnDoc::MovePortlessFolders(size_t nFirst)
{
    std::unordered_set<std::string> keys;
    for (const auto& pSite : m_siteList)
        keys.insert(pSite->GetKey());
    for (size_t i = nFirst; i < m_siteList.size(); ++i)
    {
        const CFTPSite& site = *m_siteList[i];
        if (site.m_nPort != FTP_PORT && keys.count(site.GetPortlessKey()) == 0)
            MovePortlessSiteFolder(GetProgramFolder(), site);
    }
}

void CTarnDoc::MarkSiteListUnreadable(int nError)
{
    m_bSiteListUnreadable = true;
    m_strSiteListError = std::strerror(nError);
    m_host.ShowMessage(FAILED_TO_OPEN);
}

bool CTarnDoc::RefuseChange()
{
    if (!m_bSiteListUnreadable)
        return false;
    m_host.ShowMessage(SITE_LIST_UNREADABLE);
    return true;
}

void CTarnDoc::OnCloseDocument()
{
    for (auto& pSite : m_siteList)
    {
        // Change lines an update's save could not write (a full disk) get
        // one more chance, with the tree they describe.
        bool bMarks = pSite->m_bStateDirty.load();
        if (!bMarks && pSite->m_unsavedChanges.IsEmpty())
            continue;
        try
        {
            pSite->SaveState(GetProgramFolder());
            if (!bMarks)
                continue;
            pSite->m_bStateDirty.store(false);
            // The stored unread count follows the marks.
            RefreshStoredTotals(*pSite);
        }
        catch (const CFileException& e)
        {
            // One site's full disk must not lose the other sites' marks.
            if (bMarks)
                m_host.ShowMessage(MARKS_NOT_SAVED + std::string(e.what()));
        }
    }
}

CFTPSite* CTarnDoc::FindSite(const std::string& strKey) const
{
    for (const auto& pSite : m_siteList)
    {
        if (pSite->GetKey() == strKey)
            return pSite.get();
    }
    return nullptr;
}

bool CTarnDoc::HasSite(const CFTPSite* pSite) const
{
    return std::any_of(m_siteList.begin(), m_siteList.end(),
                       [pSite](const auto& p) { return p.get() == pSite; });
}

bool CTarnDoc::IsSiteBusy(const CFTPSite& site)
{
    return ::IsSiteBusy(site);
}

bool CTarnDoc::HasSameServer(const CFTPSite& site) const
{
    return std::any_of(m_siteList.begin(), m_siteList.end(),
                       [&](const auto& p)
                       {
                           return p->m_strHost == site.m_strHost && p->m_nPort == site.m_nPort &&
                                  p->m_strUser == site.m_strUser;
                       });
}

bool CTarnDoc::AddSite(const CSiteInfo& info)
{
    if (RefuseChange())
        return false;
    auto pSite = std::make_unique<CFTPSite>();
    ApplyInfo(*pSite, info);
    if (HasSameServer(*pSite))
    {
        m_host.ShowMessage(SITE_EXISTS);
        return false;
    }
    // A new site has nothing on disk to load.
    pSite->m_nLoadState.store(1);
    m_siteList.push_back(std::move(pSite));
    (void)SaveSiteList(); // a failure was reported; the site stays for this run
    return true;
}

bool CTarnDoc::ModifySite(CFTPSite* pSite, const CSiteInfo& info)
{
    if (pSite == nullptr || RefuseChange())
        return false;
    CFTPSite probe;
    ApplyInfo(probe, info);
    // The update worker reads the connection values while it runs.
    bool bConnectionChanges =
        probe.m_strHost != pSite->m_strHost || probe.m_strUser != pSite->m_strUser ||
        probe.m_strPassword != pSite->m_strPassword || probe.m_nPort != pSite->m_nPort ||
        probe.m_bAnonUpdate != pSite->m_bAnonUpdate;
    if (bConnectionChanges && IsSiteBusy(*pSite))
    {
        m_host.ShowMessage(SITE_UPDATING);
        return false;
    }
    std::string strOldKey = pSite->GetKey();
    pSite->AssignConnectionValues(probe);
    // Only what changed is written: the worker of a busy site reads the
    // site's values without a lock.
    if (pSite->m_strNickname != probe.m_strNickname)
        pSite->m_strNickname = probe.m_strNickname;
    if (pSite->m_strRemark != probe.m_strRemark)
        pSite->m_strRemark = probe.m_strRemark;
    std::string strNewKey = pSite->GetKey();
    if (strNewKey != strOldKey)
    {
        PrepareSiteFolder(GetProgramFolder(), strOldKey);
        std::string strFrom = GetSiteFolderPath(GetProgramFolder(), strOldKey);
        std::string strTo = GetSiteFolderPath(GetProgramFolder(), strNewKey);
        std::error_code ec;
        // Like a plain move: an existing target is never replaced.
        if (strFrom != strTo && !std::filesystem::exists(strTo, ec))
            std::filesystem::rename(strFrom, strTo, ec);
    }
    (void)SaveSiteList();
    return true;
}

bool CTarnDoc::DeleteSite(const std::string& strKey)
{
    auto it = std::find_if(m_siteList.begin(), m_siteList.end(),
                           [&](const auto& p) { return p->GetKey() == strKey; });
    if (it == m_siteList.end() || IsBusy() || RefuseChange())
        return false;
    if (IsSiteBusy(**it))
    {
        m_host.ShowMessage(SITE_UPDATING);
        return false;
    }
    RemoveSiteFiles(GetProgramFolder(), strKey);
    std::unique_ptr<CFTPSite> pSite = std::move(*it);
    m_siteList.erase(it);
    ForgetSite(pSite.get());
    (void)SaveSiteList();
    return true;
}

bool CTarnDoc::ImportSites(const std::string& strPath, CImportResult* pResult)
{
    if (RefuseChange())
        return false;
    CImportResult result;
    std::vector<std::unique_ptr<CFTPSite>> added;
    CDiskFile file;
    if (!file.OpenRead(strPath))
    {
        m_host.ShowMessage(CANNOT_OPEN_IMPORT);
        return false;
    }
    // Host, port and user of every site, so a long import stays linear.
    std::unordered_set<std::string> known;
    auto identity = [](const std::string& strHost, int32_t nPort, const std::string& strUser)
    { return strHost + '\0' + std::to_string(nPort) + '\0' + strUser; };
    for (const auto& pSite : m_siteList)
        known.insert(identity(pSite->m_strHost, pSite->m_nPort, pSite->m_strUser));

    CLineReader reader(file);
    try
    {
        std::string strLine;
        bool bTooLong = false;
        for (size_t nLine = 1; reader.Next(&strLine, &bTooLong); ++nLine)
        {
            if (nLine == 1 && strLine.compare(0, 3, "\xEF\xBB\xBF") == 0)
                strLine.erase(0, 3);
            auto skip = [&](CImportNote::Kind nKind, int32_t nPort = 0) {
                result.m_notes.push_back(CImportNote{nLine, nKind, nPort});
            };
            if (bTooLong || strLine.size() > IMPORT_LINE_LIMIT)
            {
                skip(CImportNote::lineTooLong);
                continue;
            }
            std::string strTrimmed = Trim(strLine);
            if (strTrimmed.empty())
                continue;
            if (strTrimmed[0] == '#')
            {
                skip(CImportNote::comment);
                continue;
            }
            CImportLine line = ParseImportLine(strTrimmed);
            if (HasControlCharacter(strTrimmed))
                skip(CImportNote::controlCharacters);
            else if (line.m_strHost.empty())
                skip(CImportNote::emptyHost);
            else if (!IsValidPort(line.m_nPort))
                skip(CImportNote::badPort, line.m_nPort);
            else if (!known.insert(identity(line.m_strHost, line.m_nPort, line.m_strUser)).second)
                skip(CImportNote::duplicate);
            else
            {
                auto pSite = std::make_unique<CFTPSite>();
                pSite->m_strHost = line.m_strHost;
                pSite->m_strUser = line.m_strUser;
                pSite->m_strPassword = line.m_strPassword;
                pSite->m_nPort = line.m_nPort;
                result.m_addedKeys.push_back(pSite->GetKey());
                added.push_back(std::move(pSite));
            }
        }
    }
    catch (const CFileException&)
    {
        m_host.ShowMessage(CANNOT_OPEN_IMPORT); // a folder, an I/O error
        return false;
    }
    if (reader.IsTooLarge())
    {
        m_host.ShowMessage(IMPORT_TOO_LARGE);
        if (pResult != nullptr)
            pResult->m_notes = std::move(result.m_notes);
        return false;
    }
    size_t nFirstAdded = m_siteList.size();
    for (auto& pSite : added)
        m_siteList.push_back(std::move(pSite));
    // An imported site picks up the folder an older version left for it.
    MovePortlessFolders(nFirstAdded);
    if (pResult != nullptr)
        *pResult = std::move(result);
    return SaveSiteList();
}

bool CTarnDoc::KeepDamagedSiteList(std::string* pstrError)
{
    std::string strPath = GetSiteListPath();
    std::string strBytes;
    if (!ReadWholeFile(strPath, &strBytes))
        return true; // gone meanwhile: nothing left to keep
    for (int n = 0; n < 1000; ++n)
    {
        std::string strCopy = strPath + ".damaged";
        if (n > 0)
        {
            strCopy += '.';
            strCopy += std::to_string(n);
        }
        if (WriteNewFile(strCopy, strBytes, SITE_LIST_MODE))
            return true;
        if (errno != EEXIST)
            break;
    }
    *pstrError = std::strerror(errno);
    return false;
}

bool CTarnDoc::SaveSiteList()
{
    if (RefuseChange())
        return false;
    std::string strError;
    if (m_bSiteListDamaged)
    {
        if (!KeepDamagedSiteList(&strError))
        {
            m_host.ShowMessage(CANNOT_SAVE_SITES + strError);
            return false;
        }
        m_bSiteListDamaged = false;
    }
    try
    {
        CAtomicFileWriter writer;
        if (!writer.Open(GetSiteListPath(), SITE_LIST_MODE))
        {
            m_host.ShowMessage(CANNOT_SAVE_SITES + std::string(std::strerror(errno)));
            return false;
        }
        CArchive ar(writer.GetFile(), CArchive::store);
        Serialize(ar);
        ar.Close();
        writer.Commit();
    }
    catch (const CFileException& e)
    {
        m_host.ShowMessage(CANNOT_SAVE_SITES + e.GetErrorText());
        return false;
    }
    return true;
}

std::string DescribeImport(const CImportResult& result)
{
    if (result.m_notes.empty())
        return {};
    std::string str = "已导入 " + std::to_string(result.m_addedKeys.size()) + " 个站点，跳过 " +
                      std::to_string(result.m_notes.size()) + " 行：";
    size_t nShown = 0;
    for (const CImportNote& note : result.m_notes)
    {
        if (nShown++ == IMPORT_NOTES_SHOWN)
        {
            str += "\n……另有 " + std::to_string(result.m_notes.size() - IMPORT_NOTES_SHOWN) + " 行";
            break;
        }
        str += "\n第 " + std::to_string(note.m_nLine) + " 行：";
        switch (note.m_nKind)
        {
        case CImportNote::lineTooLong:
            str += "超过 " + std::to_string(IMPORT_LINE_LIMIT) + " 字节";
            break;
        case CImportNote::emptyHost:
            str += "没有主机名";
            break;
        case CImportNote::badPort:
            str += "端口号 " + std::to_string(note.m_nPort) + " 不在 " + std::to_string(PORT_MIN) +
                   "-" + std::to_string(PORT_MAX) + " 之内";
            break;
        case CImportNote::controlCharacters:
            str += "含有控制字符";
            break;
        case CImportNote::comment:
            str += "注释";
            break;
        case CImportNote::duplicate:
            str += "站点已有";
            break;
        }
    }
    return str;
}
