// Fuzzes the content.ct reader: any bytes must load without a crash, a leak
// or an inconsistent tree, and whatever loaded must save again.

#include <cstdint>
#include <cstdlib>

#include "model/FTPSite.h"

namespace
{
bool Consistent(const CFTPDir& dir, int nDepth)
{
    if (nDepth > MAX_TREE_DEPTH)
        return false;
    for (const auto& pFile : dir.m_fileList)
        if (pFile->m_pParent != &dir)
            return false;
    for (const auto& pSub : dir.m_dirList)
        if (pSub->m_pParent != &dir || !Consistent(*pSub, nDepth + 1))
            return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFTPSite site;
    CMemFile file(std::vector<uint8_t>(pData, pData + nSize));
    try
    {
        CArchive ar(&file, CArchive::load);
        site.m_pRoot->Serialize(ar);
    }
    catch (const CArchiveException&)
    {
    }
    if (!Consistent(*site.m_pRoot, 0))
        std::abort();
    CMemFile out;
    CArchive ar(&out, CArchive::store);
    site.m_pRoot->Serialize(ar);
    site.SerializeState(ar, site.m_pRoot.get());
    ar.Close();
    return 0;
}
