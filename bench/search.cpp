// Search over a generated catalogue of 20,000,000 entries in 50 sites
// (software archives with versions, media, camera and office files, Chinese
// names, ten sites whose names are GBK bytes; folders down to eight levels):
//
//   * memory: the catalogue itself, and the name indexes on top of it;
//   * index build: all 50 sites, time per 10,000,000 entries;
//   * 100 different queries of 3 or more characters that match at most
//     1,000 entries: the complete result (median, 95th percentile);
//   * queries of 1-2 characters, filters and regex: the first 1,000 rows;
//   * today's literal search ("搜索") over the same catalogue;
//   * plocate over the same names written as paths (database from the file
//     list), when plocate is installed (scripts/setup.sh --bench).
//
// The machine is shared: run it niced, e.g.
//   nice tarn_bench_search --benchmark_counters_tabular=true
// TARN_BENCH_ENTRIES sets a smaller catalogue for a quick look.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "doc/TarnDoc.h"
#include "model/ProgramFolder.h"
#include "search/NameSearch.h"
#include "search/SiteIndex.h"

namespace
{
using Clock = std::chrono::steady_clock;
constexpr int SITES = 50;
constexpr int GBK_SITES = 10; // the last ten

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of the whole process (every thread), for a loaded machine where
// wall time says more about the neighbours than about us.
double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

size_t RssBytes()
{
    std::ifstream in("/proc/self/statm");
    size_t nPages = 0;
    size_t nResident = 0;
    in >> nPages >> nResident;
    return nResident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

class CQuietHost : public IDocHost
{
public:
    void ShowMessage(const std::string&) override {}
    void SetClipboardText(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
    void ClearList() override {}
    void AppendResultRow(CObject* pEntry, int) override { m_nRows += pEntry != nullptr; }
    void OpenProgress(int) override {}
    void SetProgressPos(int) override {}
    void CloseProgress() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PumpWaitingMessages() override { return true; }
    uint64_t m_nRows = 0;
};

// Names people keep on FTP servers.
class CNames
{
public:
    explicit CNames(uint64_t nSeed) : m_rng(nSeed)
    {
        const char* syllables[] = {"ka",  "zen", "lo",    "mir", "tux", "qua", "vor", "bel",
                                   "nix", "dra", "pol",   "sen", "fi",  "gor", "ux",  "tal",
                                   "rem", "os",  "wyn",   "jet", "cor", "ba",  "lum", "ex",
                                   "hal", "pi",  "strom", "vel", "ada", "ny"};
        for (int i = 0; i < 20000; ++i)
        {
            std::string str = i % 3 == 0 ? "lib" : "";
            int n = 2 + Pick(2);
            for (int j = 0; j < n; ++j)
                str += syllables[Pick(std::size(syllables))];
            m_projects.push_back(str);
        }
        const char* words[] = {"软件", "资料", "说明", "电影", "音乐", "教程", "课件", "报告",
                               "文档", "工具", "驱动", "游戏", "图片", "视频", "合集", "安装",
                               "备份", "源码", "字体", "手册", "数据", "相册", "年度", "总结",
                               "会议", "纪要", "项目", "方案", "测试", "发布", "中文", "版本",
                               "系统", "补丁", "更新", "官方", "原版", "高清", "完整", "精选"};
        m_words.assign(std::begin(words), std::end(words));
    }

    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }

    std::string Project() { return m_projects[Pick(m_projects.size())]; }
    std::string Word() { return m_words[Pick(m_words.size())]; }
    std::string Version()
    {
        return std::to_string(Pick(12)) + "." + std::to_string(Pick(30)) + "." +
               std::to_string(Pick(20));
    }

    std::string FolderName(int nDepth)
    {
        switch (Pick(6))
        {
        case 0:
            return Project();
        case 1:
            return "v" + Version();
        case 2:
            return std::to_string(2000 + Pick(25));
        case 3:
            return Word() + Word();
        case 4:
        {
            const char* common[] = {"pub",      "software", "linux",    "mirror", "backup", "docs",
                                    "releases", "old",      "incoming", "misc",   "src",    "bin"};
            return common[Pick(std::size(common))];
        }
        default:
            return Project() + "-" + std::to_string(nDepth);
        }
    }

    std::string FileName()
    {
        static const char* archives[] = {"tar.gz", "tar.xz", "zip", "iso", "exe", "deb",
                                         "rpm",    "img",    "7z",  "msi", "dmg", "tar.bz2"};
        static const char* docs[] = {"pdf", "doc", "docx", "xls", "ppt", "txt", "md5", "sig"};
        switch (Pick(10))
        {
        case 0:
        case 1:
        case 2:
        case 3:
            return Project() + "-" + Version() + (Pick(5) == 0 ? "-beta" : "") + "." +
                   archives[Pick(std::size(archives))];
        case 4:
        {
            static const char* res[] = {"1080p", "720p", "2160p"};
            static const char* src[] = {"BluRay", "WEB-DL", "HDTV"};
            std::string strTitle = Project();
            strTitle[0] = static_cast<char>(strTitle[0] - 'a' + 'A');
            return strTitle + "." + std::to_string(1980 + Pick(45)) + "." + res[Pick(3)] + "." +
                   src[Pick(3)] + ".x264-" + Project().substr(0, 4) + ".mkv";
        }
        case 5:
            return "IMG_" + std::to_string(20100101 + Pick(150000)) + "_" +
                   std::to_string(100000 + Pick(900000)) + ".jpg";
        case 6:
        case 7:
            return Word() + Word() + "_" + std::to_string(Pick(5000)) + "." +
                   docs[Pick(std::size(docs))];
        case 8:
            return "report_" + std::to_string(2000 + Pick(25)) + "_Q" +
                   std::to_string(1 + Pick(4)) + "_" + Project() + "." +
                   docs[Pick(std::size(docs))];
        default:
            return Project() + "_" + Word() + "." + docs[Pick(std::size(docs))];
        }
    }

private:
    std::mt19937_64 m_rng;
    std::vector<std::string> m_projects;
    std::vector<std::string> m_words;
};

std::string Gbk(const std::string& strText)
{
    std::string strBytes;
    if (!CNameCodec("GB18030").Encode(strText, &strBytes))
        std::abort();
    return strBytes;
}

// One site of nEntries entries: folders of 4-30 children, down to 8 levels.
void FillSite(CFTPSite& site, size_t nEntries, CNames& names, bool bGbk)
{
    auto encode = [bGbk](std::string str) { return bGbk ? Gbk(str) : str; };
    std::vector<std::pair<CFTPDir*, int>> open{{site.m_pRoot.get(), 0}};
    size_t nMade = 0;
    while (nMade < nEntries)
    {
        auto [pDir, nDepth] = open[names.Pick(open.size())];
        size_t nChildren = 4 + names.Pick(27);
        for (size_t i = 0; i < nChildren && nMade < nEntries; ++i, ++nMade)
        {
            if (nDepth < 8 && names.Pick(16) == 0)
            {
                auto pSub = std::make_unique<CFTPDir>();
                pSub->m_strName = encode(names.FolderName(nDepth));
                pSub->m_pParent = pDir;
                open.emplace_back(pSub.get(), nDepth + 1);
                pDir->m_dirList.push_back(std::move(pSub));
            }
            else
            {
                auto pFile = std::make_unique<CFTPFile>();
                pFile->m_strName = encode(names.FileName());
                pFile->m_nSize = uint64_t{1} << names.Pick(34);
                pFile->m_nState = names.Pick(100) == 0 ? 1 : 0;
                pFile->m_pParent = pDir;
                pDir->m_fileList.push_back(std::move(pFile));
            }
        }
    }
}

class CCountSink : public ISearchSink
{
public:
    bool OnHits(std::span<const CSearchHit> hits) override
    {
        m_nFound += hits.size();
        if (m_nFound >= 1000 && m_firstThousand == Clock::time_point{})
            m_firstThousand = Clock::now();
        m_hits.insert(m_hits.end(), hits.begin(), hits.end());
        return m_nLimit == 0 || m_nFound < m_nLimit;
    }
    uint64_t m_nFound = 0;
    uint64_t m_nLimit = 0;
    Clock::time_point m_firstThousand{};
    std::vector<CSearchHit> m_hits;
};

struct CWorld
{
    CWorld()
    {
        const char* pszEntries = std::getenv("TARN_BENCH_ENTRIES");
        m_nEntries = pszEntries != nullptr ? std::strtoull(pszEntries, nullptr, 10) : 20000000;
        char szTemplate[] = "/tmp/tarn-bench-search-XXXXXX";
        if (::mkdtemp(szTemplate) == nullptr)
            std::abort();
        m_strFolder = szTemplate;
        SetProgramFolder(m_strFolder);
        m_pDoc = std::make_unique<CTarnDoc>(m_host);
        (void)m_pDoc->OnNewDocument();
        for (int i = 0; i < SITES; ++i)
        {
            CSiteInfo info;
            info.m_strHost = "ftp" + std::to_string(i) + ".example.org";
            info.m_bAnonymous = true;
            (void)m_pDoc->AddSite(info);
            CFTPSite& site = *m_pDoc->m_siteList.back();
            site.m_nLoadState = 1;
            if (i >= SITES - GBK_SITES)
                site.UpdateSettings([](CSiteSettings& s) { s.Set(CSiteSettings::CHARSET, "GB18030"); });
        }
        malloc_trim(0);
        size_t nBefore = RssBytes();
        auto start = Clock::now();
        // Two threads fill the sites (each its own names).
        std::atomic<int> nNext{0};
        auto fill = [&]
        {
            for (int i = nNext++; i < SITES; i = nNext++)
            {
                CNames names(1000 + static_cast<uint64_t>(i));
                FillSite(*m_pDoc->m_siteList[static_cast<size_t>(i)], m_nEntries / SITES, names,
                         i >= SITES - GBK_SITES);
            }
        };
        std::thread helper(fill);
        fill();
        helper.join();
        m_fillMs = Ms(Clock::now() - start);
        m_nCatalogueBytes = RssBytes() - nBefore;
    }
    ~CWorld()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strFolder, ec);
    }

