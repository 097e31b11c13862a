#pragma once
// Small helpers to build cached trees in tests.

#include <string>
#include <vector>

#include "model/FTPEntry.h"

CFTPDir* AddDir(CFTPDir* pParent, const std::string& strName, int32_t nState = 0);
CFTPFile* AddFile(CFTPDir* pParent, const std::string& strName, uint64_t nSize = 0,
                  int32_t nState = 0);

// Every entry below pDir in pre-order (sub-folder, its sub-tree, then the
// files), one line each: "d <path> <state>" or "f <path> <size> <state>".
std::vector<std::string> DescribeTree(const CFTPDir& dir);

// True when every entry's parent link is the folder whose list holds it.
bool ParentLinksConsistent(const CFTPDir& dir);
