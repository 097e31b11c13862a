// tarn-cli find: the query language over the updated sites, its exit
// statuses, the last JSON line, --limit, --count and --format; search keeps
// its literal keyword.

#include "cli/CliFixture.h"

class CliFindTest : public CliTest
{
protected:
    void SetUp() override
    {
        Put("pub/linux-5.4.tar.gz", std::string(3000, 'x'));
        Put("pub/linux-6.1.tar.xz", "1");
        Put("pub/Debian-12.iso", std::string(2048, 'x'));
        Put("pub/a|b.txt", "1");
        Put("中文目录/说明.txt", "1");
        Serve();
        AddAnonymousSite();
        Update();
    }

    std::set<std::string> Paths(const CCliResult& r) const
    {
        std::set<std::string> paths;
        for (const CJsonObject& o : Objects(r))
        {
            if (o.m_values.count("done") != 0)
                continue;
            paths.insert(o["address"].substr(std::string("ftp://" + AnonKey()).size()));
        }
        return paths;
    }
};

TEST_F(CliFindTest, QueriesExitStatusesAndTheLastLine)
{
    struct CRow
    {
        const char* pszQuery;
        std::set<std::string> expected;
    };
    const CRow rows[] = {
        {"LINUX", {"/pub/linux-5.4.tar.gz", "/pub/linux-6.1.tar.xz"}},
        {"linux !xz", {"/pub/linux-5.4.tar.gz"}},
        {"*.iso|\"a|b\"", {"/pub/Debian-12.iso", "/pub/a|b.txt"}},
        {"size:>2K", {"/pub/linux-5.4.tar.gz"}},
        {"folder:", {"/pub", "/中文目录"}},
        {"path:中文 file:", {"/中文目录/说明.txt"}},
        {"nothing-like-this", {}},
    };
    for (const CRow& row : rows)
    {
        CCliResult r = Cli({"find", "--json", row.pszQuery});
        EXPECT_EQ(r.nExit, row.expected.empty() ? 1 : 0) << row.pszQuery << r.strErr;
        EXPECT_EQ(Paths(r), row.expected) << row.pszQuery;
        std::vector<CJsonObject> objects = Objects(r);
        ASSERT_FALSE(objects.empty());
        const CJsonObject& done = objects.back();
        EXPECT_EQ(done["done"], "true");
        EXPECT_EQ(done["found"], std::to_string(row.expected.size()));
        EXPECT_TRUE(done.m_values.count("ms") && done.m_values.count("load_ms")) << r.strOut;
    }

    CCliResult bad = Cli({"find", "size:>x"});
    EXPECT_EQ(bad.nExit, 2);
    EXPECT_NE(bad.strErr.find("at character 7"), std::string::npos) << bad.strErr;
    EXPECT_EQ(bad.strOut, "");
    EXPECT_EQ(Cli({"find", "<a"}).nExit, 2);

    CCliResult count = Cli({"find", "--count", "txt"});
    EXPECT_EQ(count.nExit, 0);
    EXPECT_EQ(count.strOut, "2\n");
    CCliResult limited = Cli({"find", "--json", "--limit", "1", ""});
    EXPECT_EQ(Objects(limited).size(), 2u); // one match, then the last line
    CCliResult urls = Cli({"find", "--format", "urls", "*.iso"});
    EXPECT_EQ(urls.strOut, "ftp://127.0.0.1:" + Port() + "/pub/Debian-12.iso\n");

    // search keeps the literal keyword: "a|b" is text there.
    EXPECT_EQ(Objects(Json({"search", "a|b"})).size(), 1u);
}
