#pragma once
// Local file names for what a server calls its files. A server's name is
// text read in the site's character set, and may hold anything: "/", "..",
// control characters, names a FAT or NTFS drive cannot hold. Every name goes
// through MapLocalName before it touches the disk, so no download ever
// leaves its destination folder.
//
// Threads: plain functions, any thread.

#include <functional>
#include <string>
#include <string_view>

// The longest name MapLocalName gives (bytes): room for " (999)" and ".part"
// within the 255 bytes a Linux file name may take.
inline constexpr size_t LOCAL_NAME_MAX = 240;

// One path component that Linux and Windows can both hold, made from strText
// (UTF-8): "/", "\", NUL, control characters and < > : " | ? * become "_",
// trailing dots and spaces too ("." and ".." included), a device name of
// Windows (CON, NUL, COM1, LPT1 ... with or without an extension) gets a "_"
// in front, an empty name is "_", and a name too long is cut at a character
// boundary, its extension kept.
std::string MapLocalName(std::string_view strText);

// strName, or "name (1).ext", "name (2).ext" ... : the first for which
// isTaken answers false.
std::string NextFreeName(const std::string& strName,
                         const std::function<bool(const std::string&)>& isTaken);
// The n-th alternative of strName: 0 gives strName itself, 1 "name (1).ext".
std::string NumberedName(const std::string& strName, unsigned n);
