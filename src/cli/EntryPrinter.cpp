#include "cli/EntryPrinter.h"

#include <cstdio>

#include "cli/JsonWriter.h"
#include "doc/FormatSize.h"
#include "model/FTPSite.h"
#include "model/NameCodec.h"

CEntryPrinter::CEntryPrinter(bool bJson) : m_bJson(bJson)
{
    // The unread mark's column stays even when nothing is unread, so the
    // names start at the same place in every run.
    m_table.SetMinWidth(0, 1);
    m_table.AlignRight(2);
}

namespace
{
// JSON is read by programs: names that are not UTF-8 (an old Chinese
// server's GB18030) are decoded there, in the site's own character set when
// it names one; the text output keeps the bytes.
std::string Decoded(const std::string& strBytes, const CFTPSite* pSite)
{
    return pSite != nullptr ? pSite->GetCodec().Decode(strBytes) : DecodeAuto(strBytes);
}
} // namespace

void CEntryPrinter::Dir(const CFTPDir& dir)
{
    if (m_bJson)
    {
        std::fputs(CJsonLine()
                       .Add("type", "dir")
                       .Add("name", Decoded(dir.m_strName, dir.GetSite()))
                       .Add("size", int64_t{0})
                       .Add("unread", dir.m_nState != 0)
                       .Add("address", Decoded(dir.GetAddress(), dir.GetSite()))
                       .Finish()
                       .c_str(),
                   stdout);
        return;
    }
    m_table.AddRow({dir.m_nState != 0 ? "*" : "", dir.m_strName + "/", "", dir.GetAddress()});
}

void CEntryPrinter::File(const CFTPFile& file)
{
    if (m_bJson)
    {
        std::fputs(CJsonLine()
                       .Add("type", "file")
                       .Add("name", Decoded(file.m_strName, file.GetSite()))
                       .Add("size", file.m_nSize)
                       .Add("unread", file.m_nState != 0)
                       .Add("address", Decoded(file.GetAddress(), file.GetSite()))
                       .Finish()
                       .c_str(),
                   stdout);
        return;
    }
    m_table.AddRow({file.m_nState != 0 ? "*" : "", file.m_strName,
                    FormatSize(static_cast<int64_t>(file.m_nSize)), file.GetAddress()});
}

void CEntryPrinter::Finish()
{
    if (!m_bJson)
        m_table.Print(stdout);
}
