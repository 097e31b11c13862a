#pragma once
// Prints folder and file entries for ls, new and search: JSON lines
// {"type","name","size","unread","address"} at once, or an aligned text
// table at Finish (unread mark "*", name with "/" after a folder, size as
// the file list shows it, node address).
//
// Thread: tarn-cli's main thread.

#include "cli/TextTable.h"

class CFTPDir;
class CFTPFile;

class CEntryPrinter
{
public:
    explicit CEntryPrinter(bool bJson);
    void Dir(const CFTPDir& dir);
    void File(const CFTPFile& file);
    void Finish();

private:
    bool m_bJson;
    CTextTable m_table;
};
