// Downloads from vsftpd on loopback: one large file against `curl -o` on the
// same file in the same run, and 1,000 files of 4 KB through the queue with
// 4 connections to one site (logged in once each, not once per file).
//
//   build/bench/bench/tarn_bench_download
//
// TARN_BENCH_MB sets the large file's size (default 512). Needs vsftpd
// (scripts/setup.sh) and root, as the tests do; curl is optional.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/Vsftpd.h"
#include "transfer/DownloadQueue.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
struct CServed
{
    CTempDir root;
    CTempDir data;
    std::unique_ptr<CTestVsftpd> pServer;
    CFTPSite site;
    uint64_t nBigSize = 0;

    CServed()
    {
        const char* pszMb = std::getenv("TARN_BENCH_MB");
        nBigSize = uint64_t(pszMb != nullptr ? std::atoi(pszMb) : 512) << 20;
        std::string strBlock(1 << 20, '\0');
        std::mt19937 random(1);
        for (char& c : strBlock)
            c = static_cast<char>(random());
        {
            std::string strPath = root / "big.bin";
            FILE* pFile = std::fopen(strPath.c_str(), "wb");
            for (uint64_t n = 0; n < nBigSize; n += strBlock.size())
                std::fwrite(strBlock.data(), 1, strBlock.size(), pFile);
            std::fclose(pFile);
        }
        fs::create_directory(root / "small");
        for (int i = 0; i < 1000; ++i)
        {
            std::string strPath = root / ("small/f" + std::to_string(i) + ".dat");
            FILE* pFile = std::fopen(strPath.c_str(), "wb");
            std::fwrite(strBlock.data() + i, 1, 4096, pFile);
            std::fclose(pFile);
        }
        SetProgramFolder(data.Path());
        pServer = std::make_unique<CTestVsftpd>(root.Path());
        site.m_strHost = "127.0.0.1";
        site.m_nPort = pServer->GetPort();
        site.m_strUser = "anonymous";
        site.m_strPassword = ANON_PASSWORD;
        site.m_nLoadState = 1;
    }
};

CServed& Served()
{
    static CServed served;
    return served;
}

CDownloadJob Job(const std::string& strServerPath, const std::string& strFolder,
                 const std::string& strName, int64_t nSize)
{
    CDownloadJob job;
    job.strSiteKey = Served().site.GetKey();
    job.strServerPath = strServerPath;
    job.strFolder = strFolder;
    job.strRelative = strName;
    job.nListedSize = nSize;
    return job;
}

void BM_OneLargeFileVsCurl(benchmark::State& state)
{
    if (!CTestVsftpd::IsAvailable())
    {
        state.SkipWithError("vsftpd cannot run here");
        return;
    }
    CServed& served = Served();
    double dTarn = 0;
    double dCurl = 0;
    for (auto _ : state)
    {
        CTempDir out;
        CDownloadQueue queue;
        auto start = Clock::now();
        queue.Add(Job("/big.bin", out.Path(), "big.bin", int64_t(served.nBigSize)), &served.site);
        queue.WaitIdle(std::chrono::minutes(10));
        dTarn += std::chrono::duration<double>(Clock::now() - start).count();

        std::string strCommand = "curl -s -o " + (out / "curl.bin") +
                                 " ftp://127.0.0.1:" + std::to_string(served.site.m_nPort) +
                                 "/big.bin";
        start = Clock::now();
        int nResult = std::system(strCommand.c_str());
        dCurl += std::chrono::duration<double>(Clock::now() - start).count();
        if (nResult != 0)
            state.SkipWithError("curl failed");
    }
    double dMb = double(served.nBigSize) * double(state.iterations()) / 1048576.0;
    state.counters["tarn_MiB_s"] = dMb / dTarn;
    state.counters["curl_MiB_s"] = dMb / dCurl;
    state.counters["tarn_vs_curl"] = dCurl / dTarn;
}
BENCHMARK(BM_OneLargeFileVsCurl)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ThousandSmallFilesFourConnections(benchmark::State& state)
{
    if (!CTestVsftpd::IsAvailable())
    {
        state.SkipWithError("vsftpd cannot run here");
        return;
    }
    CServed& served = Served();
    double dSeconds = 0;
    uint64_t nLogins = 0;
    for (auto _ : state)
    {
        CTempDir out;
        CDownloadQueue queue;
        queue.SetLimits({4, 4});
        auto start = Clock::now();
        for (int i = 0; i < 1000; ++i)
        {
            std::string strName = "f" + std::to_string(i) + ".dat";
            queue.Add(Job("/small/" + strName, out.Path(), strName, 4096), &served.site);
        }
        queue.WaitIdle(std::chrono::minutes(5));
        dSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        nLogins += queue.CountLogins();
        for (const CDownloadJob& job : queue.GetJobs())
            if (job.nState != DownloadState::done)
                state.SkipWithError(job.strError.c_str());
    }
    state.counters["files_s"] = 1000.0 * double(state.iterations()) / dSeconds;
    state.counters["logins"] = double(nLogins) / double(state.iterations());
}
BENCHMARK(BM_ThousandSmallFilesFourConnections)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
} // namespace

BENCHMARK_MAIN();
