// Search and unread listing over 20 loaded sites of 250,000 entries each
// (5,000,000 entries), with a host whose pump does nothing, and the delivery
// of result rows through AppendResultRow; the same search over sites whose
// names are GBK bytes (each name decoded before it is matched); and letting
// go of a large batch of removed entries.
//
//   tarn_bench_doc_search --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "doc/TarnDoc.h"
#include "model/ProgramFolder.h"

namespace
{
constexpr int SITES = 20;
constexpr int TOP_DIRS = 50;
constexpr int SUB_DIRS = 49;      // per top folder: 50 + 50 * 49 = 2,500 folders
constexpr int FILES_PER_DIR = 99; // 2,500 * 99 = 247,500 files: 250,000 entries a site
constexpr int UNREAD_EVERY = 100; // 1 % of the files are unread

// Does what the file list does per row, minus the drawing: reads the
// entry's name.
class CBenchHost : public IDocHost
{
public:
    void ShowMessage(const std::string&) override {}
    void SetClipboardText(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
    void ClearList() override {}
    void AppendResultRow(CObject* pEntry, int nType) override
    {
        if (pEntry == nullptr)
            return;
        if (nType == IUpdateObserver::entryFolder)
            m_nBytes += static_cast<CFTPDir*>(pEntry)->m_strName.size();
        else
            m_nBytes += static_cast<CFTPFile*>(pEntry)->m_strName.size();
    }
    void OpenProgress(int) override {}
    void SetProgressPos(int) override {}
    void CloseProgress() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PumpWaitingMessages() override
    {
        ++m_nPumps;
        return true;
    }

    uint64_t m_nBytes = 0;
    uint64_t m_nPumps = 0;
};

// Names as a Chinese server sends them: GBK bytes (the text given here is UTF-8).
bool g_bGbk = false;

std::string Gbk(const std::string& strText)
{
    std::string strBytes;
    if (!CNameCodec("GB18030").Encode(strText, &strBytes))
        std::abort();
    return strBytes;
}

std::string FileName(int n)
{
    char sz[64];
    if (g_bGbk)
    {
        std::snprintf(sz, sizeof sz, n % 2 == 0 ? "资料%06d.txt" : "软件包-%06d-1.2.3.tar.gz", n);
        return Gbk(sz);
    }
    if (n % 2 == 0)
        std::snprintf(sz, sizeof sz, "f%06d.txt", n);
    else
        std::snprintf(sz, sizeof sz, "package-%06d-1.2.3.tar.gz", n);
    return sz;
}

void FillDir(CFTPDir* pDir, int& nFile)
{
    for (int i = 0; i < FILES_PER_DIR; ++i, ++nFile)
    {
        auto pFile = std::make_unique<CFTPFile>();
        pFile->m_strName = FileName(nFile);
        pFile->m_nSize = static_cast<uint64_t>(nFile) * 37;
        pFile->m_nState = nFile % UNREAD_EVERY == 0 ? 1 : 0;
        pFile->m_pParent = pDir;
        pDir->m_fileList.push_back(std::move(pFile));
    }
}

CFTPDir* AddDir(CFTPDir* pParent, const std::string& strName)
{
    auto pDir = std::make_unique<CFTPDir>();
    pDir->m_strName = strName;
    pDir->m_pParent = pParent;
    pParent->m_dirList.push_back(std::move(pDir));
    return pParent->m_dirList.back().get();
}

void FillSite(CFTPSite& site)
{
    int nFile = 0;
    CFTPDir* pRoot = site.m_pRoot.get();
    for (int t = 0; t < TOP_DIRS; ++t)
    {
        std::string strTop = "Pub_" + std::to_string(t);
        CFTPDir* pTop = AddDir(pRoot, g_bGbk ? Gbk("公开_" + std::to_string(t)) : strTop);
        FillDir(pTop, nFile);
        for (int s = 0; s < SUB_DIRS; ++s)
        {
            std::string strSub = "Release-" + std::to_string(s);
            FillDir(AddDir(pTop, g_bGbk ? Gbk("发布-" + std::to_string(s)) : strSub), nFile);
        }
    }
}

struct CWorld
{
    explicit CWorld(bool bGbk)
    {
        char szTemplate[] = "/tmp/tarn-bench-XXXXXX";
        if (::mkdtemp(szTemplate) == nullptr)
            std::abort();
        m_strFolder = szTemplate;
        SetProgramFolder(m_strFolder);
        m_pDoc = std::make_unique<CTarnDoc>(m_host);
        (void)m_pDoc->OnNewDocument();
        g_bGbk = bGbk;
        for (int i = 0; i < SITES; ++i)
        {
            CSiteInfo info;
            info.m_strHost = "ftp" + std::to_string(i) + ".example.org";
            info.m_bAnonymous = true;
            (void)m_pDoc->AddSite(info);
            FillSite(*m_pDoc->m_siteList.back());
        }
        g_bGbk = false;
    }
    ~CWorld()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strFolder, ec);
    }

    // Only the first nSites sites stay in the document; the rest wait aside.
    void UseSites(size_t nSites)
    {
        auto& list = m_pDoc->m_siteList;
        while (list.size() > nSites)
        {
            m_aside.push_back(std::move(list.back()));
            list.pop_back();
        }
        while (list.size() < nSites && !m_aside.empty())
        {
            list.push_back(std::move(m_aside.back()));
            m_aside.pop_back();
        }
    }

    std::string m_strFolder;
    bool m_bGbk = false;
    CBenchHost m_host;
    std::unique_ptr<CTarnDoc> m_pDoc;
    std::vector<std::unique_ptr<CFTPSite>> m_aside;
};

