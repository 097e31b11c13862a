#pragma once
// Where the crawler's listings come from. The crawler asks for its folders
// one at a time, in its own order, and merges each listing before it asks
// for the next; a source may fetch ahead as long as it hands the listings
// over in that order (see CStatFolderSource).
//
// Threads: the site's worker, like the crawler.

#include <memory>
#include <string_view>

#include "net/FtpListParser.h"
#include "update/ListingPlan.h"

class CFtpConnection;
class CFTPDir;

class CFolderSource
{
public:
    virtual ~CFolderSource() = default;

    // Enters pDir, whose listing the crawl needs next. False with the
    // thread's last internet error set: a connection-lost code,
    // ERROR_INTERNET_OPERATION_CANCELLED, ERROR_FTP_LISTING_TOO_LARGE, or any
    // other code for a folder the server refused.
    [[nodiscard]] virtual bool ChangeDirectory(CFTPDir* pDir) = 0;
    // The listing of the folder entered last. False with the last error set
    // (ERROR_NO_MORE_FILES for an empty folder), as CFtpConnection lists.
    [[nodiscard]] virtual bool List(CFtpListing& listing) = 0;
    // What the source found out; call once the crawl is over.
    virtual void Finish(CListingReport* pReport) { (void)pReport; }
};

// The normal way: CWD and a listing over a data connection, per folder.
class CListFolderSource : public CFolderSource
{
public:
    explicit CListFolderSource(CFtpConnection* pConnection) : m_pConnection(pConnection) {}
    bool ChangeDirectory(CFTPDir* pDir) override;
    bool List(CFtpListing& listing) override;

private:
    CFtpConnection* m_pConnection;
};

// The source for a crawl from pStartDir under the plan.
std::unique_ptr<CFolderSource> MakeFolderSource(CFtpConnection* pConnection, CFTPDir* pStartDir,
                                                const CListingPlan& plan);

// A name the server listed that can be sent back as one path component:
// one holding "/", CR, LF or NUL would change folders or inject a command.
[[nodiscard]] bool IsAddressableName(std::string_view strName);

// The longest folder name a crawl enters: servers cut longer command lines
// (and no file system here holds such a name), which ends the connection.
inline constexpr size_t MAX_FOLDER_NAME_BYTES = 1024;
// False for a folder (never the root) whose name is too long to send.
[[nodiscard]] bool IsEnterableName(const CFTPDir* pDir);