    CSearchRequest Request(const std::string& strQuery) const
    {
        CSearchRequest request;
        request.pQuery = CQuery::Parse(strQuery, nullptr);
        for (const auto& pSite : m_pDoc->m_siteList)
            request.sites.push_back(MakeSearchSite(*pSite));
        request.nThreads = 2;
        return request;
    }

    uint64_t m_nEntries = 0;
    std::string m_strFolder;
    CQuietHost m_host;
    std::unique_ptr<CTarnDoc> m_pDoc;
    double m_fillMs = 0;
    size_t m_nCatalogueBytes = 0;
    std::vector<std::string> m_queries; // 100 queries matching 1..1,000 entries
};

std::unique_ptr<CWorld> g_pWorld;

CWorld& World()
{
    if (g_pWorld == nullptr)
        g_pWorld = std::make_unique<CWorld>();
    return *g_pWorld;
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    size_t n = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[n];
}

// Catalogue memory, then every site's index built on nThreads threads.
void BM_BuildIndexes(benchmark::State& state)
{
    CWorld& world = World();
    int nThreads = static_cast<int>(state.range(0));
    double buildMs = 0;
    double buildCpuMs = 0;
    size_t nIndexBytes = 0;
    size_t nRssDelta = 0;
    for (auto _ : state)
    {
        malloc_trim(0);
        size_t nBefore = RssBytes();
        double cpuStart = CpuMs();
        auto start = Clock::now();
        std::atomic<size_t> nNext{0};
        auto build = [&]
        {
            for (size_t i = nNext++; i < world.m_pDoc->m_siteList.size(); i = nNext++)
                (void)BuildSiteIndex(*world.m_pDoc->m_siteList[i], true);
        };
        std::vector<std::thread> threads;
        for (int i = 0; i < nThreads; ++i)
            threads.emplace_back(build);
        for (std::thread& thread : threads)
            thread.join(); // their scratch tables go with them
        buildMs = Ms(Clock::now() - start);
        buildCpuMs = CpuMs() - cpuStart;
        malloc_trim(0);
        nRssDelta = RssBytes() - std::min(RssBytes(), nBefore);
        nIndexBytes = 0;
        for (const auto& pSite : world.m_pDoc->m_siteList)
            nIndexBytes += GetSiteIndex(*pSite)->m_pIndex->MemoryBytes();
    }
    double nEntries = static_cast<double>(world.m_nEntries);
    state.counters["entries"] = nEntries;
    state.counters["catalogue_B/entry"] = static_cast<double>(world.m_nCatalogueBytes) / nEntries;
    state.counters["index_B/entry"] = static_cast<double>(nIndexBytes) / nEntries;
    state.counters["rss_delta_B/entry"] = static_cast<double>(nRssDelta) / nEntries;
    state.counters["build_ms"] = buildMs;
    state.counters["build_s_per_10M"] = buildMs / 1000.0 * 1e7 / nEntries;
    state.counters["build_cpu_s_per_10M"] = buildCpuMs / 1000.0 * 1e7 / nEntries;
}

