// The trigram index over catalogues of many blocks: whatever way it is
// built (again and again on one thread, on the builder's threads, after a
// build was stopped), a search through it finds exactly what a search that
// reads every block finds, and reads fewer blocks for a rare word.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "search/IndexBuilder.h"
#include "search/NameSearch.h"
#include "search/SiteIndex.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"

namespace
{
class CCollectSink : public ISearchSink
{
public:
    bool OnHits(std::span<const CSearchHit> hits) override
    {
        for (const CSearchHit& hit : hits)
            m_entries.push_back(hit.pEntry);
        return true;
    }
    std::vector<CObject*> m_entries;
};

std::string Gbk(const std::string& strText)
{
    std::string strBytes;
    EXPECT_TRUE(CNameCodec("GB18030").Encode(strText, &strBytes));
    return strBytes;
}

// Names of every kind the index must fold the same way a match does:
// letter case, a sharp s, Chinese, one and two characters, long ones.
std::string Name(std::mt19937& rng, bool bGbk)
{
    static const char* const WORDS[] = {"Linux", "kernel", "STRASSE", "straße", "ÉCOLE", "x",
                                        "ab",    "软件",   "资料",    "v1.2.3", "IMG_",  "zz"};
    static const char* const EXTS[] = {".iso", ".tar.gz", ".txt", "", ".PDF"};
    std::string strName;
    int nWords = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < nWords; ++i)
        strName += WORDS[rng() % std::size(WORDS)];
    if (rng() % 4 != 0)
        strName += "-" + std::to_string(rng() % 5000);
    strName += EXTS[rng() % std::size(EXTS)];
    return bGbk ? Gbk(strName) : strName;
}

// nFolders folders (nested a few levels) of 1..40 children, and one folder
// of nHuge children: a block far over the usual size.
void Fill(CFTPSite& site, int nFolders, int nHuge, uint32_t nSeed, bool bGbk)
{
    std::mt19937 rng(nSeed);
    std::vector<CFTPDir*> folders{site.m_pRoot.get()};
    for (int i = 0; i < nFolders; ++i)
    {
        CFTPDir* pParent = folders[rng() % folders.size()];
        CFTPDir* pDir = AddDir(pParent, Name(rng, bGbk));
        folders.push_back(pDir);
        int nFiles = static_cast<int>(rng() % 40);
        for (int f = 0; f < nFiles; ++f)
            AddFile(pDir, Name(rng, bGbk), f);
    }
    CFTPDir* pHuge = AddDir(site.m_pRoot.get(), "huge");
    for (int f = 0; f < nHuge; ++f)
        AddFile(pHuge, Name(rng, bGbk) + "#" + std::to_string(f), f);
}

class NameIndexTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_dir.Path());
        for (int i = 0; i < 3; ++i)
        {
            auto pSite = std::make_unique<CFTPSite>();
            pSite->m_strHost = "ftp" + std::to_string(i) + ".example.org";
            pSite->m_nLoadState = 1;
            bool bGbk = i == 2;
            if (bGbk)
                pSite->UpdateSettings([](CSiteSettings& s)
                                      { s.Set(CSiteSettings::CHARSET, "GB18030"); });
            Fill(*pSite, 400 + 300 * i, i == 0 ? 6000 : 300, 17 + static_cast<uint32_t>(i), bGbk);
            m_sites.push_back(std::move(pSite));
        }
    }

    std::vector<CObject*> Find(const std::string& strQuery, CSearchStats* pStats = nullptr)
    {
        CSearchRequest request;
        request.pQuery = CQuery::Parse(strQuery, nullptr);
        EXPECT_NE(request.pQuery, nullptr) << strQuery;
        for (const auto& pSite : m_sites)
            request.sites.push_back(MakeSearchSite(*pSite));
        request.nThreads = 2;
        CCollectSink sink;
        std::atomic<bool> stop{false};
        CSearchStats stats = RunNameSearch(request, sink, stop);
        if (pStats != nullptr)
            *pStats = stats;
        std::sort(sink.m_entries.begin(), sink.m_entries.end());
        return sink.m_entries;
    }

    // Every query's result with folders-only indexes (every block read).
    std::vector<std::vector<CObject*>> Expected()
    {
        for (const auto& pSite : m_sites)
            EXPECT_TRUE(BuildSiteIndex(*pSite, false));
        std::vector<std::vector<CObject*>> results;
        for (const char* pszQuery : QUERIES)
            results.push_back(Find(pszQuery));
        return results;
    }

    void ExpectSameAs(const std::vector<std::vector<CObject*>>& expected, const char* pszHow)
    {
        for (size_t i = 0; i < std::size(QUERIES); ++i)
            EXPECT_EQ(Find(QUERIES[i]), expected[i]) << "query [" << QUERIES[i] << "] " << pszHow;
    }

    static constexpr const char* QUERIES[] = {
        "linux",     "kernel-42", "strasse", "STRASSE",        "ecole",
        "école",     "软件",      "资料-1",  "v1.2.3",         "img_",
        "*.iso",     "ext:pdf",   "ab zz",   "x-4999",         "linux | 软件资料",
        "!linux ab", "#5999",     "huge",    "regex:ab\\d{3}", "path:huge 软件",
        "zzzzzz",    "kernelx",   "e-1",     "ssab",           "\"straße-1\"",
    };

    CTempDir m_dir;
    std::vector<std::unique_ptr<CFTPSite>> m_sites;
};

