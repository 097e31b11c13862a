#include "model/FTPEntry.h"

#include <algorithm>

#include "model/FTPSite.h"

namespace
{
template <class T> CObject* CreateObject()
{
    return new T;
}

// Builds "/a/b/name" by walking up from pParent; the root's empty name
// leaves the leading "/".
std::string PathFrom(const CFTPDir* pParent, const std::string& strOwn)
{
    size_t nLength = strOwn.size();
    for (const CFTPDir* p = pParent; p != nullptr; p = p->m_pParent)
        nLength += p->m_strName.size() + 1;
    std::string str(nLength, '\0');
    size_t nPos = nLength - strOwn.size();
    str.replace(nPos, strOwn.size(), strOwn);
    for (const CFTPDir* p = pParent; p != nullptr; p = p->m_pParent)
    {
        str[--nPos] = '/';
        nPos -= p->m_strName.size();
        str.replace(nPos, p->m_strName.size(), p->m_strName);
    }
    return str;
}

const CFTPDir* TopOf(const CFTPDir* p)
{
    while (p->m_pParent != nullptr)
        p = p->m_pParent;
    return p;
}

std::string AddressPrefix(const CFTPSite* pSite)
{
    return "ftp://" + (pSite != nullptr ? pSite->GetKey() : std::string()) + "/";
}
} // namespace

const CRuntimeClass* CFTPFile::GetThisClass()
{
    static const CRuntimeClass s_class{"CFTPFile", 1, &CreateObject<CFTPFile>};
    return &s_class;
}

const CRuntimeClass* CFTPDir::GetThisClass()
{
    static const CRuntimeClass s_class{"CFTPDir", 1, &CreateObject<CFTPDir>};
    return &s_class;
}

void CFTPFile::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
        ar << m_nSize << m_strName;
    else
        ar >> m_nSize >> m_strName;
}

CFTPSite* CFTPFile::GetSite() const
{
    return m_pParent != nullptr ? TopOf(m_pParent)->m_pSite : nullptr;
}

std::string CFTPFile::GetAddress() const
{
    std::string strPath = PathFrom(m_pParent, m_strName);
    if (!strPath.empty())
        strPath.erase(0, 1);
    return AddressPrefix(GetSite()) + strPath;
}

CFTPDir::~CFTPDir()
{
    // Files first, then folders; a deep tree unwinds one level per call.
    m_fileList.clear();
    m_dirList.clear();
}

void CFTPDir::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_strName;
        ar.SerializeList(m_dirList);
        ar.SerializeList(m_fileList);
        return;
    }
    // The root and MAX_TREE_DEPTH levels below it.
    CArchive::CDepthGuard guard(ar, MAX_TREE_DEPTH + 1);
    size_t nDirsBefore = m_dirList.size();
    size_t nFilesBefore = m_fileList.size();
    auto linkChildren = [&]
    {
        for (size_t i = nDirsBefore; i < m_dirList.size(); ++i)
            m_dirList[i]->m_pParent = this;
        for (size_t i = nFilesBefore; i < m_fileList.size(); ++i)
            m_fileList[i]->m_pParent = this;
    };
    try
    {
        ar >> m_strName;
        ar.SerializeList(m_dirList);
        ar.SerializeList(m_fileList);
    }
    catch (...)
    {
        // What was appended before the damage stays, correctly linked.
        linkChildren();
        throw;
    }
    linkChildren();
}

CFTPSite* CFTPDir::GetSite() const
{
    return TopOf(this)->m_pSite;
}

std::string CFTPDir::GetPath() const
{
    if (m_pParent == nullptr)
        return m_strName.empty() ? std::string("/") : m_strName;
    return PathFrom(m_pParent, m_strName);
}

std::string CFTPDir::GetAddress() const
{
    std::string strPath = PathFrom(m_pParent, m_strName);
    if (m_pParent != nullptr && !strPath.empty())
        strPath.erase(0, 1);
    return AddressPrefix(GetSite()) + strPath;
}

int CFTPDir::GetDepth() const
{
    int n = 0;
    for (const CFTPDir* p = m_pParent; p != nullptr; p = p->m_pParent)
        ++n;
    return n;
}

CTreeCount CountTree(const CFTPDir& dir)
{
    CTreeCount count;
    std::vector<const CFTPDir*> stack{&dir};
    while (!stack.empty())
    {
        const CFTPDir* p = stack.back();
        stack.pop_back();
        count.nFiles += p->m_fileList.size();
        count.nDirs += p->m_dirList.size();
        for (const auto& pSub : p->m_dirList)
            stack.push_back(pSub.get());
    }
    return count;
}
