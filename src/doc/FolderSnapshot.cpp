#include "doc/FolderSnapshot.h"

#include <mutex>
#include <shared_mutex>

#include "model/FTPSite.h"

namespace
{
void CopyChildren(const CFTPDir& dir, CFolderSnapshot* pSnapshot)
{
    pSnapshot->m_dirs.reserve(dir.m_dirList.size());
    for (const auto& p : dir.m_dirList)
        pSnapshot->m_dirs.push_back(p.get());
    pSnapshot->m_files.reserve(dir.m_fileList.size());
    for (const auto& p : dir.m_fileList)
        pSnapshot->m_files.push_back(p.get());
}
} // namespace

CFolderSnapshot ReadChildren(const CFTPDir* pDir)
{
    CFolderSnapshot snapshot;
    if (pDir == nullptr)
        return snapshot;
    if (CFTPSite* pSite = pDir->GetSite())
    {
        std::shared_lock lock(pSite->m_treeLock);
        CopyChildren(*pDir, &snapshot);
    }
    else
        CopyChildren(*pDir, &snapshot);
    return snapshot;
}

namespace
{
template <class Files> std::vector<uint64_t> ReadSizes(const Files& files)
{
    std::vector<uint64_t> sizes(files.size());
    // A listing's files mostly share one folder, so one site: one lock for
    // each run of files of one site, found without walking up every time.
    size_t i = 0;
    while (i < files.size())
    {
        CFTPSite* pSite = files[i]->GetSite();
        std::shared_lock<std::shared_mutex> lock;
        if (pSite != nullptr)
            lock = std::shared_lock(pSite->m_treeLock);
        const CFTPDir* pParent = nullptr;
        for (; i < files.size(); ++i)
        {
            if (files[i]->m_pParent != pParent)
            {
                if (files[i]->GetSite() != pSite)
                    break;
                pParent = files[i]->m_pParent;
            }
            sizes[i] = files[i]->m_nSize;
        }
    }
    return sizes;
}
} // namespace

std::vector<uint64_t> ReadFileSizes(const std::vector<CFTPFile*>& files)
{
    return ReadSizes(files);
}

std::vector<uint64_t> ReadFileSizes(const std::deque<CFTPFile*>& files)
{
    return ReadSizes(files);
}
