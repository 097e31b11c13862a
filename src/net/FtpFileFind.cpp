#include "net/FtpFileFind.h"

#include "net/FtpConnection.h"
#include "net/InternetError.h"

CFtpFileFind::CFtpFileFind(CFtpConnection* pConnection, uint32_t nContext)
    : m_pConnection(pConnection), m_nContext(nContext)
{
}

bool CFtpFileFind::FindFile(const char* /*pszName*/, uint32_t /*nFlags*/)
{
    // Every listing is fetched from the server: there is no cache to reload.
    Close();
    if (!m_pConnection->ListCurrentDirectory(m_entries))
        return false;
    m_nUnreadable = m_pConnection->GetLastUnreadable();
    return true;
}

bool CFtpFileFind::FindNextFile()
{
    if (m_nNext < m_entries.size())
        ++m_nNext;
    return m_nNext < m_entries.size();
}

std::string CFtpFileFind::GetFileName() const
{
    return m_nNext > 0 && m_nNext <= m_entries.size() ? m_entries[m_nNext - 1].strName
                                                      : std::string();
}

bool CFtpFileFind::IsDirectory() const
{
    return m_nNext > 0 && m_nNext <= m_entries.size() && m_entries[m_nNext - 1].bDirectory;
}

uint64_t CFtpFileFind::GetLength() const
{
    return m_nNext > 0 && m_nNext <= m_entries.size() ? m_entries[m_nNext - 1].nSize : 0;
}

void CFtpFileFind::Close()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_nNext = 0;
    m_nUnreadable = 0;
}
