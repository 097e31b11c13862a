#pragma once
// What the document needs of the screen, done by the window: message boxes
// over the main window, the clipboard, the desktop's handler for ftp://
// addresses, the file list's result rows, the search progress dialog, the
// wait cursor, and pumping the event loop during long walks.
//
// GUI thread only. ClearList and AppendResultRow may be called with a tree
// lock held: they only hand rows to the file list, which shows them later.

#include <functional>
#include <memory>

#include "doc/DocHost.h"

class CSearchDialog;
class CTarnView;
class QWidget;

class CWindowDocHost : public IDocHost
{
public:
    explicit CWindowDocHost(QWidget* pWindow);
    ~CWindowDocHost() override;

    void SetFileView(CTarnView* pView) { m_pFileView = pView; }

    void ShowMessage(const std::string& strText) override;
    void SetClipboardText(const std::string& strText) override;
    void OpenUrl(const std::string& strUrl) override;
    void OpenCachedFile(const std::string& strUrl, CFTPSite& site, const CFTPFile& file) override;
    // Where "打开" of a cached file goes (the window's downloads).
    void SetFileOpener(std::function<void(const std::string&, CFTPSite&, const CFTPFile&)> fn)
    {
        m_openFile = std::move(fn);
    }
    void ClearList() override;
    void AppendResultRow(CObject* pEntry, int nType) override;
    void OpenProgress(int nTotal) override;
    void SetProgressPos(int nPos) override;
    void CloseProgress() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    [[nodiscard]] bool PumpWaitingMessages() override;

    // Forgets a stop request that no walk has seen (before a new walk).
    void ResetStop() { m_bStopRequested = false; }
    // The search dialog while a walk shows one.
    CSearchDialog* GetProgressDialog() const { return m_pProgress.get(); }

private:
    QWidget* m_pWindow;
    CTarnView* m_pFileView = nullptr;
    std::unique_ptr<CSearchDialog> m_pProgress;
    bool m_bStopRequested = false;
    std::function<void(const std::string&, CFTPSite&, const CFTPFile&)> m_openFile;
};
