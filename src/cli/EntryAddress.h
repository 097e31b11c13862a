#pragma once
// Finding the cached entry that a node address names
// ("ftp://<site key>/<path>", or the same without "ftp://"), the way the
// window finds the folder of an address column.
//
// Thread: tarn-cli's main thread, while no update changes the tree.

#include <string>

class CFTPDir;
class CFTPFile;
class CFTPSite;
class CTarnDoc;

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

// Loads the site's tree if needed. A path names a folder before a file of
// the same name; empty path components (a trailing "/") are ignored.
[[nodiscard]] ResolveResult ResolveAddress(CTarnDoc& doc, const std::string& strAddress,
                                           CEntryRef* pRef);
