// tarn-cli's contract for scripts: exit codes and JSON shapes of every
// command, the data folder lock between writers, damaged files, interrupts.

#include <csignal>
#include <thread>

#include "cli/CliFixture.h"
#include "model/DataFolderLock.h"

using namespace std::chrono_literals;

namespace
{
using Keys = std::vector<std::string>;
const Keys ENTRY_KEYS{"type", "name", "size", "unread", "address", "mtime"};
const Keys SITE_KEYS{"key",       "host",       "port",    "user", "nickname", "remark",
                     "anonymous", "anonUpdate", "charset", "tls",  "tlsTrust", "tlsPin"};
const Keys STATUS_KEYS{"key", "status", "text", "unreadable", "refused"};
const Keys DONE_KEYS{"done", "total", "failed"};
} // namespace

class CliContractTest : public CliTest
{
protected:
    void SetUp() override
    {
        Put("docs/a.txt", "a");
        Put("readme", "r");
        Serve();
        AddAnonymousSite();
        Update();
    }
};

TEST_F(CliContractTest, ExitCodesAndJsonShapesOfEveryCommand)
{
    std::string strImport = m_data / "import.txt";
    WriteFileBytes(strImport, "ftp://u:p@example.invalid:2121\n");
    struct CRow
    {
        std::vector<std::string> args;
        int nExit;
        Keys keys;             // of every stdout line; empty: stdout must be empty
        const char* pszStderr; // must appear on stderr (or null)
    };
    const CRow rows[] = {
        {{"--json", "sites"}, 0, SITE_KEYS, nullptr},
        {{"--json", "add", "--host", "127.0.0.1", "--port", Port()}, 1, {}, "站点已有！"},
        {{"--json", "add", "--host", "h2", "--anonymous", "--nickname", "n", "--remark", "r"},
         0,
         {},
         nullptr},
        {{"--json", "edit", "h2", "--port", "2100", "--anon-update"}, 0, {}, nullptr},
        {{"--json", "edit", "nobody"}, 1, {}, "no site"},
        // The port is part of the key now.
        {{"--json", "remove", "h2"}, 1, {}, "no site"},
        {{"--json", "remove", "h2:2100"}, 0, {}, nullptr},
        {{"--json", "remove", "h2:2100"}, 1, {}, "no site"},
        {{"--json", "import", strImport}, 0, {"key"}, nullptr},
        {{"--json", "import", m_data / "missing.txt"}, 1, {}, "无法打开所选文件！"},
        {{"--json", "remove", "example.invalid:2121@u"}, 0, {}, nullptr},
        {{"--json", "ls", AnonKey() + "/docs"}, 0, ENTRY_KEYS, nullptr},
        {{"--json", "ls", AnonKey() + "/docs/a.txt"}, 1, {}, "not a folder"},
        {{"--json", "ls", "nosuchsite/"}, 1, {}, "no site"},
        {{"--json", "new"}, 0, ENTRY_KEYS, nullptr},
        {{"--json", "search", "a"}, 0, ENTRY_KEYS, nullptr},
        {{"--json", "url", "ftp://" + AnonKey() + "/docs/a.txt"}, 0, {"url"}, nullptr},
        {{"--json", "url", "ftp://nosuchsite/x"}, 1, {}, "no site"},
        {{"--json", "read", AnonKey() + "/readme"}, 0, {}, nullptr},
        {{"--json", "update", "--threads", "2", AnonKey() + "/docs"},
         0,
         {},
         nullptr}, // shapes checked below
        {{"--json", "update", AnonKey() + "/nothing"}, 1, {}, "no cached folder"},
        // Bad usage: one line on stderr, exit 2.
        {{}, 2, {}, "usage: tarn-cli"},
        {{"--bogus", "sites"}, 2, {}, "usage: tarn-cli"},
        {{"frobnicate"}, 2, {}, "usage: tarn-cli"},
        {{"ls"}, 2, {}, "usage: tarn-cli [--data-dir DIR] [--json] ls [-R] [--format F] ADDRESS"},
        {{"read"}, 2, {}, "usage:"},
        {{"read", "--all", AnonKey() + "/x"}, 2, {}, "usage:"},
        {{"add", "--port", "21"}, 2, {}, "--host"},
        {{"add", "--host", "h", "--port", "70000"}, 2, {}, "--port"},
        {{"add", "--host", "h", "--port", "0"}, 2, {}, "--port"},
        {{"add", "--host", "h", "--port", "67668"}, 2, {}, "--port"},
        {{"edit", AnonKey(), "--port", "65536"}, 2, {}, "--port"},
        {{"add", "--host", "h", "--user", "u"}, 2, {}, "--password"},
        {{"update", "--threads", "0"}, 2, {}, "--threads"},
        {{"search"}, 2, {}, "usage:"},
        {{"url", "a", "b"}, 2, {}, "usage:"},
        {{"edit", AnonKey(), "--tls", "ssl"}, 2, {}, "--tls"},
        {{"--json", "trust", AnonKey()}, 1, {}, "does not use TLS"},
    };
    for (const CRow& row : rows)
    {
        std::string strArgs;
        for (const std::string& s : row.args)
            strArgs += s + " ";
        CCliResult r = Cli(row.args);
        EXPECT_EQ(r.nExit, row.nExit) << strArgs << "\n" << r.strErr;
        if (row.pszStderr != nullptr)
        {
            EXPECT_NE(r.strErr.find(row.pszStderr), std::string::npos) << strArgs << "\n"
                                                                       << r.strErr;
        }
        if (row.nExit == 2)
        {
            EXPECT_EQ(std::count(r.strErr.begin(), r.strErr.end(), '\n'), 1) << strArgs;
        }
        if (row.args.size() > 1 && row.args[1] == "update")
            continue;
        if (row.keys.empty())
        {
            EXPECT_EQ(r.strOut, "") << strArgs;
            continue;
        }
        std::vector<CJsonObject> objects = Objects(r);
        EXPECT_FALSE(objects.empty()) << strArgs;
        for (const CJsonObject& o : objects)
            EXPECT_EQ(o.m_keys, row.keys) << strArgs;
    }

    // Value types.
    CJsonObject site = Objects(Json({"sites"})).at(0);
    EXPECT_EQ(site.m_types.at("port"), 'n');
    EXPECT_EQ(site["anonymous"], "true");
    EXPECT_EQ(site["user"], "anonymous");
    CJsonObject entry = Objects(Json({"ls", AnonKey() + "/docs"})).at(0);
    EXPECT_EQ(entry.m_types.at("size"), 'n');
    EXPECT_EQ(entry.m_types.at("unread"), 'b');
    EXPECT_EQ(Objects(Json({"url", AnonKey() + "/docs/a.txt"})).at(0)["url"],
              "ftp://127.0.0.1:" + Port() + "/docs/a.txt");

    // update: status lines while it runs, then the summary.
    std::vector<CJsonObject> update = Objects(Json({"update"}));
    ASSERT_GE(update.size(), 3u);
    for (size_t i = 0; i + 1 < update.size(); ++i)
        EXPECT_EQ(update[i].m_keys, STATUS_KEYS);
    EXPECT_EQ(update.front()["text"], "正在等待更新...");
    EXPECT_EQ(update.front()["status"], "4");
    EXPECT_EQ(update[update.size() - 2]["text"], "更新成功");
    EXPECT_EQ(update.back().m_keys, DONE_KEYS);
    EXPECT_EQ(update.back()["failed"], "0");

    // --help: usage on stdout, exit 0.
    for (const char* pszCommand : {"", "sites", "add", "edit", "remove", "import", "update", "ls",
                                   "new", "search", "read", "url"})
    {
        std::vector<std::string> args;
        if (*pszCommand != '\0')
            args.push_back(pszCommand);
        args.push_back("--help");
        CCliResult r = Cli(args);
        EXPECT_EQ(r.nExit, 0) << pszCommand;
        EXPECT_EQ(r.strOut.rfind("usage: tarn-cli", 0), 0u) << pszCommand;
    }
    EXPECT_NE(Cli({"search", "--help"}).strOut.find("lower-case letters\nfind folders of any case"),
              std::string::npos);
}

