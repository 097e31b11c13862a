#pragma once
// The rows of the file list: one small record per row over the document's
// listings, never a copy of the catalogue. A row points at its entry and
// keeps what may change under it: the file's size when the row was made (the
// update worker refreshes sizes under its lock) and whether it was unread.
// Names are read from the entry when a row is painted; they never change
// once an entry exists.
//
// Folder rows come first, then file rows. Result rows arrive one at a time
// during a walk; they wait in a queue and are inserted in batches on a short
// timer, folders after the folder rows and files at the end, so a million
// results do not mean a million insertions.
//
// A change listing ("显示更改") adds rows of entries that are no longer in
// the cache: they keep their own copy of the name and old size, point at no
// entry (so nothing opens or copies them) and are painted struck through.
//
// Sorting by a column reorders the rows here (the listing's order is kept
// beside them for the way back). Up to SYNC_SORT_ROWS rows sort at once;
// more sort on a worker thread over a copy of the rows and take their places
// in one layout change, so a million rows never stall the window. A newer
// request (or new rows) supersedes a sort still running.
//
// GUI thread only, but for that worker. Every row's entry stays allocated
// until RemoveCovered has dropped it: the window calls it before the update
// engine's removed entries are freed, and every change that drops rows first
// stops a running sort (it reads the entries' names).

#include <QAbstractTableModel>
#include <QBrush>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "model/ModTime.h"
#include "ui/FileIconCache.h"

class CObject;
class CFTPDir;
class CFTPFile;
class CSubtreeSet;
struct CChangeRow;

class CFileListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        COLUMN_NAME,
        COLUMN_SIZE,
        COLUMN_ADDRESS,
        COLUMN_MODIFIED,
        COLUMN_COUNT,
    };
    static constexpr int FLUSH_MS = 25;
    // Rows are inserted this many at a time, for about FLUSH_SLICE_MS at
    // one turn of the event loop.
    static constexpr size_t FLUSH_LIMIT = 2048;
    static constexpr int FLUSH_SLICE_MS = 6;
    static constexpr int WELCOME_LINE_COUNT = 4;

    struct CRow
    {
        CObject* m_pEntry = nullptr; // CFTPDir or CFTPFile; null: a welcome line or gone
        // A file's size; a welcome line's number; a gone row's index in m_gone.
        uint64_t m_nSize : 61 = 0;
        uint64_t m_bFolder : 1 = 0;
        uint64_t m_bUnread : 1 = 0;
        uint64_t m_bGone : 1 = 0;
    };

    // Most rows sorted on the GUI thread.
    static constexpr size_t SYNC_SORT_ROWS = 20000;

    explicit CFileListModel(QObject* pParent = nullptr);
    ~CFileListModel() override;

    // The four welcome lines.
    void ShowWelcome();
    // The rows of a listing: its folders, then its files.
    void ShowListing(const std::vector<CFTPDir*>& dirs, const std::vector<CFTPFile*>& files);
    void ShowListing(const std::deque<CFTPDir*>& dirs, const std::deque<CFTPFile*>& files);
    // The rows of a change listing, in its order (folders first): entries
    // still cached as normal rows, the rest as gone rows. "first" lines
    // make no row.
    void ShowChanges(const std::vector<CChangeRow>& changes);
    // No rows.
    void Clear();
    // A result row, shown at the next flush. Call it where the entry's size
    // may be read (under its site's tree lock, or on a tree nobody updates).
    void Append(CFTPDir* pDir);
    void Append(CFTPFile* pFile);
    // Inserts all the waiting result rows now.
    void FlushPending();
    size_t PendingCount() const { return m_pending.size(); }

    // Drops every row, waiting ones too, whose entry is covered by the set
    // or is pEntry itself; returns how many rows were shown.
    int RemoveCovered(const CSubtreeSet& removed);
    int RemoveEntry(const CObject* pEntry);
    // File rows (and folder rows too with bFolders) take their highlight
    // from their entry's unread mark again.
    void RefreshFileHighlights(bool bFolders = false);
    // Names and addresses are read again (a site's character set changed).
    void RefreshNames();

    void SetHighlight(const QBrush& background, const QBrush& text);

    // Rows by a column (a Column; -1: the listing's own order), folders first
    // in either direction: names A-Z without case then by bytes, sizes as
    // numbers, addresses as text, times as times (rows without one last in
    // either direction), ties by name. Kept for later listings.
    void Sort(int nColumn, Qt::SortOrder order);
    int SortColumn() const { return m_nSortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }
    // A sort runs on the worker; SortFinished follows when its rows are in place.
    bool IsSorting() const { return m_worker.joinable(); }

