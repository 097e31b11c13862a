// The name index of search stays true to a site's tree while updates add
// and remove entries: a search after an update over an index built before it
// finds what the tree holds now, and a search running during an update
// never reads an entry the update has let go of (the removed entries are
// freed at once here; the sanitizers watch).

#include <algorithm>
#include <atomic>
#include <thread>

#include "model/ProgramFolder.h"
#include "search/NameSearch.h"
#include "search/SiteIndex.h"
#include "update/CrawlerFixture.h"

namespace
{
class CNameSink : public ISearchSink
{
public:
    bool OnHits(std::span<const CSearchHit> hits) override
    {
        for (const CSearchHit& hit : hits)
            m_names.push_back(hit.nType == 1 ? static_cast<CFTPDir*>(hit.pEntry)->m_strName
                                             : static_cast<CFTPFile*>(hit.pEntry)->m_strName);
        return true;
    }
    std::vector<std::string> m_names;
};

std::vector<std::string> Find(CFTPSite& site, const std::string& strQuery)
{
    CSearchRequest request;
    request.pQuery = CQuery::Parse(strQuery, nullptr);
    request.sites = {MakeSearchSite(site)};
    request.nThreads = 1;
    CNameSink sink;
    std::atomic<bool> stop{false};
    RunNameSearch(request, sink, stop);
    std::sort(sink.m_names.begin(), sink.m_names.end());
    return sink.m_names;
}

using Names = std::vector<std::string>;
} // namespace

class SearchIndexTest : public CCrawlerFixture
{
protected:
    void SetUp() override
    {
        CCrawlerFixture::SetUp();
        SetProgramFolder(m_data.Path());
    }
    CTempDir m_data;
};

TEST_F(SearchIndexTest, FindsWhatTheTreeHoldsAfterAnUpdate)
{
    Dir("a");
    File("a/x.iso");
    File("a/y.txt");
    Dir("b/c");
    File("b/c/deep.iso");
    File("b/z.iso");
    File("keep.iso");
    StartServer();
    std::unique_ptr<CFTPSite> pSite = MakeSite();
    pSite->m_nLoadState = 1;
    ASSERT_EQ(Crawl(*pSite), 1);
    ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    EXPECT_EQ(Find(*pSite, "*.iso"), (Names{"deep.iso", "keep.iso", "x.iso", "z.iso"}));

    Remove("b");
    Remove("keep.iso");
    File("a/new.iso");
    Dir("d");
    File("d/fresh.iso");
    ASSERT_EQ(Crawl(*pSite), 1);
    // The index is the one built before the update.
    for (const char* pszQuery : {"*.iso", "iso", "ext:iso", "regex:\\.iso$"})
        EXPECT_EQ(Find(*pSite, pszQuery), (Names{"fresh.iso", "new.iso", "x.iso"})) << pszQuery;
    EXPECT_EQ(Find(*pSite, "fresh"), Names{"fresh.iso"});
    EXPECT_EQ(Find(*pSite, "deep"), Names{});
    EXPECT_EQ(Find(*pSite, "folder:"), (Names{"a", "d"}));

    // A new build finds the same.
    ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    EXPECT_EQ(Find(*pSite, "*.iso"), (Names{"fresh.iso", "new.iso", "x.iso"}));
}

TEST_F(SearchIndexTest, SearchesDuringAnUpdateReadOnlyLiveEntries)
{
    for (int i = 0; i < 40; ++i)
    {
        std::string strDir = "d" + std::to_string(i);
        Dir(strDir + "/sub");
        for (int j = 0; j < 5; ++j)
            File(strDir + "/sub/file" + std::to_string(j) + ".iso");
    }
    StartServer();
    std::unique_ptr<CFTPSite> pSite = MakeSite();
    pSite->m_nLoadState = 1;
    ASSERT_EQ(Crawl(*pSite), 1);
    ASSERT_TRUE(BuildSiteIndex(*pSite, true));
    for (int i = 0; i < 40; i += 2)
        Remove("d" + std::to_string(i));
    File("d1/sub/added.iso");

    std::atomic<bool> bDone{false};
    std::thread searcher(
        [&]
        {
            while (!bDone.load())
            {
                (void)Find(*pSite, "iso");
                (void)BuildSiteIndex(*pSite, true);
            }
        });
    EXPECT_EQ(Crawl(*pSite), 1);
    bDone = true;
    searcher.join();
    Names found = Find(*pSite, "*.iso");
    EXPECT_EQ(found.size(), 20u * 5 + 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), "added.iso"), 1);
}