TEST_F(CliContractTest, BadInputIsAClearErrorInBoundedTime)
{
    std::string strFile = m_data / "a-file";
    WriteFileBytes(strFile, "x");
    std::string strImport = m_data / "sites.txt";
    WriteFileBytes(strImport, "ftp://u:p@good.example:2121\n" + std::string(5000, 'x') +
                                  "\n:21\nbad.port:99999\nctl\x01.example\n"
                                  "# a comment\nbob@good.example\nftp://u:q@good.example:2121\n");
    std::string strSiteDs = m_data / "site.ds";
    struct CRow
    {
        std::vector<std::string> args;
        int nExit;
        const char* pszStdout; // must appear on stdout (or null)
        std::vector<std::string> stderrParts;
    };
    const CRow rows[] = {
        {{"--data-dir", strFile, "sites"}, 1, nullptr, {"not a folder", strFile}},
        {{"--data-dir", strFile + "/sub", "add", "--host", "h"}, 1, nullptr, {"cannot create"}},
        {{"--data-dir", m_data.Path(), "import", "/dev/zero"},
         1,
         nullptr,
         {"/dev/zero:1: longer than 4096 bytes", "所选文件过大"}},
        {{"--data-dir", m_data.Path(), "import", strImport},
         0,
         "added good.example:2121@u\nadded good.example@bob\n",
         {"sites.txt:2: longer than 4096 bytes; skipped", "sites.txt:3: the host is empty; skipped",
          "sites.txt:4: the port 99999 is outside 1-65535; skipped",
          "sites.txt:5: the line holds control characters; skipped",
          "sites.txt:6: a comment; skipped", "sites.txt:8: the site exists already; skipped"}},
    };
    for (const CRow& row : rows)
    {
        CCliProcess cli(row.args);
        CCliResult r = cli.Wait(30s);
        SCOPED_TRACE(row.args.back());
        EXPECT_EQ(r.nExit, row.nExit) << r.strErr;
        if (row.pszStdout != nullptr)
        {
            EXPECT_EQ(r.strOut, row.pszStdout);
        }
        for (const std::string& strPart : row.stderrParts)
            EXPECT_NE(r.strErr.find(strPart), std::string::npos) << r.strErr;
    }

    // A site list that exists but cannot be read is never rewritten.
    std::string strBytes = ReadFileBytes(strSiteDs);
    std::filesystem::rename(strSiteDs, strSiteDs + ".real");
    std::filesystem::create_directory(strSiteDs);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"sites"}, {"add", "--host", "other.example"}})
    {
        CCliResult r = Cli(args);
        EXPECT_EQ(r.nExit, 1);
        EXPECT_NE(r.strErr.find("cannot read " + strSiteDs), std::string::npos) << r.strErr;
    }
    EXPECT_TRUE(std::filesystem::is_directory(strSiteDs));
    std::filesystem::remove(strSiteDs);
    std::filesystem::rename(strSiteDs + ".real", strSiteDs);
    EXPECT_EQ(ReadFileBytes(strSiteDs), strBytes);
}

