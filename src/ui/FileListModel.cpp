#include "ui/FileListModel.h"

#include <QFont>
#include <algorithm>
#include <chrono>
#include <numeric>

#include "doc/Ancestry.h"
#include "doc/ChangeListing.h"
#include "doc/FolderSnapshot.h"
#include "doc/FormatSize.h"
#include "model/FTPEntry.h"
#include "ui/DisplayText.h"

namespace
{
// What the list says.
const char* const TEXT_COLUMNS[CFileListModel::COLUMN_COUNT] = {"文件", "大小", "地址",
                                                                 "修改日期"};
const char* const TEXT_WELCOME[CFileListModel::WELCOME_LINE_COUNT] = {
    "欢迎使用Tarn!",
    "点击增加可以添加站点",
    "点击更新可以更新站点",
    "选择左边站点可以查看站点内容",
};
const char* const TEXT_FOLDER_SIZE = "0";
const char* const TEXT_ADDED = "新增";
const char* const TEXT_RESIZED = "大小已变，原大小：";
const char* const TEXT_MODIFIED = "修改日期已变，原日期：";
const char* const TEXT_MODIFIED_AT = "修改日期：";
const char* const TEXT_REMOVED = "已删除，原大小：";
const char* const TEXT_REMOVED_FOLDER = "已删除的文件夹，内有 %1 个文件夹、%2 个文件，共 %3";
const char* const TEXT_NOT_CACHED = "已不在缓存中";

constexpr uint64_t MAX_ROW_SIZE = (uint64_t{1} << 61) - 1;

// More separate runs of removed rows than this are dropped by one reset.
constexpr int MAX_REMOVAL_RUNS = 32;

CFTPDir* AsDir(const CFileListModel::CRow& row)
{
    return static_cast<CFTPDir*>(row.m_pEntry);
}

CFTPFile* AsFile(const CFileListModel::CRow& row)
{
    return static_cast<CFTPFile*>(row.m_pEntry);
}

// Case-insensitive for A-Z only, then byte order: names are bytes, and a
// comparison must not decode two names for every step of a sort.
int CompareNames(const std::string& a, const std::string& b)
{
    size_t nCommon = std::min(a.size(), b.size());
    for (size_t i = 0; i < nCommon; ++i)
    {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        int nDiff =
            lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
        if (nDiff != 0)
            return nDiff;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// Thrown out of a sort that was superseded.
struct CSortStopped
{
};

// How often a sort looks at its stop flag, in comparisons or keys.
constexpr size_t STOP_CHECK_MASK = 4095;

// A row as the layout change finds it again: its entry, or the number a
// welcome line or a gone row keeps.
uint64_t RowIdentity(const CFileListModel::CRow& row)
{
    return row.m_pEntry != nullptr ? uint64_t(reinterpret_cast<uintptr_t>(row.m_pEntry))
                                   : uint64_t(row.m_nSize);
}
} // namespace

static_assert(sizeof(CFileListModel::CRow) == 16, "a row stays two words");

CFileListModel::CFileListModel(QObject* pParent) : QAbstractTableModel(pParent)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &CFileListModel::OnFlushTimer);
}

CFileListModel::~CFileListModel()
{
    StopSort();
}

CFileListModel::CRow CFileListModel::FolderRow(CFTPDir* pDir)
{
    CRow row;
    row.m_pEntry = pDir;
    row.m_bFolder = 1;
    row.m_bUnread = pDir->m_nState != 0;
    return row;
}

CFileListModel::CRow CFileListModel::FileRow(CFTPFile* pFile, uint64_t nSize)
{
    CRow row;
    row.m_pEntry = pFile;
    row.m_nSize = std::min(nSize, MAX_ROW_SIZE);
    row.m_bUnread = pFile->m_nState != 0;
    return row;
}

void CFileListModel::Replace(std::deque<CRow> rows, int nFolderRows, std::vector<CChangeNote> gone,
                             std::unordered_map<const CObject*, CChangeNote> notes)
{
    DropPending();
    StopSort();
    RowsChanged();
    bool bSorted = m_nSortColumn >= 0;
    bool bSortLater = bSorted && rows.size() > SYNC_SORT_ROWS;
    std::vector<uint32_t> order;
    if (bSorted && !bSortLater)
        order = SortedOrder(rows, gone, m_nSortColumn, m_sortOrder, nullptr);
    beginResetModel();
    if (bSorted)
    {
        m_listing = std::move(rows);
        if (bSortLater)
            m_rows = m_listing;
        else
        {
            m_rows.clear();
            for (uint32_t n : order)
                m_rows.push_back(m_listing[n]);
        }
    }
    else
        m_rows = std::move(rows);
    m_nFolderRows = nFolderRows;
    m_gone = std::move(gone);
    m_changeNotes = std::move(notes);
    endResetModel();
    if (bSortLater)
        StartSort();
}

