#pragma once
// What the document needs of the screen. The document layer has no widgets:
// the main window implements this interface, tests implement it with a
// recording fake, a command-line host with plain text.
//
// Every call comes from the GUI thread. The document may call ClearList and
// AppendResultRow while it holds a site's tree lock (shared), so those two
// must neither pump events nor wait for an update worker; only
// PumpWaitingMessages may dispatch other work.

#include <string>

#include "update/UpdateObserver.h"

class CFTPFile;
class CFTPSite;

// Caption of every message box the program shows.
inline constexpr const char* TARN_CAPTION = "Tarn";

class IDocHost
{
public:
    virtual ~IDocHost() = default;

    // A modal message box with the text, captioned TARN_CAPTION.
    virtual void ShowMessage(const std::string& strText) = 0;

    // Plain text onto the clipboard.
    virtual void SetClipboardText(const std::string& strText) = 0;
    // The system's handler for the URL ("open"); the result is not examined.
    virtual void OpenUrl(const std::string& strUrl) = 0;
    // "Open" of a cached file; a host that can download it first overrides
    // this (the window does, as web browsers no longer open ftp://).
    virtual void OpenCachedFile(const std::string& strUrl, CFTPSite& /*site*/,
                                const CFTPFile& /*file*/)
    {
        OpenUrl(strUrl);
    }

    // The file list's result protocol: ClearList, then AppendResultRow with
    // a null entry while both result lists are empty (result mode, nothing
    // shown yet), then once per entry appended to either result list, with
    // that entry and its kind (IUpdateObserver::entryFile or entryFolder).
    // Folder rows go before file rows; the list needs no other state.
    virtual void ClearList() = 0;
    virtual void AppendResultRow(CObject* pEntry, int nType) = 0;

    // The modeless search progress dialog: range 0 .. nTotal, position =
    // sites begun. Its Stop button makes PumpWaitingMessages return false.
    virtual void OpenProgress(int nTotal) = 0;
    virtual void SetProgressPos(int nPos) = 0;
    virtual void CloseProgress() = 0;

    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // Dispatches what is waiting in the event queue. Returns false when a
    // stop or a quit was requested (the walk in progress ends).
    [[nodiscard]] virtual bool PumpWaitingMessages() = 0;
};
