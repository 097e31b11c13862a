#include "ui/TarnView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <algorithm>
#include <unordered_map>

#include "doc/TarnDoc.h"
#include "ui/FileListModel.h"
#include "ui/FileSortProxy.h"

CTarnView::CTarnView(CTarnDoc& doc, QWidget* pParent)
    : QTableView(pParent), m_doc(doc), m_pModel(new CFileListModel(this)),
      m_pProxy(new CFileSortProxy(*m_pModel, this))
{
    setModel(m_pProxy);
    setShowGrid(false);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(16, 16));
    setTabKeyNavigation(false);

    // One fixed row height: no row is measured, however many there are.
    QHeaderView* pRows = verticalHeader();
    pRows->hide();
    pRows->setSectionResizeMode(QHeaderView::Fixed);
    pRows->setDefaultSectionSize(qMax(fontMetrics().height(), iconSize().height()) + 6);

    QHeaderView* pColumns = horizontalHeader();
    pColumns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pColumns->setHighlightSections(false);
    pColumns->setSectionsClickable(true);
    pColumns->setStretchLastSection(false);
    setColumnWidth(CFileListModel::COLUMN_NAME, WIDTH_NAME);
    setColumnWidth(CFileListModel::COLUMN_SIZE, WIDTH_SIZE);
    setColumnWidth(CFileListModel::COLUMN_ADDRESS, WIDTH_ADDRESS);
    setColumnWidth(CFileListModel::COLUMN_MODIFIED, WIDTH_MODIFIED);
    // The date beside the size, where it is seen at the default width; the
    // long address goes last.
    pColumns->moveSection(pColumns->visualIndex(CFileListModel::COLUMN_MODIFIED),
                          pColumns->visualIndex(CFileListModel::COLUMN_ADDRESS));
    connect(pColumns, &QHeaderView::sectionClicked, this, &CTarnView::OnHeaderClicked);

    connect(this, &QAbstractItemView::doubleClicked, this, &CTarnView::OpenRow);
    // Rows an update removes above the first one shown must not move what
    // the user is looking at.
    connect(m_pProxy, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int nFirst, int nLast)
            {
                QScrollBar* pBar = verticalScrollBar();
                if (verticalScrollMode() == QAbstractItemView::ScrollPerItem &&
                    nLast < pBar->value())
                    pBar->setValue(pBar->value() - (nLast - nFirst + 1));
            });
    ApplyPalette();
    m_pModel->ShowWelcome();
}

CTarnView::~CTarnView() = default;

QColor UnreadTint(const QPalette& palette)
{
    // A quarter of the selection colour over the list's base: clearly marked,
    // yet never mistaken for a selected row, in a light or a dark palette.
    QColor base = palette.color(QPalette::Active, QPalette::Base);
    QColor mark = palette.color(QPalette::Active, QPalette::Highlight);
    auto mix = [](int a, int b) { return (a * 3 + b + 2) / 4; };
    return QColor(mix(base.red(), mark.red()), mix(base.green(), mark.green()),
                  mix(base.blue(), mark.blue()));
}

void CTarnView::ApplyPalette()
{
    m_pModel->SetHighlight(QBrush(UnreadTint(palette())),
                           palette().brush(QPalette::Active, QPalette::Text));
}

void CTarnView::changeEvent(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::PaletteChange)
        ApplyPalette();
    QTableView::changeEvent(pEvent);
}

void CTarnView::ShowBrowseListing()
{
    m_bResultMode = false;
    m_pModel->ShowListing(m_doc.m_listDirs, m_doc.m_listFiles);
    scrollToTop();
}

void CTarnView::RefreshBrowseListing()
{
    if (m_bResultMode || !m_doc.m_pCurrent)
        return;
    m_pModel->FlushPending();
    // What the user had: the rows selected, the current one and the top one.
    auto entryOf = [this](const QModelIndex& viewIndex)
    { return viewIndex.isValid() ? m_pModel->EntryAt(SourceRow(viewIndex)) : nullptr; };
    std::vector<CObject*> selected;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (CObject* pEntry = entryOf(index))
            selected.push_back(pEntry);
    CObject* pCurrent = entryOf(currentIndex());
    CObject* pTop = entryOf(indexAt(QPoint(0, 0)));
    int nScroll = verticalScrollBar()->value();

    m_doc.SetListing(m_doc.m_pCurrent->m_pDir);
    m_pModel->ShowListing(m_doc.m_listDirs, m_doc.m_listFiles);

    std::unordered_map<const CObject*, int> rows;
    rows.reserve(size_t(m_pModel->rowCount()));
    for (int i = 0; i < m_pModel->rowCount(); ++i)
        if (CObject* pEntry = m_pModel->EntryAt(i))
            rows.emplace(pEntry, i);
    auto viewIndexOf = [&](const CObject* pEntry)
    {
        auto found = rows.find(pEntry);
        if (pEntry == nullptr || found == rows.end())
            return QModelIndex();
        return m_pProxy->mapFromSource(m_pModel->index(found->second, 0));
    };
    QItemSelection selection;
    for (const CObject* pEntry : selected)
        if (QModelIndex index = viewIndexOf(pEntry); index.isValid())
            selection.select(index, index.siblingAtColumn(CFileListModel::COLUMN_COUNT - 1));
    if (QModelIndex index = viewIndexOf(pCurrent); index.isValid())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    // The reset's layout waits for the next paint; scrolling needs it now.
    executeDelayedItemsLayout();
    if (QModelIndex index = viewIndexOf(pTop); index.isValid())
        scrollTo(index, QAbstractItemView::PositionAtTop);
    else
        verticalScrollBar()->setValue(nScroll);
}

