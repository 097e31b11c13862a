// Saving and loading a large cached tree: 1,000,000 entries (50,000 folders,
// 950,000 files, names of 8-24 bytes, each with a modification time), and
// the memory the loaded tree takes.
//
//   build/bench/bench/tarn_bench_model --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <filesystem>
#include <malloc.h>
#include <random>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"

namespace
{
constexpr int FOLDERS = 50000;
constexpr int FILES = 950000;

std::string RandomName(std::mt19937& rng)
{
    static const char NAME_CHARS[] = "abcdefghijklmnopqrstuvwxyz0123456789._-";
    size_t nLength = 8 + rng() % 17;
    std::string str(nLength, ' ');
    for (char& c : str)
        c = NAME_CHARS[rng() % (sizeof(NAME_CHARS) - 1)];
    return str;
}

// Folders in breadth-first order with a fan-out of 8, files spread evenly.
void BuildTree(CFTPDir* pRoot)
{
    std::mt19937 rng(42);
    std::vector<CFTPDir*> dirs{pRoot};
    for (int i = 0; i < FOLDERS; ++i)
    {
        CFTPDir* pParent = dirs[static_cast<size_t>(i) / 8];
        auto pDir = std::make_unique<CFTPDir>();
        pDir->m_strName = RandomName(rng) + std::to_string(i);
        pDir->m_pParent = pParent;
        pDir->m_nState = static_cast<int32_t>(rng() % 2);
        pDir->m_time = CModTime(1500000000 + static_cast<int64_t>(rng() % 300000000),
                                TimePrecision::minute, false);
        dirs.push_back(pDir.get());
        pParent->m_dirList.push_back(std::move(pDir));
    }
    for (int i = 0; i < FILES; ++i)
    {
        CFTPDir* pParent = dirs[1 + static_cast<size_t>(i) % FOLDERS];
        auto pFile = std::make_unique<CFTPFile>();
        pFile->m_strName = RandomName(rng) + std::to_string(i);
        pFile->m_nSize = rng();
        pFile->m_nState = static_cast<int32_t>(rng() % 2);
        pFile->m_time = CModTime(1500000000 + static_cast<int64_t>(rng() % 300000000),
                                 TimePrecision::second, true);
        pFile->m_pParent = pParent;
        pParent->m_fileList.push_back(std::move(pFile));
    }
}

struct Fixture
{
    Fixture()
    {
        strFolder = (std::filesystem::temp_directory_path() / "tarn-bench-model").string();
        std::filesystem::create_directories(strFolder);
        SetProgramFolder(strFolder);
        pSite = MakeSite();
        BuildTree(pSite->m_pRoot.get());
        // The pair with its times, as an update saves it.
        pSite->SaveTree();
    }
    ~Fixture() { std::filesystem::remove_all(strFolder); }

    static std::unique_ptr<CFTPSite> MakeSite()
    {
        auto p = std::make_unique<CFTPSite>();
        p->m_strHost = "bench.example.org";
        p->m_strPassword = ANON_PASSWORD;
        return p;
    }

    std::string strFolder;
    std::unique_ptr<CFTPSite> pSite;
};

Fixture& GetFixture()
{
    static Fixture s_fixture;
    return s_fixture;
}

void BM_SaveContent(benchmark::State& state)
{
    Fixture& f = GetFixture();
    for (auto _ : state)
        f.pSite->SaveContent();
    state.counters["entries/s"] =
        benchmark::Counter(FOLDERS + FILES, benchmark::Counter::kIsIterationInvariantRate);
}

// The pair an update writes: both files, the record, the renames and syncs.
void BM_SaveTree(benchmark::State& state)
{
    Fixture& f = GetFixture();
    for (auto _ : state)
        f.pSite->SaveTree();
    state.counters["entries/s"] =
        benchmark::Counter(FOLDERS + FILES, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LoadContent(benchmark::State& state)
{
    GetFixture();
    for (auto _ : state)
    {
        auto pSite = Fixture::MakeSite();
        pSite->LoadContent();
        state.PauseTiming();
        pSite.reset();
        state.ResumeTiming();
    }
    state.counters["entries/s"] =
        benchmark::Counter(FOLDERS + FILES, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SaveAndLoadState(benchmark::State& state)
{
    Fixture& f = GetFixture();
    for (auto _ : state)
    {
        f.pSite->SaveState();
        f.pSite->LoadState();
    }
}

// Heap bytes held by a loaded tree, per entry (glibc's allocator statistics).
void BM_LoadedTreeMemory(benchmark::State& state)
{
    GetFixture();
    double dBytesPerEntry = 0;
    for (auto _ : state)
    {
        malloc_trim(0);
        struct mallinfo2 before = mallinfo2();
        auto pSite = Fixture::MakeSite();
        pSite->LoadContent();
        pSite->LoadState();
        struct mallinfo2 after = mallinfo2();
        dBytesPerEntry = static_cast<double>((after.uordblks + after.hblkhd) -
                                             (before.uordblks + before.hblkhd)) /
                         (FOLDERS + FILES);
    }
    state.counters["bytes/entry"] = dBytesPerEntry;
}
} // namespace

BENCHMARK(BM_SaveContent)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveTree)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LoadContent)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveAndLoadState)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LoadedTreeMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
