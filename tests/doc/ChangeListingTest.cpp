// "显示更改" over a large log: the rows find their entries through one index
// per folder, in slices that pump, and rows made before a pump let go of
// entries the engine removes meanwhile.

#include <filesystem>
#include <fstream>

#include "doc/DocFixture.h"
#include "model/ChangeLog.h"

namespace
{
class ChangeListingTest : public DocTest
{
protected:
    static constexpr int FILE_COUNT = 20000;

    void SetUp() override
    {
        DocTest::SetUp();
        m_pSite = AddAnonSite("big");
        m_pPub = AddDir(m_pSite->m_pRoot.get(), "pub");
        AddDir(m_pPub, "f5"); // a folder that shares a file's name
        std::string strLines;
        for (int i = 0; i < FILE_COUNT; ++i)
        {
            std::string strName = "f" + std::to_string(i);
            AddFile(m_pPub, strName, uint64_t(i));
            CChangeRecord record;
            record.strTime = "2026-01-01T00:00:01Z";
            record.strRun = "2026-01-01T00:00:00.000Z";
            record.strPath = "/pub/" + strName;
            record.nSize = uint64_t(i);
            strLines += FormatChangeLine(record);
        }
        std::filesystem::path log = GetChangeLogPath(GetProgramFolder(), m_pSite->GetKey());
        std::filesystem::create_directories(log.parent_path());
        std::ofstream(log) << strLines;
    }

    CFTPSite* m_pSite = nullptr;
    CFTPDir* m_pPub = nullptr;
};
} // namespace

TEST_F(ChangeListingTest, ManyFilesOfOneFolderAreFoundInSlicesThatFollowRemovals)
{
    // At the first pump the engine removes a file whose row is already made.
    CFTPFile* pVictim = m_pPub->m_fileList[0].get();
    std::unique_ptr<CFTPFile> pRemoved;
    m_host.m_onPump = [&]
    {
        if (!pRemoved)
        {
            pRemoved = UnlinkFile(pVictim);
            m_pDoc->ForgetEntry(pRemoved.get(), 1);
        }
        return true;
    };
    ASSERT_EQ(m_pDoc->ListChanges(m_pPub), size_t(FILE_COUNT));
    EXPECT_GT(m_host.m_nPumps, 0);
    EXPECT_FALSE(m_pDoc->IsBusy());
    EXPECT_EQ(m_pDoc->m_foundChanges[0].pFile, nullptr);
    for (int i = 1; i < FILE_COUNT; ++i)
    {
        const CChangeRow& row = m_pDoc->m_foundChanges[size_t(i)];
        ASSERT_NE(row.pFile, nullptr) << i;
        EXPECT_EQ(row.pFile->m_strName, "f" + std::to_string(i));
        EXPECT_EQ(row.pDir, nullptr);
    }
}

TEST_F(ChangeListingTest, AStopKeepsTheRowsMadeSoFarAndEndsTheWalk)
{
    m_host.m_onPump = [] { return false; };
    size_t nRows = m_pDoc->ListChanges(m_pPub);
    EXPECT_GT(nRows, size_t(0));
    EXPECT_LT(nRows, size_t(FILE_COUNT));
    EXPECT_EQ(m_pDoc->m_foundChanges.size(), nRows);
    EXPECT_FALSE(m_pDoc->IsBusy());
    // A later listing starts afresh.
    m_host.m_onPump = nullptr;
    EXPECT_EQ(m_pDoc->ListChanges(m_pPub), size_t(FILE_COUNT));
}
