#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <ostream>
#include <random>

#include "net/FtpListParser.h"

// Readable failure messages for entry comparisons.
void PrintTo(const CFtpListEntry& entry, std::ostream* pStream)
{
    *pStream << "{\"" << entry.strName << "\", " << (entry.bDirectory ? "dir" : "file") << ", "
             << entry.nSize << ", t" << static_cast<int>(entry.nTimePrecision) << " " << entry.nTime
             << (entry.bTimeZoneKnown ? " utc" : "") << "}";
}

namespace
{
// Name, kind and size of each entry, for tests about those alone.
std::vector<CFtpListEntry> WithoutTimes(std::vector<CFtpListEntry> entries)
{
    for (CFtpListEntry& entry : entries)
        entry = CFtpListEntry{entry.strName, entry.bDirectory, entry.nSize};
    return entries;
}

// What a line gives: an entry, known noise, or an unreadable line.
enum EKind
{
    U, // unreadable
    N, // noise
    E, // entry
};

struct CRow
{
    const char* pszVariant;
    std::string strLine;
    EKind nKind;
    std::string strName;
    bool bDirectory;
    uint64_t nSize;
};

const std::vector<CRow>& Rows()
{
    // One row a line, so the table reads as the listing it stands for.
    // clang-format off
    static const std::vector<CRow> rows = {
        // MLSD
        {"mlsd file", "type=file;size=1234;modify=20200101120000;perm=r; notes.txt", E, "notes.txt", false, 1234},
        {"mlsd dir", "type=dir;modify=20200101120000;perm=el; pub", E, "pub", true, 0},
        {"mlsd upper-case facts", "Type=File;Size=77;Modify=20200101120000; Readme", E, "Readme", false, 77},
        {"mlsd fact order", "modify=20200101120000;perm=r;size=5;type=file;unique=fe00g1; a.txt", E, "a.txt", false, 5},
        {"mlsd cdir dropped", "type=cdir;modify=20200101120000; /pub", N, "", false, 0},
        {"mlsd pdir dropped", "type=pdir;modify=20200101120000; ..", N, "", false, 0},
        {"mlsd symlink", "type=OS.unix=slink:/srv/target;size=7; link", E, "link", false, 7},
        {"mlsd symlink other spelling", "type=OS.unix=symlink;size=3; ln", E, "ln", false, 3},
        {"mlsd device", "type=OS.unix=chr-13/29;size=0; tty", E, "tty", false, 0},
        {"mlsd leading spaces", "type=file;size=1;  two leading", E, " two leading", false, 1},
        {"mlsd trailing space", "type=file;size=1; trailing ", E, "trailing ", false, 1},
        {"mlsd name with spaces", "type=dir;perm=el; My Documents", E, "My Documents", true, 0},
        {"mlsd over 4 GiB", "type=file;size=5368709120; big.iso", E, "big.iso", false, 5368709120ull},
        {"mlsd no size", "type=file;perm=r; nosize", E, "nosize", false, 0},
        {"mlsd dir sizd", "type=dir;sizd=4096; d", E, "d", true, 0},
        {"mlsd non-utf8", "type=file;size=2; caf\xe9", E, "caf\xe9", false, 2},
        {"mlsd utf8", "type=file;size=2; \xe4\xb8\xad\xe6\x96\x87.txt", E, "\xe4\xb8\xad\xe6\x96\x87.txt", false, 2},
        {"mlsd dot", "type=dir; .", N, "", false, 0},
        // Unix ls -l
        {"unix file", "-rw-r--r--   1 owner group        1234 Jan 21 12:00 file.txt", E, "file.txt", false, 1234},
        {"unix dir", "drwxr-xr-x   2 owner group        4096 Jan 21 12:00 pub", E, "pub", true, 0},
        {"unix year", "-rw-r--r--   1 owner group         99 Jan 21  2019 old.txt", E, "old.txt", false, 99},
        {"unix no group", "-rw-r--r--   1 owner         1234 Jan 21  2019 nogroup.txt", E, "nogroup.txt", false, 1234},
        {"unix numeric owners", "-rw-r--r--   1 0        0            3 Feb  1 09:05 n.txt", E, "n.txt", false, 3},
        {"unix acl mark", "drwxr-xr-x+  2 owner group        4096 Mar  3 10:00 acl", E, "acl", true, 0},
        {"unix xattr mark", "-rw-r--r--@  1 owner staff          8 Apr  4 10:00 mac.txt", E, "mac.txt", false, 8},
        {"unix selinux mark", "-rw-r--r--.  1 owner group          9 May  5 10:00 se.txt", E, "se.txt", false, 9},
        {"unix spaces in name", "-rw-r--r--   1 owner group         10 Jun  6 10:00 my file name.txt", E, "my file name.txt", false, 10},
        {"unix leading space in name", "-rw-r--r--   1 owner group         10 Jun  6 10:00  lead", E, " lead", false, 10},
        {"unix symlink", "lrwxrwxrwx   1 owner group         11 Jul  7 10:00 link -> target/dir", E, "link", false, 11},
        {"unix symlink to parent", "lrwxrwxrwx   1 owner group          2 Jul  7 10:00 loop -> ..", E, "loop", false, 2},
        {"unix over 4 GiB", "-rw-r--r--   1 owner group 5368709120 Aug  8 10:00 big.iso", E, "big.iso", false, 5368709120ull},
        {"unix char device", "crw-rw-rw-   1 root  root      1,   3 Sep  9 10:00 null", E, "null", false, 0},
        {"unix block device", "brw-rw----   1 root  disk      8,0 Sep  9 10:00 sda", E, "sda", false, 0},
        {"unix iso date", "-rw-r--r--   1 owner group        123 2020-01-21 12:00 iso.txt", E, "iso.txt", false, 123},
        {"unix day before month", "-rw-r--r--   1 owner group        124 21 Jan 12:00 eu.txt", E, "eu.txt", false, 124},
        {"unix owner named like a month", "-rw-r--r--   1 may   group        125 Oct 10 10:00 m.txt", E, "m.txt", false, 125},
        {"unix seconds in time", "-rw-r--r--   1 owner group        126 Nov 11 10:00:59 s.txt", E, "s.txt", false, 126},
        {"unix dot", "drwxr-xr-x   2 owner group       4096 Dec 12 10:00 .", N, "", false, 0},
        {"unix dot dot", "drwxr-xr-x   9 owner group       4096 Dec 12 10:00 ..", N, "", false, 0},
        {"unix hidden file", "-rw-r--r--   1 owner group          1 Dec 12 10:00 .hidden", E, ".hidden", false, 1},
        {"unix non-utf8", "-rw-r--r--   1 owner group          1 Dec 12 10:00 \xb2\xe2\xca\xd4.txt", E, "\xb2\xe2\xca\xd4.txt", false, 1},
        {"unix fifo", "prw-r--r--   1 owner group          0 Dec 12 10:00 pipe", E, "pipe", false, 0},
        {"unix total line", "total 1234", N, "", false, 0},
        {"unix tab separated", "-rw-r--r--\t1 owner\tgroup\t12 Jan 21 12:00 tab.txt", E, "tab.txt", false, 12},
        // DOS / IIS
        {"dos dir 12h", "01-21-20  02:35PM       <DIR>          Program Files", E, "Program Files", true, 0},
        {"dos file 12h", "01-21-20  02:35AM                 1234 readme.txt", E, "readme.txt", false, 1234},
        {"dos file 24h", "01-21-2020  14:35                 4321 log.txt", E, "log.txt", false, 4321},
        {"dos iso date", "2020-01-21  14:35       <DIR>          data", E, "data", true, 0},
        {"dos separate am pm", "01/21/2020  02:35 PM             77 sep.txt", E, "sep.txt", false, 77},
        {"dos grouped digits", "01-21-20  02:35PM            1,234,567 grouped.bin", E, "grouped.bin", false, 1234567},
        {"dos over 4 GiB", "01-21-20  02:35PM           5368709120 big.iso", E, "big.iso", false, 5368709120ull},
        {"dos junction", "01-21-20  02:35PM       <JUNCTION>     Docs [C:\\Users\\Docs]", E, "Docs", false, 0},
        {"dos non-utf8", "01-21-20  02:35PM                    5 \xd6\xd0\xce\xc4.txt", E, "\xd6\xd0\xce\xc4.txt", false, 5},
        {"dos dot", "01-21-20  02:35PM       <DIR>          .", N, "", false, 0},
        // MLSD, more forms
        {"mlsd tab before name", "type=file;size=10;\ttabbed.txt", E, "tabbed.txt", false, 10},
        {"mlsd without ; before name", "type=file;size=12 old.txt", E, "old.txt", false, 12},
        {"mlsd facts upper case, type last", "SIZE=3;Modify=20200101120000;TYPE=DIR; Dir", E, "Dir", true, 0},
        {"mlsd unix facts", "type=file;UNIX.mode=0644;UNIX.owner=ftp;size=9; u.txt", E, "u.txt", false, 9},
        {"mlsd stat reply space", " type=file;size=4; stat.txt", E, "stat.txt", false, 4},
        // Unix, month names of other locales
        {"unix german umlaut", "-rw-r--r--   1 owner group   100 M\xc3\xa4r 21 12:00 de.txt", E, "de.txt", false, 100},
        {"unix german day dot", "-rw-r--r--   1 owner group   101 21. Okt 2019 de2.txt", E, "de2.txt", false, 101},
        {"unix french dot", "-rw-r--r--   1 owner group   102 21 janv. 12:00 fr.txt", E, "fr.txt", false, 102},
        {"unix french latin-1", "-rw-r--r--   1 owner group   103 f\xe9vr. 21  2019 fr1.txt", E, "fr1.txt", false, 103},
        {"unix french utf-8", "-rw-r--r--   1 owner group   104 ao\xc3\xbbt 21 12:00 fr2.txt", E, "fr2.txt", false, 104},
        {"unix spanish", "-rw-r--r--   1 owner group   105 dic 21 12:00 es.txt", E, "es.txt", false, 105},
        {"unix hungarian year first", "-rw-r--r--   1 owner group   106 2010. m\xc3\xa1rc. 21. hu.txt", E, "hu.txt", false, 106},
        {"unix russian", "-rw-r--r--   1 owner group   107 \xd0\xbe\xd0\xba\xd1\x82 21 12:00 ru.txt", E, "ru.txt", false, 107},
        {"unix polish", "-rw-r--r--   1 owner group   108 pa\xc5\xba 21  2019 pl.txt", E, "pl.txt", false, 108},
        {"unix month outside the table", "-rw-r--r--   1 owner group   109 \xce\x9f\xce\xba\xcf\x84 21 12:00 el.txt", E, "el.txt", false, 109},
        // Unix, CJK dates (UTF-8, GBK, Shift_JIS, EUC-KR)
        {"unix chinese utf-8", "-rw-r--r--   1 owner group   110 8\xe6\x9c\x88 17 08:52 zh.txt", E, "zh.txt", false, 110},
        {"unix chinese marks and year", "-rw-r--r--   1 owner group   111 4\xe6\x9c\x88 18\xe6\x97\xa5 2003\xe5\xb9\xb4 zh2.txt", E, "zh2.txt", false, 111},
        {"unix japanese shift_jis", "-rw-r--r--   1 owner group   112 4\x8c\x8e 18\x93\xfa 2003\x94\x4e ja.txt", E, "ja.txt", false, 112},
        {"unix chinese gbk", "-rw-r--r--   1 owner group   113 8\xd4\xc2 17\xc8\xd5 08:52 gbk.txt", E, "gbk.txt", false, 113},
        {"unix korean year first", "-rw-r--r--   1 owner group   114 2005\xeb\x85\x84 1\xec\x9b\x94 6\xec\x9d\xbc ko.txt", E, "ko.txt", false, 114},
        {"unix korean euc-kr", "-rw-r--r--   1 owner group   115 1\xbf\xf9 6\xc0\xcf 12:00 euckr.txt", E, "euckr.txt", false, 115},
        {"unix korean month day time", "-rw-r--r--   1 owner group   116 1\xec\x9b\x94  6 12:00 ko2.txt", E, "ko2.txt", false, 116},
        {"unix cjk name", "drwxr-xr-x   2 owner group  4096 8\xe6\x9c\x88 17 08:52 \xe8\xb5\x84\xe6\x96\x99", E, "\xe8\xb5\x84\xe6\x96\x99", true, 0},
        // Unix, numeric dates
        {"unix numeric month", "-rw-r--r--   1 owner group   117 1 21 12:00 num.txt", E, "num.txt", false, 117},
        {"unix yyyy/mm/dd", "-rw-r--r--   1 owner group   118 2020/01/21 12:00 slash.txt", E, "slash.txt", false, 118},
        {"unix dd-mm-yyyy", "-rw-r--r--   1 owner group   119 21-01-2020 12:00 dmy.txt", E, "dmy.txt", false, 119},
        {"unix yyyy.mm.dd without time", "-rw-r--r--   1 owner group   120 2020.01.21 dots.txt", E, "dots.txt", false, 120},
        {"unix mm-dd yyyy", "-rw-r--r--   1 owner group   121 01-21 2019 md.txt", E, "md.txt", false, 121},
        {"unix mm-dd hh:mm", "-rw-r--r--   1 owner group   122 01-21 12:00 mdt.txt", E, "mdt.txt", false, 122},
        {"unix iso with seconds", "-rw-r--r--   1 owner group   123 2020-01-21 12:00:59 isosec.txt", E, "isosec.txt", false, 123},
        {"unix vshell", "-rwxr-xr-x   1 user     group        124 Oct 08, 2002 vshell.txt", E, "vshell.txt", false, 124},
        {"unix date-like name", "-rw-r--r--   1 owner group   132 Jan 21 12:00 Feb 2 2020 report", E, "Feb 2 2020 report", false, 132},
        // Unix, sizes and fields
        {"unix size k", "-rw-r--r--   1 owner group   4.0K Jan 21 12:00 k.txt", E, "k.txt", false, 4096},
        {"unix size M decimal comma", "-rw-r--r--   1 owner group   1,5M Jan 21 12:00 m.txt", E, "m.txt", false, 1572864},
        {"unix size G", "-rw-r--r--   1 owner group     3G Jan 21 12:00 g.iso", E, "g.iso", false, 3221225472ull},
        {"unix size joined to group", "-rw-r--r--   1 owner longgroupname1234 Jan 21 12:00 joined.txt", E, "joined.txt", false, 1234},
        {"unix no date", "-rw-r--r--   1 owner group   125 nodate.txt", E, "nodate.txt", false, 125},
        {"unix no date no group", "-rw-r--r--   1 owner   126 nodate2.txt", E, "nodate2.txt", false, 126},
        {"unix no links", "-rw-r--r-- owner group 131 Jan 21 12:00 nolinks.txt", E, "nolinks.txt", false, 131},
        {"unix octal permissions", "644   1 owner group   127 Jan 21 12:00 octal.txt", E, "octal.txt", false, 127},
        {"unix octal st_mode folder", "40755 2 owner group 4096 Jan 21 12:00 octdir", E, "octdir", true, 0},
        {"unix ls -s blocks first", "   8 -rw-r--r--   1 owner group   128 Jan 21 12:00 blocks.txt", E, "blocks.txt", false, 128},
        {"unix stat failed", "d?????????   ? ?     ?        ?            ? lost+found", E, "lost+found", true, 0},
        {"unix stat reply space", " -rw-r--r--   1 owner group   129 Jan 21 12:00 stat.txt", E, "stat.txt", false, 129},
        {"unix sticky folder", "drwxrwxrwt   2 root  root   4096 Jan 21 12:00 tmp", E, "tmp", true, 0},
        {"unix setuid", "-rwsr-xr-x   1 root  root    130 Jan 21 12:00 su", E, "su", false, 130},
        {"unix socket", "srwxrwxrwx   1 root  root      0 Jan 21 12:00 sock", E, "sock", false, 0},
        {"unix unknown date word after size", "-rw-r--r--   1 owner group   133 12:00 x y", U, "", false, 0},
        {"unix no name", "drwxr-xr-x   2 owner group  4096 Jan 21 12:00", U, "", false, 0},
        {"unix cut short", "-rw-r--r--   1 owner group", U, "", false, 0},
        {"unix name with NUL", std::string("-rw-r--r--   1 owner group 1 Jan 21 12:00 a") + '\0' + "b", U, "", false, 0},
        // Plan 9, VxWorks
        {"plan9 file", "--rw-rw-r-- M 4 glenda glenda 1234 Jan 21 12:00 plan9.txt", E, "plan9.txt", false, 1234},
        {"plan9 folder", "d-rwxrwxr-x M 4 glenda glenda    0 Jan 21 12:00 lib", E, "lib", true, 0},
        {"vxworks file", "    1028       JAN-01-2000 00:00:00   script.txt", E, "script.txt", false, 1028},
        {"vxworks folder", "     512       JAN-01-2000 00:00:00   my dir          <DIR>", E, "my dir", true, 0},
        {"dashed underline", "----------- ------ ------", N, "", false, 0},
        {"vxworks header", "  size          date       time       name", N, "", false, 0},
        // NetWare
        {"netware folder", "d [R----F--] supervisor            512       Jan 16 18:53    login", E, "login", true, 0},
        {"netware file", "- [RWCEAFMS] rhesus             214059       Oct 20 15:27    cx.exe", E, "cx.exe", false, 214059},
        // DOS / IIS, other Windows layouts
        {"dos dotted date", "21.01.2020  14:35       <DIR>          Ordner", E, "Ordner", true, 0},
        {"dos time with seconds", "2020-01-21  14:35:22             77 sec.txt", E, "sec.txt", false, 77},
        {"dos chinese afternoon", "01-21-20  02:35\xe4\xb8\x8b\xe5\x8d\x88       <DIR>          zh", E, "zh", true, 0},
        {"dos localized half first", "2020/01/21  \xe4\xb8\x8b\xe5\x8d\x88 02:35   1234 zh2.txt", E, "zh2.txt", false, 1234},
        {"dos a/p time", "01-21-96  12:00p   1234 ap.txt", E, "ap.txt", false, 1234},
        {"dos symlink", "01-21-20  02:35PM       <SYMLINKD>     link [..\\target]", E, "link", false, 0},
        // OS/2
        {"os2 file", "   36611      A          05-12-97   16:44  README.TXT", E, "README.TXT", false, 36611},
        {"os2 folder", "       0           DIR   05-12-97   16:44  PSFONTS", E, "PSFONTS", true, 0},
        {"os2 no attributes", "    1024                 06-13-99   13:17  EMPTY ATTR", E, "EMPTY ATTR", false, 1024},
        // VMS
        {"vms used/allocated blocks", "LOGIN.COM;2            1/3          5-JUN-1995 13:33:57  [SMITH]  (RWED,RWED,RE,)", E, "LOGIN.COM;2", false, 512},
        {"vms folder", "MAIL.DIR;1             2/3         19-OCT-2000 09:20:02  [GROUP,SMITH]  (RWE,RWE,RE,RE)", E, "MAIL", true, 0},
        {"vms used blocks", "AVERAGE.EXE;6       6        10-APR-2000 15:43 (RWED,RWED,RWED,RE)", E, "AVERAGE.EXE;6", false, 3072},
        {"vms no privilege", "SECRET.DAT;1        %RMS-E-PRV, insufficient privilege or file protection violation", E, "SECRET.DAT;1", false, 0},
        {"vms ods-5 lower case", "readme.txt;1  2/4  1-JAN-2001 00:00:00.00", E, "readme.txt;1", false, 1024},
        {"vms name alone", "VERYLONGFILENAME.TXT;1", E, "VERYLONGFILENAME.TXT;1", false, 0},
        // MVS
        {"mvs data set", "WYOSPT 3390   2003/03/18  1  200  FB      80  8053  PS  SOME.DATA.SET", E, "SOME.DATA.SET", false, 0},
        {"mvs partitioned", "WYOSP1 3390   2012/05/15  1    1  FB      80 27920  PO  SOURCE.PDS", E, "SOURCE.PDS", true, 0},
        {"mvs pds-e", "WYOSP1 3390   2012/05/15  1    1  FB      80 27920  PO-E  SOURCE.PDSE", E, "SOURCE.PDSE", true, 0},
        {"mvs without unit", "CPDLB4 2008/10/31 1 1 VB 256 6233 PS FIFO.DEMO", E, "FIFO.DEMO", false, 0},
        {"mvs two-digit year", "APCSPL 3380D 07/16/97 1 1 FB 80 8800 PS ETC.RPC", E, "ETC.RPC", false, 0},
        {"mvs migrated", "Migrated                                                  OLD.DATA", E, "OLD.DATA", false, 0},
        {"mvs pseudo directory", "Pseudo Directory                                          SUBQUAL", E, "SUBQUAL", true, 0},
        {"mvs tape", "ARCIVE Not Direct Access Device                           KJ.TAPE.FILE", E, "KJ.TAPE.FILE", false, 0},
        {"mvs member with statistics", "MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1", E, "MEMBER1", false, 0},
        {"mvs header", "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", N, "", false, 0},
        // AS/400
        {"as400 folder", "QSYS           77824 02/23/00 15:09:55 *DIR       QOpenSys/", E, "QOpenSys", true, 0},
        {"as400 stream file", "QPGMR           1234 05/04/03 12:00:00 *STMF      my file.txt", E, "my file.txt", false, 1234},
        {"as400 library", "QSYS          413696 09/26/03 11:51:31 *LIB       QGPL.LIB/", E, "QGPL.LIB", true, 0},
        {"as400 member", "QSYS                                   *MEM       QGPL.LIB/QCLSRC.FILE/A.MBR", E, "A.MBR", false, 0},
        // EPLF
        {"eplf folder", "+i8388621.29609,m824255902,/,\tdev", E, "dev", true, 0},
        {"eplf file", "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF", E, "RFCEPLF", false, 10376},
        {"eplf without tab", "+i8388621.44468,m839956783,r,s10376, RFCEPLF", U, "", false, 0},
        // HP NonStop, OS-9, z/VM
        {"nonstop file", "ALTLOG        101            1036  8-Jun-09 17:48:16 255,255 \"oooo\"", E, "ALTLOG", false, 1036},
        {"os9 file", "  0.0     06/10/28 1134    ------wr      28B       512 unix.o", E, "unix.o", false, 512},
        {"os9 folder", "  1.0     05/08/31 0000    d-ewrewr      A54        64 CMDS", E, "CMDS", true, 0},
        {"zvm fixed records", "PROFILE  EXEC     F         80          9          1 1999-09-24 12:36:12 VMSYSU", E, "PROFILE.EXEC", false, 720},
        {"zvm variable records", "README   TXT      V         68        123          3  9/24/99 12:36:12 -", E, "README.TXT", false, 0},
        {"zvm folder", "SUBDIR   DIR      -          -          -          - 2001-01-01 00:00:00 -", E, "SUBDIR", true, 0},
        // Unix, date layouts that once put date parts into names
        {"unix vshell date with time", "-rwxr-xr-x   1 user     group        124 Oct 08, 2002 09:47 vshell time.txt", E, "vshell time.txt", false, 124},
        {"unix vshell date folder", "drwxr-xr-x   1 user     group          0 Oct 08, 2002 09:47 Folder", E, "Folder", true, 0},
        {"unix vshell date with seconds", "-rw-r--r--   1 user     group       5000 Jan 01, 2019 23:59:59 sec.txt", E, "sec.txt", false, 5000},
        {"unix vshell date, name like a time", "-rw-r--r--   1 user     group         10 Oct 08, 2002 09:47 12:00 report", E, "12:00 report", false, 10},
        {"unix dotted date padded", "-rw-r--r--   1 owner    group       2048 2004.07.15    dotted.txt", E, "dotted.txt", false, 2048},
        {"unix dotted date padded folder", "drwxr-xr-x   2 owner    group       4096 2004.07.15    dotted dir", E, "dotted dir", true, 0},
        {"unix dotted date with time", "-rw-r--r--   1 owner    group       2049 2004.07.15 14:30 dotted time.txt", E, "dotted time.txt", false, 2049},
        {"unix day-first dotted date padded", "-rw-r--r--   1 owner    group       2050 15.07.2004    de dotted.txt", E, "de dotted.txt", false, 2050},
        {"unix day-month-year", "-rw-r--r--   1 owner    group         77 01-jun-99 dmy.txt", E, "dmy.txt", false, 77},
        {"unix day-month-year with time", "-rw-r--r--   1 owner    group         78 01-jun-99 12:00 dmy time.txt", E, "dmy time.txt", false, 78},
        {"unix day-month-year folder", "drwxr-xr-x   2 owner    group       4096 15-Mar-2004 dmy dir", E, "dmy dir", true, 0},
        {"unix day-month-year german", "-rw-r--r--   1 owner    group         79 01-Okt-2004 okt.txt", E, "okt.txt", false, 79},
        {"unix unknown month word, no other date", "-rw-r--r--   1 owner    group         80 01-xyz-99 bad.txt", U, "", false, 0},
        {"unix month name after size, no other date", "-rw-r--r--   1 owner    group         81 May report.txt", U, "", false, 0},
        // Unix, CJK dates in legacy double-byte encodings
        {"unix euc-kr year first", "-rw-r--r--   1 owner    group       1234 2003   3\xbf\xf9 20 ko euckr.txt", E, "ko euckr.txt", false, 1234},
        {"unix gbk year first", "-rw-r--r--   1 owner    group       1235 2003   3\xd4\xc2 20 zh gbk.txt", E, "zh gbk.txt", false, 1235},
        {"unix utf-8 year first", "-rw-r--r--   1 owner    group       1236 2003   3\xe6\x9c\x88 20 zh utf8.txt", E, "zh utf8.txt", false, 1236},
        {"unix euc-kr recent", "-rw-r--r--   1 owner    group       1237  8\xbf\xf9 17 08:52 ko recent.txt", E, "ko recent.txt", false, 1237},
        {"unix gbk recent", "-rw-r--r--   1 owner    group       1238  8\xd4\xc2 17 08:52 zh recent.txt", E, "zh recent.txt", false, 1238},
        {"unix shift_jis recent", "-rw-r--r--   1 owner    group       1239  8\x8c\x8e 17\x93\xfa 08:52 ja recent.txt", E, "ja recent.txt", false, 1239},
        {"unix month and day marks joined", "-rw-r--r--   1 owner    group       1240 3\xe6\x9c\x88" "20\xe6\x97\xa5 12:00 joined.txt", E, "joined.txt", false, 1240},
        {"unix gbk whole date joined", "-rw-r--r--   1 owner    group       1241 2003\xc4\xea" "3\xd4\xc2" "20\xc8\xd5 gbk joined.txt", E, "gbk joined.txt", false, 1241},
        {"unix euc-kr year with mark", "-rw-r--r--   1 owner    group       1242 2003\xb3\xe2  3\xbf\xf9 20\xc0\xcf euckr full.txt", E, "euckr full.txt", false, 1242},
        {"unix euc-kr folder and name", "drwxr-xr-x   2 owner    group       4096 2003   3\xbf\xf9 20 \xc7\xd1\xb1\xdb", E, "\xc7\xd1\xb1\xdb", true, 0},
        // Unix with the whole st_mode in octal, and the time in seconds
        {"octal stat file", "0100644   500  101   12345    123456789  name", E, "name", false, 12345},
        {"octal stat folder", "0040755   500  101    4096    123456789  folder", E, "folder", true, 0},
        {"octal stat name with spaces", "0100644   500  101      12    123456789  name with spaces", E, "name with spaces", false, 12},
        {"octal stat link", "0120777     0    0       7    123456789  link", E, "link", false, 7},
        // VShell without permissions
        {"vshell file", "206876  Apr 04, 2000 21:06 name", E, "name", false, 206876},
        {"vshell name with spaces", "  1024  Apr 04, 2000 21:06 my file.txt", E, "my file.txt", false, 1024},
        {"vshell folder", "     0  Apr 04, 2000 21:06 folder/", E, "folder", true, 0},
        {"vshell no comma is not vshell", "206876  Apr 04 2000 21:06 name", U, "", false, 0},
        // VMS, more layouts
        {"vms folder, one block, owner and protection", "NAME.DIR;1  1 19-NOV-2001 21:41 [root,root] (RWE,RWE,RE,RE)", E, "NAME", true, 0},
        {"vms blocks, hundredths", "NAME;1  155  2-JUL-2003 10:30:13.64", E, "NAME;1", false, 79360},
        {"vms used/allocated, owner, protection", "DATA.LOG;3        155/200     2-JUL-2003 10:30:13.64  [GROUP,OWNER]  (RWED,RWED,RE,)", E, "DATA.LOG;3", false, 79360},
        {"vms minutes only", "REPORT.TXT;12     3  2-JUL-2003 10:30", E, "REPORT.TXT;12", false, 1536},
        {"vms no time", "REPORT.TXT;13     3  2-JUL-2003", E, "REPORT.TXT;13", false, 1536},
        {"vms empty folder", "BACKUP.DIR;1      0/9  2-JUL-2003 10:30:13 [SYSTEM] (RWE,RWE,E,E)", E, "BACKUP", true, 0},
        {"vms owner only", "NOTES.TXT;1       2  2-JUL-2003 10:30:13 [GROUP,OWNER]", E, "NOTES.TXT;1", false, 1024},
        {"vms protection only", "NOTES.TXT;2       2  2-JUL-2003 10:30:13 (RWED,RWED,RE,)", E, "NOTES.TXT;2", false, 1024},
        {"vms owner with a blank", "NOTES.TXT;3       4  2-JUL-2003 10:30 [GROUP, OWNER] (RWED,RWED,RE,)", E, "NOTES.TXT;3", false, 2048},
        {"vms lower-case month", "notes.txt;5       2  2-jul-2003 10:30", E, "notes.txt;5", false, 1024},
        {"vms words after the fields", "NOTES.TXT;4       2  2-JUL-2003 10:30:13 trailing words", U, "", false, 0},
        {"vms no such month", "NOTES.TXT;6       2  31-XYZ-2003 10:30:13", U, "", false, 0},
        {"vms protection not closed", "NOTES.TXT;7       2  2-JUL-2003 10:30:13 (RWED,RWED", U, "", false, 0},
        // HP NonStop
        {"nonstop owner with a blank", "EDITFILE      101             528  6-Apr-07 14:21:18 255, 0 \"oooo\"", E, "EDITFILE", false, 528},
        {"nonstop other owner", "OBJFILE       100            4096 12-Dec-08 09:00:00 100,12 \"nunu\"", E, "OBJFILE", false, 4096},
        {"nonstop words after the fields", "ALTLOG        101            1036  8-Jun-09 17:48:16 255,255 \"oooo\" extra", U, "", false, 0},
        // MVS, members and tapes by the shape of their lines
        {"mvs tape", "V43525 Tape                                             USER.BACKUP.TAPE", E, "USER.BACKUP.TAPE", false, 0},
        {"mvs load module without header", "IEFBR14   000008  00000C              00 FO             RN RU            31    ANY", E, "IEFBR14", false, 8},
        {"mvs load module alias", "ALIAS1    000120  00000D IEFBR14      00 FO             RN RU            31    24", E, "ALIAS1", false, 288},
        {"mvs load module cut short", "IEFBR14   000008  00000C", U, "", false, 0},
        {"mvs source member", "ADDTOP    01.00 2001/05/02 2001/05/02 15:10    10    10     0 USER1", E, "ADDTOP", false, 0},
        {"mvs source member without id", "ADDTOP2   01.00 2001/05/02 2001/05/02 15:10    10    10     0", E, "ADDTOP2", false, 0},
        {"mvs source member with more fields", "MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1 EXTRA", U, "", false, 0},
        {"mvs load library", "WYOSPT 3390   2003/03/18  1 2500  U  6144  6144  PO  LOAD.LIB", E, "LOAD.LIB", true, 0},
        {"mvs tape, volume too long", "V435251 Tape                                            USER.BACKUP.TAPE", U, "", false, 0},
        {"vms name with dollar and ods-5 dots", "TCPIP$FTP_SERVER.LOG;2   0/16   3-JUN-2016 08:43:32 [DEV,OWNER] (RWED,RWED,RE,)", E, "TCPIP$FTP_SERVER.LOG;2", false, 0},
        {"unix dotted date, name with leading blanks kept after a time", "-rw-r--r--   1 owner    group         12 2004.07.15 14:30  lead", E, " lead", false, 12},
        // z/VM
        {"zvm variable records, iso date", "PROFILE  EXEC     V         65        107          2 2005-10-04 15:28:42 VMSYSU", E, "PROFILE.EXEC", false, 0},
        {"zvm fixed records, no label", "DATA     FILE     F         80         10          1 2005-10-04 15:28:42", E, "DATA.FILE", false, 800},
        {"zvm words after the label", "DATA     FILE     F         80         10          1 2005-10-04 15:28:42 LABEL MORE", U, "", false, 0},
        // Noise of other families and locales
        {"total in german", "insgesamt 12", N, "", false, 0},
        {"total in chinese", "\xe6\x80\xbb\xe7\x94\xa8\xe9\x87\x8f 12K", N, "", false, 0},
        {"vms header", "Directory DISK$USER:[SMITH]", N, "", false, 0},
        {"vms footer", "Total of 3 files, 8/12 blocks.", N, "", false, 0},
        {"ls error", "ls: cannot open directory .: Permission denied", U, "", false, 0},
        // Noise
        {"blank", "", N, "", false, 0},
        {"garbage", "this is not a listing line", U, "", false, 0},
        {"size overflow", "-rw-r--r--   1 owner group 99999999999999999999999 Jan 21 12:00 x", U, "", false, 0},
    };
    // clang-format on
    return rows;
}
} // namespace

