#include "doc/Export.h"

#include <cerrno>
#include <mutex>
#include <shared_mutex>
#include <sys/stat.h>

#include "doc/FtpUrl.h"
#include "doc/NodeAddress.h"
#include "doc/TarnDoc.h"
#include "model/File.h"
#include "model/Json.h"

namespace
{
// Pieces of about this size go to the sink; the tree lock is let go before
// each, and what was learnt of a big folder's names checked again after.
constexpr size_t SINK_CHUNK = 1024 * 1024;

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// A spreadsheet takes a cell that begins with one of these as a formula: a
// server could list a file named "=HYPERLINK(...)" that runs on opening.
bool LooksLikeFormula(std::string_view strField)
{
    return !strField.empty() &&
           std::string_view("=+-@\t\r").find(strField[0]) != std::string_view::npos;
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled. A field that would read as a formula gets a leading "'",
// which makes a spreadsheet read it as text.
void AppendCsvField(std::string* pstrOut, std::string_view strField)
{
    std::string_view strMark = LooksLikeFormula(strField) ? "'" : "";
    if (strField.find_first_of(",\"\r\n") == std::string_view::npos)
    {
        *pstrOut += strMark;
        *pstrOut += strField;
        return;
    }
    *pstrOut += '"';
    *pstrOut += strMark;
    for (char c : strField)
    {
        if (c == '"')
            *pstrOut += '"';
        *pstrOut += c;
    }
    *pstrOut += '"';
}

// What one row says, read under its site's lock.
struct CRowText
{
    bool bFolder = false;
    std::string strName; // text
    std::string strRaw;  // the name's bytes encoded, when not UTF-8
    uint64_t nSize = 0;
    bool bUnread = false;
    std::string strAddress;
    std::string strUrl;
    std::string strMtime; // ISO 8601, "" without a time
};

// Reads rows under their site's tree lock (shared), held from row to row of
// one site and let go before any output is handed on.
class CRowReader
{
public:
    bool Read(const CExportRow& row, CRowText* pText)
    {
        CFTPSite* pSite = row.pDir != nullptr    ? row.pDir->GetSite()
                          : row.pFile != nullptr ? row.pFile->GetSite()
                                                 : nullptr;
        if (pSite == nullptr)
            return false;
        if (pSite != m_pSite)
        {
            Release();
            m_pSite = pSite;
            m_codec = pSite->GetCodec();
            m_access = GetUrlAccess(*pSite);
        }
        if (!m_lock.owns_lock())
            m_lock = std::shared_lock(pSite->m_treeLock);
        const std::string& strName =
            row.pDir != nullptr ? row.pDir->m_strName : row.pFile->m_strName;
        pText->bFolder = row.pDir != nullptr;
        pText->strName = m_codec.Decode(strName);
        pText->strRaw = IsValidUtf8(strName) ? std::string() : PercentEncode(strName, {});
        pText->nSize = row.pFile != nullptr ? row.pFile->m_nSize : 0;
        pText->bUnread = (row.pDir != nullptr ? row.pDir->m_nState : row.pFile->m_nState) != 0;
        pText->strMtime =
            FormatModTimeIso(row.pDir != nullptr ? row.pDir->m_time.Get() : row.pFile->m_time.Get());
        std::string strPath;
        if (row.pDir != nullptr)
        {
            pText->strAddress = m_writer.Of(*row.pDir, m_codec);
            strPath = row.pDir->GetPath();
            // A folder's URL ends with "/", as download tools expect of one.
            if (!strPath.ends_with('/'))
                strPath += '/';
        }
        else
        {
            pText->strAddress = m_writer.Of(*row.pFile, m_codec);
            strPath = row.pFile->m_pParent != nullptr ? row.pFile->m_pParent->GetPath() : "/";
            if (!strPath.ends_with('/'))
                strPath += '/';
            strPath += row.pFile->m_strName;
        }
        pText->strUrl = BuildFtpUrl(*pSite, m_access, UrlLogin::userOnly, strPath);
        return true;
    }

    void Release()
    {
        if (!m_lock.owns_lock())
            return;
        m_lock.unlock();
        m_writer.Recheck();
    }

private:
    const CFTPSite* m_pSite = nullptr;
    CNameCodec m_codec;
    CUrlAccess m_access;
    std::shared_lock<std::shared_mutex> m_lock;
    CAddressWriter m_writer;
};
} // namespace

bool ParseExportFormat(std::string_view str, ExportFormat* pFormat)
{
    if (str == "csv")
        *pFormat = ExportFormat::csv;
    else if (str == "json")
        *pFormat = ExportFormat::json;
    else if (str == "urls")
        *pFormat = ExportFormat::urls;
    else
        return false;
    return true;
}

const char* GetExportExtension(ExportFormat nFormat)
{
    switch (nFormat)
    {
    case ExportFormat::json:
        return ".jsonl";
    case ExportFormat::urls:
        return ".txt";
    case ExportFormat::csv:
        break;
    }
    return ".csv";
}

std::vector<CExportRow> GetListingRows(const CTarnDoc& doc, bool bResultMode)
{
    std::vector<CExportRow> rows;
    auto take = [&rows](const auto& dirs, const auto& files)
    {
        rows.reserve(dirs.size() + files.size());
        for (const CFTPDir* pDir : dirs)
            rows.push_back({pDir, nullptr});
        for (const CFTPFile* pFile : files)
            rows.push_back({nullptr, pFile});
    };
    if (bResultMode)
        take(doc.m_foundDirs, doc.m_foundFiles);
    else
        take(doc.m_listDirs, doc.m_listFiles);
    return rows;
}

void WriteExport(const std::vector<CExportRow>& rows, ExportFormat nFormat,
                 const std::function<void(std::string_view)>& sink)
{
    std::string strOut;
    if (nFormat == ExportFormat::csv)
    {
        strOut += UTF8_BOM;
        strOut += "name,size,address,url,unread,modified\r\n";
    }
    CRowReader reader;
    CRowText text;
    for (const CExportRow& row : rows)
    {
        if (!reader.Read(row, &text))
            continue;
        switch (nFormat)
        {
        case ExportFormat::csv:
            AppendCsvField(&strOut, text.strName);
            strOut += ',';
            strOut += std::to_string(text.nSize);
            strOut += ',';
            AppendCsvField(&strOut, text.strAddress);
            strOut += ',';
            AppendCsvField(&strOut, text.strUrl);
            strOut += text.bUnread ? ",1," : ",0,";
            strOut += text.strMtime; // never needs quoting
            strOut += "\r\n";
            break;
        case ExportFormat::json:
        {
            CJsonLine line;
            line.Add("type", text.bFolder ? "dir" : "file").Add("name", text.strName);
            if (!text.strRaw.empty())
                line.Add("raw", text.strRaw);
            line.Add("size", text.nSize)
                .Add("unread", text.bUnread)
                .Add("address", text.strAddress)
                .Add("url", text.strUrl);
            if (!text.strMtime.empty())
                line.Add("mtime", text.strMtime);
            strOut += line.Finish();
            break;
        }
        case ExportFormat::urls:
            strOut += text.strUrl;
            strOut += '\n';
            break;
        }
        if (strOut.size() >= SINK_CHUNK)
        {
            reader.Release();
            sink(strOut);
            strOut.clear();
        }
    }
    reader.Release();
    if (!strOut.empty())
        sink(strOut);
}

std::string FormatExport(const std::vector<CExportRow>& rows, ExportFormat nFormat)
{
    std::string strText;
    WriteExport(rows, nFormat, [&strText](std::string_view piece) { strText += piece; });
    return strText;
}

bool ExportToFile(const std::string& strPath, const std::vector<CExportRow>& rows,
                  ExportFormat nFormat, std::string* pstrError)
{
    try
    {
        // The file it replaces keeps its mode: one its owner made private
        // stays private.
        struct stat existing = {};
        bool bReplaces = ::stat(strPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
        CAtomicFileWriter writer;
        writer.OpenOrThrow(strPath);
        if (bReplaces && ::chmod(writer.GetTempPath().c_str(), existing.st_mode & 0777) != 0)
            throw CFileException::FromErrno(errno, strPath);
        WriteExport(rows, nFormat,
                    [&writer](std::string_view piece)
                    { writer.GetFile()->Write(piece.data(), piece.size()); });
        writer.Commit();
        return true;
    }
    catch (const CFileException& e)
    {
        *pstrError = e.GetErrorText();
        return false;
    }
}
