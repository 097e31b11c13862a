#pragma once
// Node addresses as people read, type and copy them: "ftp://" + the site's
// key + "/" + the path, each name decoded with its site's character set and
// the key (host, user) by the automatic rule. The cache keeps the server's
// bytes; only FTP URLs carry them (BuildFtpUrl, CTarnDoc::GetUrl).
//
// Threads: the caller holds the site's tree lock (shared), or no update
// changes the tree; ResolveAddress takes the lock itself.

#include <string>
#include <string_view>

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
// "<key>/<path>"): key and names compared with their text, or byte for byte
// (a name that reads the same as another in its folder is found by its
// bytes). A path names a folder before a file of the same name; empty
// components (a trailing "/") are ignored. Loads the site's tree if needed.
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