TEST(FtpListParserTest, EachRowGivesItsEntry)
{
    size_t nEntries = 0;
    for (const CRow& row : Rows())
    {
        SCOPED_TRACE(row.pszVariant);
        CFtpListEntry entry;
        bool bEntry = CFtpListParser::ParseLine(row.strLine, entry);
        ASSERT_EQ(bEntry, row.nKind == E);
        // Alone as a listing, a line that gives nothing is noise or unreadable.
        CFtpListing listing = CFtpListParser::Parse(row.strLine);
        EXPECT_EQ(listing.nUnreadable, row.nKind == U ? 1u : 0u);
        if (!bEntry)
            continue;
        ++nEntries;
        EXPECT_EQ(entry.strName, row.strName);
        EXPECT_EQ(entry.bDirectory, row.bDirectory);
        EXPECT_EQ(entry.nSize, row.nSize);
    }
    EXPECT_GE(Rows().size(), 220u);
    EXPECT_GE(nEntries, 170u);
}

TEST(FtpListParserTest, WholeTableAsOneListing)
{
    // Each line reads in the listing as it reads alone, its time included.
    const int64_t LISTED_AT = 1718000000; // 2024-06-10
    std::vector<CFtpListEntry> expected;
    size_t nUnreadable = 0;
    std::string strListing;
    bool bCrLf = false;
    for (const CRow& row : Rows())
    {
        strListing += row.strLine + (bCrLf ? "\r\n" : "\n");
        bCrLf = !bCrLf;
        CFtpListEntry entry;
        if (row.nKind == E && CFtpListParser::ParseLine(row.strLine, entry, LISTED_AT))
            expected.push_back(entry);
        nUnreadable += row.nKind == U;
    }
    CFtpListing listing = CFtpListParser::Parse(strListing, LISTED_AT);
    EXPECT_EQ(listing.entries, expected);
    EXPECT_EQ(listing.nUnreadable, nUnreadable);
    // No line end after the last line.
    strListing.pop_back();
    EXPECT_EQ(CFtpListParser::Parse(strListing, LISTED_AT).entries, expected);
}

