// tarn-cli changes and stats against the local test FTP server: the change
// log holds exactly what two updates differ by, a killed update leaves a log
// that reads, and the figures match the served tree across processes.

#include <algorithm>
#include <csignal>
#include <thread>

#include "cli/CliFixture.h"

namespace
{
using namespace std::chrono_literals;

// "kind path size/old_size" of change objects, a removed folder with what it held.
std::multiset<std::string> Describe(const std::vector<CJsonObject>& objects)
{
    std::multiset<std::string> set;
    for (const CJsonObject& o : objects)
    {
        bool bSlash = o["folder"] == "true" && o["path"] != "/";
        std::string str = o["kind"] + " " + o["path"] + (bSlash ? "/" : "");
        for (const char* pszKey : {"size", "old_size", "folders", "files", "bytes"})
        {
            if (o.m_values.count(pszKey) != 0)
                str += std::string(" ") + pszKey + "=" + o[pszKey];
        }
        set.insert(str);
    }
    return set;
}

class CliChangesTest : public CliTest
{
protected:
    std::string LogPath() const { return m_data.Path() + "/Data/" + AnonKey() + "/changes.log"; }

    // Commands the server saw in every session since the log was cleared.
    int LoggedCommands() const
    {
        int n = 0;
        for (const auto& session : m_pServer->GetSessions())
            n += static_cast<int>(session.commands.size());
        return n;
    }

    // The served tree's counts, as the figures name them.
    std::string Served() const
    {
        uint64_t nFolders = 0, nFiles = 0, nBytes = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_served.Path()))
        {
            if (entry.is_directory())
                ++nFolders;
            else
                ++nFiles, nBytes += entry.file_size();
        }
        return "folders=" + std::to_string(nFolders) + " files=" + std::to_string(nFiles) +
               " bytes=" + std::to_string(nBytes);
    }
};

TEST_F(CliChangesTest, TwoUpdatesLogExactlyWhatChangedAndTheFiguresMatchTheServedTree)
{
    Put("readme", "hello");
    Put("docs/a.txt", std::string(1536, 'a'));
    Put("pub/old/gone.txt", "g");
    Put("pub/old/deeper/x.bin", std::string(3000, 'x'));
    Put("pub/keep.txt", "k");
    Put("中文目录/说明.txt", "cn");
    Serve();
    AddAnonymousSite();
    Update(); // the default way: STAT over a second connection

    // A first update: one line with what it found, not a line per entry.
    EXPECT_EQ(Describe(Objects(Json({"changes"}))),
              (std::multiset<std::string>{"first / folders=5 files=6 bytes=4545"}));
    ASSERT_EQ(Served(), "folders=5 files=6 bytes=4545");

    auto statsOf = [this]()
    {
        std::vector<CJsonObject> objects = Objects(Json({"stats"}));
        EXPECT_EQ(objects.size(), 1u);
        return objects.at(0);
    };
    CJsonObject stats = statsOf();
    EXPECT_EQ(stats["key"], AnonKey());
    EXPECT_EQ(stats["folders"], "5");
    EXPECT_EQ(stats["files"], "6");
    EXPECT_EQ(stats["bytes"], "4545");
    EXPECT_EQ(stats["unread"], "11");
    EXPECT_EQ(stats["folders_listed"], "6"); // the root too
    EXPECT_EQ(stats["commands"], std::to_string(LoggedCommands()));
    EXPECT_NE(stats["listing_bytes"], "0");
    EXPECT_EQ(stats["last_error"], "");
    EXPECT_EQ(stats.m_types.at("duration_s"), 'n');
    EXPECT_LE(stats["last_start"], stats["last_end"]);
    EXPECT_EQ(stats["last_end"].size(), 20u) << stats["last_end"]; // 2024-05-01T12:00:00Z

    ASSERT_EQ(Cli({"read", "--all"}).nExit, 0);
    Put("docs/new.txt", "new");
    Put("fresh/inside.txt", "i");
    Put("docs/a.txt", std::string(5000, 'a'));
    std::filesystem::remove(m_served.Path() + "/readme");
    std::filesystem::remove_all(m_served.Path() + "/pub/old");
    m_pServer->ClearLog();
    CCliResult update = Cli({"update", "--listing", "list"}); // and the normal way
    ASSERT_EQ(update.nExit, 0) << update.strErr;

    const std::multiset<std::string> changed{
        "added /docs/new.txt size=3",
        "added /fresh/ size=0",
        "added /fresh/inside.txt size=1",
        "removed /readme old_size=5",
        "removed /pub/old/ old_size=0 folders=1 files=2 bytes=3001", // one line for all of it
        "resized /docs/a.txt size=5000 old_size=1536",
    };
    std::vector<CJsonObject> changes = Objects(Json({"changes"}));
    EXPECT_EQ(Describe(changes), changed);
    for (const CJsonObject& o : changes)
    {
        EXPECT_EQ(o["address"], "ftp://" + AnonKey() + o["path"]);
        EXPECT_EQ(o["run"], changes[0]["run"]);
    }
    // The log itself: the first line, then exactly these.
    std::vector<CJsonObject> logged;
    for (const std::string& strLine : CCliResult{0, ReadFileBytes(LogPath()), ""}.Lines())
    {
        CJsonObject object;
        ASSERT_TRUE(ParseJsonObject(strLine, &object)) << strLine;
        logged.push_back(object);
    }
    ASSERT_EQ(logged.size(), changed.size() + 1);
    EXPECT_EQ(logged[0]["kind"], "first");
    EXPECT_EQ(Describe({logged.begin() + 1, logged.end()}), changed);

    // Below one folder; and since a time before both updates, the first line too.
    EXPECT_EQ(Describe(Objects(Json({"changes", AnonKey() + "/docs"}))),
              (std::multiset<std::string>{"added /docs/new.txt size=3",
                                          "resized /docs/a.txt size=5000 old_size=1536"}));
    EXPECT_EQ(Objects(Json({"changes", "--since", "2000-01-01"})).size(), changed.size() + 1);
    EXPECT_EQ(Objects(Json({"changes", "--since", "2200-01-01T00:00Z"})).size(), 0u);
    CCliResult text = Cli({"changes"});
    EXPECT_NE(text.strOut.find("was 1.50K"), std::string::npos) << text.strOut;

    ASSERT_EQ(Served(), "folders=4 files=5 bytes=5007");
    stats = statsOf();
    EXPECT_EQ(stats["folders"], "4");
    EXPECT_EQ(stats["files"], "5");
    EXPECT_EQ(stats["bytes"], "5007");
    EXPECT_EQ(stats["unread"], "3"); // docs/new.txt, fresh, fresh/inside.txt
    EXPECT_EQ(stats["folders_listed"], "5");
    EXPECT_EQ(stats["commands"], std::to_string(LoggedCommands()));

    // Counts that are not stored are counted from the tree.
    std::string strOptions = m_data.Path() + "/Data/" + AnonKey() + "/options.ini";
    std::string strKept;
    for (const std::string& strLine : CCliResult{0, ReadFileBytes(strOptions), ""}.Lines())
    {
        if (strLine.rfind("stat_", 0) != 0)
            strKept += strLine + "\n";
    }
    WriteFileBytes(strOptions, strKept);
    CJsonObject counted = statsOf();
    EXPECT_EQ(counted["folders"], "4");
    EXPECT_EQ(counted["bytes"], "5007");
    EXPECT_EQ(counted["unread"], "3");
    EXPECT_EQ(counted.m_types.at("last_start"), '0'); // null: no update on record
}

