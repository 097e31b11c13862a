// Export of one folder's rows as CSV, per row: ASCII names, GBK names (each
// decoded, and checked against the folder's other names so that names which
// read alike keep addresses of their own), and GBK names each beside a UTF-8
// twin that reads the same (every GBK name then written as its bytes).
//
//   tarn_bench_doc_export --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "doc/Export.h"
#include "doc/TarnDoc.h"
#include "model/ProgramFolder.h"

namespace
{
class CQuietHost : public IDocHost
{
public:
    void ShowMessage(const std::string&) override {}
    void SetClipboardText(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
    void ClearList() override {}
    void AppendResultRow(CObject*, int) override {}
    void OpenProgress(int) override {}
    void SetProgressPos(int) override {}
    void CloseProgress() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PumpWaitingMessages() override { return true; }
};

enum class Names
{
    ascii,
    gbk,
    gbkWithTwins,
};

struct CWorld
{
    CWorld()
    {
        char szTemplate[] = "/tmp/tarn-bench-XXXXXX";
        if (::mkdtemp(szTemplate) == nullptr)
            std::abort();
        m_strFolder = szTemplate;
        SetProgramFolder(m_strFolder);
        m_pDoc = std::make_unique<CTarnDoc>(m_host);
        (void)m_pDoc->OnNewDocument();
        CSiteInfo info;
        info.m_strHost = "ftp.example.org";
        info.m_bAnonymous = true;
        (void)m_pDoc->AddSite(info);
    }
    ~CWorld()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strFolder, ec);
    }

    // A folder "pub" of nFiles files below the site's root, as rows.
    std::vector<CExportRow> Fill(Names nNames, int nFiles)
    {
        CFTPDir* pRoot = m_pDoc->m_siteList.back()->m_pRoot.get();
        pRoot->m_dirList.clear();
        auto pDir = std::make_unique<CFTPDir>();
        pDir->m_strName = "pub";
        pDir->m_pParent = pRoot;
        CNameCodec gbk("GB18030");
        char sz[64];
        for (int i = 0; i < nFiles; ++i)
        {
            std::snprintf(sz, sizeof sz, nNames == Names::ascii ? "file-%06d.txt" : "资料%06d.txt",
                          i);
            std::string strName = sz;
            if (nNames != Names::ascii && !gbk.Encode(sz, &strName))
                std::abort();
            for (int nCopy = 0; nCopy < (nNames == Names::gbkWithTwins ? 2 : 1); ++nCopy)
            {
                auto pFile = std::make_unique<CFTPFile>();
                pFile->m_strName = nCopy == 0 ? strName : std::string(sz);
                pFile->m_pParent = pDir.get();
                pDir->m_fileList.push_back(std::move(pFile));
            }
        }
        pRoot->m_dirList.push_back(std::move(pDir));
        std::vector<CExportRow> rows;
        for (const auto& pFile : pRoot->m_dirList.back()->m_fileList)
            rows.push_back({nullptr, pFile.get()});
        return rows;
    }

    std::string m_strFolder;
    CQuietHost m_host;
    std::unique_ptr<CTarnDoc> m_pDoc;
};

void BM_ExportCsv(benchmark::State& state, Names nNames)
{
    CWorld world;
    std::vector<CExportRow> rows = world.Fill(nNames, static_cast<int>(state.range(0)));
    for (auto _ : state)
    {
        std::string strText = FormatExport(rows, ExportFormat::csv);
        benchmark::DoNotOptimize(strText);
    }
    state.counters["per_row"] = benchmark::Counter(
        static_cast<double>(rows.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
} // namespace

BENCHMARK_CAPTURE(BM_ExportCsv, ascii, Names::ascii)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportCsv, gbk, Names::gbk)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportCsv, gbk_with_twins, Names::gbkWithTwins)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