TEST(FtpListParserTest, RandomControlCharactersNeverCrash)
{
    std::string strListing;
    for (const CRow& row : Rows())
        strListing += row.strLine + "\r\n";
    std::mt19937 random(4242);
    const char noise[] = {'\r', '\n', '\t', '\0', ' ', ';', '='};
    for (int nRound = 0; nRound < 2000; ++nRound)
    {
        std::string str = strListing;
        int nInsertions = 1 + static_cast<int>(random() % 20);
        for (int i = 0; i < nInsertions; ++i)
            str.insert(str.begin() + static_cast<long>(random() % (str.size() + 1)),
                       noise[random() % sizeof noise]);
        if (nRound % 3 == 0)
            str.resize(random() % (str.size() + 1));
        CFtpListing listing = CFtpListParser::Parse(str);
        // Every line is an entry, noise or unreadable, never two of them.
        EXPECT_LE(listing.entries.size() + listing.nUnreadable,
                  static_cast<size_t>(std::count(str.begin(), str.end(), '\n')) + 1);
        for (const CFtpListEntry& entry : listing.entries)
        {
            EXPECT_FALSE(entry.strName.empty());
            EXPECT_NE(entry.strName, ".");
            EXPECT_NE(entry.strName, "..");
            EXPECT_EQ(entry.strName.find('\0'), std::string::npos);
            EXPECT_TRUE(!entry.bDirectory || entry.nSize == 0);
        }
    }
}

