#pragma once
// Listings over the control connection: "CWD <path>" then "STAT ." for each
// folder, on a second control connection of the session (CFtpControlChannel),
// with up to the plan's depth of folders in flight.
//
// Folders are requested in the order the crawl will need them: a folder's
// sub-folders as soon as its listing is parsed, ordered as the merge will
// order them (cached folders first, then new ones), ahead of the folder's
// later siblings; after a resume, the folders that follow the resume folder.
// Replies are matched to requests strictly in order. The crawler still asks
// for one folder at a time and merges in its own order, so listings fetched
// ahead wait here (up to the plan's byte cap; beyond it the farthest ones
// are dropped and fetched again when needed) and are dropped with this
// object on a stop or a lost connection. A folder the crawl needs that was
// not foreseen is simply requested then.
//
// Each folder costs "CWD <path>", "STAT ." and "PWD": the PWD reply must
// name the folder asked for, in its place, so a listing that ended early
// (a file name holding CR LF and a forged end line) or a reply forged to
// shift the pipeline shows before its listing is handed over. Replies seen
// out of step, a multi-line reply holding lines that read as replies, or a
// line that is no reply turn the session to the normal way, from the
// folder being waited for on. A STAT listing that would remove cached
// entries, or has lines that cannot be read or look like replies, is
// listed again the normal way before the crawl merges it.
//
// A 550 on a folder's CWD makes it a refused folder and its STAT answer is
// discarded. A STAT answer that is not a listing turns the rest of the
// session to the normal way (the worker's connection); a reply no request
// asked for ends the session as a lost connection.
//
// In auto mode the first folder is listed both ways, and STAT is used only
// when both give the same names, kinds and sizes. See IsHiddenByList for
// the one difference that is accepted.
//
// Threads: the site's worker only.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "update/FolderSource.h"

class CFtpControlChannel;
struct CFtpReply;

class CStatFolderSource : public CFolderSource
{
public:
    CStatFolderSource(CFtpConnection* pConnection, CFTPDir* pStartDir, const CListingPlan& plan);
    ~CStatFolderSource() override;

    bool ChangeDirectory(CFTPDir* pDir) override;
    bool List(CFtpListing& listing) override;
    void Finish(CListingReport* pReport) override;

private:
    enum class State
    {
        opening, // no control connection yet
        probing, // auto: the first folder is compared both ways
        stat,    // listing over the control connection
        list,    // the normal way for the rest of the session
    };
    // Whether the normal listing shows names that begin with ".".
    enum class DotNames
    {
        unknown,
        kept,
        hidden,
    };
    // A folder's place in the crawl: the indexes of it and its ancestors
    // below the start folder. Compared as a sequence, it is crawl order.
    using CKey = std::vector<uint32_t>;

    struct CRequest
    {
        std::string strPath;
        CKey key;
        int nDepth = 0;
        bool bSent = false;
        bool bRetired = false; // the crawl is done with it (or never will use it)
        bool bCwdDone = false;
        bool bCwdOk = false;
        bool bStatDone = false;
        bool bPwdDone = false;
        bool bListing = false; // the STAT answer was a listing
        bool bSuspect = false; // ... with lines that read as replies
        std::chrono::steady_clock::time_point sentAt;
        std::string strWhy;    // otherwise what it was
        CFtpListing listing;
        uint64_t nBytes = 0; // counted in m_nHeldBytes while in m_held
    };
    using CRequestPtr = std::shared_ptr<CRequest>;

    enum class ReplyTo
    {
        cwd,
        stat,
        pwd,
        other, // a command whose answer does not matter (OPTS UTF8 ON)
    };
    struct CExpected
    {
        CRequestPtr pRequest;
        ReplyTo nKind;
    };

    void OpenChannel();
    bool Probe(const CRequestPtr& pRequest);
    bool CheckDotNames(const CRequestPtr& pRequest);
    bool ChangeOverConnection(const std::string& strPath);
    void FetchOverConnection();

    CRequestPtr Need(CFTPDir* pDir, const std::string& strPath);
    void SendRequest(const CRequestPtr& pRequest);
    // True when it queued requests.
    bool FillPipeline();
    // Reads replies until the request has its CWD (or STAT) answer. False
    // with the last error set once the control connection is gone.
    bool WaitFor(const CRequest& request, ReplyTo nKind);
    bool Dispatch(CFtpReply& reply);
    // Replies and requests are out of step: false, and the session turns
    // to the normal way (AfterWait).
    bool Desync(std::string strWhy);
    // After a failed wait for pDir's replies: the normal way for pDir when
    // the pipeline lost step, otherwise false (the error stays).
    bool AfterWait(const std::string& strPath);
    // The STAT listing of pDir must be checked the normal way first.
    bool NeedsConfirmation(const CFTPDir* pDir, const CFtpListing& listing) const;
    // A listing the normal way is about to be merged into m_pCurrentDir:
    // the indexes of folders it may remove go.
    void ForgetIndexes(const CFtpListing& listing);
    void ForgetIndexBelow(const CFTPDir* pDir);
    void Retire(const CRequestPtr& pRequest);
    void KeepCap();

    // Plans the sub-folders of a listed folder (see the class comment).
    void PlanChildren(const CRequest& parent, const CFtpListing& listing);
    void Plan(std::string strPath, CKey key, int nDepth);
    // The folders that follow pFirst in crawl order without being below it.
    void PlanFollowers(CFTPDir* pFirst);
    CKey KeyOf(const CFTPDir* pDir) const;
    CFTPDir* FindCached(const std::string& strPath) const;
    // A cached folder's sub-folders by name (the first of each name) and
    // by place, built once and again only when their number changed; a
    // listing that may remove some drops it first (ForgetIndexes).
    struct CChildIndex
    {
        size_t nBuiltFor = 0;
        std::unordered_map<std::string_view, CFTPDir*> byName;
        std::unordered_map<const CFTPDir*, uint32_t> position;
    };
    const CChildIndex& IndexOf(const CFTPDir* pDir) const;
    bool SkipsName(std::string_view strName) const;

    void GiveUp(std::string strWhy);
    bool Kill(uint32_t nError);
    void CloseChannel();

    CFtpConnection* m_pConnection;
    CFTPDir* m_pStartDir;
    std::string m_strStartPath;
    CListingPlan m_plan;
    CListingReport m_report;
    State m_nState = State::opening;
    DotNames m_nDotNames = DotNames::unknown;
    uint32_t m_nDeadError = 0;
    bool m_bPlannedFollowers = false;
    bool m_bDesync = false;
    std::string m_strDesyncWhy;
    std::chrono::steady_clock::time_point m_lastReplyAt;
    CFTPDir* m_pCurrentDir = nullptr;
    mutable std::unordered_map<const CFTPDir*, CChildIndex> m_childIndex;

    std::unique_ptr<CFtpControlChannel> m_pChannel;
    std::unordered_map<std::string, CRequestPtr> m_requests;       // live, by path
    std::map<std::pair<CKey, std::string>, CRequestPtr> m_planned; // not sent yet
    std::map<std::pair<CKey, std::string>, CRequestPtr> m_held;    // listed, not merged yet
    std::deque<CExpected> m_expected;                              // replies to come, in order
    size_t m_nInFlight = 0;                                        // STAT answers to come
    uint64_t m_nHeldBytes = 0;
    const CRequest* m_pNeeded = nullptr; // never dropped to keep the cap

    // The folder entered last.
    bool m_bCurrentFromConnection = false; // listed the normal way
    bool m_bConnectionListed = false;
    uint32_t m_nConnectionError = 0;
    CFtpListing m_connectionListing;
    CFtpListing m_current;
};
