#include "ui/FileListModel.h"

#include <QFont>
#include <algorithm>

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
} // namespace

static_assert(sizeof(CFileListModel::CRow) == 16, "a row stays two words");

CFileListModel::CFileListModel(QObject* pParent) : QAbstractTableModel(pParent)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &CFileListModel::OnFlushTimer);
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
    beginResetModel();
    m_rows = std::move(rows);
    m_nFolderRows = nFolderRows;
    m_gone = std::move(gone);
    m_changeNotes = std::move(notes);
    endResetModel();
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
    // A batch at a time: the rest follows at the next turn of the event loop,
    // so a walk that finds rows faster than the list takes them never stalls it.
    InsertBatch(FLUSH_LIMIT);
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
