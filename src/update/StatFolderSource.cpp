#include "update/StatFolderSource.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string_view>
#include <unordered_set>

#include "model/FTPEntry.h"
#include "net/FtpConnection.h"
#include "net/FtpControlChannel.h"
#include "net/InternetError.h"
#include "update/EngineState.h"

namespace
{
struct CComparable
{
    std::string_view strName;
    bool bDirectory;
    uint64_t nSize; // files only: a folder's size means nothing
    auto operator<=>(const CComparable&) const = default;
};

bool IsDotName(std::string_view strName)
{
    return !strName.empty() && strName.front() == '.';
}

// The entries the crawler would take, in an order that ignores the server's.
std::vector<CComparable> Comparable(const CFtpListing& listing, bool bWithoutDotNames)
{
    std::vector<CComparable> entries;
    entries.reserve(listing.entries.size());
    for (const CFtpListEntry& entry : listing.entries)
    {
        if (!IsAddressableName(entry.strName) || (bWithoutDotNames && IsDotName(entry.strName)))
            continue;
        entries.push_back({entry.strName, entry.bDirectory, entry.bDirectory ? 0 : entry.nSize});
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool HasDotNames(const CFtpListing& listing)
{
    return std::any_of(listing.entries.begin(), listing.entries.end(),
                       [](const CFtpListEntry& entry)
                       { return IsAddressableName(entry.strName) && IsDotName(entry.strName); });
}

enum class Match
{
    same,
    hiddenByList,
    differ,
};

// Some servers (vsftpd among them) answer STAT as "ls -a" would, names
// beginning with "." included, while their LIST leaves those names out
// unless asked. Such a STAT listing is the LIST listing plus those names:
// accepted, with the names dropped from every STAT listing of the session.
bool IsHiddenByList(const CFtpListing& stat, const CFtpListing& list)
{
    return !HasDotNames(list) && Comparable(stat, true) == Comparable(list, false);
}

Match CompareListings(const CFtpListing& stat, const CFtpListing& list)
{
    if (stat.nUnreadable != list.nUnreadable)
        return Match::differ;
    if (Comparable(stat, false) == Comparable(list, false))
        return Match::same;
    return IsHiddenByList(stat, list) ? Match::hiddenByList : Match::differ;
}

void DropDotNames(CFtpListing& listing)
{
    std::erase_if(listing.entries,
                  [](const CFtpListEntry& entry) { return IsDotName(entry.strName); });
}

uint64_t HeldBytes(const CFtpListing& listing)
{
    uint64_t nBytes = sizeof(CFtpListing);
    for (const CFtpListEntry& entry : listing.entries)
        nBytes += sizeof(CFtpListEntry) + entry.strName.capacity();
    return nBytes;
}

std::string JoinPath(const std::string& strParent, std::string_view strName)
{
    std::string strPath = strParent;
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    strPath.append(strName);
    return strPath;
}

// The folder's absolute path, unless a name on the way cannot be sent.
bool MakeSendablePath(const CFTPDir* pDir, std::string* pstrPath)
{
    std::vector<const std::string*> names;
    for (const CFTPDir* p = pDir; p != nullptr && p->m_pParent != nullptr; p = p->m_pParent)
    {
        if (!IsAddressableName(p->m_strName))
            return false;
        names.push_back(&p->m_strName);
    }
    std::string strPath;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        strPath += "/" + **it;
    *pstrPath = strPath.empty() ? "/" : strPath;
    return true;
}

bool IsFatal(uint32_t nError)
{
    return IsConnectionLost(nError) || nError == ERROR_INTERNET_OPERATION_CANCELLED ||
           nError == ERROR_FTP_LISTING_TOO_LARGE || nError == ERROR_NOT_ENOUGH_MEMORY;
}

bool IsStopRequested()
{
    return g_bStopUpdate.load() != 0;
}

// "ddd", "ddd text" or "ddd-text": a line a reader of replies would take
// for the start or the end of one.
bool LooksLikeReply(std::string_view line)
{
    if (line.size() < 3 || line[0] < '1' || line[0] > '5')
        return false;
    if (line[1] < '0' || line[1] > '9' || line[2] < '0' || line[2] > '9')
        return false;
    return line.size() == 3 || line[3] == ' ' || line[3] == '-' || line[3] == '\r';
}

bool HoldsReplyLines(std::string_view strBody)
{
    while (!strBody.empty())
    {
        size_t nEnd = strBody.find('\n');
        if (LooksLikeReply(strBody.substr(0, nEnd)))
            return true;
        strBody.remove_prefix(nEnd == std::string_view::npos ? strBody.size() : nEnd + 1);
    }
    return false;
}

// The folder a "257" reply names ("" when it names none): the text between
// the first quote and its partner, a doubled quote standing for one.
std::string PwdPath(std::string_view strText)
{
    size_t nOpen = strText.find('"');
    if (nOpen == std::string_view::npos)
        return {};
    std::string strPath;
    for (size_t i = nOpen + 1; i < strText.size(); ++i)
    {
        if (strText[i] != '"')
        {
            strPath += strText[i];
            continue;
        }
        if (i + 1 < strText.size() && strText[i + 1] == '"')
        {
            strPath += '"';
            ++i;
            continue;
        }
        if (strPath.size() > 1 && strPath.back() == '/')
            strPath.pop_back();
        return strPath;
    }
    return {};
}
} // namespace

CStatFolderSource::CStatFolderSource(CFtpConnection* pConnection, CFTPDir* pStartDir,
                                     const CListingPlan& plan)
    : m_pConnection(pConnection), m_pStartDir(pStartDir), m_plan(plan)
{
    if (m_plan.nMode == ListingMode::list)
        m_nState = State::list;
    // A stat session takes every name as STAT gives it.
    if (m_plan.nMode == ListingMode::stat)
        m_nDotNames = DotNames::kept;
    m_strStartPath = pStartDir->GetPath();
}

CStatFolderSource::~CStatFolderSource()
{
    CloseChannel();
}

void CStatFolderSource::Finish(CListingReport* pReport)
{
    if (m_pChannel)
        m_report.channel = m_pChannel->GetStats();
    if (pReport != nullptr)
        *pReport = m_report;
}

void CStatFolderSource::CloseChannel()
{
    if (m_pChannel)
    {
        m_report.channel = m_pChannel->GetStats();
        m_pChannel.reset();
    }
    m_requests.clear();
    m_planned.clear();
    m_held.clear();
    m_expected.clear();
    m_nInFlight = 0;
    m_nHeldBytes = 0;
    m_pNeeded = nullptr;
}

void CStatFolderSource::GiveUp(std::string strWhy)
{
    if (m_report.bUsedStat)
        m_report.bFellBack = true;
    m_report.strWhy = std::move(strWhy);
    m_nState = State::list;
    CloseChannel();
}

bool CStatFolderSource::Kill(uint32_t nError)
{
    if (m_pChannel && m_pChannel->HasSpokenOutOfTurn())
        m_report.bOutOfTurn = true;
    if (m_nDeadError == 0)
        m_nDeadError = nError;
    CloseChannel();
    SetLastInternetError(m_nDeadError);
    return false;
}

void CStatFolderSource::OpenChannel()
{
    m_pChannel = m_pConnection->OpenControlChannel();
    if (!m_pChannel)
    {
        // Not protected as the first connection is: no listing goes on
        // without saying so (a refused "PROT P" only costs the data
        // connections, which the first connection has as well).
        uint32_t nError = GetLastInternetError();
        if (IsTlsFailure(nError) && nError != ERROR_FTP_TLS_PROT_REFUSED)
        {
            m_report.nTlsError = nError;
            m_report.strTlsFailure = GetLastInternetErrorText();
            m_nDeadError = nError;
            return;
        }
        m_nState = State::list;
        m_report.strWhy = "STAT 连接无法登录：" + FormatInternetError(GetLastInternetError());
        return;
    }
    m_nState = m_plan.nMode == ListingMode::automatic ? State::probing : State::stat;
    m_report.bUsedStat = m_nState == State::stat;
    // Names must come in the same bytes both ways.
    if (m_plan.bUtf8 && m_pChannel->HasFeature("UTF8") && m_pChannel->Send("OPTS UTF8 ON"))
        m_expected.push_back({nullptr, ReplyTo::other});
}

bool CStatFolderSource::ChangeDirectory(CFTPDir* pDir)
{
    m_bCurrentFromConnection = false;
    m_bConnectionListed = false;
    m_connectionListing = {};
    m_current = {};
    m_pCurrentDir = pDir;
    if (m_nDeadError != 0)
        return Kill(m_nDeadError);
    std::string strPath;
    if (!MakeSendablePath(pDir, &strPath))
    {
        SetLastInternetError(ERROR_INTERNET_INVALID_URL);
        return false;
    }
    if (m_nState == State::opening)
        OpenChannel();
    if (m_nDeadError != 0)
        return Kill(m_nDeadError);
    if (m_nState == State::list)
        return ChangeOverConnection(strPath);
    if (!m_bPlannedFollowers)
    {
        m_bPlannedFollowers = true;
        PlanFollowers(pDir);
    }

    CRequestPtr pRequest = Need(pDir, strPath);
    if (m_nState == State::probing)
        return Probe(pRequest);

    m_pNeeded = pRequest.get();
    if (!WaitFor(*pRequest, ReplyTo::cwd))
        return AfterWait(strPath);
    if (!pRequest->bCwdOk)
    {
        // Refused, as today; its STAT answer is discarded when it comes.
        Retire(pRequest);
        m_pNeeded = nullptr;
        SetLastInternetError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    // The listing counts only once the PWD after it named its folder.
    if (!WaitFor(*pRequest, ReplyTo::pwd))
        return AfterWait(strPath);
    Retire(pRequest);
    m_pNeeded = nullptr;
    if (!pRequest->bListing)
    {
        GiveUp(pRequest->strPath + ": " + pRequest->strWhy);
        return ChangeOverConnection(strPath);
    }
    if (m_nDotNames == DotNames::unknown && HasDotNames(pRequest->listing))
        return CheckDotNames(pRequest);
    m_current = std::move(pRequest->listing);
    if (m_nDotNames == DotNames::hidden)
        DropDotNames(m_current);
    if (pRequest->bSuspect || NeedsConfirmation(pDir, m_current))
    {
        ++m_report.nConfirmed;
        m_current = {};
        FillPipeline();
        return ChangeOverConnection(strPath);
    }
    ++m_report.nStatFolders;
    // Keep the line busy while the crawl merges.
    if (FillPipeline())
        (void)m_pChannel->Poll();
    return true;
}

bool CStatFolderSource::List(CFtpListing& listing)
{
    if (m_bCurrentFromConnection)
    {
        if (!m_bConnectionListed)
            FetchOverConnection();
        if (m_nConnectionError != 0)
        {
            SetLastInternetError(m_nConnectionError);
            return false;
        }
        listing = std::move(m_connectionListing);
        ForgetIndexes(listing);
        return true;
    }
    listing = std::move(m_current);
    if (listing.entries.empty() && listing.nUnreadable == 0)
    {
        SetLastInternetError(ERROR_NO_MORE_FILES);
        return false;
    }
    return true;
}

bool CStatFolderSource::ChangeOverConnection(const std::string& strPath)
{
    m_bCurrentFromConnection = true;
    return m_pConnection->SetCurrentDirectory(strPath);
}

void CStatFolderSource::FetchOverConnection()
{
    m_bConnectionListed = true;
    m_connectionListing = {};
    m_nConnectionError = 0;
    if (!m_pConnection->ListCurrentDirectory(m_connectionListing.entries))
        m_nConnectionError = GetLastInternetError();
    m_connectionListing.nUnreadable = m_pConnection->GetLastUnreadable();
}

bool CStatFolderSource::Probe(const CRequestPtr& pRequest)
{
    // The STAT request goes out first, so its answer arrives while the
    // normal way takes its round trips.
    if (!m_pChannel->Poll())
    {
        GiveUp("STAT 连接中断：" + FormatInternetError(m_pChannel->GetDeadError()));
        return ChangeOverConnection(pRequest->strPath);
    }
    if (!ChangeOverConnection(pRequest->strPath))
    {
        // No comparison here: the next folder the crawl enters is probed.
        uint32_t nError = GetLastInternetError();
        Retire(pRequest);
        SetLastInternetError(nError);
        return false;
    }
    if (IsStopRequested())
    {
        SetLastInternetError(ERROR_INTERNET_OPERATION_CANCELLED);
        return false;
    }
    FetchOverConnection();
    if (IsFatal(m_nConnectionError))
        return true; // List reports it; the crawl ends
    m_report.bProbed = true;

    m_pNeeded = pRequest.get();
    bool bAnswered = WaitFor(*pRequest, ReplyTo::pwd);
    m_pNeeded = nullptr;
    Retire(pRequest);
    if (!bAnswered && m_bDesync)
    {
        GiveUp(m_strDesyncWhy);
        return true;
    }
    if (!bAnswered)
    {
        uint32_t nError = GetLastInternetError();
        if (nError == ERROR_INTERNET_OPERATION_CANCELLED)
            return false;
        // Only this connection failed: the normal way carries on.
        m_nDeadError = 0;
        m_report.bOutOfTurn = false;
        GiveUp("STAT 连接中断：" + FormatInternetError(nError));
        return true;
    }

    CFtpListing listed = m_nConnectionError == 0 ? m_connectionListing : CFtpListing();
    if (!pRequest->bCwdOk)
        GiveUp(pRequest->strPath + ": STAT 连接无法进入该目录");
    else if (!pRequest->bListing)
        GiveUp(pRequest->strPath + ": " + pRequest->strWhy);
    else if (pRequest->bSuspect)
        GiveUp(pRequest->strPath + ": STAT 的列表中有像 FTP 回答的行");
    else
    {
        switch (CompareListings(pRequest->listing, listed))
        {
        case Match::same:
            if (HasDotNames(pRequest->listing))
                m_nDotNames = DotNames::kept;
            break;
        case Match::hiddenByList:
            m_nDotNames = DotNames::hidden;
            break;
        case Match::differ:
            GiveUp(pRequest->strPath + ": STAT 与 LIST 的列表不同");
            return true;
        }
        m_nState = State::stat;
        m_report.bUsedStat = true;
        PlanChildren(*pRequest, pRequest->listing);
        FillPipeline();
        (void)m_pChannel->Poll();
    }
    return true;
}

bool CStatFolderSource::CheckDotNames(const CRequestPtr& pRequest)
{
    // The first names beginning with "." in this session: does LIST show them?
    if (!ChangeOverConnection(pRequest->strPath))
    {
        uint32_t nError = GetLastInternetError();
        if (!IsFatal(nError))
            GiveUp(pRequest->strPath + ": 无法进入该目录比较 STAT 与 LIST");
        SetLastInternetError(nError);
        return false;
    }
    if (IsStopRequested())
    {
        SetLastInternetError(ERROR_INTERNET_OPERATION_CANCELLED);
        return false;
    }
    FetchOverConnection();
    if (IsFatal(m_nConnectionError))
        return true;
    CFtpListing listed = m_nConnectionError == 0 ? m_connectionListing : CFtpListing();
    switch (CompareListings(pRequest->listing, listed))
    {
    case Match::same:
        m_nDotNames = DotNames::kept;
        break;
    case Match::hiddenByList:
        m_nDotNames = DotNames::hidden;
        break;
    case Match::differ:
        GiveUp(pRequest->strPath + ": STAT 与 LIST 的列表不同");
        return true;
    }
    // Its sub-folders beginning with "." were left out while the rule was open.
    PlanChildren(*pRequest, pRequest->listing);
    FillPipeline();
    (void)m_pChannel->Poll();
    return true;
}

CStatFolderSource::CRequestPtr CStatFolderSource::Need(CFTPDir* pDir, const std::string& strPath)
{
    auto it = m_requests.find(strPath);
    if (it != m_requests.end())
    {
        CRequestPtr pRequest = it->second;
        if (!pRequest->bSent)
        {
            m_planned.erase({pRequest->key, pRequest->strPath});
            SendRequest(pRequest);
        }
        return pRequest;
    }
    // Not foreseen (or dropped to keep the cap): asked for now.
    auto pRequest = std::make_shared<CRequest>();
    pRequest->strPath = strPath;
    pRequest->key = KeyOf(pDir);
    pRequest->nDepth = pDir->GetDepth();
    m_requests.emplace(strPath, pRequest);
    SendRequest(pRequest);
    return pRequest;
}

void CStatFolderSource::SendRequest(const CRequestPtr& pRequest)
{
    pRequest->bSent = true;
    pRequest->sentAt = std::chrono::steady_clock::now();
    // A failed Send means a dead line; the wait for the answer says so.
    if (!m_pChannel->Send("CWD " + pRequest->strPath) || !m_pChannel->Send("STAT .") ||
        !m_pChannel->Send("PWD"))
        return;
    m_expected.push_back({pRequest, ReplyTo::cwd});
    m_expected.push_back({pRequest, ReplyTo::stat});
    m_expected.push_back({pRequest, ReplyTo::pwd});
    ++m_nInFlight;
}

bool CStatFolderSource::FillPipeline()
{
    if (m_nState != State::stat || !m_pChannel || m_plan.nPipelineDepth <= 1)
        return false;
    // Topped up a batch at a time, so one write carries several folders'
    // commands and neither we nor the server wake up once per folder.
    if (m_nInFlight + PipelineBatch(m_plan.nPipelineDepth) > m_plan.nPipelineDepth)
        return false;
    bool bSent = false;
    while (m_nInFlight < m_plan.nPipelineDepth && m_nHeldBytes < m_plan.nHoldAheadBytes &&
           !m_planned.empty())
    {
        CRequestPtr pRequest = m_planned.begin()->second;
        m_planned.erase(m_planned.begin());
        SendRequest(pRequest);
        bSent = true;
    }
    return bSent;
}

bool CStatFolderSource::WaitFor(const CRequest& request, ReplyTo nKind)
{
    for (;;)
    {
        bool bDone = nKind == ReplyTo::cwd    ? request.bCwdDone
                     : nKind == ReplyTo::stat ? request.bStatDone
                                              : request.bPwdDone;
        if (bDone)
            return true;
        if (!m_pChannel)
            return Kill(m_nDeadError != 0 ? m_nDeadError : ERROR_INTERNET_CONNECTION_ABORTED);
        if (m_expected.empty())
            return Kill(m_pChannel->GetDeadError() != 0 ? m_pChannel->GetDeadError()
                                                        : ERROR_INTERNET_CONNECTION_ABORTED);
        FillPipeline();
        // A listing is bounded from its request (or the reply before it,
        // the server answering in order) to its last reply.
        auto deadline = std::max(request.sentAt, m_lastReplyAt) +
                        std::chrono::milliseconds(m_plan.nListingTimeoutMs);
        CFtpReply reply;
        if (!m_pChannel->ReadReply(reply, deadline))
        {
            uint32_t nError = GetLastInternetError();
            if (m_pChannel->HasSpokenOutOfTurn())
                return Desync("STAT 连接上收到了不是 FTP 回答的行");
            return Kill(nError);
        }
        m_lastReplyAt = std::chrono::steady_clock::now();
        if (!Dispatch(reply))
            return false;
    }
}

bool CStatFolderSource::Desync(std::string strWhy)
{
    m_bDesync = true;
    m_report.bDesync = true;
    m_strDesyncWhy = std::move(strWhy);
    return false;
}

bool CStatFolderSource::AfterWait(const std::string& strPath)
{
    m_pNeeded = nullptr;
    if (!m_bDesync)
        return false;
    // Nothing after the last listing whose PWD came back in its place is
    // trusted: the rest of the session lists the normal way.
    GiveUp(m_strDesyncWhy);
    return ChangeOverConnection(strPath);
}

bool CStatFolderSource::NeedsConfirmation(const CFTPDir* pDir, const CFtpListing& listing) const
{
    if (listing.nUnreadable > 0)
        return true;
    if (pDir->m_fileList.empty() && pDir->m_dirList.empty())
        return false;
    std::unordered_set<std::string_view> files;
    std::unordered_set<std::string_view> dirs;
    for (const CFtpListEntry& entry : listing.entries)
        (entry.bDirectory ? dirs : files).insert(entry.strName);
    for (const auto& pFile : pDir->m_fileList)
        if (files.count(pFile->m_strName) == 0)
            return true;
    for (const auto& pSub : pDir->m_dirList)
        if (dirs.count(pSub->m_strName) == 0)
            return true;
    return false;
}

void CStatFolderSource::ForgetIndexes(const CFtpListing& listing)
{
    if (m_pCurrentDir == nullptr || m_childIndex.empty())
        return;
    std::unordered_set<std::string_view> dirs;
    for (const CFtpListEntry& entry : listing.entries)
        if (entry.bDirectory)
            dirs.insert(entry.strName);
    for (const auto& pSub : m_pCurrentDir->m_dirList)
        if (dirs.count(pSub->m_strName) == 0)
            ForgetIndexBelow(pSub.get());
    m_childIndex.erase(m_pCurrentDir);
}

void CStatFolderSource::ForgetIndexBelow(const CFTPDir* pDir)
{
    std::vector<const CFTPDir*> stack{pDir};
    while (!stack.empty())
    {
        const CFTPDir* p = stack.back();
        stack.pop_back();
        if (m_childIndex.erase(p) == 0 && p != pDir)
            continue; // nothing below an unindexed folder was indexed through it
        for (const auto& pSub : p->m_dirList)
            stack.push_back(pSub.get());
    }
}

const CStatFolderSource::CChildIndex& CStatFolderSource::IndexOf(const CFTPDir* pDir) const
{
    CChildIndex& index = m_childIndex[pDir];
    if (index.nBuiltFor == pDir->m_dirList.size() && !index.position.empty())
        return index;
    index.byName.clear();
    index.position.clear();
    index.byName.reserve(pDir->m_dirList.size());
    index.position.reserve(pDir->m_dirList.size());
    for (size_t i = 0; i < pDir->m_dirList.size(); ++i)
    {
        CFTPDir* pSub = pDir->m_dirList[i].get();
        index.byName.emplace(pSub->m_strName, pSub);
        index.position.emplace(pSub, static_cast<uint32_t>(i));
    }
    index.nBuiltFor = pDir->m_dirList.size();
    return index;
}

bool CStatFolderSource::Dispatch(CFtpReply& reply)
{
    if (m_expected.empty())
    {
        m_report.bOutOfTurn = true;
        return Kill(ERROR_FTP_DROPPED);
    }
    CExpected expected = std::move(m_expected.front());
    m_expected.pop_front();
    // Lines inside a reply that read as replies: a forged reply that
    // swallowed real ones. Only a STAT listing may hold them (a name), and
    // is then checked the normal way.
    bool bReplyLines = reply.bMultiline && HoldsReplyLines(reply.strBody);
    if (bReplyLines && expected.nKind != ReplyTo::stat)
        return Desync("回答中有像 FTP 回答的行（" + std::to_string(reply.nCode) + "）");
    if (expected.nKind == ReplyTo::other)
        return true;
    CRequest& request = *expected.pRequest;
    if (expected.nKind == ReplyTo::pwd)
    {
        request.bPwdDone = true;
        if (reply.nCode != 257 || reply.bMultiline)
            return Desync(request.strPath + ": PWD 的回答错位（" + std::to_string(reply.nCode) +
                          "）");
        if (request.bCwdOk && PwdPath(reply.strText) != request.strPath)
            return Desync(request.strPath + ": PWD 的回答是另一个目录");
        return true;
    }
    if (expected.nKind == ReplyTo::cwd)
    {
        if (reply.nCode == 200 || reply.nCode == 250)
            request.bCwdOk = true;
        else if (reply.nCode < 400)
        {
            m_report.bOutOfTurn = true; // the answer of some other command
            return Kill(ERROR_FTP_DROPPED);
        }
        request.bCwdDone = true;
        return true;
    }

    --m_nInFlight;
    request.bStatDone = true;
    if (request.bRetired || !request.bCwdOk)
        return true; // the listing of some other folder, or of nobody's
    if (reply.nCode >= 400)
    {
        request.strWhy = "STAT " + std::to_string(reply.nCode) + " " + reply.strText;
        return true;
    }
    if (reply.nCode < 211 || reply.nCode > 213)
    {
        m_report.bOutOfTurn = true;
        return Kill(ERROR_FTP_DROPPED);
    }
    if (!reply.bMultiline)
    {
        request.strWhy = "STAT 的回答不含目录列表";
        return true;
    }
    try
    {
        request.listing = CFtpListParser::Parse(reply.strBody, ListedNow());
    }
    catch (const std::bad_alloc&)
    {
        return Kill(ERROR_NOT_ENOUGH_MEMORY);
    }
    reply.strBody = std::string();
    request.bSuspect = bReplyLines;
    // A status text in place of a listing: nothing in it reads as an entry.
    if (request.listing.entries.empty() && request.listing.nUnreadable > 0)
    {
        request.listing = {};
        request.strWhy = "STAT 的回答不是目录列表";
        return true;
    }
    request.bListing = true;
    if (!request.bRetired)
    {
        request.nBytes = HeldBytes(request.listing);
        m_nHeldBytes += request.nBytes;
        m_held.emplace(std::make_pair(request.key, request.strPath), expected.pRequest);
    }
    m_report.nMostHeldBytes = std::max(m_report.nMostHeldBytes, m_nHeldBytes);
    if (m_nState == State::stat)
        PlanChildren(request, request.listing);
    KeepCap();
    return true;
}

void CStatFolderSource::Retire(const CRequestPtr& pRequest)
{
    pRequest->bRetired = true;
    auto itHeld = m_held.find({pRequest->key, pRequest->strPath});
    if (itHeld != m_held.end() && itHeld->second == pRequest)
    {
        m_nHeldBytes -= pRequest->nBytes;
        m_held.erase(itHeld);
    }
    auto it = m_requests.find(pRequest->strPath);
    if (it != m_requests.end() && it->second == pRequest)
        m_requests.erase(it);
    if (!pRequest->bSent)
        m_planned.erase({pRequest->key, pRequest->strPath});
}

void CStatFolderSource::KeepCap()
{
    while (m_nHeldBytes > m_plan.nHoldAheadBytes && !m_held.empty())
    {
        // The listing the crawl will need last goes first.
        auto it = std::prev(m_held.end());
        if (it->second.get() == m_pNeeded)
        {
            if (it == m_held.begin())
                return;
            --it;
        }
        CRequestPtr pFarthest = it->second;
        // Asked for again when the crawl gets there.
        Retire(pFarthest);
        pFarthest->listing = {};
        ++m_report.nDroppedAhead;
    }
}

bool CStatFolderSource::SkipsName(std::string_view strName) const
{
    return !IsAddressableName(strName) || strName.size() > MAX_FOLDER_NAME_BYTES ||
           (IsDotName(strName) && m_nDotNames != DotNames::kept);
}

void CStatFolderSource::PlanChildren(const CRequest& parent, const CFtpListing& listing)
{
    // The crawl keeps folders at the depth bound as listed but does not enter them.
    if (parent.nDepth + 1 >= MAX_TREE_DEPTH)
        return;
    // The order the merge will give: cached folders that stay (all of them
    // when the listing had lines it could not read), then new ones as listed.
    std::vector<std::string_view> listed;
    std::unordered_set<std::string_view> listedSet;
    for (const CFtpListEntry& entry : listing.entries)
    {
        if (entry.bDirectory && !SkipsName(entry.strName) && listedSet.insert(entry.strName).second)
            listed.push_back(entry.strName);
    }
    std::vector<std::string_view> order;
    std::unordered_set<std::string_view> cached;
    if (const CFTPDir* pCached = FindCached(parent.strPath))
    {
        for (const auto& pSub : pCached->m_dirList)
        {
            std::string_view strName = pSub->m_strName;
            bool bFirst = cached.insert(strName).second;
            if (SkipsName(strName))
                continue;
            if (listing.nUnreadable > 0 || (bFirst && listedSet.count(strName) != 0))
                order.push_back(strName);
        }
    }
    for (std::string_view strName : listed)
    {
        if (cached.count(strName) == 0)
            order.push_back(strName);
    }
    for (size_t i = 0; i < order.size(); ++i)
    {
        CKey key = parent.key;
        key.push_back(static_cast<uint32_t>(i));
        Plan(JoinPath(parent.strPath, order[i]), std::move(key), parent.nDepth + 1);
    }
}

void CStatFolderSource::Plan(std::string strPath, CKey key, int nDepth)
{
    if (m_requests.count(strPath) != 0)
        return; // asked for already (a name given twice, or a folder needed early)
    auto pRequest = std::make_shared<CRequest>();
    pRequest->strPath = std::move(strPath);
    pRequest->key = std::move(key);
    pRequest->nDepth = nDepth;
    m_requests.emplace(pRequest->strPath, pRequest);
    m_planned.emplace(std::make_pair(pRequest->key, pRequest->strPath), pRequest);
}

void CStatFolderSource::PlanFollowers(CFTPDir* pFirst)
{
    // A continuation starts at its resume folder; the resume walk then goes
    // on with the later siblings of the folder and of each of its ancestors,
    // as cached (they are not listed again).
    for (CFTPDir* p = pFirst; p != m_pStartDir && p->m_pParent != nullptr; p = p->m_pParent)
    {
        CFTPDir* pParent = p->m_pParent;
        CKey parentKey = KeyOf(pParent);
        bool bAfter = false;
        for (size_t i = 0; i < pParent->m_dirList.size(); ++i)
        {
            CFTPDir* pSibling = pParent->m_dirList[i].get();
            if (pSibling == p)
            {
                bAfter = true;
                continue;
            }
            std::string strPath;
            if (!bAfter || pSibling->GetDepth() >= MAX_TREE_DEPTH ||
                SkipsName(pSibling->m_strName) || !MakeSendablePath(pSibling, &strPath))
                continue;
            CKey key = parentKey;
            key.push_back(static_cast<uint32_t>(i));
            Plan(std::move(strPath), std::move(key), pSibling->GetDepth());
        }
    }
}

CStatFolderSource::CKey CStatFolderSource::KeyOf(const CFTPDir* pDir) const
{
    CKey key;
    for (const CFTPDir* p = pDir; p != m_pStartDir && p != nullptr && p->m_pParent != nullptr;
         p = p->m_pParent)
    {
        const CChildIndex& index = IndexOf(p->m_pParent);
        auto it = index.position.find(p);
        key.push_back(it != index.position.end() ? it->second
                                                 : static_cast<uint32_t>(index.position.size()));
    }
    std::reverse(key.begin(), key.end());
    return key;
}

CFTPDir* CStatFolderSource::FindCached(const std::string& strPath) const
{
    std::string_view rest = strPath;
    if (rest.substr(0, m_strStartPath.size()) != m_strStartPath)
        return nullptr;
    rest.remove_prefix(m_strStartPath.size());
    CFTPDir* pDir = m_pStartDir;
    while (pDir != nullptr && !rest.empty())
    {
        if (rest.front() != '/')
        {
            if (m_strStartPath != "/" || pDir != m_pStartDir)
                return nullptr; // "/a" is not below "/ab"
        }
        else
            rest.remove_prefix(1);
        size_t nSlash = rest.find('/');
        std::string_view strName = rest.substr(0, nSlash);
        rest.remove_prefix(nSlash == std::string_view::npos ? rest.size() : nSlash);
        const CChildIndex& index = IndexOf(pDir);
        auto it = index.byName.find(strName);
        pDir = it != index.byName.end() ? it->second : nullptr;
    }
    return pDir;
}
