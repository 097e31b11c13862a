#include "transfer/DownloadPlan.h"

#include <mutex>
#include <shared_mutex>
#include <utility>

#include "model/FTPEntry.h"
#include "model/FTPSite.h"
#include "model/NameCodec.h"
#include "transfer/LocalName.h"

namespace
{
std::string JoinServerPath(const std::string& strFolder, const std::string& strName)
{
    return strFolder + (strFolder.empty() || strFolder.back() != '/' ? "/" : "") + strName;
}
} // namespace

std::vector<CDownloadJob> PlanDownload(CFTPSite& site, const CFTPDir* pDir, const CFTPFile* pFile,
                                       const std::string& strFolder)
{
    CNameCodec codec = site.GetCodec();
    std::string strKey = site.GetKey();
    std::vector<CDownloadJob> jobs;
    auto add = [&](const CFTPFile& file, const std::string& strServerFolder,
                   const std::string& strLocalFolder)
    {
        CDownloadJob job;
        job.strSiteKey = strKey;
        job.strServerPath = JoinServerPath(strServerFolder, file.m_strName);
        job.strFolder = strFolder;
        job.strRelative = strLocalFolder + MapLocalName(codec.Decode(file.m_strName));
        job.nListedSize = static_cast<int64_t>(file.m_nSize);
        jobs.push_back(std::move(job));
    };

    std::shared_lock lock(site.m_treeLock);
    if (pFile != nullptr)
    {
        add(*pFile, pFile->m_pParent != nullptr ? pFile->m_pParent->GetPath() : "/", "");
        return jobs;
    }
    if (pDir == nullptr)
        return jobs;
    // The site's root is named after its host.
    std::string strTop = MapLocalName(pDir->m_pParent == nullptr ? DecodeAuto(site.m_strHost)
                                                                 : codec.Decode(pDir->m_strName));
    std::vector<std::pair<const CFTPDir*, std::string>> pending{{pDir, strTop + "/"}};
    while (!pending.empty())
    {
        auto [pNext, strLocal] = std::move(pending.back());
        pending.pop_back();
        std::string strServer = pNext->GetPath();
        for (const auto& pChild : pNext->m_fileList)
            add(*pChild, strServer, strLocal);
        // Reversed onto the stack, so folders come out in their order.
        for (auto it = pNext->m_dirList.rbegin(); it != pNext->m_dirList.rend(); ++it)
            pending.emplace_back(it->get(),
                                 strLocal + MapLocalName(codec.Decode((*it)->m_strName)) + "/");
    }
    return jobs;
}
