#pragma once
// The toolbar's search box: the query language as the user types. Each
// pause in typing starts a search of every cached tree (or, with
// "仅搜索当前文件夹", of the selected folder's subtree) on a thread of its
// own; its matches reach the file list as result rows in batches, through
// the document's result lists, while the window goes on. A new keystroke
// cancels the search still running; Esc clears the box and shows the folder
// again. The last queries are offered in the drop-down and kept across runs.
// The sites' name indexes are built off this thread too (CIndexBuilder).
//
// Threads: the widget on the GUI thread; each search on its own std::thread,
// which only reads the trees (shared tree locks, in slices) and queues its
// matches here. Matches wait in that queue until the GUI thread takes them:
// the window drops those of removed entries (ForgetEntries) before the
// entries are freed, and waits for the searches (ForgetSite, Shutdown)
// before a site or the document goes.

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "search/NameSearch.h"

class CFTPDir;
class CFTPFile;
class CFTPSite;
class CIndexBuilder;
class CSubtreeSet;
class CTarnDoc;
class CTarnView;
class QComboBox;
class QToolButton;

class CSearchBox : public QWidget
{
    Q_OBJECT

public:
    // Queries kept in the drop-down.
    static constexpr int HISTORY_SIZE = 20;
    // Typing pauses this long before a search starts.
    static constexpr int TYPING_PAUSE_MS = 120;

    // pShortcutScope: the window whose Ctrl+F focuses the box.
    CSearchBox(CTarnDoc& doc, CTarnView& view, QWidget* pShortcutScope, QWidget* pParent = nullptr);
    ~CSearchBox() override;

    // The folder "仅搜索当前文件夹" narrows to (the tree's selection), and
    // whether a search may start now (no walk of the document runs).
    void SetSelectedFolder(std::function<CFTPDir*()> fn) { m_fnSelectedFolder = std::move(fn); }
    void SetCanSearch(std::function<bool()> fn) { m_fnCanSearch = std::move(fn); }

    QComboBox* Combo() const { return m_pCombo; }
    QToolButton* ScopeButton() const { return m_pScope; }
    void FocusBox();

    // The running search's matches stop reaching the list (the list shows
    // something else now).
    void Cancel();
    // Before removed entries are freed: waiting matches inside them go.
    void ForgetEntries(const CSubtreeSet& removed);
    // Before a site is deleted: no search or build uses it afterwards.
    void ForgetSite(CFTPSite* pSite);
    // A site's update ended (or it was loaded): its index is built anew
    // when the tree changed.
    void OnSiteUpdated(CFTPSite* pSite);
    // Ends every search and build (before the document goes).
    void Shutdown();
    // No search running and no match waiting.
    bool IsIdle() const;

signals:
    // Text for the status bar: progress, the result, or why the query
    // cannot be read.
    void StatusText(const QString& strText);

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;

private:
    struct CRunning
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pStop;
        std::shared_ptr<std::atomic<bool>> pFinished; // nothing more comes from it
    };
    class CSink;

    void OnTextEdited();
    void StartSearch();
    void Clear();
    void Drain();
    void OnSearchDone(uint64_t nGeneration, uint64_t nFound, qint64 nMs);
    void JoinFinished();
    void StopAll(bool bWait);
    void RememberQuery();
    void LoadHistory();
    void SaveHistory() const;

    CTarnDoc& m_doc;
    CTarnView& m_view;
    QComboBox* m_pCombo;
    QToolButton* m_pScope;
    QTimer m_typingTimer;
    std::function<CFTPDir*()> m_fnSelectedFolder;
    std::function<bool()> m_fnCanSearch;
    std::unique_ptr<CIndexBuilder> m_pBuilder;
    std::vector<CRunning> m_running;
    uint64_t m_nGeneration = 0;
    bool m_bShowing = false; // the list shows this box's results

    // Matches waiting for the GUI thread, of search m_nQueueGeneration.
    mutable std::mutex m_queueLock;
    std::deque<CSearchHit> m_queue;
    uint64_t m_nQueueGeneration = 0;
    bool m_bDrainAsked = false;
};