TEST_F(CliContractTest, UpdateExitsOneWhenASiteFails)
{
    ASSERT_EQ(
        Cli({"add", "--host", "127.0.0.1", "--port", Port(), "--user", "user", "--password", "-"},
            "wrong\n")
            .nExit,
        0);
    std::vector<CJsonObject> objects = Objects(Json({"update"}));
    CCliResult r = Json({"update"});
    EXPECT_EQ(r.nExit, 1);
    objects = Objects(r);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects.back()["total"], "2");
    EXPECT_EQ(objects.back()["failed"], "1");
    bool bFailedLine = false;
    for (const CJsonObject& o : objects)
        bFailedLine = bFailedLine || (o.m_values.count("key") && o["key"] == UserKey() &&
                                      o["status"] == "1" && o["text"].rfind("更新失败:\n", 0) == 0);
    EXPECT_TRUE(bFailedLine) << r.strOut;
}

TEST_F(CliContractTest, ASecondWriterWaitsForTheLockAndGivesUpAfterTenSeconds)
{
    CDataFolderLock lock;
    std::string strError;
    ASSERT_EQ(lock.Acquire(m_data.Path(), 0ms, &strError), CDataFolderLock::Result::taken);

    // A reader is not held up.
    EXPECT_EQ(Cli({"sites"}).nExit, 0);

    CCliProcess writer(WithData({"add", "--host", "waiting.example"}));
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(writer.IsRunning());
    lock.Release();
    CCliResult r = writer.Wait(20s);
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_NE(Cli({"sites"}).strOut.find("waiting.example"), std::string::npos);

    // Held for longer than the wait: a clear message and exit 1, nothing changed.
    ASSERT_EQ(lock.Acquire(m_data.Path(), 0ms, &strError), CDataFolderLock::Result::taken);
    auto start = std::chrono::steady_clock::now();
    CCliResult late = Cli({"remove", "waiting.example"});
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(late.nExit, 1);
    EXPECT_NE(late.strErr.find("in use by another Tarn program"), std::string::npos) << late.strErr;
    EXPECT_GE(waited, 9500ms);
    lock.Release();
    EXPECT_NE(Cli({"sites"}).strOut.find("waiting.example"), std::string::npos);
}