// One world at a time: each has its own program folder.
std::unique_ptr<CWorld> g_pWorld;

CWorld& World(bool bGbk = false)
{
    if (g_pWorld == nullptr || g_pWorld->m_bGbk != bGbk)
    {
        g_pWorld.reset();
        g_pWorld = std::make_unique<CWorld>(bGbk);
        g_pWorld->m_bGbk = bGbk;
    }
    return *g_pWorld;
}

constexpr int64_t ENTRIES = int64_t{SITES} * 250000;

void RunSearch(benchmark::State& state, const char* pszKeyword)
{
    CWorld& world = *g_pWorld;
    size_t nFound = 0;
    for (auto _ : state)
    {
        bool bDone = world.m_pDoc->Search(pszKeyword);
        benchmark::DoNotOptimize(bDone);
        nFound = world.m_pDoc->m_foundDirs.size() + world.m_pDoc->m_foundFiles.size();
    }
    state.SetItemsProcessed(state.iterations() * ENTRIES);
    state.counters["found"] = static_cast<double>(nFound);
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(ENTRIES),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

void RunAsciiSearch(benchmark::State& state, const char* pszKeyword)
{
    World().UseSites(SITES);
    RunSearch(state, pszKeyword);
}

void BM_SearchNoMatch(benchmark::State& state)
{
    RunAsciiSearch(state, "zzz");
}
void BM_SearchRare(benchmark::State& state)
{
    RunAsciiSearch(state, "123456");
}
void BM_SearchFolderWord(benchmark::State& state)
{
    RunAsciiSearch(state, "release-4");
}
void BM_SearchNew(benchmark::State& state)
{
    RunAsciiSearch(state, NEW_KEYWORD);
}

// GBK names; range(0): 0 the sites read names by the automatic rule (not
// UTF-8, so GB18030), 1 they name GB18030 themselves.
void RunGbkSearch(benchmark::State& state, const char* pszKeyword)
{
    CWorld& world = World(true);
    world.UseSites(SITES);
    for (const auto& pSite : world.m_pDoc->m_siteList)
    {
        pSite->UpdateSettings(
            [&state](CSiteSettings& settings) {
                settings.Set(CSiteSettings::CHARSET,
                             state.range(0) == 0 ? CHARSET_AUTO : "GB18030");
            });
    }
    RunSearch(state, pszKeyword);
}

void BM_SearchGbkNoMatch(benchmark::State& state)
{
    RunGbkSearch(state, "zzz");
}
void BM_SearchGbkRare(benchmark::State& state)
{
    RunGbkSearch(state, "软件包-123457");
}
void BM_SearchGbkFolderWord(benchmark::State& state)
{
    RunGbkSearch(state, "发布-4");
}

void BM_UnreadAll(benchmark::State& state)
{
    CWorld& world = World();
    world.UseSites(SITES);
    for (auto _ : state)
        benchmark::DoNotOptimize(world.m_pDoc->ShowUnread(UNREAD_ALL));
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(ENTRIES),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

// Empty keyword: every entry of the first N sites is a result row.
void BM_DeliverResults(benchmark::State& state)
{
    CWorld& world = World();
    size_t nSites = static_cast<size_t>(state.range(0));
    world.UseSites(nSites);
    for (auto _ : state)
        benchmark::DoNotOptimize(world.m_pDoc->Search(""));
    double nRows =
        static_cast<double>(world.m_pDoc->m_foundDirs.size() + world.m_pDoc->m_foundFiles.size());
    state.counters["rows"] = nRows;
    state.counters["rows/s"] =
        benchmark::Counter(nRows, benchmark::Counter::kIsIterationInvariantRate);
    world.UseSites(SITES);
}
// 100,000 removals (99,000 files and 1,000 folders with their 99 files each)
// against the 1,000,000 results of four sites: one pass over the results.
void BM_ForgetEntries(benchmark::State& state)
{
    CWorld& world = World();
    world.UseSites(4);
    CTarnDoc& doc = *world.m_pDoc;
    (void)doc.Search("");
    const std::vector<CFTPDir*> dirs = doc.m_foundDirs;
    const std::vector<CFTPFile*> files = doc.m_foundFiles;
    CSubtreeSet removed;
    for (size_t i = 0; i < 99000; ++i)
        removed.Add(files[i * (files.size() / 99000)]);
    std::vector<CFTPDir*> leaves; // not the top folders, which hold everything
    for (CFTPDir* pDir : dirs)
    {
        if (pDir->m_pParent->m_pParent != nullptr)
            leaves.push_back(pDir);
    }
    for (size_t i = 0; i < 1000; ++i)
        removed.Add(leaves[i * (leaves.size() / 1000)]);
    for (auto _ : state)
    {
        state.PauseTiming();
        doc.m_foundDirs = dirs;
        doc.m_foundFiles = files;
        state.ResumeTiming();
        doc.ForgetEntries(removed);
    }
    state.counters["results"] = static_cast<double>(dirs.size() + files.size());
    state.counters["left"] = static_cast<double>(doc.m_foundDirs.size() + doc.m_foundFiles.size());
    world.UseSites(SITES);
}
} // namespace

BENCHMARK(BM_SearchNoMatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchRare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchFolderWord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchNew)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnreadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliverResults)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForgetEntries)->Unit(benchmark::kMillisecond);
// Last: they build a world of their own.
BENCHMARK(BM_SearchGbkNoMatch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchGbkRare)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchGbkFolderWord)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
