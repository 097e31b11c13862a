#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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
    std::vector<size_t> damagedLines;
    CSiteOptions options = CSiteOptions::Parse(strText, &damagedLines);
    EXPECT_EQ(damagedLines, std::vector<size_t>{4});
    EXPECT_EQ(options.Get("charset"), "GB18030");
    EXPECT_EQ(options.Get("future_key"), "some value");
    EXPECT_EQ(options.Get("tls", "off"), "off");

    ASSERT_TRUE(options.Set("charset", "Big5"));
    ASSERT_TRUE(options.Set("tls", "explicit\nstat_files=1"));
    options.Remove("listing");
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
    ASSERT_TRUE(options.Set("tls_pin", "sha256//abc="));
    options.Save(strPath);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(CSiteOptions::Load(strPath), options);
    // A save that cannot happen raises and leaves the old file alone.
    EXPECT_THROW(options.Save(dir.Path() + "/missing/" + SITE_OPTIONS_FILE), CFileException);
    EXPECT_EQ(CSiteOptions::Load(strPath).Get("tls_pin"), "sha256//abc=");
}

TEST(SiteOptionsTest, OnlyAMissingFileMeansNoLines)
{
    CTempDir dir;
    EXPECT_TRUE(CSiteOptions::Load(dir.Path() + "/no folder/" + SITE_OPTIONS_FILE).IsEmpty());
    // A site folder that is a file holds no options file either.
    WriteFileBytes(dir.Path() + "/plain", "x");
    EXPECT_TRUE(CSiteOptions::Load(dir.Path() + "/plain/" + SITE_OPTIONS_FILE).IsEmpty());
    // A folder in its place, or no permission (root reads any file): an error.
    std::string strPath = dir.Path() + "/" + SITE_OPTIONS_FILE;
    std::filesystem::create_directory(strPath);
    EXPECT_THROW(CSiteOptions::Load(strPath), CFileException);
    if (::geteuid() != 0)
    {
        std::filesystem::remove(strPath);
        WriteFileBytes(strPath, "tls=explicit\n");
        ::chmod(strPath.c_str(), 0);
        EXPECT_THROW(CSiteOptions::Load(strPath), CFileException);
    }
}
} // namespace
