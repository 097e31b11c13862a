#pragma once
// One file fetched from a site: the bytes go to "NAME.part" beside where the
// file belongs, a download started again continues from the bytes on disk
// ("REST"), and only a complete file of the right size is synced and renamed
// to its name, never over an existing file ("name (1).ext").
//
// Threads: RunDownload runs on a download worker; the job it fills is that
// worker's copy.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class CFtpConnection;

enum class DownloadState
{
    waiting,
    running,
    stopped,
    failed,
    done,
};

// A server may send a little more than it announced (a file that grew since
// its size was read); beyond this many bytes more the transfer is cut off.
inline constexpr uint64_t DOWNLOAD_EXCESS_MARGIN = 64 * 1024;

struct CDownloadJob
{
    uint64_t nId = 0;
    std::string strSiteKey;    // the site's key (site.ds bytes)
    std::string strServerPath; // absolute, the server's bytes
    std::string strFolder;     // the destination folder; it must exist
    std::string strRelative;   // below it: "name.ext" or "sub/name.ext", already mapped
    int64_t nListedSize = -1;  // the size the cached listing gave; -1 unknown

    DownloadState nState = DownloadState::waiting;
    uint64_t nDone = 0;   // bytes on disk
    int64_t nTotal = -1;  // the file's size as far as known
    double dSpeed = 0;    // bytes per second, while running
    std::string strError; // why it failed
    std::string strNote;  // what the user should know of a success or a retry
    std::string strSaved; // where the finished file is

    std::string GetTarget() const { return strFolder + "/" + strRelative; }
    std::string GetPartPath() const { return GetTarget() + ".part"; }
};

// A usable logged-in connection of the job's site (a new one after the last
// died), or null with the reason in *pError.
using ConnectionSource = std::function<CFtpConnection*(std::string* pError)>;
// Bytes on disk so far and the size, about ten times a second.
using ProgressFn = std::function<void(uint64_t nDone, int64_t nTotal, double dSpeed)>;

// Fetches job's file and sets its state (done, failed or stopped), error,
// note and saved path. A transfer that breaks off is taken up again from
// the bytes on disk as long as each attempt brings more of the file.
// *pStop non-zero stops it (the .part file stays).
DownloadState RunDownload(CDownloadJob& job, const ConnectionSource& getConnection,
                          const std::atomic<int32_t>* pStop, const ProgressFn& onProgress);

// The message for a failed write, creation or rename in the destination.
std::string DescribeDiskError(int nErrno, const CDownloadJob& job);