// Picks 100 queries from names in the catalogue (a project with its
// version, a photo's date, a Chinese name's words and number...), each
// matching 1 to 1,000 entries.
void ChooseQueries(CWorld& world)
{
    if (!world.m_queries.empty())
        return;
    std::mt19937_64 rng(7);
    std::atomic<bool> stop{false};
    CNameCodec gbk("GB18030");
    while (world.m_queries.size() < 100)
    {
        CFTPSite& site = *world.m_pDoc->m_siteList[rng() % SITES];
        CFTPDir* pDir = site.m_pRoot.get();
        while (!pDir->m_dirList.empty() && rng() % 3 != 0)
            pDir = pDir->m_dirList[rng() % pDir->m_dirList.size()].get();
        if (pDir->m_fileList.empty())
            continue;
        std::string strName =
            site.GetCodec().Decode(pDir->m_fileList[rng() % pDir->m_fileList.size()]->m_strName);
        // A stretch of the name as people type it: from its start, 6 to 14
        // characters (Chinese ones count three bytes).
        size_t nLength = std::min(strName.size(), size_t{6} + rng() % 9);
        while (nLength < strName.size() &&
               (static_cast<unsigned char>(strName[nLength]) & 0xC0) == 0x80)
            ++nLength;
        std::string strQuery = strName.substr(0, nLength);
        if (strQuery.find_first_of(" |<>!\"*?:") != std::string::npos)
            continue;
        CCountSink sink;
        sink.m_nLimit = 1001;
        RunNameSearch(world.Request(strQuery), sink, stop);
        if (sink.m_nFound >= 1 && sink.m_nFound <= 1000 &&
            std::find(world.m_queries.begin(), world.m_queries.end(), strQuery) ==
                world.m_queries.end())
            world.m_queries.push_back(strQuery);
    }
}

