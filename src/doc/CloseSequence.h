#pragma once
// Closing Tarn: the one sequence that the window (when its main window
// closes) and tarn-cli (at the end of every run) both go through, so that no
// update thread outlives the document and no changed read mark is lost.
//
//   1. The document's running walk (search, unread listing, marking) is
//      asked to end at its next pump (CTarnDoc::RequestStop).
//   2. The update engine is stopped and every open session is cut, so that
//      blocked network calls fail at once (AbortForClose).
//   3. Until the engine is idle, onWait is called again and again. Workers
//      still post notices (a site's status, removed entries) and may wait
//      for one to be handled, so onWait must handle them: the window runs
//      its event loop with the closing dialog shown, tarn-cli handles its
//      observer's queue.
//   4. The engine's threads are joined (ShutdownEngine), then onWait is
//      called once more, with no time to wait, for the notices posted last.
//   5. The changed unread marks are written (CTarnDoc::OnCloseDocument); a
//      failure is shown through the document's host.
//
// Thread: the GUI thread (tarn-cli's main thread), outside the document's
// walks: a window that is asked to close during a walk closes after it.

#include <chrono>
#include <functional>

class CTarnDoc;

// Handles what is waiting, waiting up to the given time for something to
// arrive (zero: do not wait).
using CloseWaitFn = std::function<void(std::chrono::milliseconds)>;

// How long one onWait call of step 3 may wait.
inline constexpr std::chrono::milliseconds CLOSE_WAIT_STEP{50};

void RunCloseSequence(CTarnDoc& doc, const CloseWaitFn& onWait);