void CFileListModel::DropPending()
{
    m_flushTimer.stop();
    m_pending.clear();
}

void CFileListModel::ShowWelcome()
{
    std::deque<CRow> rows(WELCOME_LINE_COUNT);
    for (int i = 0; i < WELCOME_LINE_COUNT; ++i)
    {
        rows[size_t(i)].m_nSize = uint64_t(i);
        rows[size_t(i)].m_bFolder = 1; // the folder picture
    }
    Replace(std::move(rows), 0);
}

void CFileListModel::ShowListing(const std::vector<CFTPDir*>& dirs,
                                 const std::vector<CFTPFile*>& files)
{
    ShowListingOf(dirs, files);
}

void CFileListModel::ShowListing(const std::deque<CFTPDir*>& dirs,
                                 const std::deque<CFTPFile*>& files)
{
    ShowListingOf(dirs, files);
}

template <class Dirs, class Files>
void CFileListModel::ShowListingOf(const Dirs& dirs, const Files& files)
{
    std::vector<uint64_t> sizes = ReadFileSizes(files);
    std::deque<CRow> rows;
    for (CFTPDir* pDir : dirs)
        rows.push_back(FolderRow(pDir));
    for (size_t i = 0; i < files.size(); ++i)
        rows.push_back(FileRow(files[i], sizes[i]));
    Replace(std::move(rows), int(dirs.size()));
}

void CFileListModel::ShowChanges(const std::vector<CChangeRow>& changes)
{
    std::vector<CFTPFile*> files;
    for (const CChangeRow& change : changes)
        if (change.pFile != nullptr)
            files.push_back(change.pFile);
    std::vector<uint64_t> sizes = ReadFileSizes(files);

    std::deque<CRow> folderRows;
    std::deque<CRow> fileRows;
    std::vector<CChangeNote> gone;
    std::unordered_map<const CObject*, CChangeNote> notes;
    size_t nFile = 0;
    for (const CChangeRow& change : changes)
    {
        const CChangeRecord& record = change.record;
        if (record.nKind == ChangeKind::first)
            continue;
        CChangeNote note;
        note.nKind = int(record.nKind);
        note.bFolder = record.bFolder;
        note.nSize = record.nSize;
        note.nOldSize = record.nOldSize;
        note.nFolders = record.nFolders;
        note.nFiles = record.nFiles;
        note.nBytes = record.nBytes;
        note.strOldMtime = record.strOldMtime;
        CRow row;
        if (change.pDir != nullptr)
        {
            row = FolderRow(change.pDir);
            notes[change.pDir] = std::move(note);
        }
        else if (change.pFile != nullptr)
        {
            row = FileRow(change.pFile, sizes[nFile++]);
            notes[change.pFile] = std::move(note);
        }
        else
        {
            size_t nSlash = record.strPath.rfind('/');
            note.strName =
                nSlash == std::string::npos ? record.strPath : record.strPath.substr(nSlash + 1);
            note.strAddress = change.strAddress;
            row.m_bGone = 1;
            row.m_bFolder = record.bFolder ? 1 : 0;
            row.m_nSize = gone.size();
            gone.push_back(std::move(note));
        }
        (row.m_bFolder ? folderRows : fileRows).push_back(row);
    }
    int nFolderRows = int(folderRows.size());
    folderRows.insert(folderRows.end(), fileRows.begin(), fileRows.end());
    Replace(std::move(folderRows), nFolderRows, std::move(gone), std::move(notes));
}

void CFileListModel::Clear()
{
    Replace({}, 0);
}

void CFileListModel::Append(CFTPDir* pDir)
{
    m_pending.push_back(FolderRow(pDir));
    if (!m_flushTimer.isActive())
        m_flushTimer.start(FLUSH_MS);
}