// The complete result of each of the 100 queries.
void BM_RareQueries(benchmark::State& state)
{
    CWorld& world = World();
    ChooseQueries(world);
    std::atomic<bool> stop{false};
    std::vector<double> times;
    std::vector<double> cpuTimes;
    uint64_t nFound = 0;
    uint64_t nRead = 0;
    for (auto _ : state)
    {
        times.clear();
        nFound = 0;
        nRead = 0;
        for (const std::string& strQuery : world.m_queries)
        {
            CSearchRequest request = world.Request(strQuery);
            CCountSink sink;
            double cpuStart = CpuMs();
            auto start = Clock::now();
            CSearchStats stats = RunNameSearch(request, sink, stop);
            times.push_back(Ms(Clock::now() - start));
            cpuTimes.push_back(CpuMs() - cpuStart);
            nFound += sink.m_nFound;
            nRead += stats.nRead;
        }
    }
    state.counters["read/query"] =
        static_cast<double>(nRead) / static_cast<double>(world.m_queries.size());
    state.counters["queries"] = static_cast<double>(world.m_queries.size());
    state.counters["median_ms"] = Percentile(times, 0.5);
    state.counters["p95_ms"] = Percentile(times, 0.95);
    state.counters["max_ms"] = Percentile(times, 1.0);
    state.counters["cpu_median_ms"] = Percentile(cpuTimes, 0.5);
    state.counters["cpu_p95_ms"] = Percentile(cpuTimes, 0.95);
    state.counters["found/query"] =
        static_cast<double>(nFound) / static_cast<double>(world.m_queries.size());
}

// Broad queries: the first 1,000 rows, and the whole result.
const char* const BROAD[] = {"a",
                             "iz",
                             "中",
                             "7z",
                             "ext:iso",
                             "size:>700M",
                             "unread:",
                             "regex:\\d{4}",
                             "regex:^lib.*-1\\.2\\.",
                             "folder:",
                             "path:releases ext:pdf",
                             "!a !e !o",
                             "regex:(x|q)z[0-9]+$",
                             "size:1K..2K 软件"};

