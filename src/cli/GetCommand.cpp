// get: downloads through the same queue as the window, without a window.
// Each argument is a cached entry's address, or an FTP URL whose host names
// a site (its login is used) or, failing that, is fetched with the URL's own
// login.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

#include "cli/CliSignals.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/JsonWriter.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/Json.h"
#include "transfer/DownloadPlan.h"
#include "transfer/DownloadQueue.h"
#include "transfer/LocalName.h"

namespace
{
struct CFtpUrlParts
{
    std::string strHost;
    int32_t nPort = 21;
    std::string strUser;     // empty: anonymous
    std::string strPassword; // empty: none given
    std::string strPath;     // the server's bytes, "/..."
};

bool PercentDecode(std::string_view str, std::string* pOut)
{
    pOut->clear();
    for (size_t i = 0; i < str.size(); ++i)
    {
        if (str[i] != '%')
        {
            *pOut += str[i];
            continue;
        }
        if (i + 2 >= str.size() || !std::isxdigit(static_cast<unsigned char>(str[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(str[i + 2])))
            return false;
        *pOut += static_cast<char>(std::stoi(std::string(str.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return true;
}

// "ftp://[user[:password]@]host[:port]/path"; false for anything else.
bool ParseFtpUrlText(const std::string& strUrl, CFtpUrlParts* pParts)
{
    constexpr std::string_view SCHEME = "ftp://";
    if (strUrl.size() <= SCHEME.size() || strUrl.compare(0, SCHEME.size(), SCHEME) != 0)
        return false;
    std::string_view rest = std::string_view(strUrl).substr(SCHEME.size());
    size_t nSlash = rest.find('/');
    std::string_view authority = rest.substr(0, nSlash);
    std::string_view path = nSlash == std::string_view::npos ? "/" : rest.substr(nSlash);
    if (size_t nAt = authority.rfind('@'); nAt != std::string_view::npos)
    {
        std::string_view login = authority.substr(0, nAt);
        authority.remove_prefix(nAt + 1);
        size_t nColon = login.find(':');
        if (!PercentDecode(login.substr(0, nColon), &pParts->strUser))
            return false;
        if (nColon != std::string_view::npos &&
            !PercentDecode(login.substr(nColon + 1), &pParts->strPassword))
            return false;
    }
    size_t nPortColon = authority.rfind(':');
    if (nPortColon != std::string_view::npos &&
        authority.find(']', nPortColon) == std::string_view::npos)
    {
        std::string strPort(authority.substr(nPortColon + 1));
        authority = authority.substr(0, nPortColon);
        if (strPort.empty() || strPort.find_first_not_of("0123456789") != std::string::npos ||
            strPort.size() > 5 || std::stoi(strPort) < 1 || std::stoi(strPort) > 65535)
            return false;
        pParts->nPort = std::stoi(strPort);
    }
    if (authority.size() >= 2 && authority.front() == '[' && authority.back() == ']')
        authority = authority.substr(1, authority.size() - 2);
    pParts->strHost = authority;
    return !pParts->strHost.empty() && PercentDecode(path, &pParts->strPath) &&
           pParts->strPath.find('\0') == std::string::npos;
}

// The cached entry at a server path, by its bytes; no lock (tarn-cli runs no update).
CEntryRef FindByServerPath(CFTPSite& site, const std::string& strPath)
{
    CEntryRef ref;
    ref.pSite = &site;
    CFTPDir* pDir = site.m_pRoot.get();
    size_t nStart = 1;
    while (pDir != nullptr && nStart < strPath.size())
    {
        size_t nEnd = std::min(strPath.find('/', nStart), strPath.size());
        std::string strName = strPath.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strName.empty())
            continue;
        CFTPDir* pNext = nullptr;
        for (const auto& pChild : pDir->m_dirList)
            if (pChild->m_strName == strName)
                pNext = pChild.get();
        if (pNext == nullptr && nEnd == strPath.size())
            for (const auto& pChild : pDir->m_fileList)
                if (pChild->m_strName == strName)
                    ref.pFile = pChild.get();
        pDir = pNext;
        if (ref.pFile != nullptr)
            return ref;
    }
    ref.pDir = pDir;
    return ref;
}

std::string DefaultDownloadFolder()
{
    if (const char* psz = std::getenv("XDG_DOWNLOAD_DIR"); psz != nullptr && *psz != '\0')
        return psz;
    const char* pszHome = std::getenv("HOME");
    std::string strFolder = std::string(pszHome != nullptr ? pszHome : ".") + "/Downloads";
    std::error_code error;
    std::filesystem::create_directories(strFolder, error);
    return strFolder;
}

std::string FormatRate(double dBytes)
{
    const char* UNITS[] = {"B", "KiB", "MiB", "GiB"};
    int nUnit = 0;
    while (dBytes >= 1024 && nUnit < 3)
    {
        dBytes /= 1024;
        ++nUnit;
    }
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.1f %s/s", dBytes, UNITS[nUnit]);
    return sz;
}

// One line on a terminal, redrawn in place.
void DrawProgress(const std::vector<CDownloadJob>& jobs)
{
    uint64_t nDone = 0;
    uint64_t nTotal = 0;
    double dSpeed = 0;
    size_t nFinished = 0;
    for (const CDownloadJob& job : jobs)
    {
        nDone += job.nDone;
        int64_t nSize = job.nTotal >= 0 ? job.nTotal : job.nListedSize;
        nTotal += static_cast<uint64_t>(std::max<int64_t>(nSize, static_cast<int64_t>(job.nDone)));
        dSpeed += job.dSpeed;
        nFinished += job.nState == DownloadState::done || job.nState == DownloadState::failed;
    }
    constexpr int WIDTH = 30;
    int nPercent = nTotal == 0 ? 100 : static_cast<int>(nDone * 100 / nTotal);
    int nFilled = nPercent * WIDTH / 100;
    std::string strBar(static_cast<size_t>(nFilled), '#');
    strBar.resize(WIDTH, '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %-12s  %zu/%zu files ", strBar.c_str(), nPercent,
                 FormatRate(dSpeed).c_str(), nFinished, jobs.size());
    std::fflush(stderr);
}
} // namespace

int RunGet(CCliContext& ctx)
{
    std::string strFolder = ctx.line.m_strOutput ? *ctx.line.m_strOutput : DefaultDownloadFolder();
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(strFolder, error);
    if (!error)
        strFolder = absolute.lexically_normal().string();
    while (strFolder.size() > 1 && strFolder.back() == '/')
        strFolder.pop_back();
    if (!std::filesystem::is_directory(strFolder, error))
    {
        ReportError("the download folder " + strFolder + " does not exist");
        return EXIT_FAILED;
    }

    bool bFailed = false;
    std::vector<std::unique_ptr<CFTPSite>> urlSites; // sites of URLs no site matches
    std::vector<std::pair<CDownloadJob, CFTPSite*>> planned;
    for (const std::string& strArg : ctx.line.m_args)
    {
        CEntryRef ref;
        ResolveResult nFound = ResolveAddress(ctx.doc, strArg, &ref);
        CFtpUrlParts url;
        if (nFound != ResolveResult::found && ParseFtpUrlText(strArg, &url))
        {
            ref = {};
            for (const auto& pSite : ctx.doc.m_siteList)
            {
                bool bSameLogin =
                    url.strUser.empty() ? pSite->IsAnonymous() : pSite->m_strUser == url.strUser;
                if (pSite->m_strHost == url.strHost && pSite->m_nPort == url.nPort && bSameLogin &&
                    (url.strPassword.empty() || url.strPassword == pSite->m_strPassword))
                {
                    pSite->EnsureLoaded();
                    ref = FindByServerPath(*pSite, url.strPath);
                    break;
                }
            }
            if (ref.pSite == nullptr)
            {
                auto pSite = std::make_unique<CFTPSite>();
                pSite->m_strHost = url.strHost;
                pSite->m_nPort = url.nPort;
                pSite->m_strUser = url.strUser.empty() ? "anonymous" : url.strUser;
                pSite->m_strPassword = url.strUser.empty() || url.strPassword.empty()
                                           ? std::string(ANON_PASSWORD)
                                           : url.strPassword;
                pSite->m_nLoadState = 1;
                ref.pSite = pSite.get();
                urlSites.push_back(std::move(pSite));
            }
            if (ref.pDir == nullptr && ref.pFile == nullptr)
            {
                // Not in the cache: fetched as a file of unknown size.
                size_t nSlash = url.strPath.rfind('/');
                if (nSlash + 1 >= url.strPath.size())
                {
                    ReportError(strArg + ": names a folder that is not in the cache");
                    bFailed = true;
                    continue;
                }
                CDownloadJob job;
                job.strSiteKey = ref.pSite->GetKey();
                job.strServerPath = url.strPath;
                job.strFolder = strFolder;
                job.strRelative =
                    MapLocalName(ref.pSite->GetCodec().Decode(url.strPath.substr(nSlash + 1)));
                planned.emplace_back(std::move(job), ref.pSite);
                continue;
            }
        }
        else if (nFound == ResolveResult::noSite)
        {
            ReportError("no site has the key of '" + strArg + "'");
            bFailed = true;
            continue;
        }
        else if (nFound == ResolveResult::noEntry)
        {
            ReportError("nothing cached at '" + strArg + "'");
            bFailed = true;
            continue;
        }
        for (CDownloadJob& job : PlanDownload(*ref.pSite, ref.pDir, ref.pFile, strFolder))
            planned.emplace_back(std::move(job), ref.pSite);
    }

    CDownloadQueue queue;
    std::vector<uint64_t> ids;
    {
        // The workers must leave Ctrl-C to this thread.
        CBlockInterrupts block;
        ids = queue.AddAll(std::move(planned));
    }
    bool bTerminal = ::isatty(STDERR_FILENO) != 0;
    bool bInterrupted = false;
    while (!queue.WaitIdle(std::chrono::milliseconds(200)))
    {
        if (GetInterruptCount() > 0)
        {
            bInterrupted = true;
            break;
        }
        if (bTerminal)
            DrawProgress(queue.GetJobs());
    }
    if (bTerminal && !ids.empty())
    {
        DrawProgress(queue.GetJobs());
        std::fputc('\n', stderr);
    }
    queue.Shutdown();

    for (uint64_t nId : ids)
    {
        std::optional<CDownloadJob> job = queue.GetJob(nId);
        if (!job)
            continue;
        std::string strName = job->strRelative;
        bool bDone = job->nState == DownloadState::done;
        bFailed = bFailed || !bDone;
        std::string strError = bDone ? "" : job->strError.empty() ? "interrupted" : job->strError;
        if (ctx.line.m_bJson)
        {
            CJsonLine line;
            line.Add("file", strName).Add("saved", job->strSaved);
            line.Add("state", bDone ? "done" : "failed").Add("bytes", job->nDone);
            if (!strError.empty())
                line.Add("error", strError);
            if (!job->strNote.empty())
                line.Add("note", job->strNote);
            std::fputs(line.Finish().c_str(), stdout);
            continue;
        }
        if (!job->strNote.empty())
            ReportError(strName + ": " + job->strNote);
        if (bDone)
            std::printf("%s\n", job->strSaved.c_str());
        else
            ReportError(strName + ": " + strError +
                        (std::filesystem::exists(job->GetPartPath(), error)
                             ? " (kept in " + job->GetPartPath() + ")"
                             : ""));
    }
    if (bInterrupted)
        ReportError("interrupted; the .part files are continued by the next get");
    return bFailed ? EXIT_FAILED : EXIT_OK;
}