TEST_F(CliContractTest, TwoConcurrentUpdatesAreSerialised)
{
    // Each listing of / takes a while, so the first update holds the lock.
    m_pServer->SetFaults(R"({"rules":[{"on":"LIST","path":"/","action":"delay","seconds":0.8}]})");
    m_pServer->ClearLog();
    CCliProcess first(WithData({"update"}));
    std::this_thread::sleep_for(200ms);
    CCliProcess second(WithData({"update"}));
    CCliResult r1 = first.Wait(30s);
    CCliResult r2 = second.Wait(30s);
    EXPECT_EQ(r1.nExit, 0) << r1.strErr;
    EXPECT_EQ(r2.nExit, 0) << r2.strErr;
    // Each update: the normal connection and the one listing with STAT.
    EXPECT_EQ(m_pServer->GetMaxSimultaneousSessions(), 2);
    EXPECT_EQ(m_pServer->CountSessions(), 4);
}

TEST_F(CliContractTest, JsonShowsNamesThatAreNotUtf8Decoded)
{
    Put("\xD6\xD0\xCE\xC4.txt", "gbk"); // "中文.txt" from a GB18030 server
    Update();
    std::vector<CJsonObject> objects = Objects(Json({"ls", AnonKey()}));
    bool bFound = false;
    for (const CJsonObject& o : objects)
        bFound = bFound ||
                 (o["name"] == "中文.txt" && o["address"] == "ftp://" + AnonKey() + "/中文.txt");
    EXPECT_TRUE(bFound) << Json({"ls", AnonKey()}).strOut;
}

