#pragma once
// "打开" of a file on today's desktops, where web browsers no longer open
// ftp:// addresses: a desktop whose handler for them is a program of its own
// gets the URL as before; otherwise the file is downloaded into a cache
// folder and the local copy goes to the desktop's handler for its type.
//
// Threads: the GUI thread (the window calls Poll when its downloads change).

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

class CDownloadQueue;
class CFTPFile;
class CFTPSite;

// The desktop as "打开" needs it. The window asks xdg-mime and opens with
// the desktop's services; tests record the calls.
class IDesktop
{
public:
    virtual ~IDesktop() = default;
    // The desktop file of the default handler of a MIME type, such as
    // "x-scheme-handler/ftp" ("" when there is none).
    virtual std::string QueryDefaultHandler(const std::string& strMimeType) = 0;
    virtual void OpenUrl(const std::string& strUrl) = 0;
    virtual void OpenLocalFile(const std::string& strPath) = 0;
    // A yes/no question; true for yes.
    virtual bool Ask(const std::string& strQuestion) = 0;
};

// Larger files are downloaded for opening only when the user says so.
inline constexpr uint64_t OPEN_ASK_ABOVE = uint64_t{100} << 20;
// The cache folder keeps the most recently opened files up to this size.
inline constexpr uint64_t OPEN_CACHE_LIMIT = uint64_t{2} << 30;

// Whether a desktop file names a web browser (which no longer opens ftp://).
[[nodiscard]] bool IsWebBrowserHandler(std::string_view strDesktopId);
// $XDG_CACHE_HOME/tarn/open (~/.cache/tarn/open without it).
std::string GetOpenCacheFolder();
// Deletes the least recently changed files below strFolder until the rest
// take at most nLimit bytes; strKeep is never deleted.
void PruneOpenCache(const std::string& strFolder, uint64_t nLimit, const std::string& strKeep = {});

class CDesktopOpener
{
public:
    CDesktopOpener(IDesktop& desktop, CDownloadQueue& queue, std::string strCacheFolder);

    // "打开" of a cached file whose URL is strUrl.
    void Open(CFTPSite& site, const CFTPFile& file, const std::string& strUrl);
    // Hands the downloads that finished since the last call to the desktop.
    void Poll();
    bool HasPending() const { return !m_pending.empty(); }

private:
    IDesktop& m_desktop;
    CDownloadQueue& m_queue;
    std::string m_strCacheFolder;
    std::set<uint64_t> m_pending; // downloads to open once complete
};