void CFileListModel::Append(CFTPFile* pFile)
{
    m_pending.push_back(FileRow(pFile, pFile->m_nSize));
    if (!m_flushTimer.isActive())
        m_flushTimer.start(FLUSH_MS);
}

void CFileListModel::FlushPending()
{
    m_flushTimer.stop();
    while (!m_pending.empty())
        InsertBatch(m_pending.size());
}

void CFileListModel::OnFlushTimer()
{
    // Batches for a short while: the rest follows at the next turn of the
    // event loop, so a walk that finds rows faster than the list takes them
    // never stalls it, however slow a batch is on a busy machine.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FLUSH_SLICE_MS);
    do
        InsertBatch(FLUSH_LIMIT);
    while (!m_pending.empty() && std::chrono::steady_clock::now() < deadline);
    if (!m_pending.empty())
        m_flushTimer.start(0);
}

void CFileListModel::InsertBatch(size_t nMost)
{
    size_t nTake = std::min(m_pending.size(), nMost);
    std::vector<CRow> dirs;
    std::vector<CRow> files;
    for (size_t i = 0; i < nTake; ++i)
        (m_pending[i].m_bFolder ? dirs : files).push_back(m_pending[i]);
    m_pending.erase(m_pending.begin(), m_pending.begin() + ptrdiff_t(nTake));
    if (nTake == 0)
        return;
    RowsChanged();

    if (m_nSortColumn >= 0)
    {
        m_listing.insert(m_listing.begin() + m_nFolderRows, dirs.begin(), dirs.end());
        m_listing.insert(m_listing.end(), files.begin(), files.end());
        if (m_rows.size() + nTake <= SYNC_SORT_ROWS)
        {
            // Each row into its sorted place: a short list stays sorted as
            // results arrive, and what is selected stays selected.
            for (const std::vector<CRow>* pRows : {&dirs, &files})
                for (const CRow& row : *pRows)
                {
                    CSortKey key = KeyOf(row, m_nSortColumn, m_gone);
                    auto place =
                        std::upper_bound(m_rows.begin(), m_rows.end(), key,
                                         [this](const CSortKey& k, const CRow& other) {
                                             return Compare(k, KeyOf(other, m_nSortColumn, m_gone),
                                                            m_nSortColumn, m_sortOrder) < 0;
                                         });
                    int nAt = int(place - m_rows.begin());
                    beginInsertRows(QModelIndex(), nAt, nAt);
                    m_rows.insert(place, row);
                    m_nFolderRows += row.m_bFolder ? 1 : 0;
                    endInsertRows();
                }
            return;
        }
        // A long list takes them where an unsorted one would, until the
        // worker has sorted it again.
        if (!IsSorting())
            StartSort();
    }

    if (!dirs.empty())
    {
        int nFirst = m_nFolderRows;
        beginInsertRows(QModelIndex(), nFirst, nFirst + int(dirs.size()) - 1);
        m_rows.insert(m_rows.begin() + nFirst, dirs.begin(), dirs.end());
        m_nFolderRows += int(dirs.size());
        endInsertRows();
    }
    if (!files.empty())
    {
        int nFirst = int(m_rows.size());
        beginInsertRows(QModelIndex(), nFirst, nFirst + int(files.size()) - 1);
        m_rows.insert(m_rows.end(), files.begin(), files.end());
        endInsertRows();
    }
}

template <class Covered> int CFileListModel::RemoveRows(Covered covered)
{
    std::erase_if(m_pending, covered);
    // The worker reads the entries about to be freed: it starts again over
    // the rows that remain.
    bool bResort = IsSorting();
    StopSort();
    struct CResort
    {
        CFileListModel* pModel;
        bool bResort;
        ~CResort()
        {
            if (bResort)
                pModel->StartSort();
        }
    } resort{this, bResort};
    if (m_nSortColumn >= 0)
        std::erase_if(m_listing, covered);

    // Runs of rows to drop, as [first, last].
    std::vector<std::pair<int, int>> runs;
    for (int i = 0; i < int(m_rows.size()); ++i)
    {
        if (!covered(m_rows[size_t(i)]))
            continue;
        if (!runs.empty() && runs.back().second == i - 1)
            runs.back().second = i;
        else
            runs.emplace_back(i, i);
    }
    int nRemoved = 0;
    for (const auto& run : runs)
        nRemoved += run.second - run.first + 1;
    if (runs.empty())
        return 0;
    RowsChanged();

    auto countFolders = [this]
    {
        return int(std::count_if(m_rows.begin(), m_rows.end(),
                                 [](const CRow& row)
                                 { return row.m_bFolder && (row.m_pEntry || row.m_bGone); }));
    };
    if (runs.size() > size_t(MAX_REMOVAL_RUNS))
    {
        beginResetModel();
        std::erase_if(m_rows, covered);
        m_nFolderRows = countFolders();
        endResetModel();
        return nRemoved;
    }
    for (auto it = runs.rbegin(); it != runs.rend(); ++it)
    {
        beginRemoveRows(QModelIndex(), it->first, it->second);
        m_rows.erase(m_rows.begin() + it->first, m_rows.begin() + it->second + 1);
        if (it->first < m_nFolderRows)
            m_nFolderRows -= std::min(m_nFolderRows, it->second + 1) - it->first;
        endRemoveRows();
    }
    return nRemoved;
}