signals:
    void SortFinished();

public:
    int FolderRowCount() const { return m_nFolderRows; }
    const CRow& Row(int nRow) const { return m_rows[size_t(nRow)]; }
    CObject* EntryAt(int nRow) const;
    // Some row stands for a cached entry (what an export would write).
    bool HasEntries() const;
    // The size the row shows, for sorting.
    uint64_t SizeAt(int nRow) const;
    // The entry's modification time (none for a welcome or gone row).
    CModTime TimeAt(int nRow) const;
    // The entry's name (bytes; a gone row's text) and node address; empty
    // for a welcome line (and the address of a gone row: nothing copies it).
    const std::string& NameAt(int nRow) const;
    std::string AddressAt(int nRow) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation,
                        int nRole = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    static CRow FolderRow(CFTPDir* pDir);
    static CRow FileRow(CFTPFile* pFile, uint64_t nSize);
    // What a change listing row says beyond its entry.
    struct CChangeNote
    {
        int nKind = 0; // ChangeKind
        bool bFolder = false;
        uint64_t nSize = 0;
        uint64_t nOldSize = 0;
        uint64_t nFolders = 0; // a removed folder's contents
        uint64_t nFiles = 0;
        uint64_t nBytes = 0;
        std::string strName; // gone rows: the name (text) and address
        std::string strAddress;
        std::string strOldMtime; // modified: the time before (ISO 8601)
    };

    void Replace(std::deque<CRow> rows, int nFolderRows, std::vector<CChangeNote> gone = {},
                 std::unordered_map<const CObject*, CChangeNote> notes = {});
    void DropPending();
    void OnFlushTimer();
    void InsertBatch(size_t nMost);
    template <class Covered> int RemoveRows(Covered covered);
    QVariant Display(const CRow& row, int nColumn) const;

    // What a row sorts by.
    struct CSortKey
    {
        bool bFolder = false;
        const std::string* pName = nullptr;
        uint64_t nSize = 0;
        std::string strAddress;
        CModTime time; // the date column only
    };
    template <class Dirs, class Files> void ShowListingOf(const Dirs& dirs, const Files& files);
    static CSortKey KeyOf(const CRow& row, int nColumn, const std::vector<CChangeNote>& gone);
    static int Compare(const CSortKey& a, const CSortKey& b, int nColumn, Qt::SortOrder order);
    // The listing's row indexes in sorted order; throws CSortStopped when
    // *pStop turns true.
    static std::vector<uint32_t> SortedOrder(const std::deque<CRow>& rows,
                                             const std::vector<CChangeNote>& gone, int nColumn,
                                             Qt::SortOrder order, const std::atomic<bool>* pStop);
    // The rows become the listing's in this order; selected rows stay selected.
    void ApplyOrder(const std::vector<uint32_t>& order);
    void StartSort();
    void StopSort();
    void OnSortDone(uint64_t nJob, std::vector<uint32_t> order);
    // Every change of the rows' set.
    void RowsChanged() { ++m_nGeneration; }
    QVariant ToolTip(const CRow& row) const;
    QVariant TimeTip(const CRow& row) const;

    // In blocks: a million rows grow without copying them all at once.
    std::deque<CRow> m_rows;
    int m_nFolderRows = 0;
    std::deque<CRow> m_pending; // in arrival order
    QTimer m_flushTimer;
    // Gone rows' notes, by m_nSize; the notes of cached rows of a change
    // listing, by entry. Both are rebuilt with the rows.
    std::vector<CChangeNote> m_gone;
    std::unordered_map<const CObject*, CChangeNote> m_changeNotes;
    QBrush m_highlight;
    QBrush m_highlightText;
    mutable CFileIconCache m_icons;

    int m_nSortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    // While sorted: the rows in the listing's order.
    std::deque<CRow> m_listing;
    uint64_t m_nGeneration = 0;
    // The running sort: its number, the generation it sorts, its stop flag.
    uint64_t m_nJob = 0;
    uint64_t m_nJobGeneration = 0;
    std::shared_ptr<std::atomic<bool>> m_pStop;
    std::thread m_worker;
};
