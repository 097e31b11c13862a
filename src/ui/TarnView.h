#pragma once
// The file list (the right pane): the folder listing or the result listing
// of the document, folder rows first, unread rows highlighted. Four welcome
// lines until the first listing. A double click (or Enter) opens a folder row
// or hands a file row's FTP URL to the desktop. Clicking a column header
// sorts (ascending, descending, then the listing's own order again).
//
// GUI thread only. The rows point into the catalogue: the main window drops
// them (ForgetEntries) before removed entries are freed.

#include <QTableView>
#include <string>
#include <utility>
#include <vector>

#include "doc/Export.h"

class CFileListModel;
class CFileSortProxy;
class CFTPFile;
class CObject;
class CSubtreeSet;
class CTarnDoc;
class QMenu;

// The background of unread rows in this palette.
QColor UnreadTint(const QPalette& palette);

class CTarnView : public QTableView
{
    Q_OBJECT

public:
    // Column widths in logical pixels.
    static constexpr int WIDTH_NAME = 300;
    static constexpr int WIDTH_SIZE = 100;
    static constexpr int WIDTH_ADDRESS = 600;
    static constexpr int WIDTH_MODIFIED = 130;

    explicit CTarnView(CTarnDoc& doc, QWidget* pParent = nullptr);
    ~CTarnView() override;

    // The folder listing (m_listDirs, m_listFiles); browse mode.
    void ShowBrowseListing();
    // The folder on display read again (its site's update ended): rows that
    // survive stay selected and the list stays where it was scrolled.
    void RefreshBrowseListing();
    // The result listing (m_foundDirs, m_foundFiles), or the change listing
    // when that was the last one; result mode.
    void ShowResultListing();
    // The change listing (m_foundChanges); result mode.
    void ShowChangeListing();
    // The result protocol of the document's walks. ClearList keeps the mode;
    // AppendResultRow enters result mode and, given an entry (nType
    // IUpdateObserver::entryFolder or entryFile), adds its row.
    void ClearList();
    void AppendResultRow(CObject* pEntry, int nType);
    // Drops the rows of exactly this entry.
    void RemoveEntryRows(CObject* pEntry);
    // Drops the rows of every entry inside the removed subtrees.
    void ForgetEntries(const CSubtreeSet& removed);
    // The files of the rows shown, whatever the listing (gone rows have none).
    std::vector<CFTPFile*> ShownFiles() const;
    // After the document marked the listed files read: file rows show their
    // marks again; folder rows keep their highlight.
    void ClearFileHighlights();
    // After every mark of the rows' sites was cleared: every row shows its mark.
    void RefreshHighlights();
    // Rows read their names and addresses again (a site's character set
    // changed).
    void RefreshNames();

    bool m_bResultMode = false;

    // The rows an export writes: those of cached entries, in the order shown.
    std::vector<CExportRow> ExportRows() const;

    // The node address of the first selected row ("" when none).
    std::string FirstSelectedAddress() const;
    // The cached entries of the selected rows (CFTPDir or CFTPFile), in
    // list order.
    std::vector<std::pair<CObject*, bool>> SelectedEntries() const;

    // The row menu ("复制路径"), owned by the caller.
    void SetContextMenu(QMenu* pMenu) { m_pMenu = pMenu; }

    CFileListModel& Model() const { return *m_pModel; }
    CFileSortProxy& Proxy() const { return *m_pProxy; }

signals:
    // A folder row was opened: the folder listing and the history changed.
    void FolderOpened();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void OpenRow(const QModelIndex& viewIndex);
    void OnHeaderClicked(int nSection);
    void ApplyPalette();
    int SourceRow(const QModelIndex& viewIndex) const;

    CTarnDoc& m_doc;
    CFileListModel* m_pModel;
    CFileSortProxy* m_pProxy;
    QMenu* m_pMenu = nullptr;
    // The result rows are the change listing's, not the last walk's.
    bool m_bChangeListing = false;
};
