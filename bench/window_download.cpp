// The window while it downloads: 4 files from vsftpd on loopback at full
// speed through the window's own downloads (queue, transfer list, progress
// notices), on Qt's offscreen platform. Reports the largest gap of a 10 ms
// timer on the GUI thread (target <= 50 ms) and the throughput.
//
//   build/bench/bench/tarn_bench_window_download --benchmark_counters_tabular=true
//
// TARN_BENCH_MB sets each file's size (default 256). Needs vsftpd
// (scripts/setup.sh) and root, as the tests do.

#include <QApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "StallMeter.h"
#include "WindowBenchMain.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/Vsftpd.h"
#include "transfer/DownloadQueue.h"
#include "ui/Downloads.h"
#include "ui/MainFrame.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
constexpr int FILES = 4;

struct CServed
{
    CTempDir root;
    std::unique_ptr<CTestVsftpd> pServer;
    int64_t nFileSize = 0;

    CServed()
    {
        const char* pszMb = std::getenv("TARN_BENCH_MB");
        nFileSize = int64_t(pszMb != nullptr ? std::atoi(pszMb) : 256) << 20;
        std::string strBlock(1 << 20, '\0');
        std::mt19937 random(1);
        for (char& c : strBlock)
            c = static_cast<char>(random());
        fs::create_directory(root / "big");
        for (int i = 0; i < FILES; ++i)
        {
            std::string strPath = root / ("big/f" + std::to_string(i) + ".bin");
            FILE* pFile = std::fopen(strPath.c_str(), "wb");
            for (int64_t n = 0; n < nFileSize; n += int64_t(strBlock.size()))
                std::fwrite(strBlock.data(), 1, strBlock.size(), pFile);
            std::fclose(pFile);
        }
        pServer = std::make_unique<CTestVsftpd>(root.Path());
    }
};

void BM_FourDownloadsWhileTheWindowRuns(benchmark::State& state)
{
    if (!CTestVsftpd::IsAvailable())
    {
        state.SkipWithError("vsftpd cannot run here");
        return;
    }
    static CServed served;
    qint64 nLargest = 0;
    double dLargestCpu = 0;
    double dSeconds = 0;
    for (auto _ : state)
    {
        CTempDir data;
        CTempDir out;
        SetProgramFolder(data.Path());
        auto pFrame = std::make_unique<CMainFrame>();
        (void)pFrame->GetDoc().OnNewDocument();
        pFrame->OnInitialUpdate();
        pFrame->resize(1100, 700);
        pFrame->show();
        QApplication::processEvents();

        CSiteInfo info;
        info.m_strHost = "127.0.0.1";
        info.m_nPort = served.pServer->GetPort();
        info.m_bAnonymous = true;
        CTarnDoc& doc = pFrame->GetDoc();
        (void)doc.AddSite(info);
        CFTPSite& site = *doc.m_siteList.back();
        // The cached tree as an update would leave it.
        auto pDir = std::make_unique<CFTPDir>();
        pDir->m_strName = "big";
        pDir->m_pParent = site.m_pRoot.get();
        for (int i = 0; i < FILES; ++i)
        {
            auto pFile = std::make_unique<CFTPFile>();
            pFile->m_strName = "f" + std::to_string(i) + ".bin";
            pFile->m_nSize = served.nFileSize;
            pFile->m_pParent = pDir.get();
            pDir->m_fileList.push_back(std::move(pFile));
        }
        CFTPDir* pBig = pDir.get();
        site.m_pRoot->m_dirList.push_back(std::move(pDir));
        site.m_nLoadState = 1;

        CDownloads& downloads = pFrame->GetDownloads();
        downloads.ApplySettings(QString::fromStdString(out.Path()), CDownloadLimits{FILES, FILES});
        auto start = Clock::now();
        {
            // From the click: queuing and the transfer list's first showing count.
            CStallMeter stalls;
            QApplication::processEvents();
            if (!downloads.Download(site, pBig, nullptr))
            {
                state.SkipWithError("nothing was queued");
                return;
            }
            for (;;)
            {
                QApplication::processEvents(QEventLoop::AllEvents, 5);
                bool bBusy = false;
                for (const CDownloadJob& job : downloads.GetQueue().GetJobs())
                    bBusy = bBusy || job.nState == DownloadState::waiting ||
                            job.nState == DownloadState::running;
                if (!bBusy)
                    break;
            }
            if (stalls.Largest() > nLargest)
            {
                nLargest = stalls.Largest();
                dLargestCpu = stalls.LargestGapCpuMs();
            }
        }
        dSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        for (const CDownloadJob& job : downloads.GetQueue().GetJobs())
            if (job.nState != DownloadState::done)
                state.SkipWithError(job.strError.c_str());
        pFrame.reset();
    }
    double dMb = double(served.nFileSize) * FILES * double(state.iterations()) / 1048576.0;
    state.counters["largest_gap_ms"] = double(nLargest);
    state.counters["gap_cpu_ms"] = dLargestCpu;
    state.counters["MiB_s"] = dMb / dSeconds;
}
BENCHMARK(BM_FourDownloadsWhileTheWindowRuns)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
} // namespace

int main(int argc, char** argv)
{
    return RunWindowBenchmarks(argc, argv);
}
