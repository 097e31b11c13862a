// Parallel updates: 50 sites of 200 folders each on the local test server,
// with thread limits 1, 5 and 20; wall time and the most sessions the server
// saw at once. One iteration each: every folder costs a data connection, and
// more runs in a row exhaust the loopback's ephemeral ports (TIME_WAIT), so
// run one limit per process, a minute apart:
//
//   build/bench/bench/tarn_bench_engine --benchmark_counters_tabular=true
//       --benchmark_filter='UpdateAll/5/'

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "update/UpdateEngine.h"

namespace fs = std::filesystem;

namespace
{
constexpr int SITES = 50;
constexpr int FOLDERS = 200;

struct Fixture
{
    Fixture()
    {
        // 200 folders: 20 top folders of 9 sub-folders each, a file in each sub-folder.
        for (int i = 0; i < 20; ++i)
        {
            for (int j = 0; j < 9; ++j)
            {
                std::string strDir =
                    served.Path() + "/top" + std::to_string(i) + "/sub" + std::to_string(j);
                fs::create_directories(strDir);
                std::ofstream(strDir + "/file.txt") << "x";
            }
        }
        pServer = std::make_unique<CTestFtpServer>(served.Path());
        SetProgramFolder(data.Path());
    }

    CTempDir served;
    CTempDir data;
    std::unique_ptr<CTestFtpServer> pServer;
};

Fixture& GetFixture()
{
    static Fixture s_fixture;
    return s_fixture;
}

void BM_UpdateAll(benchmark::State& state)
{
    Fixture& f = GetFixture();
    g_nThreadLimit = static_cast<uint32_t>(state.range(0));
    int nMax = 0;
    std::string strFailure;
    for (auto _ : state)
    {
        state.PauseTiming();
        std::vector<std::unique_ptr<CFTPSite>> sites;
        for (int i = 0; i < SITES; ++i)
        {
            auto pSite = std::make_unique<CFTPSite>();
            pSite->m_strHost = "127.0.0.1";
            pSite->m_nPort = f.pServer->GetPort();
            pSite->m_strUser = f.pServer->GetUser();
            pSite->m_strPassword = f.pServer->GetPassword();
            pSite->m_nLoadState = 1;
            sites.push_back(std::move(pSite));
        }
        f.pServer->ClearLog();
        CUpdateProgress progress;
        state.ResumeTiming();

        UpdateAll(sites, progress);
        while (!IsEngineIdle() || progress.OnTimer() != "更新完成")
            std::this_thread::sleep_for(std::chrono::milliseconds(5));

        state.PauseTiming();
        ShutdownEngine();
        for (const auto& pSite : sites)
            if (pSite->m_nStatus != 2)
                strFailure = pSite->GetStatusText();
        nMax = std::max(nMax, f.pServer->GetMaxSimultaneousSessions());
        state.ResumeTiming();
    }
    if (!strFailure.empty())
        state.SkipWithError(strFailure.c_str());
    state.counters["max_sessions"] = nMax;
    state.counters["folders/s"] =
        benchmark::Counter(SITES * (FOLDERS + 1.0), benchmark::Counter::kIsIterationInvariantRate);
}
} // namespace

BENCHMARK(BM_UpdateAll)
    ->Arg(1)
    ->Arg(5)
    ->Arg(20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

BENCHMARK_MAIN();
