#include "doc/DesktopOpen.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <shared_mutex>
#include <vector>

#include "doc/FormatSize.h"
#include "model/FTPEntry.h"
#include "model/FTPSite.h"
#include "transfer/DownloadPlan.h"
#include "transfer/DownloadQueue.h"
#include "transfer/LocalName.h"

namespace fs = std::filesystem;

bool IsWebBrowserHandler(std::string_view strDesktopId)
{
    std::string strId;
    for (char c : strDesktopId)
        strId += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 16> BROWSERS = {
        "firefox",   "chromium",   "chrome",      "brave",       "opera", "vivaldi",
        "epiphany",  "webbrowser", "falkon",      "midori",      "edge",  "iceweasel",
        "librewolf", "waterfox",   "qutebrowser", "konqbrowser",
    };
    return std::any_of(BROWSERS.begin(), BROWSERS.end(),
                       [&strId](std::string_view browser)
                       { return strId.find(browser) != std::string::npos; });
}

std::string GetOpenCacheFolder()
{
    const char* pszCache = std::getenv("XDG_CACHE_HOME");
    std::string strBase;
    if (pszCache != nullptr && *pszCache == '/')
        strBase = pszCache;
    else
    {
        const char* pszHome = std::getenv("HOME");
        strBase = std::string(pszHome != nullptr ? pszHome : "/tmp") + "/.cache";
    }
    return strBase + "/tarn/open";
}

void PruneOpenCache(const std::string& strFolder, uint64_t nLimit, const std::string& strKeep)
{
    struct CFile
    {
        fs::path path;
        fs::file_time_type time;
        uint64_t nSize;
    };
    std::vector<CFile> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(strFolder, error), end; !error && it != end;
         it.increment(error))
    {
        std::error_code statError;
        if (!it->is_regular_file(statError) || it->path().extension() == ".part")
            continue;
        files.push_back({it->path(), it->last_write_time(statError), it->file_size(statError)});
    }
    std::sort(files.begin(), files.end(),
              [](const CFile& a, const CFile& b) { return a.time > b.time; });
    uint64_t nKept = 0;
    for (const CFile& file : files)
    {
        bool bKeep = file.path == strKeep;
        if (bKeep || nKept + file.nSize <= nLimit)
        {
            nKept += file.nSize;
            continue;
        }
        fs::remove(file.path, error);
    }
}

CDesktopOpener::CDesktopOpener(IDesktop& desktop, CDownloadQueue& queue, std::string strCacheFolder)
    : m_desktop(desktop), m_queue(queue), m_strCacheFolder(std::move(strCacheFolder))
{
}

void CDesktopOpener::Open(CFTPSite& site, const CFTPFile& file, const std::string& strUrl)
{
    std::string strHandler = m_desktop.QueryDefaultHandler("x-scheme-handler/ftp");
    if (!strHandler.empty() && !IsWebBrowserHandler(strHandler))
    {
        m_desktop.OpenUrl(strUrl);
        return;
    }
    uint64_t nSize = 0;
    {
        std::shared_lock lock(site.m_treeLock);
        nSize = file.m_nSize;
    }
    if (nSize > OPEN_ASK_ABOVE &&
        !m_desktop.Ask("文件较大（" + FormatSize(static_cast<int64_t>(nSize)) +
                       "），是否下载后打开？"))
        return;
    // One folder per site, so two sites' files of one name never meet.
    std::string strFolder = m_strCacheFolder + "/" + MapLocalName(site.GetDisplayName());
    std::error_code error;
    fs::create_directories(strFolder, error);
    std::vector<CDownloadJob> jobs = PlanDownload(site, nullptr, &file, strFolder);
    if (jobs.empty())
        return;
    // A copy opened before, still whole, opens at once.
    std::string strCopy = jobs[0].GetTarget();
    if (fs::is_regular_file(strCopy, error) && fs::file_size(strCopy, error) == nSize)
    {
        fs::last_write_time(strCopy, fs::file_time_type::clock::now(), error);
        m_desktop.OpenLocalFile(strCopy);
        return;
    }
    fs::remove(strCopy, error); // an older copy of another size: the cache's own file
    m_pending.insert(m_queue.Add(std::move(jobs[0]), &site));
}

void CDesktopOpener::Poll()
{
    for (auto it = m_pending.begin(); it != m_pending.end();)
    {
        std::optional<CDownloadJob> job = m_queue.GetJob(*it);
        if (job && job->nState != DownloadState::done)
        {
            ++it;
            continue;
        }
        // Gone from the list (removed by the user): nothing to open.
        if (job)
        {
            PruneOpenCache(m_strCacheFolder, OPEN_CACHE_LIMIT, job->strSaved);
            m_desktop.OpenLocalFile(job->strSaved);
        }
        it = m_pending.erase(it);
    }
}