TEST_F(CliContractTest, DamagedFilesGiveAWarningAndWhatCouldBeRead)
{
    // content.ct cut short: the entries before the cut stay listed.
    std::string strContent = m_data / "Data/" + AnonKey() + "/content.ct";
    std::string strBytes = ReadFileBytes(strContent);
    WriteFileBytes(strContent, strBytes.substr(0, strBytes.size() - 3));
    CCliResult ls = Json({"ls", "-R", AnonKey()});
    EXPECT_EQ(ls.nExit, 0);
    EXPECT_NE(ls.strErr.find("content.ct is damaged"), std::string::npos) << ls.strErr;
    EXPECT_FALSE(ls.strOut.empty());
    EXPECT_LT(Objects(ls).size(), 3u);

    // state.st cut short.
    Update(); // rewrites both files whole
    std::string strState = m_data / "Data/" + AnonKey() + "/state.st";
    WriteFileBytes(strState, ReadFileBytes(strState).substr(0, 2));
    CCliResult fresh = Json({"new"});
    EXPECT_EQ(fresh.nExit, 0);
    EXPECT_NE(fresh.strErr.find("state.st is damaged"), std::string::npos) << fresh.strErr;

    // site.ds cut inside its second site: the first stays.
    ASSERT_EQ(Cli({"add", "--host", "second.example", "--nickname", "a long nickname"}).nExit, 0);
    std::string strSites = m_data / "site.ds";
    std::string strSiteBytes = ReadFileBytes(strSites);
    WriteFileBytes(strSites, strSiteBytes.substr(0, strSiteBytes.size() - 5));
    CCliResult sites = Json({"sites"});
    EXPECT_EQ(sites.nExit, 0);
    EXPECT_NE(sites.strErr.find("Unexpected file format."), std::string::npos) << sites.strErr;
    EXPECT_NE(sites.strErr.find("warning"), std::string::npos) << sites.strErr;
    std::vector<CJsonObject> objects = Objects(sites);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["key"], AnonKey());
}

TEST_F(CliContractTest, InterruptStopsTheUpdateAndASecondOneCutsTheSessions)
{
    // A slow tree: the first SIGINT stops the crawl at its next check, and
    // so does a closed terminal (SIGHUP) or a polite kill (SIGTERM); what
    // was merged before is saved.
    for (int i = 0; i < 8; ++i)
        Put("slow/d" + std::to_string(i) + "/f.txt", "f");
    m_pServer->SetFaults(R"({"rules":[{"on":"LIST","action":"delay","seconds":0.3}]})");
    for (int nSignal : {SIGINT, SIGHUP, SIGTERM})
    {
        std::string strNew = "new-" + std::to_string(nSignal) + ".txt";
        Put(strNew, "n");
        m_pServer->ClearLog();
        CCliProcess stopped(WithData({"--json", "update"}));
        // A folder below the root is being listed: the root's listing is merged.
        auto deadline = std::chrono::steady_clock::now() + 15s;
        auto belowRoot = [this]
        {
            std::vector<std::string> listed = m_pServer->GetListedFolders();
            return std::any_of(listed.begin(), listed.end(),
                               [](const std::string& str) { return str != "/"; });
        };
        while (!belowRoot() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        stopped.Signal(nSignal);
        CCliResult r = stopped.Wait(20s);
        EXPECT_EQ(r.nExit, 1) << nSignal;
        EXPECT_NE(r.strOut.find(R"("status":3,"text":"更新终止！")"), std::string::npos)
            << nSignal << r.strOut;
        EXPECT_EQ(r.strOut.find("更新意外终止"), std::string::npos) << nSignal << r.strOut;
        EXPECT_NE(r.strOut.find(R"("failed":1)"), std::string::npos) << nSignal << r.strOut;
        EXPECT_NE(Cli({"ls", AnonKey() + "/"}).strOut.find(strNew), std::string::npos) << nSignal;
    }
    m_pServer->ClearFaults();

    // A server that never answers the listing: the stop ends the wait (or
    // the second interrupt cuts the session), not the 7-second time-out.
    MakeDir("__silent_on_list__");
    CCliProcess blocked(WithData({"update"}));
    std::this_thread::sleep_for(1000ms);
    blocked.Signal(SIGINT);
    std::this_thread::sleep_for(200ms);
    auto start = std::chrono::steady_clock::now();
    blocked.Signal(SIGINT);
    CCliResult cut = blocked.Wait(20s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(cut.nExit, 1);
}