// Lines that only the listing around them makes readable.
TEST(FtpListParserTest, FamilyContextAcrossLines)
{
    struct CCase
    {
        const char* pszVariant;
        std::string strListing;
        std::vector<CFtpListEntry> expected;
        size_t nUnreadable;
    };
    const CCase cases[] = {
        {"vms name alone, fields on the next line",
         "Directory DISK$USER:[SMITH]\r\n"
         "\r\n"
         "A.TXT;1                1/3          5-JUN-1995 13:33:57  [SMITH]  (RWED,RWED,RE,)\r\n"
         "A_VERY_LONG_FILE_NAME_INDEED.DATA;12\r\n"
         "                       5/6          1-JAN-2001 00:00:00  [SMITH]  (RWED,RWED,,)\r\n"
         "LONG_FOLDER_NAME_THAT_WRAPS.DIR;1\r\n"
         "                       1/3          1-JAN-2001 00:00:00  [SMITH]  (RWE,RWE,,)\r\n"
         "ALONE.TXT;3\r\n"
         "B.TXT;1                2            5-JUN-1995 13:33:57  [SMITH]  (RWED,RWED,RE,)\r\n"
         "LAST.TXT;1\r\n"
         "\r\n"
         "Total of 5 files, 9/15 blocks.\r\n",
         {{"A.TXT;1", false, 512},
          {"A_VERY_LONG_FILE_NAME_INDEED.DATA;12", false, 2560},
          {"LONG_FOLDER_NAME_THAT_WRAPS", true, 0},
          {"ALONE.TXT;3", false, 0},
          {"B.TXT;1", false, 1024},
          {"LAST.TXT;1", false, 0}},
         0},
        {"mvs members with and without statistics",
         " Name     VV.MM   Created       Changed      Size  Init   Mod   Id\r\n"
         "MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1\r\n"
         "MEMBER2\r\n"
         "$TEMP#\r\n",
         {{"MEMBER1", false, 0}, {"MEMBER2", false, 0}, {"$TEMP#", false, 0}},
         0},
        {"mvs load modules, hex sizes",
         " Name      Size     TTR   Alias-of AC --------- Attributes --------- Amode Rmode\r\n"
         "IEFBR14   000008  00000C              00 FO             RN RU            31    ANY\r\n"
         "BIGMOD    01A000  00001F              01 FO                              31    ANY\r\n"
         "NOSTATS\r\n",
         {{"IEFBR14", false, 8}, {"BIGMOD", false, 0x1a000}, {"NOSTATS", false, 0}},
         0},
        {"data sets after members stay data sets",
         "MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1\r\n"
         "WYOSPT 3390   2003/03/18  1  200  FB      80  8053  PS  SOME.DATA\r\n"
         "Migrated                                                OLD.DATA\r\n"
         "V43525 Tape                                             TAPE.DATA\r\n",
         {{"MEMBER1", false, 0},
          {"SOME.DATA", false, 0},
          {"OLD.DATA", false, 0},
          {"TAPE.DATA", false, 0}},
         0},
        {"load modules without header, then a bare name",
         "IEFBR14   000008  00000C              00 FO             RN RU            31    ANY\r\n"
         "NOSTATS\r\n",
         {{"IEFBR14", false, 8}, {"NOSTATS", false, 0}},
         0},
        {"vms name alone, hundredths on the next line",
         "VERY_LONG_NAME_OF_A_FILE.TXT;1\r\n"
         "        155  2-JUL-2003 10:30:13.64\r\n"
         "SHORT.TXT;1\r\n"
         "        155  2-JUL-2003 10:30:13.64 unread words\r\n",
         {{"VERY_LONG_NAME_OF_A_FILE.TXT;1", false, 79360}, {"SHORT.TXT;1", false, 0}},
         1},
        {"bare names outside a member list are not guessed", "MEMBER2\r\nREADME\r\n", {}, 2},
        {"mvs data sets with header",
         "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname\r\n"
         "WYOSPT 3390   2003/03/18  1  200  FB      80  8053  PS  SOME.DATA\r\n"
         "Migrated                                                OLD.DATA\r\n"
         "WYOSP1 3390   2012/05/15  1    1  FB      80 27920  PO  SOURCE.PDS\r\n",
         {{"SOME.DATA", false, 0}, {"OLD.DATA", false, 0}, {"SOURCE.PDS", true, 0}},
         0},
        {"unix listing with noise and damaged lines",
         "total 12\n"
         "drwxr-xr-x   2 owner group  4096 Jan 21 12:00 .\n"
         "drwxr-xr-x   9 owner group  4096 Jan 21 12:00 ..\n"
         "-rw-r--r--   1 owner group    10 Jan 21 12:00 kept.txt\n"
         "-rw-r--r--   1 owner gr\n"
         "\n"
         "   \n"
         "drwxr-xr-x   2 owner group  4096 Jan 21 12:00 pub\n"
         "<html><body>Proxy error</body></html>\n",
         {{"kept.txt", false, 10}, {"pub", true, 0}},
         2},
    };
    for (const CCase& test : cases)
    {
        SCOPED_TRACE(test.pszVariant);
        CFtpListing listing = CFtpListParser::Parse(test.strListing);
        EXPECT_EQ(WithoutTimes(listing.entries), test.expected);
        EXPECT_EQ(listing.nUnreadable, test.nUnreadable);
    }
}