int CFileListModel::RemoveCovered(const CSubtreeSet& removed)
{
    if (removed.IsEmpty())
        return 0;
    return RemoveRows(
        [&removed](const CRow& row)
        {
            if (row.m_pEntry == nullptr)
                return false;
            return row.m_bFolder ? removed.Covers(AsDir(row)) : removed.Covers(AsFile(row));
        });
}

int CFileListModel::RemoveEntry(const CObject* pEntry)
{
    if (pEntry == nullptr)
        return 0;
    return RemoveRows([pEntry](const CRow& row) { return row.m_pEntry == pEntry; });
}

void CFileListModel::RefreshFileHighlights(bool bFolders)
{
    FlushPending();
    int nFirst = -1;
    int nLast = -1;
    for (int i = bFolders ? 0 : m_nFolderRows; i < int(m_rows.size()); ++i)
    {
        CRow& row = m_rows[size_t(i)];
        if (row.m_pEntry == nullptr || (row.m_bFolder && !bFolders))
            continue;
        uint64_t bUnread = (row.m_bFolder ? AsDir(row)->m_nState : AsFile(row)->m_nState) != 0;
        if (row.m_bUnread == bUnread)
            continue;
        row.m_bUnread = bUnread;
        nFirst = nFirst < 0 ? i : nFirst;
        nLast = i;
    }
    // The listing's copies too: they come back when the sort changes.
    for (CRow& row : m_listing)
        if (row.m_pEntry != nullptr && (!row.m_bFolder || bFolders))
            row.m_bUnread = (row.m_bFolder ? AsDir(row)->m_nState : AsFile(row)->m_nState) != 0;
    if (nFirst >= 0)
        emit dataChanged(index(nFirst, 0), index(nLast, COLUMN_COUNT - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole, Qt::FontRole});
}

void CFileListModel::RefreshNames()
{
    if (m_rows.empty())
        return;
    // Two ranges, so a list sorted by size is not sorted again.
    int nLast = int(m_rows.size()) - 1;
    for (int nColumn : {int(COLUMN_NAME), int(COLUMN_ADDRESS)})
        emit dataChanged(index(0, nColumn), index(nLast, nColumn), {Qt::DisplayRole});
}

void CFileListModel::SetHighlight(const QBrush& background, const QBrush& text)
{
    m_highlight = background;
    m_highlightText = text;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, COLUMN_COUNT - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole, Qt::FontRole});
}

CFileListModel::CSortKey CFileListModel::KeyOf(const CRow& row, int nColumn,
                                               const std::vector<CChangeNote>& gone)
{
    static const std::string s_strNone;
    CSortKey key;
    key.bFolder = row.m_bFolder;
    key.nSize = row.m_nSize;
    key.pName = &s_strNone;
    if (row.m_bGone)
    {
        const CChangeNote& note = gone[row.m_nSize];
        key.pName = &note.strName;
        key.nSize = note.bFolder ? 0 : note.nOldSize;
    }
    else if (row.m_pEntry != nullptr)
    {
        key.pName = row.m_bFolder ? &AsDir(row)->m_strName : &AsFile(row)->m_strName;
        if (nColumn == COLUMN_ADDRESS)
            key.strAddress = row.m_bFolder ? AsDir(row)->GetAddress() : AsFile(row)->GetAddress();
        else if (nColumn == COLUMN_MODIFIED)
            key.time = row.m_bFolder ? AsDir(row)->m_time.Get() : AsFile(row)->m_time.Get();
    }
    return key;
}

