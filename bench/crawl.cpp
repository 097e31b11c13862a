// Crawling a whole FTP site with the update engine's crawler, and parsing
// listings.
//
//   TARN_BENCH_FTP=127.0.0.1:2121 build/bench/bench/tarn_bench_crawl
//
// TARN_BENCH_FTP names a running server (anonymous login) to crawl; without
// it the program serves a generated tree (1,110 folders, 20,000 files) with
// the test server. TARN_BENCH_LISTING (auto, stat or list; default auto) is
// the listing mode, TARN_BENCH_PIPELINE the folders requested ahead and
// TARN_BENCH_ITERATIONS the crawls timed (default 3). bench/crawl_vs_lftp.sh
// runs this against vsftpd and pyftpdlib next to lftp and prints the
// comparison; bench/listing_vs_lftp.sh compares the listing modes, also
// over a delayed line.

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "model/FTPSite.h"
#include "net/FtpConnection.h"
#include "net/FtpListParser.h"
#include "net/InternetSession.h"
#include "update/Crawler.h"
#include "update/EngineState.h"
#include "update/ListingPlan.h"
#include "update/SiteConnection.h"

extern char** environ;

namespace
{
struct CTarget
{
    std::string strHost = "127.0.0.1";
    int nPort = 0;
};

// A generated tree served by the test server for runs without TARN_BENCH_FTP.
class CLocalServer
{
public:
    CLocalServer()
    {
        m_strRoot = std::filesystem::temp_directory_path() /
                    ("tarn-bench-crawl-" + std::to_string(getpid()));
        for (int a = 0; a < 10; ++a)
            for (int b = 0; b < 10; ++b)
                for (int c = 0; c < 10; ++c)
                {
                    std::string strDir = m_strRoot + "/d" + std::to_string(a) + "/d" +
                                         std::to_string(b) + "/d" + std::to_string(c);
                    std::filesystem::create_directories(strDir);
                    for (int f = 0; f < 20; ++f)
                        std::ofstream(strDir + "/file" + std::to_string(f) + ".dat");
                }
        std::string strScript = TARN_TEST_FTP_SERVER;
        std::string strQuiet = "--quiet";
        char* argv[] = {const_cast<char*>("/usr/bin/python3"), strScript.data(), m_strRoot.data(),
                        strQuiet.data(), nullptr};
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        if (posix_spawn(&m_nPid, argv[0], &actions, nullptr, argv, environ) != 0)
            m_nPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // The server's first line is its port.
        std::string strLine;
        char c = 0;
        while (m_nPid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            strLine += c;
        close(fds[0]);
        m_nPort = std::atoi(strLine.c_str());
    }
    ~CLocalServer()
    {
        if (m_nPid > 0)
        {
            kill(m_nPid, SIGTERM);
            waitpid(m_nPid, nullptr, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }
    int GetPort() const { return m_nPort; }

private:
    std::string m_strRoot;
    pid_t m_nPid = -1;
    int m_nPort = 0;
};

CTarget& Target()
{
    static CTarget s_target = []
    {
        CTarget target;
        if (const char* psz = std::getenv("TARN_BENCH_FTP"))
        {
            std::string str = psz;
            size_t nColon = str.rfind(':');
            target.strHost = str.substr(0, nColon);
            target.nPort = std::atoi(str.c_str() + nColon + 1);
        }
        else
        {
            static CLocalServer s_server;
            target.nPort = s_server.GetPort();
        }
        return target;
    }();
    return s_target;
}

CListingPlan BenchPlan()
{
    CListingPlan plan;
    if (const char* psz = std::getenv("TARN_BENCH_LISTING"))
        (void)ParseListingMode(psz, &plan.nMode);
    if (const char* psz = std::getenv("TARN_BENCH_PIPELINE"))
        plan.nPipelineDepth = static_cast<size_t>(std::atoi(psz));
    return plan;
}

int BenchIterations()
{
    const char* psz = std::getenv("TARN_BENCH_ITERATIONS");
    return psz != nullptr && std::atoi(psz) > 0 ? std::atoi(psz) : 3;
}

void BM_CrawlSite(benchmark::State& state)
{
    const CTarget& target = Target();
    if (target.nPort == 0)
    {
        state.SkipWithError("no FTP server");
        return;
    }
    g_bStopUpdate = 0;
    CTreeCount count;
    CListingPlan plan = BenchPlan();
    CListingReport report;
    for (auto _ : state)
    {
        CFTPSite site;
        site.m_strHost = target.strHost;
        site.m_nPort = target.nPort;
        site.m_strUser = "anonymous";
        site.m_strPassword = ANON_PASSWORD;
        auto pSession = OpenSiteSession();
        std::string strError;
        auto pConnection = OpenSiteConnection(*pSession, site, &strError);
        if (!pConnection)
        {
            state.SkipWithError(strError.c_str());
            return;
        }
        report = {};
        if (CrawlDir(pConnection.get(), &site, site.m_pRoot.get(), plan, &report) != 1)
        {
            state.SkipWithError(site.GetStatusText().c_str());
            return;
        }
        count = CountTree(*site.m_pRoot);
    }
    double nIterations = static_cast<double>(state.iterations());
    state.counters["folders"] = static_cast<double>(count.nDirs + 1);
    state.counters["entries"] = static_cast<double>(count.nDirs + count.nFiles);
    state.counters["folders/s"] = benchmark::Counter(
        static_cast<double>(count.nDirs + 1) * nIterations, benchmark::Counter::kIsRate);
    state.counters["entries/s"] = benchmark::Counter(
        static_cast<double>(count.nDirs + count.nFiles) * nIterations, benchmark::Counter::kIsRate);
    // How the last crawl listed: 1 when STAT carried it, and what went over
    // that control connection per folder.
    double nFolders = static_cast<double>(count.nDirs + 1);
    state.counters["stat"] = report.bUsedStat && !report.bFellBack ? 1 : 0;
    state.counters["stat_folders"] = static_cast<double>(report.nStatFolders);
    state.counters["stat_cmds/folder"] = static_cast<double>(report.channel.nCommands) / nFolders;
    state.counters["stat_bytes/folder"] =
        static_cast<double>(report.channel.nBytesSent + report.channel.nBytesReceived) / nFolders;
    if (!report.strWhy.empty())
        state.SetLabel(report.strWhy);
}
BENCHMARK(BM_CrawlSite)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(BenchIterations());

// Parsing a 50,000-line listing in each format.
void BM_ParseListing(benchmark::State& state)
{
    const char* samples[] = {
        "type=file;size=%d;modify=20200101120000;perm=r;unique=fe00g%d; file%d.dat\r\n",
        "-rw-r--r--   1 owner group %12d Jan 21 12:00 file%d name%d.dat\r\n",
        "01-21-20  02:35PM %20d file%d %d.dat\r\n",
    };
    std::string strListing;
    char szLine[160];
    for (int i = 0; i < 50000; ++i)
    {
        std::snprintf(szLine, sizeof szLine, samples[state.range(0)], i * 7, i, i);
        strListing += szLine;
    }
    size_t nEntries = 0;
    for (auto _ : state)
    {
        std::vector<CFtpListEntry> entries = CFtpListParser::ParseListing(strListing);
        nEntries = entries.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(nEntries) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseListing)->Arg(0)->Arg(1)->Arg(2)->ArgNames({"mlsd0_unix1_dos2"});
} // namespace

BENCHMARK_MAIN();
