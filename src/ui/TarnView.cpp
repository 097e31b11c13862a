#include "ui/TarnView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <algorithm>

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
    connect(pColumns, &QHeaderView::sectionClicked, this, &CTarnView::OnHeaderClicked);

    connect(this, &QAbstractItemView::doubleClicked, this, &CTarnView::OpenRow);
    ApplyPalette();
    m_pModel->ShowWelcome();
}

CTarnView::~CTarnView() = default;

void CTarnView::ApplyPalette()
{
    m_pModel->SetHighlight(palette().brush(QPalette::Active, QPalette::Highlight),
                           palette().brush(QPalette::Active, QPalette::HighlightedText));
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

void CTarnView::ClearFileHighlights()
{
    m_pModel->RefreshFileHighlights();
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
    int nColumn = m_pProxy->sortColumn();
    Qt::SortOrder order = m_pProxy->sortOrder();
    if (nColumn != nSection)
    {
        nColumn = nSection;
        order = Qt::AscendingOrder;
    }
    else if (order == Qt::AscendingOrder)
        order = Qt::DescendingOrder;
    else
        nColumn = -1; // back to the listing's own order
    m_pModel->FlushPending();
    m_pProxy->sort(nColumn, order);
    pColumns->setSortIndicatorShown(nColumn >= 0);
    if (nColumn >= 0)
        pColumns->setSortIndicator(nColumn, order);
}
