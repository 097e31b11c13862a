#pragma once
// Turns the lines of an FTP listing into entries: name, folder or file,
// size, and the modification time where the line gives one.
// Each line is recognised on its own, so one listing may mix formats; a
// listing also carries context from line to line (a VMS name alone on its
// line continues on the next, MVS member lists without statistics).
//
// MLSD facts (RFC 3659; the name follows the first space or tab):
//   type=file;size=1234;modify=20200101120000;perm=r; notes.txt
//   type=dir;modify=20200101120000; pub
//   type=OS.unix=slink:/srv/x;size=7; link
//   type=file;size=12 old.txt           (older servers: no ";" at the end)
//   type=cdir; /pub                      (noise, as is type=pdir)
// Unix ls -l, any locale, with or without links, group or date:
//   -rw-r--r--   1 owner group   5368709120 Jan 21 12:00 big file.iso
//   -rw-r--r--   1 owner         1234 Jan 21  2019 no-group.txt
//   drwxr-xr-x+  2 0     0       4096 2020-01-21 12:00 acl dir
//   lrwxrwxrwx   1 owner group     11 Jan 21 12:00 link -> target
//   crw-rw-rw-   1 root  root    1,   3 Jan 21 12:00 null
//   -rw-r--r--   1 owner group     12 21 janv. 2019 fr.txt
//   -rw-r--r--   1 owner group     12 8月 17 08:52 zh.txt
//   -rw-r--r--   1 owner group     12 2005년 1월 6일 ko.txt
//   -rw-r--r--   1 owner group   1.2M 01-21 12:00 human.txt
//   -rwxr-xr-x   1 owner group     12 Oct 08, 2002 vshell.txt
//   -rwxr-xr-x   1 owner group     12 Oct 08, 2002 09:47 vshell-time.txt
//   -rw-r--r--   1 owner group     12 2004.07.15    padded-date.txt
//   -rw-r--r--   1 owner group     12 01-jun-99 day-month-year.txt
//   -rw-r--r--   1 owner group     12 2003   3월 20 year-first.txt
//   -rw-r--r--   1 owner longgroup1234 Jan 21 12:00 joined.txt
//   -rw-r--r--   1 owner group   1234 no-date.txt
//   100644 1 owner group 12 Jan 21 12:00 numeric-mode.txt
//   0100644   500  101   12345    123456789  seconds-since-1970.txt
//   d?????????   ? ?     ?          ?            ? unreadable-dir
// VShell without permissions:
//   206876  Apr 04, 2000 21:06 name
// Plan 9 (mode, device type and number, owner, group, size, date, name):
//   --rw-rw-r-- M 4 glenda glenda 1234 Jan 21 12:00 plan9.txt
// NetWare:
//   d [R----F--] supervisor      512 Jan 16 18:53    login
// DOS / IIS (12- and 24-hour times, two- or four-digit years):
//   01-21-20  02:35PM       <DIR>          Program Files
//   2020-01-21  14:35             1234 readme.txt
// OS/2:
//    36611      A          05-12-97   16:44  README.TXT
//        0           DIR   05-12-97   16:44  PSFONTS
// VMS (sizes in 512-byte blocks; a long name may stand alone on its line):
//   Directory DISK$USER:[SMITH]
//   LOGIN.COM;2            1/3          5-JUN-1995 13:33:57  [SMITH]  (RWED,RWED,RE,)
//   MAIL.DIR;1             2/3         19-OCT-2000 09:20:02  [GROUP,SMITH]  (RWE,RWE,RE,RE)
//   NAME;1  155  2-JUL-2003 10:30:13.64
//   Total of 2 files, 3/6 blocks.
// MVS data sets, PDS members and load modules:
//   Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname
//   WYOSPT 3390   2003/03/18  1  200  FB      80  8053  PS  SOME.DATA
//   WYOSP1 3390   2012/05/15  1    1  FB      80 27920  PO  SOURCE.PDS
//   Migrated                                                OLD.DATA
//   Pseudo Directory                                        SUBQUAL
//   V43525 Tape                                             TAPE.DATA
//    Name     VV.MM   Created       Changed      Size  Init   Mod   Id
//   MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1
//   MEMBER2
//    Name      Size     TTR   Alias-of AC --------- Attributes --------- Amode Rmode
//   IEFBR14   000008  00000C              00 FO             RN RU            31    ANY
// AS/400:
//   QSYS           77824 02/23/00 15:09:55 *DIR       QOpenSys/
//   QPGMR           1234 05/04/03 12:00:00 *STMF      file.txt
//   QSYS                                   *MEM       QGPL.LIB/QCLSRC.FILE/A.MBR
// EPLF:
//   +i8388621.29609,m824255902,/,\tdev
//   +i8388621.44468,m839956783,r,s10376,\tRFCEPLF
// HP NonStop (Guardian):
//   ALTLOG        101            1036  8-Jun-09 17:48:16 255,255 "oooo"
//   EDITFILE      101             528  6-Apr-07 14:21:18 255, 0 "nunu"
// OS-9:
//     0.0     06/10/28 1134    ------wr      28B       512 unix.o
// VxWorks:
//       1028       JAN-01-2000 00:00:00   script.txt
//        512       JAN-01-2000 00:00:00   dir          <DIR>
// z/VM (CMS):
//   PROFILE  EXEC     F         80          9          1 1999-09-24 12:36:12 VMSYSU
//   SUBDIR   DIR      -          -          -          - 2001-01-01 00:00:00 -
//
// A line of a family known by its shape (all but Unix, DOS and MLSD) must
// fit that family's layout to its last field, or it is unreadable: a
// wrong name is worse than none.
// Symbolic links become files under their own name (never followed). "."
// and "..", "total" lines, blank lines and the headers and footers of the
// families above are noise; any other line that gives no entry is counted
// as unreadable, so that a caller never takes a partial reading for the
// whole folder. Names are byte strings, taken as sent, except where the
// server needs another form back (VMS folders, z/VM, AS/400 members: see
// the family's parser). A line may start with one extra space (STAT
// replies).
//
// Times: MLSD's modify fact is UTC, and so are the seconds of EPLF and of
// the octal layout; every other date is the server's local time, kept as
// if it were UTC and marked so (the caller may know the site's offset). ls
// leaves the year out only for the months before the listing, so such a
// date gets the latest year that puts it at most a day after the listing
// was taken (a day for servers ahead of UTC); the time the listing was
// taken is the caller's, never this parser's clock.
//
// Threads: stateless; any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How much of a modification time the listing gave.
enum class EFtpTimePrecision : uint8_t
{
    NONE, // no readable date: the entry has no time
    DAY,
    MINUTE,
    SECOND,
};

