#include <gtest/gtest.h>

#include <random>

#include "net/FtpListParser.h"

namespace
{
struct CRow
{
    const char* pszVariant;
    std::string strLine;
    bool bEntry;
    std::string strName;
    bool bDirectory;
    uint64_t nSize;
};

const std::vector<CRow>& Rows()
{
    static const std::vector<CRow> rows = {
        // MLSD
        {"mlsd file", "type=file;size=1234;modify=20200101120000;perm=r; notes.txt", true, "notes.txt", false, 1234},
        {"mlsd dir", "type=dir;modify=20200101120000;perm=el; pub", true, "pub", true, 0},
        {"mlsd upper-case facts", "Type=File;Size=77;Modify=20200101120000; Readme", true, "Readme", false, 77},
        {"mlsd fact order", "modify=20200101120000;perm=r;size=5;type=file;unique=fe00g1; a.txt", true, "a.txt", false, 5},
        {"mlsd cdir dropped", "type=cdir;modify=20200101120000; /pub", false, "", false, 0},
        {"mlsd pdir dropped", "type=pdir;modify=20200101120000; ..", false, "", false, 0},
        {"mlsd symlink", "type=OS.unix=slink:/srv/target;size=7; link", true, "link", false, 7},
        {"mlsd symlink other spelling", "type=OS.unix=symlink;size=3; ln", true, "ln", false, 3},
        {"mlsd device", "type=OS.unix=chr-13/29;size=0; tty", true, "tty", false, 0},
        {"mlsd leading spaces", "type=file;size=1;  two leading", true, " two leading", false, 1},
        {"mlsd trailing space", "type=file;size=1; trailing ", true, "trailing ", false, 1},
        {"mlsd name with spaces", "type=dir;perm=el; My Documents", true, "My Documents", true, 0},
        {"mlsd over 4 GiB", "type=file;size=5368709120; big.iso", true, "big.iso", false, 5368709120ull},
        {"mlsd no size", "type=file;perm=r; nosize", true, "nosize", false, 0},
        {"mlsd dir sizd", "type=dir;sizd=4096; d", true, "d", true, 0},
        {"mlsd non-utf8", "type=file;size=2; caf\xe9", true, "caf\xe9", false, 2},
        {"mlsd utf8", "type=file;size=2; \xe4\xb8\xad\xe6\x96\x87.txt", true, "\xe4\xb8\xad\xe6\x96\x87.txt", false, 2},
        {"mlsd dot", "type=dir; .", false, "", false, 0},
        // Unix ls -l
        {"unix file", "-rw-r--r--   1 owner group        1234 Jan 21 12:00 file.txt", true, "file.txt", false, 1234},
        {"unix dir", "drwxr-xr-x   2 owner group        4096 Jan 21 12:00 pub", true, "pub", true, 0},
        {"unix year", "-rw-r--r--   1 owner group         99 Jan 21  2019 old.txt", true, "old.txt", false, 99},
        {"unix no group", "-rw-r--r--   1 owner         1234 Jan 21  2019 nogroup.txt", true, "nogroup.txt", false, 1234},
        {"unix numeric owners", "-rw-r--r--   1 0        0            3 Feb  1 09:05 n.txt", true, "n.txt", false, 3},
        {"unix acl mark", "drwxr-xr-x+  2 owner group        4096 Mar  3 10:00 acl", true, "acl", true, 0},
        {"unix xattr mark", "-rw-r--r--@  1 owner staff          8 Apr  4 10:00 mac.txt", true, "mac.txt", false, 8},
        {"unix selinux mark", "-rw-r--r--.  1 owner group          9 May  5 10:00 se.txt", true, "se.txt", false, 9},
        {"unix spaces in name", "-rw-r--r--   1 owner group         10 Jun  6 10:00 my file name.txt", true, "my file name.txt", false, 10},
        {"unix leading space in name", "-rw-r--r--   1 owner group         10 Jun  6 10:00  lead", true, " lead", false, 10},
        {"unix symlink", "lrwxrwxrwx   1 owner group         11 Jul  7 10:00 link -> target/dir", true, "link", false, 11},
        {"unix symlink to parent", "lrwxrwxrwx   1 owner group          2 Jul  7 10:00 loop -> ..", true, "loop", false, 2},
        {"unix over 4 GiB", "-rw-r--r--   1 owner group 5368709120 Aug  8 10:00 big.iso", true, "big.iso", false, 5368709120ull},
        {"unix char device", "crw-rw-rw-   1 root  root      1,   3 Sep  9 10:00 null", true, "null", false, 0},
        {"unix block device", "brw-rw----   1 root  disk      8,0 Sep  9 10:00 sda", true, "sda", false, 0},
        {"unix iso date", "-rw-r--r--   1 owner group        123 2020-01-21 12:00 iso.txt", true, "iso.txt", false, 123},
        {"unix day before month", "-rw-r--r--   1 owner group        124 21 Jan 12:00 eu.txt", true, "eu.txt", false, 124},
        {"unix owner named like a month", "-rw-r--r--   1 may   group        125 Oct 10 10:00 m.txt", true, "m.txt", false, 125},
        {"unix seconds in time", "-rw-r--r--   1 owner group        126 Nov 11 10:00:59 s.txt", true, "s.txt", false, 126},
        {"unix dot", "drwxr-xr-x   2 owner group       4096 Dec 12 10:00 .", false, "", false, 0},
        {"unix dot dot", "drwxr-xr-x   9 owner group       4096 Dec 12 10:00 ..", false, "", false, 0},
        {"unix hidden file", "-rw-r--r--   1 owner group          1 Dec 12 10:00 .hidden", true, ".hidden", false, 1},
        {"unix non-utf8", "-rw-r--r--   1 owner group          1 Dec 12 10:00 \xb2\xe2\xca\xd4.txt", true, "\xb2\xe2\xca\xd4.txt", false, 1},
        {"unix fifo", "prw-r--r--   1 owner group          0 Dec 12 10:00 pipe", true, "pipe", false, 0},
        {"unix total line", "total 1234", false, "", false, 0},
        {"unix tab separated", "-rw-r--r--\t1 owner\tgroup\t12 Jan 21 12:00 tab.txt", true, "tab.txt", false, 12},
        // DOS / IIS
        {"dos dir 12h", "01-21-20  02:35PM       <DIR>          Program Files", true, "Program Files", true, 0},
        {"dos file 12h", "01-21-20  02:35AM                 1234 readme.txt", true, "readme.txt", false, 1234},
        {"dos file 24h", "01-21-2020  14:35                 4321 log.txt", true, "log.txt", false, 4321},
        {"dos iso date", "2020-01-21  14:35       <DIR>          data", true, "data", true, 0},
        {"dos separate am pm", "01/21/2020  02:35 PM             77 sep.txt", true, "sep.txt", false, 77},
        {"dos grouped digits", "01-21-20  02:35PM            1,234,567 grouped.bin", true, "grouped.bin", false, 1234567},
        {"dos over 4 GiB", "01-21-20  02:35PM           5368709120 big.iso", true, "big.iso", false, 5368709120ull},
        {"dos junction", "01-21-20  02:35PM       <JUNCTION>     Docs [C:\\Users\\Docs]", true, "Docs", false, 0},
        {"dos non-utf8", "01-21-20  02:35PM                    5 \xd6\xd0\xce\xc4.txt", true, "\xd6\xd0\xce\xc4.txt", false, 5},
        {"dos dot", "01-21-20  02:35PM       <DIR>          .", false, "", false, 0},
        // Noise
        {"blank", "", false, "", false, 0},
        {"garbage", "this is not a listing line", false, "", false, 0},
        {"size overflow", "-rw-r--r--   1 owner group 99999999999999999999999 Jan 21 12:00 x", false, "", false, 0},
    };
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
        ASSERT_EQ(bEntry, row.bEntry);
        if (!bEntry)
            continue;
        ++nEntries;
        EXPECT_EQ(entry.strName, row.strName);
        EXPECT_EQ(entry.bDirectory, row.bDirectory);
        EXPECT_EQ(entry.nSize, row.nSize);
    }
    EXPECT_GE(Rows().size(), 40u);
    EXPECT_GE(nEntries, 40u);
}

TEST(FtpListParserTest, WholeTableAsOneListing)
{
    std::vector<CFtpListEntry> expected;
    std::string strListing;
    bool bCrLf = false;
    for (const CRow& row : Rows())
    {
        strListing += row.strLine + (bCrLf ? "\r\n" : "\n");
        bCrLf = !bCrLf;
        if (row.bEntry)
            expected.push_back(CFtpListEntry{row.strName, row.bDirectory, row.nSize});
    }
    EXPECT_EQ(CFtpListParser::ParseListing(strListing), expected);
    // No line end after the last line.
    strListing.pop_back();
    EXPECT_EQ(CFtpListParser::ParseListing(strListing), expected);
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
            str.insert(str.begin() + static_cast<long>(random() % (str.size() + 1)), noise[random() % sizeof noise]);
        if (nRound % 3 == 0)
            str.resize(random() % (str.size() + 1));
        std::vector<CFtpListEntry> entries = CFtpListParser::ParseListing(str);
        for (const CFtpListEntry& entry : entries)
        {
            EXPECT_FALSE(entry.strName.empty());
            EXPECT_NE(entry.strName, ".");
            EXPECT_NE(entry.strName, "..");
        }
    }
}
