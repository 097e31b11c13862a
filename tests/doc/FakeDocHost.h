#pragma once
// A host that records what the document shows, in order, one line per call.
// The pump answers through m_onPump so a test can stop a walk or change a
// tree at a chosen point, as the event loop would.

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "doc/DocHost.h"
#include "model/FTPEntry.h"

class CFakeDocHost : public IDocHost
{
public:
    void ShowMessage(const std::string& strText) override
    {
        m_messages.push_back(strText);
        m_calls.push_back("message " + strText);
    }
    void SetClipboardText(const std::string& strText) override
    {
        m_strClipboard = strText;
        m_calls.push_back("clipboard " + strText);
    }
    void OpenUrl(const std::string& strUrl) override { m_calls.push_back("open " + strUrl); }
    void ClearList() override { m_calls.push_back("clear"); }
    // Builds its rows from the calls alone, as the file list does.
    void AppendResultRow(CObject* pEntry, int nType) override
    {
        ++m_nAppends;
        if (m_bRecordAppends)
            m_calls.push_back("append");
        if (pEntry == nullptr)
        {
            m_rowDirs.clear();
            m_rowFiles.clear();
            return;
        }
        bool bFolder = pEntry->GetRuntimeClass() == CFTPDir::GetThisClass();
        EXPECT_EQ(nType, bFolder ? IUpdateObserver::entryFolder : IUpdateObserver::entryFile);
        if (bFolder)
            m_rowDirs.push_back(static_cast<CFTPDir*>(pEntry)->GetAddress());
        else
            m_rowFiles.push_back(static_cast<CFTPFile*>(pEntry)->GetAddress());
    }
    // The result rows on display: folders, then files.
    std::vector<std::string> Rows() const
    {
        std::vector<std::string> rows = m_rowDirs;
        rows.insert(rows.end(), m_rowFiles.begin(), m_rowFiles.end());
        return rows;
    }
    void OpenProgress(int nTotal) override
    {
        m_bProgressOpen = true;
        m_calls.push_back("progress " + std::to_string(nTotal));
    }
    void SetProgressPos(int nPos) override { m_nProgressPos = nPos; }
    void CloseProgress() override
    {
        m_bProgressOpen = false;
        m_calls.push_back("close progress");
    }
    void BeginWaitCursor() override
    {
        ++m_nWaitCursor;
        ++m_nWaitCursorShown;
    }
    void EndWaitCursor() override { --m_nWaitCursor; }
    bool PumpWaitingMessages() override
    {
        ++m_nPumps;
        return m_onPump ? m_onPump() : true;
    }

    std::vector<std::string> m_calls;
    std::vector<std::string> m_messages;
    std::string m_strClipboard;
    bool m_bRecordAppends = false;
    int m_nAppends = 0;
    std::vector<std::string> m_rowDirs;
    std::vector<std::string> m_rowFiles;
    bool m_bProgressOpen = false;
    int m_nProgressPos = 0;
    int m_nWaitCursor = 0;      // Begin minus End
    int m_nWaitCursorShown = 0; // Begin calls
    int m_nPumps = 0;
    std::function<bool()> m_onPump;
};