void CTarnView::ShowResultListing()
{
    if (m_bChangeListing)
    {
        ShowChangeListing();
        return;
    }
    m_bResultMode = true;
    m_pModel->ShowListing(m_doc.m_foundDirs, m_doc.m_foundFiles);
    scrollToTop();
}

void CTarnView::ShowChangeListing()
{
    m_bResultMode = true;
    m_bChangeListing = true;
    m_pModel->ShowChanges(m_doc.m_foundChanges);
    scrollToTop();
}

void CTarnView::ClearList()
{
    // A walk fills the result rows from here on.
    m_bChangeListing = false;
    m_pModel->Clear();
}

void CTarnView::AppendResultRow(CObject* pEntry, int nType)
{
    m_bResultMode = true;
    if (pEntry == nullptr)
        return;
    // The document calls this with the entry's tree lock held, so the size
    // read here is consistent.
    if (nType == IUpdateObserver::entryFolder)
        m_pModel->Append(static_cast<CFTPDir*>(pEntry));
    else
        m_pModel->Append(static_cast<CFTPFile*>(pEntry));
}

void CTarnView::RemoveEntryRows(CObject* pEntry)
{
    m_pModel->RemoveEntry(pEntry);
}

void CTarnView::ForgetEntries(const CSubtreeSet& removed)
{
    m_pModel->RemoveCovered(removed);
}

std::vector<CFTPFile*> CTarnView::ShownFiles() const
{
    m_pModel->FlushPending();
    std::vector<CFTPFile*> files;
    for (int i = m_pModel->FolderRowCount(); i < m_pModel->rowCount(); ++i)
    {
        const CFileListModel::CRow& row = m_pModel->Row(i);
        if (row.m_pEntry != nullptr && !row.m_bFolder)
            files.push_back(static_cast<CFTPFile*>(row.m_pEntry));
    }
    return files;
}

void CTarnView::ClearFileHighlights()
{
    m_pModel->RefreshFileHighlights();
}

void CTarnView::RefreshHighlights()
{
    m_pModel->RefreshFileHighlights(true);
}

void CTarnView::RefreshNames()
{
    m_pModel->RefreshNames();
}

int CTarnView::SourceRow(const QModelIndex& viewIndex) const
{
    if (!viewIndex.isValid())
        return -1;
    return m_pProxy->mapToSource(viewIndex).row();
}

std::vector<CExportRow> CTarnView::ExportRows() const
{
    m_pModel->FlushPending();
    std::vector<CExportRow> rows;
    for (int i = 0; i < m_pProxy->rowCount(); ++i)
    {
        int nRow = m_pProxy->mapToSource(m_pProxy->index(i, 0)).row();
        CObject* pEntry = m_pModel->EntryAt(nRow);
        if (pEntry == nullptr)
            continue;
        CExportRow row;
        if (m_pModel->Row(nRow).m_bFolder)
            row.pDir = static_cast<CFTPDir*>(pEntry);
        else
            row.pFile = static_cast<CFTPFile*>(pEntry);
        rows.push_back(row);
    }
    return rows;
}

std::string CTarnView::FirstSelectedAddress() const
{
    m_pModel->FlushPending();
    QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    auto first = std::min_element(rows.begin(), rows.end(),
                                  [](const QModelIndex& a, const QModelIndex& b)
                                  { return a.row() < b.row(); });
    return m_pModel->AddressAt(SourceRow(*first));
}

std::vector<std::pair<CObject*, bool>> CTarnView::SelectedEntries() const
{
    m_pModel->FlushPending();
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::pair<CObject*, bool>> entries;
    for (const QModelIndex& index : rows)
    {
        int nRow = SourceRow(index);
        if (CObject* pEntry = m_pModel->EntryAt(nRow))
            entries.emplace_back(pEntry, m_pModel->Row(nRow).m_bFolder);
    }
    return entries;
}

void CTarnView::OpenRow(const QModelIndex& viewIndex)
{
    int nRow = SourceRow(viewIndex);
    CObject* pEntry = m_pModel->EntryAt(nRow);
    if (pEntry == nullptr)
        return;
    if (m_pModel->Row(nRow).m_bFolder)
    {
        // Changing the listing would mix into the rows of a running walk.
        if (m_doc.IsBusy())
            return;
        m_doc.OpenFolder(static_cast<CFTPDir*>(pEntry));
        ShowBrowseListing();
        emit FolderOpened();
        return;
    }
    m_doc.OpenFile(m_pModel->AddressAt(nRow));
}

void CTarnView::keyPressEvent(QKeyEvent* pEvent)
{
    if ((pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) &&
        pEvent->modifiers() == Qt::NoModifier)
    {
        OpenRow(currentIndex());
        return;
    }
    QTableView::keyPressEvent(pEvent);
}

void CTarnView::contextMenuEvent(QContextMenuEvent* pEvent)
{
    QModelIndex index = indexAt(pEvent->pos());
    if (!index.isValid())
        return;
    // The row under the click joins the selection; rows selected before stay.
    if (pEvent->reason() == QContextMenuEvent::Mouse)
    {
        selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    if (m_pMenu != nullptr)
        m_pMenu->exec(pEvent->globalPos());
}

void CTarnView::OnHeaderClicked(int nSection)
{
    QHeaderView* pColumns = horizontalHeader();
    int nColumn = m_pModel->SortColumn();
    Qt::SortOrder order = m_pModel->SortOrder();
    if (nColumn != nSection)
    {
        nColumn = nSection;
        order = Qt::AscendingOrder;
    }
    else if (order == Qt::AscendingOrder)
        order = Qt::DescendingOrder;
    else
        nColumn = -1; // back to the listing's own order
    m_pModel->Sort(nColumn, order);
    pColumns->setSortIndicatorShown(nColumn >= 0);
    if (nColumn >= 0)
        pColumns->setSortIndicator(nColumn, order);
}
