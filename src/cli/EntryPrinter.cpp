#include "cli/EntryPrinter.h"

#include <cstdio>

#include "cli/JsonWriter.h"
#include "doc/FormatSize.h"
#include "doc/FtpUrl.h"
#include "doc/NodeAddress.h"
#include "model/FTPSite.h"

CEntryPrinter::CEntryPrinter(bool bJson, bool bDates) : m_bJson(bJson), m_bDates(bDates)
{
    // The unread mark's column stays even when nothing is unread, so the
    // names start at the same place in every run.
    m_table.SetMinWidth(0, 1);
    m_table.AlignRight(2);
}

const CNameCodec& CEntryPrinter::CodecOf(const CFTPSite* pSite)
{
    if (pSite != m_pSite)
    {
        m_pSite = pSite;
        m_codec = pSite != nullptr ? pSite->GetCodec() : CNameCodec();
    }
    return m_codec;
}

void CEntryPrinter::Dir(const CFTPDir& dir)
{
    const CNameCodec& codec = CodecOf(dir.GetSite());
    Print("dir", dir.m_strName, 0, dir.m_nState != 0, m_addresses.Of(dir, codec), true,
          dir.m_time);
}

void CEntryPrinter::File(const CFTPFile& file)
{
    const CNameCodec& codec = CodecOf(file.GetSite());
    Print("file", file.m_strName, file.m_nSize, file.m_nState != 0, m_addresses.Of(file, codec),
          false, file.m_time);
}

void CEntryPrinter::Print(const char* pszType, const std::string& strName, uint64_t nSize,
                          bool bUnread, const std::string& strAddress, bool bDir, CModTime time)
{
    std::string strText = m_codec.Decode(strName);
    if (m_bJson)
    {
        CJsonLine line;
        line.Add("type", pszType).Add("name", strText);
        if (!IsValidUtf8(strName))
            line.Add("raw", PercentEncode(strName, {}));
        line.Add("size", nSize).Add("unread", bUnread).Add("address", strAddress);
        if (time.IsKnown())
            line.Add("mtime", FormatModTimeIso(time));
        std::fputs(line.Finish().c_str(), stdout);
        return;
    }
    std::string strSize = bDir ? "" : FormatSize(static_cast<int64_t>(nSize));
    if (bDir)
        strText += "/";
    if (m_bDates)
        m_table.AddRow({bUnread ? "*" : "", strText, strSize, FormatModTime(time), strAddress});
    else
        m_table.AddRow({bUnread ? "*" : "", strText, strSize, strAddress});
}

void CEntryPrinter::Finish()
{
    if (!m_bJson)
        m_table.Print(stdout);
}
