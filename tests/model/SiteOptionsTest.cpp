#include <gtest/gtest.h>

#include <sys/stat.h>

#include "model/File.h"
#include "model/SiteOptions.h"
#include "support/TempDir.h"

namespace
{
TEST(SiteOptionsTest, RewritingKeepsUnknownKeysCommentsAndDamagedLines)
{
    const std::string strText = "# written by hand\n"
                                "charset=GB18030\n"
                                "future_key = some value\n"
                                "this line is damaged\n"
                                "listing=auto\n";
    std::vector<std::string> warnings;
    CSiteOptions options = CSiteOptions::Parse(strText, &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("line 4"), std::string::npos);
    EXPECT_EQ(options.Get(OPTION_CHARSET), "GB18030");
    EXPECT_EQ(options.Get("future_key"), "some value");
    EXPECT_EQ(options.Get(OPTION_TLS, "off"), "off");

    ASSERT_TRUE(options.Set(OPTION_CHARSET, "Big5"));
    ASSERT_TRUE(options.Set(OPTION_TLS, "explicit\nstat_files=1"));
    options.Remove(OPTION_LISTING);
    EXPECT_EQ(options.Format(), "# written by hand\n"
                                "charset=Big5\n"
                                "future_key=some value\n"
                                "this line is damaged\n"
                                "tls=explicit stat_files=1\n");
    EXPECT_FALSE(options.Set("bad key", "x"));
    EXPECT_FALSE(options.Set("", "x"));
}

TEST(SiteOptionsTest, NumbersAndRepeatedKeys)
{
    CSiteOptions options = CSiteOptions::Parse("stat_files=12\nstat_files=40\nstat_bytes=x1\n");
    EXPECT_EQ(options.GetInt("stat_files"), 40);
    EXPECT_EQ(options.GetInt("stat_bytes", -1), -1);
    options.SetInt("stat_bytes", 5368709120);
    EXPECT_EQ(options.GetInt("stat_bytes"), 5368709120);
}

TEST(SiteOptionsTest, SavesAtomicallyReadableByTheOwnerOnly)
{
    CTempDir dir;
    std::string strPath = dir.Path() + "/" + SITE_OPTIONS_FILE;
    EXPECT_TRUE(CSiteOptions::Load(strPath).IsEmpty()); // missing: defaults
    CSiteOptions options;
    ASSERT_TRUE(options.Set(OPTION_TLS_PIN, "sha256//abc="));
    options.Save(strPath);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(CSiteOptions::Load(strPath), options);
    // A save that cannot happen raises and leaves the old file alone.
    EXPECT_THROW(options.Save(dir.Path() + "/missing/" + SITE_OPTIONS_FILE), CFileException);
    EXPECT_EQ(CSiteOptions::Load(strPath).Get(OPTION_TLS_PIN), "sha256//abc=");
}
} // namespace
