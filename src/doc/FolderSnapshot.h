#pragma once
// The children of a folder as they are at one moment, for a view that shows
// them while the site's update worker may append to the folder's lists or
// take entries out of them. No view touches the tree lock itself.
//
// Thread: the GUI thread (any thread that is not the site's worker).

#include <cstdint>
#include <deque>
#include <vector>

class CFTPDir;
class CFTPFile;

struct CFolderSnapshot
{
    std::vector<CFTPDir*> m_dirs;   // sub-folders, in the folder's order
    std::vector<CFTPFile*> m_files; // files, in the folder's order
};

// Copies pDir's child pointers under its site's shared tree lock (without
// one for a folder outside any site). The pointers stay valid until the
// engine announces their removal. Null gives an empty snapshot.
CFolderSnapshot ReadChildren(const CFTPDir* pDir);

// The files' sizes as they are now, in the same order. The update worker
// refreshes a size under the site's tree lock, so the sizes are read under
// the shared lock of each file's site.
std::vector<uint64_t> ReadFileSizes(const std::vector<CFTPFile*>& files);
std::vector<uint64_t> ReadFileSizes(const std::deque<CFTPFile*>& files);
