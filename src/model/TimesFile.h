#pragma once
// times.bin: the modification times of a site's cached tree, kept beside
// content.ct and state.st (whose bytes stay as they are) and saved in the
// same replacement as them.
//
// Layout, little-endian:
//   "TarnTime"            8 bytes
//   version               u32 (1)
//   reserved              u32 (0)
//   content.ct length     u64  the tree the times belong to...
//   entry count           u64  ...and its folders and files, root excluded
//   times                 i64 each (CModTime::Packed, 0 = none), in the
//                         order of state.st: a folder, its sub-tree, then
//                         its parent's files
//   check                 u64  a hash of every byte before it
// A file that is short, long, of another version, fails its check or does
// not fit the tree loaded gives no times at all, never some.
//
// Threads: the caller holds the tree's lock (shared to build, exclusive to
// apply).

#include <cstdint>
#include <string>
#include <string_view>

class CFTPDir;

inline constexpr const char* SITE_TIMES_FILE = "times.bin";

std::string BuildTimesFile(const CFTPDir& root, uint64_t nContentLength);
// Sets the times of the tree below root from the file's bytes; false (and
// every time cleared) when the bytes are not a sound times file for this
// tree. Empty bytes: no times, and true (no file is not damage).
bool ApplyTimesFile(std::string_view bytes, CFTPDir& root, uint64_t nContentLength);
// Clears every time below root.
void ClearTimes(CFTPDir& root);