struct CFtpListEntry
{
    std::string strName;
    bool bDirectory = false;
    uint64_t nSize = 0;
    // Seconds since 1970 (UTC), or the server's local time read as UTC
    // when bTimeZoneKnown is false; meaningful unless the precision is NONE.
    int64_t nTime = 0;
    EFtpTimePrecision nTimePrecision = EFtpTimePrecision::NONE;
    bool bTimeZoneKnown = false;

    bool operator==(const CFtpListEntry&) const = default;
};

// Now, as the nListedAt of a listing just received.
int64_t ListedNow();

struct CFtpListing
{
    std::vector<CFtpListEntry> entries;
    // Lines that were neither an entry nor known noise.
    size_t nUnreadable = 0;
};

class CFtpListParser
{
public:
    // When the listing was taken is not known: dates without a year give
    // no time.
    static constexpr int64_t LISTED_AT_UNKNOWN = INT64_MIN;

    // One line without its line end; false when it carries no entry.
    // nListedAt: when the listing was taken, seconds since 1970 (UTC).
    [[nodiscard]] static bool ParseLine(std::string_view line, CFtpListEntry& entry,
                                        int64_t nListedAt = LISTED_AT_UNKNOWN);
    // A whole listing, lines ended by LF or CR LF.
    static CFtpListing Parse(std::string_view listing, int64_t nListedAt = LISTED_AT_UNKNOWN);
    // The entries of Parse alone (no time for dates without a year).
    static std::vector<CFtpListEntry> ParseListing(std::string_view listing);
};
