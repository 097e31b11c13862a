#pragma once
// Export of the file list's rows (a browse listing or a result listing, in
// its order) for other programs: CSV for spreadsheets, JSON lines for tools,
// or a plain list of FTP URLs for download programs. The window's "导出..."
// and tarn-cli's --format write the same bytes.
//
//   csv    UTF-8 with a byte order mark (so spreadsheets read it as UTF-8),
//          a header row "name,size,address,url,unread,modified", CRLF line
//          ends, and RFC 4180 quoting of fields holding commas, quotes or
//          line breaks; size in bytes (0 for a folder), unread 1 or 0,
//          modified the listed time in ISO 8601 (ModTime.h: UTC with "Z",
//          the server's wall clock without, a date alone for day
//          precision; empty without a time). A field that
//          begins with "=", "+", "-", "@", a tab or a carriage return gets
//          a leading "'", so a spreadsheet never runs a name as a formula.
//   json   one object per row: type ("dir"/"file"), name, raw (the name's
//          bytes percent-encoded, only when they are not UTF-8), size,
//          unread, address, url, mtime (only with a time); as tarn-cli
//          --json lists entries, plus url.
//   urls   one FTP URL per line (a folder's ends with "/").
//
// Names and addresses are text (the site's character set decoded); URLs carry
// the server's bytes, percent-encoded, and the site's user name unless it is
// anonymous, never its password (FtpUrl.h).
//
// Thread: the GUI thread (tarn-cli's main thread). Each row is read under its
// site's tree lock (shared); the output is handed on without the lock.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CFTPDir;
class CFTPFile;
class CTarnDoc;

enum class ExportFormat
{
    csv,
    json,
    urls,
};

// "csv", "json" or "urls".
[[nodiscard]] bool ParseExportFormat(std::string_view str, ExportFormat* pFormat);
// The usual file name extension: ".csv", ".jsonl", ".txt".
const char* GetExportExtension(ExportFormat nFormat);

// One row: a folder or a file of a cached tree that stays valid meanwhile.
struct CExportRow
{
    const CFTPDir* pDir = nullptr;
    const CFTPFile* pFile = nullptr;
};

// The rows the file list shows: the browse listing (m_listDirs, then
// m_listFiles) or the result listing (m_foundDirs, then m_foundFiles).
std::vector<CExportRow> GetListingRows(const CTarnDoc& doc, bool bResultMode);

// The export's bytes, handed to sink in pieces, in order.
void WriteExport(const std::vector<CExportRow>& rows, ExportFormat nFormat,
                 const std::function<void(std::string_view)>& sink);
std::string FormatExport(const std::vector<CExportRow>& rows, ExportFormat nFormat);
// Writes the export to a file, replacing it atomically (a failure leaves an
// existing file as it was) and keeping a replaced file's mode. False with the
// system's reason in *pstrError.
[[nodiscard]] bool ExportToFile(const std::string& strPath, const std::vector<CExportRow>& rows,
                                ExportFormat nFormat, std::string* pstrError);
