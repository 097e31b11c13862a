#pragma once
// Shared set-up of the crawler tests: a served folder, the local FTP server,
// a site pointing at it, and an observer that records removal notices the
// way the window would receive them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/FTPSite.h"
#include "net/FtpConnection.h"
#include "net/InternetSession.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"
#include "update/Crawler.h"
#include "update/EngineState.h"
#include "update/ListingPlan.h"
#include "update/SiteConnection.h"
#include "update/UpdateObserver.h"

class CNoticeObserver : public IUpdateObserver
{
public:
    struct CNotice
    {
        std::string strName;
        int nType;
        size_t nChildren; // entries below a removed folder, at notice time
        bool bDisposed;   // already handed back when noticed (must be false)
    };

    void PostSiteUpdated(CFTPSite*) override {}
    void SendSiteUpdated(CFTPSite*) override {}
    void PostEntryRemoved(CObject* pEntry, int nType) override
    {
        CNotice notice{};
        notice.nType = nType;
        if (nType == entryFolder)
        {
            auto* pDir = static_cast<CFTPDir*>(pEntry);
            notice.strName = pDir->m_strName;
            CTreeCount count = CountTree(*pDir);
            notice.nChildren = count.nDirs + count.nFiles;
        }
        else
            notice.strName = static_cast<CFTPFile*>(pEntry)->m_strName;
        m_pending.push_back(pEntry);
        m_notices.push_back(notice);
        if (m_onRemoved)
            m_onRemoved(pEntry, nType);
    }
    void DisposeRemoved(std::vector<std::unique_ptr<CObject>> entries) override
    {
        // Every entry handed over was announced first.
        for (const auto& pEntry : entries)
            EXPECT_NE(std::find(m_pending.begin(), m_pending.end(), pEntry.get()), m_pending.end());
        m_nDisposed += entries.size();
        m_pending.clear();
    }

    std::vector<CNotice> m_notices;
    std::vector<CObject*> m_pending;
    size_t m_nDisposed = 0;
    std::function<void(CObject*, int)> m_onRemoved;
};

class CCrawlerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_bStopUpdate = 0;
        SetUpdateObserver(&m_observer);
    }
    void TearDown() override
    {
        SetUpdateObserver(nullptr);
        g_bStopUpdate = 0;
    }

    void StartServer() { m_pServer = std::make_unique<CTestFtpServer>(m_served.Path()); }

    void Dir(const std::string& strPath)
    {
        std::filesystem::create_directories(m_served / strPath);
    }
    void File(const std::string& strPath, size_t nSize = 1)
    {
        std::ofstream(m_served / strPath, std::ios::binary) << std::string(nSize, 'x');
    }
    void Remove(const std::string& strPath) { std::filesystem::remove_all(m_served / strPath); }

    std::unique_ptr<CFTPSite> MakeSite() const
    {
        auto pSite = std::make_unique<CFTPSite>();
        pSite->m_strHost = "127.0.0.1";
        pSite->m_nPort = m_pServer->GetPort();
        pSite->m_strUser = m_pServer->GetUser();
        pSite->m_strPassword = m_pServer->GetPassword();
        return pSite;
    }

    static CSessionTimeouts ShortTimeouts()
    {
        CSessionTimeouts timeouts;
        timeouts.nConnectTimeout = 1000;
        timeouts.nControlReceiveTimeout = 2000;
        timeouts.nDataReceiveTimeout = 2000;
        return timeouts;
    }

    // One worker's crawl: session, login, CrawlDir from pStart (or the root)
    // listing the fixture's way; the session's findings go to m_report.
    int Crawl(CFTPSite& site, CFTPDir* pStart = nullptr)
    {
        auto pSession = OpenSiteSession(ShortTimeouts());
        std::string strError;
        auto pConnection = OpenSiteConnection(*pSession, site, &strError);
        EXPECT_TRUE(pConnection) << strError;
        if (!pConnection)
            return -1;
        m_report = {};
        return CrawlDir(pConnection.get(), &site, pStart != nullptr ? pStart : site.m_pRoot.get(),
                        Plan(), &m_report);
    }

    CListingPlan Plan() const
    {
        CListingPlan plan;
        plan.nMode = m_nMode;
        plan.nPipelineDepth = m_nPipelineDepth;
        plan.nHoldAheadBytes = m_nHoldAheadBytes;
        plan.nListingTimeoutMs = m_nListingTimeoutMs;
        return plan;
    }
    // Listings over the control connection: the server sees the folders in
    // the order they are fetched ahead, not in crawl order.
    bool UsesStat() const { return m_nMode != ListingMode::list; }

    // The folders below dir (dir's own path first) in the order a crawl
    // enters them.
    static std::vector<std::string> CrawlOrder(const CFTPDir& dir)
    {
        std::vector<std::string> order{dir.GetPath()};
        for (const auto& pSub : dir.m_dirList)
        {
            std::vector<std::string> sub = CrawlOrder(*pSub);
            order.insert(order.end(), sub.begin(), sub.end());
        }
        return order;
    }

    static void MarkAllRead(CFTPDir& dir)
    {
        for (auto& pFile : dir.m_fileList)
            pFile->m_nState = 0;
        for (auto& pSub : dir.m_dirList)
        {
            pSub->m_nState = 0;
            MarkAllRead(*pSub);
        }
    }

    static bool NoMarksLeft(const CFTPDir& dir)
    {
        for (const auto& pFile : dir.m_fileList)
            if (pFile->m_bSeen != 0)
                return false;
        for (const auto& pSub : dir.m_dirList)
            if (pSub->m_bSeen != 0 || !NoMarksLeft(*pSub))
                return false;
        return true;
    }

    // The cached folder at an absolute path, or null.
    static CFTPDir* FindPath(CFTPDir* pRoot, const std::string& strPath)
    {
        CFTPDir* pDir = pRoot;
        size_t nStart = 1;
        while (pDir != nullptr && nStart < strPath.size())
        {
            size_t nEnd = strPath.find('/', nStart);
            pDir = FindDir(pDir, strPath.substr(nStart, nEnd - nStart));
            nStart = nEnd == std::string::npos ? strPath.size() : nEnd + 1;
        }
        return pDir;
    }

    static CFTPDir* FindDir(CFTPDir* pDir, const std::string& strName)
    {
        for (auto& pSub : pDir->m_dirList)
            if (pSub->m_strName == strName)
                return pSub.get();
        return nullptr;
    }

    static CFTPFile* FindFile(CFTPDir* pDir, const std::string& strName)
    {
        for (auto& pFile : pDir->m_fileList)
            if (pFile->m_strName == strName)
                return pFile.get();
        return nullptr;
    }

    static std::vector<std::string> FileNames(const CFTPDir& dir)
    {
        std::vector<std::string> names;
        for (const auto& pFile : dir.m_fileList)
            names.push_back(pFile->m_strName);
        return names;
    }

    static std::vector<std::string> DirNames(const CFTPDir& dir)
    {
        std::vector<std::string> names;
        for (const auto& pSub : dir.m_dirList)
            names.push_back(pSub->m_strName);
        return names;
    }

    static std::vector<std::string> Sorted(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }

    CTempDir m_served;
    std::unique_ptr<CTestFtpServer> m_pServer;
    CNoticeObserver m_observer;
    ListingMode m_nMode = ListingMode::list;
    size_t m_nPipelineDepth = DEFAULT_PIPELINE_DEPTH;
    uint64_t m_nHoldAheadBytes = DEFAULT_HOLD_AHEAD_BYTES;
    uint32_t m_nListingTimeoutMs = 300000;
    CListingReport m_report;
};

// The crawler suites run once per listing mode.
class CModeCrawlerFixture : public CCrawlerFixture,
                            public ::testing::WithParamInterface<ListingMode>
{
protected:
    void SetUp() override
    {
        CCrawlerFixture::SetUp();
        m_nMode = GetParam();
    }
};

inline std::string ModeName(const ::testing::TestParamInfo<ListingMode>& info)
{
    return FormatListingMode(info.param);
}

#define TARN_ALL_LISTING_MODES(suite)                                                              \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Modes, suite,                                                                              \
        ::testing::Values(ListingMode::list, ListingMode::stat, ListingMode::automatic), ModeName)
