#include "update/FolderSource.h"

#include "model/FTPEntry.h"
#include "net/FtpConnection.h"
#include "update/StatFolderSource.h"

bool IsAddressableName(std::string_view strName)
{
    if (strName.empty() || strName == "." || strName == "..")
        return false;
    return strName.find_first_of(std::string_view("/\0\r\n", 4)) == std::string_view::npos;
}

bool IsEnterableName(const CFTPDir* pDir)
{
    return pDir->m_pParent == nullptr || pDir->m_strName.size() <= MAX_FOLDER_NAME_BYTES;
}

bool CListFolderSource::ChangeDirectory(CFTPDir* pDir)
{
    return m_pConnection->SetCurrentDirectory(pDir->GetPath());
}

bool CListFolderSource::List(CFtpListing& listing)
{
    listing.nUnreadable = 0;
    if (!m_pConnection->ListCurrentDirectory(listing.entries))
        return false;
    listing.nUnreadable = m_pConnection->GetLastUnreadable();
    return true;
}

std::unique_ptr<CFolderSource> MakeFolderSource(CFtpConnection* pConnection, CFTPDir* pStartDir,
                                                const CListingPlan& plan)
{
    pConnection->SetListingTimeout(plan.nListingTimeoutMs);
    if (plan.nMode == ListingMode::list)
        return std::make_unique<CListFolderSource>(pConnection);
    return std::make_unique<CStatFolderSource>(pConnection, pStartDir, plan);
}
