#pragma once
// What a download of a cached entry fetches: the file itself, or every file
// of a folder's cached subtree with its folders recreated below the
// destination. Local names are the names read in the site's character set
// and mapped by MapLocalName; server paths keep the server's bytes.
//
// Threads: any thread that does not hold the site's tree lock (taken shared
// here).

#include <string>
#include <vector>

#include "transfer/Download.h"

class CFTPDir;
class CFTPFile;
class CFTPSite;

// Jobs for pFile, or for every file below pDir (one of the two non-null),
// into strFolder.
std::vector<CDownloadJob> PlanDownload(CFTPSite& site, const CFTPDir* pDir, const CFTPFile* pFile,
                                       const std::string& strFolder);