void BM_FirstRows(benchmark::State& state)
{
    CWorld& world = World();
    const char* pszQuery = BROAD[state.range(0)];
    std::atomic<bool> stop{false};
    double firstMs = 0;
    double allMs = 0;
    uint64_t nFound = 0;
    CSearchStats stats;
    for (auto _ : state)
    {
        CSearchRequest request = world.Request(pszQuery);
        CCountSink sink;
        auto start = Clock::now();
        stats = RunNameSearch(request, sink, stop);
        auto end = Clock::now();
        allMs = Ms(end - start);
        firstMs = Ms((sink.m_nFound >= 1000 ? sink.m_firstThousand : end) - start);
        nFound = sink.m_nFound;
    }
    state.SetLabel(pszQuery);
    state.counters["first_1000_ms"] = firstMs;
    state.counters["all_ms"] = allMs;
    state.counters["found"] = static_cast<double>(nFound);
    state.counters["read"] = static_cast<double>(stats.nRead);
    state.counters["blocks"] = static_cast<double>(stats.nBlocks);
}

// Today's "搜索": the literal keyword walk of the document, on one thread.
void BM_LiteralSearch(benchmark::State& state)
{
    CWorld& world = World();
    ChooseQueries(world);
    std::vector<double> times;
    for (auto _ : state)
    {
        times.clear();
        for (size_t i = 0; i < 10; ++i)
        {
            auto start = Clock::now();
            (void)world.m_pDoc->Search(world.m_queries[i * 10]);
            times.push_back(Ms(Clock::now() - start));
        }
    }
    state.counters["queries"] = 10;
    state.counters["median_ms"] = Percentile(times, 0.5);
    state.counters["p95_ms"] = Percentile(times, 0.95);
}

// plocate over the same names as paths ("/<site key>/<path>"), its database
// built from that list; each query run as its own process, as people run it.
void BM_Plocate(benchmark::State& state)
{
    CWorld& world = World();
    ChooseQueries(world);
    if (std::system("command -v plocate-build >/dev/null 2>&1") != 0)
    {
        state.SkipWithError("plocate is not installed (scripts/setup.sh --bench)");
        return;
    }
    std::string strList = world.m_strFolder + "/names.txt";
    std::string strDb = world.m_strFolder + "/plocate.db";
    double buildMs = 0;
    {
        std::ofstream out(strList, std::ios::binary);
        for (const auto& pSite : world.m_pDoc->m_siteList)
        {
            CNameCodec codec = pSite->GetCodec();
            struct Frame
            {
                const CFTPDir* pDir;
                std::string strPath;
            };
            std::vector<Frame> stack{{pSite->m_pRoot.get(), "/" + pSite->GetKey()}};
            while (!stack.empty())
            {
                Frame frame = std::move(stack.back());
                stack.pop_back();
                for (const auto& pFile : frame.pDir->m_fileList)
                    out << frame.strPath << '/' << codec.Decode(pFile->m_strName) << '\n';
                for (const auto& pSub : frame.pDir->m_dirList)
                {
                    std::string strPath = frame.strPath + "/" + codec.Decode(pSub->m_strName);
                    out << strPath << '\n';
                    stack.push_back({pSub.get(), strPath});
                }
            }
        }
    }
    auto start = Clock::now();
    if (std::system(("plocate-build -p '" + strList + "' '" + strDb + "'").c_str()) != 0)
    {
        state.SkipWithError("plocate-build failed");
        return;
    }
    buildMs = Ms(Clock::now() - start);
    std::vector<double> times;
    for (auto _ : state)
    {
        times.clear();
        for (const std::string& strQuery : world.m_queries)
        {
            auto queryStart = Clock::now();
            std::string strCommand =
                "plocate -i -d '" + strDb + "' -- '" + strQuery + "' >/dev/null 2>&1";
            (void)std::system(strCommand.c_str());
            times.push_back(Ms(Clock::now() - queryStart));
        }
    }
    state.counters["db_build_ms"] = buildMs;
    state.counters["db_MB"] = static_cast<double>(std::filesystem::file_size(strDb)) / 1048576.0;
    state.counters["median_ms"] = Percentile(times, 0.5);
    state.counters["p95_ms"] = Percentile(times, 0.95);
    std::filesystem::remove(strList);
}
} // namespace

BENCHMARK(BM_BuildIndexes)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RareQueries)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstRows)
    ->DenseRange(0, std::size(BROAD) - 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiteralSearch)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plocate)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
