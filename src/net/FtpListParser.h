#pragma once
// Turns the lines of an FTP listing into entries: name, folder or file, size.
// Each line is recognised on its own, so one listing may mix formats:
//
// MLSD facts (RFC 3659; the name follows the first space, spaces kept):
//   type=file;size=1234;modify=20200101120000;perm=r; notes.txt
//   type=dir;modify=20200101120000; pub
//   type=OS.unix=slink:/srv/x;size=7; link
//   type=cdir; /pub                      (dropped, as is type=pdir)
// Unix ls -l (with or without group, numeric owners, ACL marks, ISO dates):
//   -rw-r--r--   1 owner group   5368709120 Jan 21 12:00 big file.iso
//   -rw-r--r--   1 owner         1234 Jan 21  2019 no-group.txt
//   drwxr-xr-x+  2 0     0       4096 2020-01-21 12:00 acl dir
//   lrwxrwxrwx   1 owner group     11 Jan 21 12:00 link -> target
//   crw-rw-rw-   1 root  root    1,   3 Jan 21 12:00 null
// DOS / IIS (12- and 24-hour times, two- or four-digit years):
//   01-21-20  02:35PM       <DIR>          Program Files
//   2020-01-21  14:35             1234 readme.txt
//
// Symbolic links become files under their own name (never followed);
// "." and ".." are dropped; "total" lines and anything unknown give nothing.
// Names are byte strings, taken as sent.
//
// Threads: stateless; any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CFtpListEntry
{
    std::string strName;
    bool bDirectory = false;
    uint64_t nSize = 0;

    bool operator==(const CFtpListEntry&) const = default;
};

class CFtpListParser
{
public:
    // One line without its line end; false when it carries no entry.
    [[nodiscard]] static bool ParseLine(std::string_view line, CFtpListEntry& entry);
    // A whole listing, lines ended by LF or CR LF.
    static std::vector<CFtpListEntry> ParseListing(std::string_view listing);

private:
    [[nodiscard]] static bool ParseMlsd(std::string_view line, CFtpListEntry& entry);
    [[nodiscard]] static bool ParseUnix(std::string_view line, CFtpListEntry& entry);
    [[nodiscard]] static bool ParseDos(std::string_view line, CFtpListEntry& entry);
};
