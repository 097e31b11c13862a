#pragma once
// A host that records what the document shows, in order, one line per call.
// The pump answers through m_onPump so a test can stop a walk or change a
// tree at a chosen point, as the event loop would.

#include <functional>
#include <string>
#include <vector>

#include "doc/DocHost.h"

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
    void AppendResultRow() override
    {
        ++m_nAppends;
        if (m_bRecordAppends)
            m_calls.push_back("append");
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
    void BeginWaitCursor() override { ++m_nWaitCursor; }
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
    bool m_bProgressOpen = false;
    int m_nProgressPos = 0;
    int m_nWaitCursor = 0;
    int m_nPumps = 0;
    std::function<bool()> m_onPump;
};