int CFileListModel::Compare(const CSortKey& a, const CSortKey& b, int nColumn, Qt::SortOrder order)
{
    // Folders lead in either direction.
    if (a.bFolder != b.bFolder)
        return a.bFolder ? -1 : 1;
    // Rows without a time trail in either direction, as folders lead.
    if (nColumn == COLUMN_MODIFIED && a.time.IsKnown() != b.time.IsKnown())
        return a.time.IsKnown() ? -1 : 1;
    int nOrder = 0;
    if (nColumn == COLUMN_SIZE)
        nOrder = a.nSize < b.nSize ? -1 : (a.nSize > b.nSize ? 1 : 0);
    else if (nColumn == COLUMN_ADDRESS)
        nOrder = a.strAddress.compare(b.strAddress);
    else if (nColumn == COLUMN_MODIFIED)
        nOrder = CompareModTimes(a.time, b.time);
    if (nOrder == 0)
        nOrder = CompareNames(*a.pName, *b.pName);
    nOrder = nOrder < 0 ? -1 : (nOrder > 0 ? 1 : 0);
    return order == Qt::DescendingOrder ? -nOrder : nOrder;
}

std::vector<uint32_t> CFileListModel::SortedOrder(const std::deque<CRow>& rows,
                                                  const std::vector<CChangeNote>& gone, int nColumn,
                                                  Qt::SortOrder order,
                                                  const std::atomic<bool>* pStop)
{
    auto stopped = [pStop](size_t n)
    { return pStop != nullptr && (n & STOP_CHECK_MASK) == 0 && pStop->load(); };
    std::vector<CSortKey> keys;
    keys.reserve(rows.size());
    for (const CRow& row : rows)
    {
        if (stopped(keys.size()))
            throw CSortStopped();
        keys.push_back(KeyOf(row, nColumn, gone));
    }
    std::vector<uint32_t> sorted(rows.size());
    std::iota(sorted.begin(), sorted.end(), 0u);
    size_t nCompared = 0;
    // Stable: equal rows keep the listing's order.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](uint32_t a, uint32_t b)
                     {
                         if (stopped(++nCompared))
                             throw CSortStopped();
                         return Compare(keys[a], keys[b], nColumn, order) < 0;
                     });
    return sorted;
}

void CFileListModel::Sort(int nColumn, Qt::SortOrder order)
{
    FlushPending();
    StopSort();
    if (nColumn < 0 || nColumn >= COLUMN_COUNT)
    {
        if (m_nSortColumn < 0)
            return;
        m_nSortColumn = -1;
        std::vector<uint32_t> listing(m_listing.size());
        std::iota(listing.begin(), listing.end(), 0u);
        ApplyOrder(listing);
        m_listing.clear();
        return;
    }
    if (m_nSortColumn < 0)
        m_listing = m_rows;
    m_nSortColumn = nColumn;
    m_sortOrder = order;
    if (m_listing.size() <= SYNC_SORT_ROWS)
        ApplyOrder(SortedOrder(m_listing, m_gone, nColumn, order, nullptr));
    else
        StartSort();
}

