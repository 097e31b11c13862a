#pragma once
// A started document over a temporary program folder, pumping at every
// entry so that tests can stop or change a walk at a chosen point.

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "doc/FakeDocHost.h"
#include "doc/TarnDoc.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"

class DocTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetProgramFolder(m_dir.Path());
        m_pDoc = std::make_unique<CTarnDoc>(m_host);
        ASSERT_TRUE(m_pDoc->OnNewDocument());
        m_pDoc->SetPumpInterval(std::chrono::nanoseconds(0));
    }

    CFTPSite* AddAnonSite(const std::string& strHost)
    {
        CSiteInfo info;
        info.m_strHost = strHost;
        info.m_bAnonymous = true;
        EXPECT_TRUE(m_pDoc->AddSite(info));
        return m_pDoc->FindSite(strHost);
    }

    // What the engine does with a vanished entry: unlink it under the
    // exclusive lock; the GUI then lets go of it and frees it.
    static std::unique_ptr<CFTPDir> UnlinkDir(CFTPDir* pDir)
    {
        CFTPSite* pSite = pDir->GetSite();
        std::unique_lock lock(pSite->m_treeLock);
        auto& list = pDir->m_pParent->m_dirList;
        for (auto it = list.begin(); it != list.end(); ++it)
        {
            if (it->get() == pDir)
            {
                std::unique_ptr<CFTPDir> p = std::move(*it);
                list.erase(it);
                return p;
            }
        }
        return nullptr;
    }
    static std::unique_ptr<CFTPFile> UnlinkFile(CFTPFile* pFile)
    {
        CFTPSite* pSite = pFile->GetSite();
        std::unique_lock lock(pSite->m_treeLock);
        auto& list = pFile->m_pParent->m_fileList;
        for (auto it = list.begin(); it != list.end(); ++it)
        {
            if (it->get() == pFile)
            {
                std::unique_ptr<CFTPFile> p = std::move(*it);
                list.erase(it);
                return p;
            }
        }
        return nullptr;
    }

    // Node addresses of the result lists, folders first.
    std::vector<std::string> Found() const
    {
        std::vector<std::string> out;
        for (CFTPDir* p : m_pDoc->m_foundDirs)
            out.push_back(p->GetAddress());
        for (CFTPFile* p : m_pDoc->m_foundFiles)
            out.push_back(p->GetAddress());
        return out;
    }
    std::vector<std::string> Listing() const
    {
        std::vector<std::string> out;
        for (CFTPDir* p : m_pDoc->m_listDirs)
            out.push_back(p->GetAddress());
        for (CFTPFile* p : m_pDoc->m_listFiles)
            out.push_back(p->GetAddress());
        return out;
    }

    CTempDir m_dir;
    CFakeDocHost m_host;
    std::unique_ptr<CTarnDoc> m_pDoc;
};

using Strings = std::vector<std::string>;
