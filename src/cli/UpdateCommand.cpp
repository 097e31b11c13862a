// update: the real engine, reported as it runs, until it is idle.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/CliObserver.h"
#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "cli/TextTable.h"
#include "cli/WindowHandoff.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/File.h"
#include "model/SiteSettings.h"
#include "update/UpdateEngine.h"

namespace
{
using Clock = std::chrono::steady_clock;
constexpr auto POLL_PERIOD = std::chrono::milliseconds(100);
constexpr auto TICK_PERIOD = std::chrono::seconds(1); // the status bar's timer

// What one update run shows: each status change (JSON), the progress line
// (text: live on a terminal, otherwise a line whenever it changes), and the
// sites' results at the end.
class CUpdateReport
{
public:
    CUpdateReport(bool bJson, std::vector<CFTPSite*> sites)
        : m_bJson(bJson), m_bTerminal(!bJson && ::isatty(STDOUT_FILENO) == 1),
          m_sites(std::move(sites))
    {
    }

    void OnSite(const CSiteNotice& notice)
    {
        CSiteNotice& last = m_last[notice.pSite];
        if (last.pSite != nullptr && last.nStatus == notice.nStatus &&
            last.strText == notice.strText)
            return;
        last = notice;
        if (m_bJson)
        {
            std::fputs(CJsonLine()
                           .Add("key", GetDisplayKey(*notice.pSite))
                           .Add("status", notice.nStatus)
                           .Add("text", notice.strText)
                           .Add("unreadable", static_cast<int64_t>(notice.nUnreadable))
                           .Add("refused", static_cast<int64_t>(notice.nRefused))
                           .Finish()
                           .c_str(),
                       stdout);
            std::fflush(stdout);
        }
        else if (m_bTerminal)
            ShowLiveLine();
    }

    void OnTick(const std::string& strProgress)
    {
        if (m_bJson || strProgress == m_strProgress)
            return;
        m_strProgress = strProgress;
        if (m_bTerminal)
            ShowLiveLine();
        else
        {
            std::printf("%s\n", strProgress.c_str());
            std::fflush(stdout);
        }
    }

    // The results; returns how many sites did not end with success.
    int Finish()
    {
        int nFailed = 0;
        CTextTable table;
        for (CFTPSite* pSite : m_sites)
        {
            if (pSite->m_nStatus.load() != 2)
                ++nFailed;
            std::string strText = pSite->GetStatusText();
            std::replace(strText.begin(), strText.end(), '\n', ' ');
            std::replace(strText.begin(), strText.end(), '\t', ' ');
            table.AddRow({GetDisplayKey(*pSite), strText});
        }
        if (m_bJson)
        {
            std::fputs(CJsonLine()
                           .Add("done", true)
                           .Add("total", static_cast<int64_t>(m_sites.size()))
                           .Add("failed", static_cast<int64_t>(nFailed))
                           .Finish()
                           .c_str(),
                       stdout);
            return nFailed;
        }
        if (m_bTerminal && m_bLiveShown)
            std::fputs("\r\033[K", stdout);
        table.Print(stdout);
        return nFailed;
    }

private:
    // "更新3/10  a, b": sites done of the run and the sites being crawled,
    // cut to the terminal's width.
    void ShowLiveLine()
    {
        std::string strLine = m_strProgress.empty() ? std::string("更新") : m_strProgress;
        std::string strCrawling;
        for (CFTPSite* pSite : m_sites)
        {
            auto it = m_last.find(pSite);
            if (it == m_last.end() || it->second.nStatus != 4 ||
                it->second.strText == "正在等待更新...")
                continue;
            strCrawling += strCrawling.empty() ? "" : ", ";
            strCrawling += GetDisplayKey(*pSite);
        }
        if (!strCrawling.empty())
            strLine += "  " + strCrawling;
        strLine = PrintableText(strLine);
        winsize size{};
        size_t nColumns =
            ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        while (DisplayWidth(strLine) >= nColumns && !strLine.empty())
        {
            // Drop whole UTF-8 characters from the end.
            do
                strLine.pop_back();
            while (!strLine.empty() && (static_cast<unsigned char>(strLine.back()) & 0xC0) == 0x80);
            if (!strLine.empty() && static_cast<unsigned char>(strLine.back()) >= 0xC0)
                strLine.pop_back();
        }
        std::printf("\r\033[K%s", strLine.c_str());
        std::fflush(stdout);
        m_bLiveShown = true;
    }