void CFileListModel::ApplyOrder(const std::vector<uint32_t>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Asked after the signal: the views hold their rows from then on.
    const QModelIndexList persistent = persistentIndexList();
    std::deque<CRow> rows;
    for (uint32_t n : order)
        rows.push_back(m_listing[n]);
    if (!persistent.empty())
    {
        std::unordered_map<uint64_t, int> moved;
        for (const QModelIndex& index : persistent)
            moved.emplace(RowIdentity(m_rows[size_t(index.row())]), -1);
        size_t nLeft = moved.size();
        for (size_t i = 0; i < rows.size() && nLeft > 0; ++i)
            if (auto found = moved.find(RowIdentity(rows[i]));
                found != moved.end() && found->second < 0)
            {
                found->second = int(i);
                --nLeft;
            }
        for (const QModelIndex& index : persistent)
        {
            int nRow = moved[RowIdentity(m_rows[size_t(index.row())])];
            changePersistentIndex(index,
                                  nRow < 0 ? QModelIndex() : createIndex(nRow, index.column()));
        }
    }
    m_rows = std::move(rows);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CFileListModel::StartSort()
{
    StopSort();
    auto pStop = std::make_shared<std::atomic<bool>>(false);
    m_pStop = pStop;
    uint64_t nJob = ++m_nJob;
    m_nJobGeneration = m_nGeneration;
    m_worker = std::thread(
        [this, nJob, pStop, rows = m_listing, gone = m_gone, nColumn = m_nSortColumn,
         order = m_sortOrder]
        {
            std::vector<uint32_t> sorted;
            try
            {
                sorted = SortedOrder(rows, gone, nColumn, order, pStop.get());
            }
            catch (const CSortStopped&)
            {
                return;
            }
            QMetaObject::invokeMethod(
                this,
                [this, nJob, sorted = std::move(sorted)]() mutable
                { OnSortDone(nJob, std::move(sorted)); },
                Qt::QueuedConnection);
        });
}

void CFileListModel::StopSort()
{
    if (!m_worker.joinable())
        return;
    m_pStop->store(true);
    m_worker.join();
    ++m_nJob; // a result already posted is dropped
}

void CFileListModel::OnSortDone(uint64_t nJob, std::vector<uint32_t> order)
{
    if (nJob != m_nJob)
        return;
    m_worker.join();
    if (m_nJobGeneration != m_nGeneration)
    {
        StartSort(); // rows came or went meanwhile
        return;
    }
    ApplyOrder(order);
    emit SortFinished();
}

CObject* CFileListModel::EntryAt(int nRow) const
{
    if (nRow < 0 || nRow >= int(m_rows.size()))
        return nullptr;
    return m_rows[size_t(nRow)].m_pEntry;
}

bool CFileListModel::HasEntries() const
{
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const CRow& row) { return row.m_pEntry != nullptr; }) ||
           !m_pending.empty();
}

CModTime CFileListModel::TimeAt(int nRow) const
{
    const CRow& row = Row(nRow);
    if (row.m_pEntry == nullptr)
        return {};
    return row.m_bFolder ? AsDir(row)->m_time.Get() : AsFile(row)->m_time.Get();
}

uint64_t CFileListModel::SizeAt(int nRow) const
{
    const CRow& row = Row(nRow);
    if (row.m_bGone)
        return m_gone[row.m_nSize].bFolder ? 0 : m_gone[row.m_nSize].nOldSize;
    return row.m_nSize;
}

const std::string& CFileListModel::NameAt(int nRow) const
{
    static const std::string s_strNone;
    const CObject* pEntry = EntryAt(nRow);
    if (pEntry == nullptr)
    {
        // A gone row sorts by its text name: the server's bytes are not kept.
        if (nRow >= 0 && nRow < int(m_rows.size()) && Row(nRow).m_bGone)
            return m_gone[Row(nRow).m_nSize].strName;
        return s_strNone;
    }
    const CRow& row = Row(nRow);
    return row.m_bFolder ? AsDir(row)->m_strName : AsFile(row)->m_strName;
}

std::string CFileListModel::AddressAt(int nRow) const
{
    const CObject* pEntry = EntryAt(nRow);
    if (pEntry == nullptr)
        return {};
    const CRow& row = Row(nRow);
    return row.m_bFolder ? AsDir(row)->GetAddress() : AsFile(row)->GetAddress();
}

int CFileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CFileListModel::Display(const CRow& row, int nColumn) const
{
    if (row.m_bGone)
    {
        const CChangeNote& note = m_gone[row.m_nSize];
        switch (nColumn)
        {
        case COLUMN_NAME:
            return QString::fromStdString(note.strName);
        case COLUMN_SIZE:
            if (note.bFolder)
                return QString::fromLatin1(TEXT_FOLDER_SIZE);
            return QString::fromStdString(FormatSize(
                int64_t(note.nKind == int(ChangeKind::removed) ? note.nOldSize : note.nSize)));
        case COLUMN_ADDRESS:
            return QString::fromStdString(note.strAddress);
        default:
            return {};
        }
    }
    if (row.m_pEntry == nullptr)
    {
        if (nColumn == COLUMN_NAME && row.m_nSize < WELCOME_LINE_COUNT)
            return QString::fromUtf8(TEXT_WELCOME[row.m_nSize]);
        return QString();
    }
    switch (nColumn)
    {
    case COLUMN_NAME:
        if (row.m_bFolder)
            return DisplayName(AsDir(row)->m_strName, AsDir(row)->GetSite());
        return DisplayName(AsFile(row)->m_strName, AsFile(row)->GetSite());
    case COLUMN_SIZE:
        if (row.m_bFolder)
            return QString::fromLatin1(TEXT_FOLDER_SIZE);
        return QString::fromStdString(FormatSize(int64_t(row.m_nSize)));
    case COLUMN_ADDRESS:
        if (row.m_bFolder)
            return DisplayName(AsDir(row)->GetAddress(), AsDir(row)->GetSite());
        return DisplayName(AsFile(row)->GetAddress(), AsFile(row)->GetSite());
    case COLUMN_MODIFIED:
        return QString::fromStdString(
            FormatModTime(row.m_bFolder ? AsDir(row)->m_time.Get() : AsFile(row)->m_time.Get()));
    default:
        return {};
    }
}