TEST_F(NameIndexTest, FindsWhatAFullReadFinds)
{
    std::vector<std::vector<CObject*>> expected = Expected();
    size_t nNonEmpty = 0;
    for (const auto& result : expected)
        nNonEmpty += result.empty() ? 0 : 1;
    ASSERT_GE(nNonEmpty, std::size(QUERIES) - 4) << "the table should mostly find something";

    // Each site built twice on this thread, in turns, so every build but
    // the first reuses the memory another site's build left behind.
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        for (const auto& pSite : m_sites)
            ASSERT_TRUE(BuildSiteIndex(*pSite, true));
        ExpectSameAs(expected, nRound == 0 ? "first build" : "built again");
    }
}

TEST_F(NameIndexTest, ARareWordReadsFewBlocks)
{
    for (const auto& pSite : m_sites)
        ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    size_t nBlocks = 0;
    for (const auto& pSite : m_sites)
        nBlocks += GetSiteIndex(*pSite)->m_pIndex->BlockCount();
    ASSERT_GT(nBlocks, 20u);
    CSearchStats stats;
    std::vector<CObject*> found = Find("kernel-4999", &stats);
    EXPECT_LT(stats.nBlocks, nBlocks / 4);
}

// A build stopped midway leaves its thread's memory as it was; the next
// build there is whole.
TEST_F(NameIndexTest, ABuildAfterAStoppedOneIsWhole)
{
    std::vector<std::vector<CObject*>> expected = Expected();
    std::atomic<bool> stop{true};
    for (const auto& pSite : m_sites)
        EXPECT_FALSE(BuildSiteIndex(*pSite, true, &stop));
    for (const auto& pSite : m_sites)
        ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    ExpectSameAs(expected, "after a stopped build");
}

TEST_F(NameIndexTest, TheBuilderIndexesEverySiteOnItsThreads)
{
    std::vector<std::vector<CObject*>> expected = Expected();
    {
        CIndexBuilder builder;
        for (int nRound = 0; nRound < 3; ++nRound)
        {
            for (const auto& pSite : m_sites)
                builder.Request(pSite.get());
            // A site going away mid-build: its build ends, the others go on.
            builder.Forget(m_sites[0].get());
            builder.Request(m_sites[0].get());
            builder.WaitIdle();
            EXPECT_TRUE(builder.IsIdle());
            for (const auto& pSite : m_sites)
            {
                const auto& pIndex = GetSiteIndex(*pSite)->m_pIndex;
                ASSERT_NE(pIndex, nullptr);
                EXPECT_TRUE(pIndex->HasTrigrams());
            }
            ExpectSameAs(expected, "built by the builder");
            // A change: the next round builds again.
            for (const auto& pSite : m_sites)
                GetSiteIndex(*pSite)->m_nChanges.fetch_add(1);
        }
    }
}

// Names of one or two bytes, or that fold to another length ("ŉ" to "ʼn", a
// GBK character's two bytes to three of UTF-8), names a server should not
// send (broken UTF-8, a zero byte), and words and regex literals of two
// bytes: the index finds what a full read finds.
TEST_F(NameIndexTest, ShortNamesAndTwoByteWordsFindWhatAFullReadFinds)
{
    static const std::string NAMES[] = {"ŉ",   "Zx",         "iz",  "x",          "é",
                                        "Café", "aiz",       "IZA", "a.c",        "qz7",
                                        "axz12", "书",       "软件", "\xff\xfe", "\xc3",
                                        std::string("iz\0", 3), std::string("\0zx", 3)};
    static const char* const QUERIES[] = {
        "ŉ",       "ʼn",          "zx",
        "iz",      "x",           "é",
        "ext:c",   "书",          "regex:(x|q)z[0-9]+$",
        "regex:^iz$", "regex:zx", "regex:书",
        "case:Zx", "<iz|zx> !a",  "z",
    };
    // Each in a folder of its own, spread over the tree: in blocks apart.
    for (size_t nSite : {size_t{0}, size_t{2}})
    {
        std::vector<CFTPDir*> folders;
        for (const auto& pDir : m_sites[nSite]->m_pRoot->m_dirList)
            folders.push_back(pDir.get());
        for (size_t i = 0; i < std::size(NAMES); ++i)
        {
            CFTPDir* pParent = folders[i * folders.size() / std::size(NAMES)];
            CFTPDir* pShort = AddDir(pParent, "short" + std::to_string(i));
            // Bytes that are no text go to the GBK site as they are.
            bool bText = IsValidUtf8(NAMES[i]) && NAMES[i].find('\0') == std::string::npos;
            AddFile(pShort, nSite == 2 && bText ? Gbk(NAMES[i]) : NAMES[i], 1);
        }
    }
    for (const auto& pSite : m_sites)
        ASSERT_TRUE(BuildSiteIndex(*pSite, false));
    std::vector<std::vector<CObject*>> expected;
    for (const char* pszQuery : QUERIES)
        expected.push_back(Find(pszQuery));
    EXPECT_EQ(expected[0].size(), 2u) << "a full read finds ŉ on both sites";
    EXPECT_EQ(expected[7].size(), 2u) << "a full read finds 书 on both sites";
    for (const auto& pSite : m_sites)
        ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    for (size_t i = 0; i < std::size(QUERIES); ++i)
        EXPECT_EQ(Find(QUERIES[i]), expected[i]) << "query [" << QUERIES[i] << "]";
}
} // namespace
