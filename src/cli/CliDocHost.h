#pragma once
// The document's host without a screen: message boxes become lines on
// stderr, there is no clipboard, no progress dialog and no cursor, and the
// pump has no events to dispatch; it only answers "stop" once an interrupt came.
//
// Thread: the main thread of tarn-cli.

#include <string>
#include <vector>

#include "doc/DocHost.h"

class CCliDocHost : public IDocHost
{
public:
    void ShowMessage(const std::string& strText) override;
    void SetClipboardText(const std::string&) override {}
    void OpenUrl(const std::string&) override {}
    void ClearList() override {}
    void AppendResultRow(CObject*, int) override {}
    void OpenProgress(int) override {}
    void SetProgressPos(int) override {}
    void CloseProgress() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    [[nodiscard]] bool PumpWaitingMessages() override;

    // Messages shown since the last ForgetMessages, in order: a command that
    // made the document show one reports a failure.
    const std::vector<std::string>& GetMessages() const { return m_messages; }
    void ForgetMessages() { m_messages.clear(); }
    // Messages that only say "nothing found" are not failures.
    bool HasFailureMessage() const;

private:
    std::vector<std::string> m_messages;
};
