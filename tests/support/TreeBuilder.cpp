#include "support/TreeBuilder.h"

#include <memory>

CFTPDir* AddDir(CFTPDir* pParent, const std::string& strName, int32_t nState)
{
    auto pDir = std::make_unique<CFTPDir>();
    pDir->m_strName = strName;
    pDir->m_nState = nState;
    pDir->m_pParent = pParent;
    pParent->m_dirList.push_back(std::move(pDir));
    return pParent->m_dirList.back().get();
}

CFTPFile* AddFile(CFTPDir* pParent, const std::string& strName, uint64_t nSize, int32_t nState)
{
    auto pFile = std::make_unique<CFTPFile>();
    pFile->m_strName = strName;
    pFile->m_nSize = nSize;
    pFile->m_nState = nState;
    pFile->m_pParent = pParent;
    pParent->m_fileList.push_back(std::move(pFile));
    return pParent->m_fileList.back().get();
}

namespace
{
void Describe(const CFTPDir& dir, const std::string& strPath, std::vector<std::string>& out)
{
    for (const auto& pSub : dir.m_dirList)
    {
        std::string strSub = strPath + "/" + pSub->m_strName;
        out.push_back("d " + strSub + " " + std::to_string(pSub->m_nState));
        Describe(*pSub, strSub, out);
    }
    for (const auto& pFile : dir.m_fileList)
        out.push_back("f " + strPath + "/" + pFile->m_strName + " " +
                      std::to_string(pFile->m_nSize) + " " + std::to_string(pFile->m_nState));
}
} // namespace

std::vector<std::string> DescribeTree(const CFTPDir& dir)
{
    std::vector<std::string> out;
    Describe(dir, "", out);
    return out;
}

bool ParentLinksConsistent(const CFTPDir& dir)
{
    for (const auto& pFile : dir.m_fileList)
        if (pFile->m_pParent != &dir)
            return false;
    for (const auto& pSub : dir.m_dirList)
        if (pSub->m_pParent != &dir || pSub->m_pSite != nullptr || !ParentLinksConsistent(*pSub))
            return false;
    return true;
}
