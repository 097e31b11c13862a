#pragma once
// Node addresses as people read, type and copy them: "ftp://" + the site's
// key + "/" + the path, each name decoded with its site's character set and
// the key (host, user) by the automatic rule. The cache keeps the server's
// bytes; only FTP URLs carry them (BuildFtpUrl, CTarnDoc::GetUrl).
//
// Every entry of a folder keeps an address of its own. A name whose text
// would name another entry (another entry's bytes are that text, as with a
// GB18030 "中文.txt" beside a UTF-8 one; or its bytes are not its set's own
// spelling of that text and another entry reads the same) is written as its
// bytes: those at or above 0x80 and "%" as "%XX" ("%D6%D0%CE%C4.txt"), or
// every byte so should that form be another entry's name. Other names read
// as their text, as they always have.
//
// Threads: the caller holds the site's tree lock (shared), or no update
// changes the tree; ResolveAddress takes the lock itself.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "model/NameCodec.h"

class CFTPDir;
class CFTPFile;
class CFTPSite;
class CTarnDoc;

// The site key as text.
std::string GetDisplayKey(const CFTPSite& site);
// An entry's address; the forms without a codec ask the entry's site for
// it (a lock and a copy: pass the codec when showing many rows).
std::string GetDisplayAddress(const CFTPDir& dir, const CNameCodec& codec);
std::string GetDisplayAddress(const CFTPFile& file, const CNameCodec& codec);
std::string GetDisplayAddress(const CFTPDir& dir);
std::string GetDisplayAddress(const CFTPFile& file);

// Display addresses of many entries (listings, exports). What it learns of
// a folder's names is kept, so a folder of n names costs O(n), not O(n²).
// Use it under the site's tree lock (or where no update runs). A caller that
// lets go of the lock calls Recheck: each folder is then compared with its
// entries (which ones, not their names) before what was learnt is used
// again. That relies on what the host guarantees anyway: an entry unlinked
// meanwhile is not freed while the caller still holds rows of the tree.
class CAddressWriter
{
public:
    CAddressWriter();
    ~CAddressWriter();
    CAddressWriter(const CAddressWriter&) = delete;
    CAddressWriter& operator=(const CAddressWriter&) = delete;

    std::string Of(const CFTPDir& dir, const CNameCodec& codec);
    std::string Of(const CFTPFile& file, const CNameCodec& codec);
    void Recheck();

private:
    struct CFolder;
    std::string Address(const CFTPDir* pParent, const std::string& strOwn, const CNameCodec& codec);
    void AppendName(const CFTPDir& parent, const std::string& strName, std::string* pOut);
    CFolder& FolderOf(const CFTPDir& dir);

    CNameCodec m_codec;
    std::unordered_map<const CFTPDir*, std::unique_ptr<CFolder>> m_folders;
    std::string m_strText;
};

struct CEntryRef
{
    CFTPSite* pSite = nullptr;
    CFTPDir* pDir = nullptr;   // the folder, when the address names one
    CFTPFile* pFile = nullptr; // otherwise the file
};

enum class ResolveResult
{
    found,
    noSite,  // no site has the key
    noEntry, // the site's cached tree holds nothing at that path
};

// The entry a typed or copied address names ("ftp://<key>/<path>" or
// "<key>/<path>"): each name compared byte for byte, then as the bytes a
// "%XX" form stands for, then with its text (a name whose text is exactly
// its own first). A path names a folder before a file of the same name;
// empty components (a trailing "/") are ignored. Loads the site's tree if
// needed.
[[nodiscard]] ResolveResult ResolveAddress(CTarnDoc& doc, const std::string& strAddress,
                                           CEntryRef* pRef);
// The same for a path below a site whose tree is loaded; no loading, no
// lock. pRef->pSite is set to &site.
[[nodiscard]] bool FindEntryByPath(CFTPSite& site, std::string_view strPath,
                                   const CNameCodec& codec, CEntryRef* pRef);
// The server's path of what ref names ("/" for the root, "/a/b" below),
// and its FTP URL (the path's bytes percent-encoded).
std::string GetServerPath(const CEntryRef& ref);
std::string GetEntryUrl(const CEntryRef& ref);
