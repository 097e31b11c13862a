#include "search/Query.h"

#include "model/FTPEntry.h"
#include "model/NameCodec.h"
#include "search/NameFold.h"

void CEntryContext::SetSite(const CNameCodec* pCodec, const CSiteFacts* pFacts)
{
    m_pCodec = pCodec;
    m_pFacts = pFacts;
    m_pFolder = nullptr;
    m_bFolderPathKnown = false;
}

void CEntryContext::SetFolder(const CFTPDir* pFolder)
{
    if (pFolder != m_pFolder)
    {
        m_pFolder = pFolder;
        m_bFolderPathKnown = false;
    }
}

void CEntryContext::SetEntry(const std::string& strRawName, bool bFolder, uint64_t nSize,
                             bool bUnread, CModTime time)
{
    m_time = time;
    m_pRawName = &strRawName;
    m_bFolder = bFolder;
    m_nSize = nSize;
    m_bUnread = bUnread;
    m_bName = m_bFoldedName = m_bPath = m_bFoldedPath = false;
}

std::string_view CEntryContext::Name()
{
    if (!m_bName)
    {
        m_bName = true;
        m_bAsIs = m_pCodec->IsDecodedAsIs(*m_pRawName);
        if (!m_bAsIs)
            m_pCodec->DecodeTo(*m_pRawName, &m_strName);
    }
    return m_bAsIs ? std::string_view(*m_pRawName) : std::string_view(m_strName);
}

std::string_view CEntryContext::FoldedName()
{
    if (!m_bFoldedName)
    {
        m_bFoldedName = true;
        // ASCII is its own text in every character set: no decoding, and
        // no check of the name as UTF-8 first.
        if (!m_bName && FoldAscii(*m_pRawName, &m_strFoldedName))
        {
            m_bName = true;
            m_bAsIs = true;
        }
        else
            FoldCase(Name(), &m_strFoldedName);
    }
    return m_strFoldedName;
}

std::string_view CEntryContext::Path()
{
    if (!m_bPath)
    {
        m_bPath = true;
        if (!m_bFolderPathKnown)
        {
            // The folder's path, its names read in the site's character set.
            m_bFolderPathKnown = true;
            m_strFolderPath.clear();
            std::vector<const CFTPDir*> chain;
            for (const CFTPDir* p = m_pFolder; p != nullptr && p->m_pParent != nullptr;
                 p = p->m_pParent)
                chain.push_back(p);
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            {
                m_strFolderPath += '/';
                m_strFolderPath += m_pCodec->Decode((*it)->m_strName);
            }
        }
        m_strPath = m_strFolderPath;
        m_strPath += '/';
        m_strPath += Name();
    }
    return m_strPath;
}

std::string_view CEntryContext::FoldedPath()
{
    if (!m_bFoldedPath)
    {
        m_bFoldedPath = true;
        FoldCase(Path(), &m_strFoldedPath);
    }
    return m_strFoldedPath;
}

bool CQueryNode::Match(CEntryContext& ctx) const
{
    switch (m_nKind)
    {
    case all:
        return true;
    case andNode:
        for (const auto& pChild : m_children)
        {
            if (!pChild->Match(ctx))
                return false;
        }
        return true;
    case orNode:
        for (const auto& pChild : m_children)
        {
            if (pChild->Match(ctx))
                return true;
        }
        return false;
    case notNode:
        return !m_children[0]->Match(ctx);
    case term:
        return m_pTerm->Match(ctx);
    }
    return false;
}

bool CQueryNode::Candidates(const CNameIndex& index, CBlockSet* pBlocks) const
{
    switch (m_nKind)
    {
    case andNode:
    {
        bool bNarrowed = false;
        for (const auto& pChild : m_children)
        {
            CBlockSet child = *pBlocks;
            if (pChild->Candidates(index, &child))
            {
                pBlocks->And(child);
                bNarrowed = true;
            }
        }
        return bNarrowed;
    }
    case orNode:
    {
        CBlockSet merged(pBlocks->Size(), false);
        for (const auto& pChild : m_children)
        {
            CBlockSet child = *pBlocks;
            if (!pChild->Candidates(index, &child))
                return false; // one branch may match anywhere
            merged.Or(child);
        }
        pBlocks->And(merged);
        return true;
    }
    case term:
        return m_pTerm->Candidates(index, pBlocks);
    case all:
    case notNode:
        return false;
    }
    return false;
}

bool CQueryNode::MaySign(uint64_t nSignature) const
{
    switch (m_nKind)
    {
    case andNode:
        for (const auto& pChild : m_children)
        {
            if (!pChild->MaySign(nSignature))
                return false;
        }
        return true;
    case orNode:
        for (const auto& pChild : m_children)
        {
            if (pChild->MaySign(nSignature))
                return true;
        }
        return false;
    case term:
        return m_pTerm->MaySign(nSignature);
    case all:
    case notNode:
        return true;
    }
    return true;
}

std::optional<bool> CQueryNode::MatchSite(const CSiteFacts& site) const
{
    switch (m_nKind)
    {
    case all:
        return true;
    case andNode:
    {
        bool bAllTrue = true;
        for (const auto& pChild : m_children)
        {
            std::optional<bool> b = pChild->MatchSite(site);
            if (b == false)
                return false;
            bAllTrue = bAllTrue && b.has_value();
        }
        return bAllTrue ? std::optional<bool>(true) : std::nullopt;
    }
    case orNode:
    {
        bool bAllFalse = true;
        for (const auto& pChild : m_children)
        {
            std::optional<bool> b = pChild->MatchSite(site);
            if (b == true)
                return true;
            bAllFalse = bAllFalse && b.has_value();
        }
        return bAllFalse ? std::optional<bool>(false) : std::nullopt;
    }
    case notNode:
    {
        std::optional<bool> b = m_children[0]->MatchSite(site);
        return b ? std::optional<bool>(!*b) : std::nullopt;
    }
    case term:
        return m_pTerm->MatchSite(site);
    }
    return std::nullopt;
}
