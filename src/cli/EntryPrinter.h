#pragma once
// Prints folder and file entries for ls, new, search and find: JSON lines
// {"type","name","size","unread","address","mtime"} at once ("mtime" only
// for an entry whose listing gave a time, ISO 8601 as exports write it),
// or an aligned text table at Finish (unread mark "*", name with "/" after
// a folder, size as the file list shows it, with bDates the modification
// date as the file list shows it, node address). Names and addresses are text,
// decoded with the entry's site's character set; a JSON line also gives
// "raw", the name's bytes percent-encoded, when they are not UTF-8.
//
// Thread: tarn-cli's main thread, while no update changes the trees (an
// address writer remembers the folders it met).

#include <string>

#include "cli/TextTable.h"
#include "doc/NodeAddress.h"
#include "model/ModTime.h"
#include "model/NameCodec.h"

class CFTPDir;
class CFTPFile;
class CFTPSite;

class CEntryPrinter
{
public:
    explicit CEntryPrinter(bool bJson, bool bDates = false);
    void Dir(const CFTPDir& dir);
    void File(const CFTPFile& file);
    void Finish();

private:
    // The codec of the entry's site, asked once per run of one site.
    const CNameCodec& CodecOf(const CFTPSite* pSite);
    void Print(const char* pszType, const std::string& strName, uint64_t nSize, bool bUnread,
               const std::string& strAddress, bool bDir, CModTime time);

    bool m_bJson;
    bool m_bDates;
    CTextTable m_table;
    const CFTPSite* m_pSite = nullptr;
    CNameCodec m_codec;
    CAddressWriter m_addresses;
};