    bool m_bJson;
    bool m_bTerminal;
    std::vector<CFTPSite*> m_sites;
    std::map<CFTPSite*, CSiteNotice> m_last;
    std::string m_strProgress;
    bool m_bLiveShown = false;
};

// The folders to update: the sites' roots (a key is an address of the root)
// or cached folders below them. One task per site: a second target of a site
// already queued is left out, as the engine would ignore it.
bool ResolveTargets(CCliContext& ctx, std::vector<CFTPDir*>* pTargets)
{
    for (const std::string& strTarget : ctx.line.m_args)
    {
        CEntryRef ref;
        switch (ResolveAddress(ctx.doc, strTarget, &ref))
        {
        case ResolveResult::noSite:
            ReportError("no site has the key of '" + strTarget + "'");
            return false;
        case ResolveResult::noEntry:
            ReportError("no cached folder at '" + strTarget + "'");
            return false;
        case ResolveResult::found:
            break;
        }
        if (ref.pDir == nullptr)
        {
            ReportError("'" + strTarget + "' is a file; only folders are updated");
            return false;
        }
        bool bSiteTaken = std::any_of(pTargets->begin(), pTargets->end(),
                                      [&](CFTPDir* p) { return p->GetSite() == ref.pSite; });
        if (bSiteTaken)
        {
            ReportError("'" + strTarget +
                        "' left out: its site is already updated by an earlier target");
            continue;
        }
        pTargets->push_back(ref.pDir);
    }
    return true;
}

// The window runs the update with its own engine; its replies stand in for
// the engine's notices, so the report is the one a direct run prints.
int UpdateInWindow(CCliContext& ctx, const std::vector<CFTPSite*>& sites)
{
    CJsonLine request = MakeWindowRequest("update", ctx.line.m_args);
    if (ctx.line.m_strListing)
        request.Add("listing", *ctx.line.m_strListing);
    CUpdateReport report(ctx.line.m_bJson, sites);
    int nExit = ctx.pWindow->Run(
        request,
        [&](const CJsonFields& reply)
        {
            if (std::optional<std::string> strProgress = reply.GetString("progress"))
            {
                report.OnTick(*strProgress);
                return;
            }
            std::optional<uint64_t> nIndex = reply.GetUnsigned("site");
            std::optional<std::string> strKey = reply.GetString("key");
            if (!nIndex || !strKey)
                return;
            // The same site.ds: the same place in the list, else the key.
            CFTPSite* pSite =
                *nIndex < ctx.doc.m_siteList.size() ? ctx.doc.m_siteList[*nIndex].get() : nullptr;
            if (pSite == nullptr || pSite->GetKey() != *strKey)
                pSite = ctx.doc.FindSite(*strKey);
            if (pSite == nullptr)
                return;
            CSiteNotice notice;
            notice.pSite = pSite;
            notice.nStatus = static_cast<int32_t>(reply.GetUnsigned("status").value_or(0));
            notice.strText = reply.GetString("text").value_or("");
            notice.nUnreadable = reply.GetUnsigned("unreadable").value_or(0);
            pSite->SetStatus(notice.strText, notice.nStatus);
            pSite->m_nUnreadableLines = notice.nUnreadable;
            report.OnSite(notice);
        });
    nExit = FinishRun(ctx, nExit, [](std::chrono::milliseconds) {});
    if (nExit != EXIT_OK)
        return nExit; // refused, or the window went away: no results to show
    int nFailed = report.Finish();
    return nFailed > 0 ? EXIT_FAILED : nExit;
}
} // namespace

int RunUpdate(CCliContext& ctx)
{
    std::vector<CFTPDir*> targets;
    if (!ResolveTargets(ctx, &targets))
        return EXIT_FAILED;
    if (ctx.line.m_nThreads)
        g_nThreadLimit = *ctx.line.m_nThreads;

    std::vector<CFTPSite*> sites;
    if (targets.empty())
    {
        for (const auto& pSite : ctx.doc.m_siteList)
            sites.push_back(pSite.get());
    }
    else
    {
        for (CFTPDir* pDir : targets)
            sites.push_back(pDir->GetSite());
    }
    if (ctx.pWindow != nullptr)
        return UpdateInWindow(ctx, sites);

    ListingMode nMode = ListingMode::automatic;
    if (ctx.line.m_strListing && ParseListingMode(*ctx.line.m_strListing, &nMode))
    {
        for (CFTPSite* pSite : sites)
        {
            try
            {
                pSite->UpdateSettings([nMode](CSiteSettings& settings)
                                      { settings.Set(CSiteSettings::LISTING, nMode); });
            }
            catch (const CFileException& e)
            {
                ReportError("cannot keep the listing mode of " + pSite->GetKey() + ": " +
                            e.GetErrorText());
                return EXIT_FAILED;
            }
        }
    }

    CUpdateReport report(ctx.line.m_bJson, sites);
    CCliObserver observer(ctx.doc, [&report](const CSiteNotice& notice) { report.OnSite(notice); });
    SetUpdateObserver(&observer);
    CUpdateProgress progress;
    {
        // The dispatcher and the workers inherit a mask without the
        // interrupt signals, so the main thread is the one that sees them.
        CBlockInterrupts block;
        if (targets.empty())
            UpdateAll(ctx.doc.m_siteList, progress);
        for (CFTPDir* pDir : targets)
            UpdateSelected(ctx.doc.m_siteList, pDir, progress);
    }

    bool bStopped = false;
    Clock::time_point nextTick = Clock::now() + TICK_PERIOD;
    while (!IsEngineIdle())
    {
        observer.HandleWaiting(POLL_PERIOD);
        int nInterrupts = GetInterruptCount();
        if (nInterrupts >= 2)
            break; // like closing the window: the closing sequence cuts every session
        if (nInterrupts >= 1 && !bStopped)
        {
            StopUpdate(); // what was merged is saved
            bStopped = true;
        }
        if (Clock::now() >= nextTick)
        {
            report.OnTick(progress.OnTimer());
            nextTick += TICK_PERIOD;
        }
    }
    // Idle, or closing at once: what still runs is stopped, the last notices
    // are handled and the changed marks written before the results show.
    int nStatus =
        FinishRun(ctx, EXIT_OK,
                  [&observer](std::chrono::milliseconds wait) { observer.HandleWaiting(wait); });
    SetUpdateObserver(nullptr);

    int nFailed = report.Finish();
    return nFailed > 0 ? EXIT_FAILED : nStatus;
}