TEST_F(CliChangesTest, AKilledUpdateLeavesTheLogAsTheCacheIs)
{
    for (const char* pszDir : {"a", "b", "c", "d", "e"})
        Put(std::string(pszDir) + "/old.txt", "o");
    Serve();
    AddAnonymousSite();
    Update();
    const std::string strFirstLog = ReadFileBytes(LogPath());
    for (const char* pszDir : {"a", "b", "c", "d", "e"})
        Put(std::string(pszDir) + "/new.txt", "n");
    m_pServer->SetFaults(
        R"({"rules": [{"on": "LIST", "path": "/d", "action": "delay", "seconds": 30}]})");
    m_pServer->ClearLog();

    CCliProcess cli(WithData({"update", "--listing", "list"}));
    // Killed once /a to /c are merged in memory, while /d is being listed.
    bool bReached = false;
    for (auto deadline = std::chrono::steady_clock::now() + 20s;
         !bReached && std::chrono::steady_clock::now() < deadline;)
    {
        std::vector<std::string> listed = m_pServer->GetListedFolders();
        bReached = std::find(listed.begin(), listed.end(), "/d") != listed.end();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(bReached);
    cli.Signal(SIGKILL);
    cli.Wait();

    // The killed update saved nothing, so the log has nothing of it: what
    // it merged is found again by the next update, and logged once.
    EXPECT_EQ(ReadFileBytes(LogPath()), strFirstLog);
    CCliResult changes = Json({"changes"});
    ASSERT_EQ(changes.nExit, 0) << changes.strErr;
    EXPECT_EQ(changes.strErr, ""); // no damaged lines
    EXPECT_EQ(Describe(Objects(changes)),
              (std::multiset<std::string>{"first / folders=5 files=5 bytes=5"}));

    m_pServer->ClearFaults();
    Update();
    changes = Json({"changes"});
    EXPECT_EQ(changes.strErr, "");
    EXPECT_EQ(Objects(changes).size(), 5u);
    EXPECT_EQ(Objects(Json({"changes", "--since", "2000-01-01"})).size(), 1u + 5u);
}
} // namespace
