// Local names for server names: nothing a server calls a file may reach
// outside the destination folder or be a name Linux or Windows cannot hold.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "transfer/LocalName.h"

namespace
{
struct CNameRow
{
    const char* pszCase;
    std::string strServer; // the name read in the site's set
    std::string strLocal;
};

TEST(LocalNameTest, MapsEveryNameToOneSafeComponent)
{
    const CNameRow ROWS[] = {
        {"plain", "report.pdf", "report.pdf"},
        {"chinese", "中文 目录.txt", "中文 目录.txt"},
        {"hidden file keeps its dot", ".profile", ".profile"},
        {"slash", "a/b", "a_b"},
        {"absolute path", "/etc/passwd", "_etc_passwd"},
        {"parent", "..", "__"},
        {"self", ".", "_"},
        {"parent inside", "../../x", ".._.._x"},
        {"empty", "", "_"},
        {"backslash", "..\\..\\boot.ini", ".._.._boot.ini"},
        {"nul", std::string("a\0b", 3), "a_b"},
        {"control characters", "a\r\nb\tc\x7f", "a__b_c_"},
        {"windows characters", "a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"},
        {"trailing dot and space", "name. ", "name__"},
        {"device", "CON", "_CON"},
        {"device with extension", "nul.txt", "_nul.txt"},
        {"device any case", "Com1.log", "_Com1.log"},
        {"lpt9", "LPT9", "_LPT9"},
        {"not a device", "CONSOLE.txt", "CONSOLE.txt"},
        {"com0 is no device", "COM0", "COM0"},
    };
    for (const CNameRow& row : ROWS)
        EXPECT_EQ(MapLocalName(row.strServer), row.strLocal) << row.pszCase;
}

TEST(LocalNameTest, LongNamesAreCutAtACharacterAndKeepTheirExtension)
{
    struct CRow
    {
        const char* pszCase;
        std::string strName;
        std::string strExtension;
    };
    const CRow ROWS[] = {
        {"ascii", std::string(400, 'a') + ".iso", ".iso"},
        {"three-byte characters",
         []
             {
                 std::string s;
                 for (int i = 0; i < 120; ++i)
                     s += "中";
                 return s;
             }() +
             ".tar",
         ".tar"},
        {"long extension dropped", "x." + std::string(300, 'e'), ""},
    };
    for (const CRow& row : ROWS)
    {
        std::string strLocal = MapLocalName(row.strName);
        EXPECT_LE(strLocal.size(), LOCAL_NAME_MAX) << row.pszCase;
        EXPECT_GT(strLocal.size(), LOCAL_NAME_MAX - 3) << row.pszCase;
        EXPECT_TRUE(strLocal.ends_with(row.strExtension)) << row.pszCase;
        // No character cut in half: the cut sits before a lead byte.
        std::string strStem = strLocal.substr(0, strLocal.size() - row.strExtension.size());
        ASSERT_FALSE(strStem.empty());
        EXPECT_EQ(row.strName.compare(0, strStem.size(), strStem), 0) << row.pszCase;
        unsigned char cNext = static_cast<unsigned char>(row.strName[strStem.size()]);
        EXPECT_NE(cNext & 0xC0, 0x80) << row.pszCase;
    }
}

TEST(LocalNameTest, NumbersTheFirstFreeName)
{
    std::set<std::string> taken{"a.txt", "a (1).txt", "noext", ".bashrc"};
    auto isTaken = [&](const std::string& s) { return taken.count(s) != 0; };
    EXPECT_EQ(NextFreeName("a.txt", isTaken), "a (2).txt");
    EXPECT_EQ(NextFreeName("b.txt", isTaken), "b.txt");
    EXPECT_EQ(NextFreeName("noext", isTaken), "noext (1)");
    EXPECT_EQ(NextFreeName(".bashrc", isTaken), ".bashrc (1)");
    EXPECT_EQ(NumberedName("archive.tar.gz", 3), "archive.tar (3).gz");
}
} // namespace