QVariant CFileListModel::TimeTip(const CRow& row) const
{
    if (row.m_pEntry == nullptr)
        return {};
    CModTime time = row.m_bFolder ? AsDir(row)->m_time.Get() : AsFile(row)->m_time.Get();
    if (!time.IsKnown())
        return {};
    return QString::fromUtf8(TEXT_MODIFIED_AT) + QString::fromStdString(DescribeModTime(time));
}

QVariant CFileListModel::ToolTip(const CRow& row) const
{
    const CChangeNote* pNote = nullptr;
    if (row.m_bGone)
        pNote = &m_gone[row.m_nSize];
    else if (auto found = m_changeNotes.find(row.m_pEntry); found != m_changeNotes.end())
        pNote = &found->second;
    if (pNote == nullptr)
        return TimeTip(row);
    auto size = [](uint64_t n) { return QString::fromStdString(FormatSize(int64_t(n))); };
    switch (ChangeKind(pNote->nKind))
    {
    case ChangeKind::removed:
        if (pNote->bFolder)
            return QString::fromUtf8(TEXT_REMOVED_FOLDER)
                .arg(pNote->nFolders)
                .arg(pNote->nFiles)
                .arg(size(pNote->nBytes));
        return QString::fromUtf8(TEXT_REMOVED) + size(pNote->nOldSize);
    case ChangeKind::resized:
        if (row.m_bGone)
            return QString::fromUtf8(TEXT_NOT_CACHED);
        return QString::fromUtf8(TEXT_RESIZED) + size(pNote->nOldSize);
    case ChangeKind::modified:
        if (row.m_bGone)
            return QString::fromUtf8(TEXT_NOT_CACHED);
        return QString::fromUtf8(TEXT_MODIFIED) + QString::fromStdString(pNote->strOldMtime);
    default:
        return QString::fromUtf8(row.m_bGone ? TEXT_NOT_CACHED : TEXT_ADDED);
    }
}

QVariant CFileListModel::data(const QModelIndex& index, int nRole) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const CRow& row = m_rows[size_t(index.row())];
    switch (nRole)
    {
    case Qt::DisplayRole:
        return Display(row, index.column());
    case Qt::DecorationRole:
        if (index.column() != COLUMN_NAME)
            return {};
        if (row.m_bFolder)
            return m_icons.FolderIcon();
        return m_icons.FileIcon(row.m_bGone ? m_gone[row.m_nSize].strName : AsFile(row)->m_strName);
    case Qt::FontRole:
        if (row.m_bGone)
        {
            QFont font;
            font.setStrikeOut(true);
            return font;
        }
        if (row.m_bUnread && m_highlight.style() != Qt::NoBrush)
        {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::ToolTipRole:
        return ToolTip(row);
    case Qt::BackgroundRole:
        return row.m_bUnread && m_highlight.style() != Qt::NoBrush ? QVariant(m_highlight)
                                                                   : QVariant();
    case Qt::ForegroundRole:
        if (row.m_bGone)
            return QBrush(Qt::gray);
        return row.m_bUnread && m_highlightText.style() != Qt::NoBrush ? QVariant(m_highlightText)
                                                                       : QVariant();
    default:
        return {};
    }
}

QVariant CFileListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal || nSection < 0 || nSection >= COLUMN_COUNT)
        return {};
    if (nRole == Qt::DisplayRole)
        return QString::fromUtf8(TEXT_COLUMNS[nSection]);
    if (nRole == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
