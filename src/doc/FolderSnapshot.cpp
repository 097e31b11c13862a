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
