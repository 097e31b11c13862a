#include "doc/Ancestry.h"

#include "model/FTPEntry.h"

bool IsWithin(const CFTPDir* pDir, const CFTPDir* pAncestor)
{
    if (pAncestor == nullptr)
        return false;
    for (const CFTPDir* p = pDir; p != nullptr; p = p->m_pParent)
    {
        if (p == pAncestor)
            return true;
    }
    return false;
}

bool IsWithin(const CFTPFile* pFile, const CFTPDir* pAncestor)
{
    return pFile != nullptr && IsWithin(pFile->m_pParent, pAncestor);
}

void CSubtreeSet::Add(const CObject* pEntry)
{
    if (pEntry == nullptr)
        return;
    if (pEntry->GetRuntimeClass() == CFTPDir::GetThisClass())
        Add(static_cast<const CFTPDir*>(pEntry));
    else
        Add(static_cast<const CFTPFile*>(pEntry));
}

void CSubtreeSet::Add(const CFTPDir* pDir)
{
    if (pDir == nullptr)
        return;
    m_dirs.insert(pDir);
    m_pLastParent = nullptr;
}

void CSubtreeSet::Add(const CFTPFile* pFile)
{
    if (pFile != nullptr)
        m_files.insert(pFile);
}

bool CSubtreeSet::Covers(const CFTPDir* pDir) const
{
    if (m_dirs.empty())
        return false;
    for (const CFTPDir* p = pDir; p != nullptr; p = p->m_pParent)
    {
        if (m_dirs.count(p) != 0)
            return true;
    }
    return false;
}

bool CSubtreeSet::Covers(const CFTPFile* pFile) const
{
    if (pFile == nullptr)
        return false;
    if (m_files.count(pFile) != 0)
        return true;
    if (pFile->m_pParent != m_pLastParent || m_pLastParent == nullptr)
    {
        m_pLastParent = pFile->m_pParent;
        m_bLastParentCovered = Covers(pFile->m_pParent);
    }
    return m_bLastParentCovered;
}