namespace
{
// "2024-01-21 12:00:00" as seconds since 1970, read as UTC.
int64_t Utc(const char* pszTime)
{
    std::tm tm{};
    if (strptime(pszTime, "%Y-%m-%d %H:%M:%S", &tm) == nullptr)
        ADD_FAILURE() << pszTime;
    return static_cast<int64_t>(timegm(&tm));
}
} // namespace

// The time each family gives: its precision, whether it is UTC, and the
// year a LIST date leaves out, placed by when the listing was taken.
TEST(FtpListParserTest, ModificationTimes)
{
    using P = EFtpTimePrecision;
    struct CCase
    {
        const char* pszVariant;
        std::string strLine;
        const char* pszListedAt; // nullptr: not known
        const char* pszTime;     // nullptr: no time
        P nPrecision;
        bool bZoneKnown;
    };
    const char* JUN = "2024-06-10 12:00:00";
    const char* NEW_YEAR = "2025-01-02 00:00:00";
    // clang-format off
    const CCase cases[] = {
        // MLSD and EPLF give UTC
        {"mlsd modify", "type=file;size=1;modify=20200101120000; a", JUN, "2020-01-01 12:00:00", P::SECOND, true},
        {"mlsd modify with fraction", "type=file;size=1;modify=20200101120000.517; a", JUN, "2020-01-01 12:00:00", P::SECOND, true},
        {"mlsd without modify", "type=file;size=1;perm=r; a", JUN, nullptr, P::NONE, false},
        {"mlsd modify cut short", "type=file;size=1;modify=2020010112; a", JUN, nullptr, P::NONE, false},
        {"mlsd modify impossible", "type=file;size=1;modify=20200230120000; a", JUN, nullptr, P::NONE, false},
        {"mlsd modify month 13", "type=file;size=1;modify=20201301120000; a", JUN, nullptr, P::NONE, false},
        {"mlsd modify with a letter", "type=file;size=1;modify=2020010112000x; a", JUN, nullptr, P::NONE, false},
        {"mlsd modify with a byte below the digits", "type=file;size=1;modify=202001/1120000; a", JUN, nullptr, P::NONE, false},
        {"mlsd leap year", "type=file;size=1;modify=20240229235959; a", JUN, "2024-02-29 23:59:59", P::SECOND, true},
        {"eplf seconds", "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF", JUN, "1996-08-13 17:19:43", P::SECOND, true},
        {"octal stat seconds", "0100644   500  101   12345    123456789  name", JUN, "1973-11-29 21:33:09", P::SECOND, true},
        // ls: local time, year or time of day
        {"unix recent", "-rw-r--r-- 1 o g 1 Jan 21 12:00 a", JUN, "2024-01-21 12:00:00", P::MINUTE, false},
        {"unix recent, last year", "-rw-r--r-- 1 o g 1 Aug  8 10:00 a", JUN, "2023-08-08 10:00:00", P::MINUTE, false},
        {"unix old", "-rw-r--r-- 1 o g 1 Jan 21  2019 a", JUN, "2019-01-21 00:00:00", P::DAY, false},
        {"unix seconds", "-rw-r--r-- 1 o g 1 Nov 11 10:00:59 a", JUN, "2023-11-11 10:00:59", P::SECOND, false},
        {"unix iso", "-rw-r--r-- 1 o g 1 2020-01-21 12:00 a", JUN, "2020-01-21 12:00:00", P::MINUTE, false},
        {"unix full-iso seconds", "-rw-r--r-- 1 o g 1 2020-01-21 12:00:59 a", JUN, "2020-01-21 12:00:59", P::SECOND, false},
        {"unix year not known, listing time not known", "-rw-r--r-- 1 o g 1 Jan 21 12:00 a", nullptr, nullptr, P::NONE, false},
        {"unix year given, listing time not known", "-rw-r--r-- 1 o g 1 Jan 21  2019 a", nullptr, "2019-01-21 00:00:00", P::DAY, false},
        {"unix hour out of range", "-rw-r--r-- 1 o g 1 Jan 21 25:00 a", JUN, nullptr, P::NONE, false},
        {"unix month outside the table", "-rw-r--r-- 1 o g 1 \xce\x9f\xce\xba\xcf\x84 21 12:00 a", JUN, nullptr, P::NONE, false},
        // The year around new year, listing taken 2025-01-02 00:00 UTC
        {"new year: Dec 31 23:59 is last year", "-rw-r--r-- 1 o g 1 Dec 31 23:59 a", NEW_YEAR, "2024-12-31 23:59:00", P::MINUTE, false},
        {"new year: Jan 1 is this year", "-rw-r--r-- 1 o g 1 Jan  1 10:00 a", NEW_YEAR, "2025-01-01 10:00:00", P::MINUTE, false},
        {"new year: later today on a server ahead of UTC", "-rw-r--r-- 1 o g 1 Jan  2 20:00 a", NEW_YEAR, "2025-01-02 20:00:00", P::MINUTE, false},
        {"new year: days ahead is last year", "-rw-r--r-- 1 o g 1 Jan  5 10:00 a", NEW_YEAR, "2024-01-05 10:00:00", P::MINUTE, false},
        {"new year: July is last year", "-rw-r--r-- 1 o g 1 Jul 15 10:00 a", NEW_YEAR, "2024-07-15 10:00:00", P::MINUTE, false},
        // February 29
        {"feb 29 in a leap year", "-rw-r--r-- 1 o g 1 Feb 29 12:00 a", "2024-03-10 00:00:00", "2024-02-29 12:00:00", P::MINUTE, false},
        {"feb 29 seen the next year", "-rw-r--r-- 1 o g 1 Feb 29 12:00 a", "2025-03-10 00:00:00", "2024-02-29 12:00:00", P::MINUTE, false},
        {"feb 29 on the day", "-rw-r--r-- 1 o g 1 Feb 29 09:00 a", "2024-02-29 10:00:00", "2024-02-29 09:00:00", P::MINUTE, false},
        {"feb 29 of a common year", "-rw-r--r-- 1 o g 1 Feb 29  2023 a", JUN, nullptr, P::NONE, false},
        // ls in other locales and layouts
        {"unix german day first", "-rw-r--r-- 1 o g 1 21. Okt 2019 a", JUN, "2019-10-21 00:00:00", P::DAY, false},
        {"unix french recent", "-rw-r--r-- 1 o g 1 21 janv. 12:00 a", JUN, "2024-01-21 12:00:00", P::MINUTE, false},
        {"unix russian", "-rw-r--r-- 1 o g 1 \xd0\xbe\xd0\xba\xd1\x82 21 12:00 a", JUN, "2023-10-21 12:00:00", P::MINUTE, false},
        {"unix hungarian year first", "-rw-r--r-- 1 o g 1 2010. m\xc3\xa1rc. 21. a", JUN, "2010-03-21 00:00:00", P::DAY, false},
        {"unix chinese recent", "-rw-r--r-- 1 o g 1 8\xe6\x9c\x88 17 08:52 a", JUN, "2023-08-17 08:52:00", P::MINUTE, false},
        {"unix chinese marks and year", "-rw-r--r-- 1 o g 1 4\xe6\x9c\x88 18\xe6\x97\xa5 2003\xe5\xb9\xb4 a", JUN, "2003-04-18 00:00:00", P::DAY, false},
        {"unix korean year first", "-rw-r--r-- 1 o g 1 2005\xeb\x85\x84 1\xec\x9b\x94 6\xec\x9d\xbc a", JUN, "2005-01-06 00:00:00", P::DAY, false},
        {"unix euc-kr bare year first", "-rw-r--r-- 1 o g 1 2003   3\xbf\xf9 20 a", JUN, "2003-03-20 00:00:00", P::DAY, false},
        {"unix gbk joined", "-rw-r--r-- 1 o g 1 2003\xc4\xea" "3\xd4\xc2" "20\xc8\xd5 a", JUN, "2003-03-20 00:00:00", P::DAY, false},
        {"unix month and day marks joined", "-rw-r--r-- 1 o g 1 3\xe6\x9c\x88" "20\xe6\x97\xa5 12:00 a", JUN, "2024-03-20 12:00:00", P::MINUTE, false},
        {"unix numeric month", "-rw-r--r-- 1 o g 1 1 21 12:00 a", JUN, "2024-01-21 12:00:00", P::MINUTE, false},
        {"unix mm-dd time", "-rw-r--r-- 1 o g 1 01-21 12:00 a", JUN, "2024-01-21 12:00:00", P::MINUTE, false},
        {"unix dd-mm-yyyy", "-rw-r--r-- 1 o g 1 21-01-2020 12:00 a", JUN, "2020-01-21 12:00:00", P::MINUTE, false},
        {"unix dotted padded", "-rw-r--r-- 1 o g 1 2004.07.15    a", JUN, "2004-07-15 00:00:00", P::DAY, false},
        {"unix day-month-year", "-rw-r--r-- 1 o g 1 01-jun-99 a", JUN, "1999-06-01 00:00:00", P::DAY, false},
        {"unix vshell date and time", "-rwxr-xr-x 1 u g 1 Oct 08, 2002 09:47 a", JUN, "2002-10-08 09:47:00", P::MINUTE, false},
        {"vshell without permissions", "206876  Apr 04, 2000 21:06 a", JUN, "2000-04-04 21:06:00", P::MINUTE, false},
        {"netware", "- [RWCEAFMS] rhesus 214059 Oct 20 15:27 a", JUN, "2023-10-20 15:27:00", P::MINUTE, false},
        {"plan9", "--rw-rw-r-- M 4 glenda glenda 1 Jan 21 12:00 a", JUN, "2024-01-21 12:00:00", P::MINUTE, false},
        // DOS / IIS and other Windows layouts
        {"dos pm", "01-21-20  02:35PM 1 a", JUN, "2020-01-21 14:35:00", P::MINUTE, false},
        {"dos twelve am is midnight", "01-21-20  12:05AM 1 a", JUN, "2020-01-21 00:05:00", P::MINUTE, false},
        {"dos twelve pm is noon", "01-21-20  12:05PM 1 a", JUN, "2020-01-21 12:05:00", P::MINUTE, false},
        {"dos 24h, four-digit year", "01-21-2020  14:35 1 a", JUN, "2020-01-21 14:35:00", P::MINUTE, false},
        {"dos iso date, seconds", "2020-01-21  14:35:22 1 a", JUN, "2020-01-21 14:35:22", P::SECOND, false},
        {"dos dotted day first", "21.01.2020  14:35 <DIR> a", JUN, "2020-01-21 14:35:00", P::MINUTE, false},
        {"dos chinese afternoon", "01-21-20  02:35\xe4\xb8\x8b\xe5\x8d\x88 <DIR> a", JUN, "2020-01-21 14:35:00", P::MINUTE, false},
        {"dos chinese morning first", "2020/01/21  \xe4\xb8\x8a\xe5\x8d\x88 12:35 1 a", JUN, "2020-01-21 00:35:00", P::MINUTE, false},
        {"dos unknown half keeps the day", "2020/01/21  \xce\xbc\xce\xbc 02:35 1 a", JUN, "2020-01-21 00:00:00", P::DAY, false},
        {"dos two-digit year of the 1900s", "01-21-70  02:35PM 1 a", JUN, "1970-01-21 14:35:00", P::MINUTE, false},
        {"dos two-digit year of the 2000s", "01-21-69  02:35PM 1 a", JUN, "2069-01-21 14:35:00", P::MINUTE, false},
        {"os2", "   36611      A          05-12-97   16:44  a", JUN, "1997-05-12 16:44:00", P::MINUTE, false},
        // Other families
        {"vms seconds, hundredths left out", "NAME;1  155  2-JUL-2003 10:30:13.64", JUN, "2003-07-02 10:30:13", P::SECOND, false},
        {"vms minutes", "REPORT.TXT;12     3  2-JUL-2003 10:30", JUN, "2003-07-02 10:30:00", P::MINUTE, false},
        {"vms date only", "REPORT.TXT;13     3  2-JUL-2003", JUN, "2003-07-02 00:00:00", P::DAY, false},
        {"vms no attributes", "SECRET.DAT;1        %RMS-E-PRV, insufficient privilege", JUN, nullptr, P::NONE, false},
        {"mvs member changed", "MEMBER1   01.03 2002/09/12 2002/10/11 09:37    11     1     0 USER1", JUN, "2002-10-11 09:37:00", P::MINUTE, false},
        {"mvs data set referred date is not a change", "WYOSPT 3390   2003/03/18  1  200  FB      80  8053  PS  A", JUN, nullptr, P::NONE, false},
        {"as400", "QPGMR           1234 05/04/03 12:00:00 *STMF      a", JUN, "2003-05-04 12:00:00", P::SECOND, false},
        {"nonstop", "ALTLOG        101            1036  8-Jun-09 17:48:16 255,255 \"oooo\"", JUN, "2009-06-08 17:48:16", P::SECOND, false},
        {"os9 year first", "  0.0     06/10/28 1134    ------wr      28B       512 a", JUN, "2006-10-28 11:34:00", P::MINUTE, false},
        {"vxworks", "    1028       JAN-01-2000 00:00:00   a", JUN, "2000-01-01 00:00:00", P::SECOND, false},
        {"zvm iso", "PROFILE  EXEC     F         80          9          1 1999-09-24 12:36:12 VMSYSU", JUN, "1999-09-24 12:36:12", P::SECOND, false},
        {"zvm month first", "README   TXT      V         68        123          3  9/24/99 12:36:12 -", JUN, "1999-09-24 12:36:12", P::SECOND, false},
    };
    // clang-format on
    for (const CCase& test : cases)
    {
        SCOPED_TRACE(test.pszVariant);
        int64_t nListedAt =
            test.pszListedAt ? Utc(test.pszListedAt) : CFtpListParser::LISTED_AT_UNKNOWN;
        CFtpListing listing = CFtpListParser::Parse(test.strLine, nListedAt);
        ASSERT_EQ(listing.entries.size(), 1u);
        const CFtpListEntry& entry = listing.entries[0];
        EXPECT_EQ(entry.nTimePrecision, test.nPrecision);
        EXPECT_EQ(entry.nTime, test.pszTime ? Utc(test.pszTime) : 0);
        EXPECT_EQ(entry.bTimeZoneKnown, test.bZoneKnown);
    }
}

// An entry whose fields follow on the next line takes its time from there.
TEST(FtpListParserTest, TimeOfAnEntrySpreadOverTwoLines)
{
    CFtpListing listing = CFtpListParser::Parse("A_VERY_LONG_FILE_NAME_INDEED.DATA;12\r\n"
                                                "     5/6     1-JAN-2001 08:09:10  [SMITH]\r\n"
                                                "ALONE.TXT;3\r\n",
                                                Utc("2024-06-10 00:00:00"));
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.entries[0].nTime, Utc("2001-01-01 08:09:10"));
    EXPECT_EQ(listing.entries[0].nTimePrecision, EFtpTimePrecision::SECOND);
    EXPECT_EQ(listing.entries[1].nTimePrecision, EFtpTimePrecision::NONE);
}
