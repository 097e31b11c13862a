#pragma once
// The site tree (the left pane): one item per site and, below it, the site's
// cached folders, built lazily: an item gets its folder items when it is
// selected or expanded, until then it carries one placeholder child (empty
// label, no folder) so that it shows an expand button. Selecting an item
// shows its folder in the file list and records the step in the history;
// collapsing an item discards its children. A site item shows the site's
// status picture, is bold while the site has new entries and has the site's
// last status text as its tool tip.
//
// GUI thread only. Items point into the catalogue: the main window drops the
// items of removed folders (ForgetEntries) before the entries are freed, and
// a site's items before the site is deleted.

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <string>

class CFTPDir;
class CFTPSite;
class CSubtreeSet;
class CTarnDoc;
class CTarnView;
class QMenu;

// One item: a site (its root folder), a folder, or a placeholder (none).
class CDirItem : public QTreeWidgetItem
{
public:
    static constexpr int ITEM_TYPE = QTreeWidgetItem::UserType + 1;
    // A site item's data: the status value its picture shows.
    static constexpr int STATUS_ROLE = Qt::UserRole + 1;

    explicit CDirItem(CFTPDir* pDir);

    CFTPDir* m_pDir; // null: a placeholder
    // A folder item's label as bytes (the folder's name); folders are found
    // again by these labels.
    std::string m_strLabel;

    bool IsPlaceholder() const { return m_pDir == nullptr; }
    bool IsSiteItem() const;
    CFTPSite* GetSite() const;

    QVariant data(int nColumn, int nRole) const override;
};

class CDirView : public QTreeWidget
{
    Q_OBJECT

public:
    // Longest tool tip, in bytes of the status text.
    static constexpr size_t MAX_TIP_BYTES = 1000;
    // A failed TLS login's text (with its fingerprints and how to trust a
    // key) runs to "更新失败:\n" and 1023 bytes: it shows whole.
    static constexpr size_t MAX_TLS_TIP_BYTES = 1100;

    CDirView(CTarnDoc& doc, CTarnView& fileView, QWidget* pParent = nullptr);
    ~CDirView() override;

    // One item per site, sorted by label, each with its placeholder.
    void FillTree();
    // The site item's picture and bold state from the site's status.
    void UpdateSiteItem(CFTPSite* pSite);
    // After an update of the site: its built folder items follow the folders
    // as they are now (new folders get items, gone ones lose them); the
    // selection stays where its folder still exists.
    void RefreshSiteFolders(CFTPSite* pSite);
    // Drops the items of removed folders; a selected item inside them gives
    // the selection to its nearest remaining ancestor, quietly.
    void ForgetEntries(const CSubtreeSet& removed);

    // The site commands' edits of the tree.
    CDirItem* AddSiteItem(CFTPSite* pSite);
    void RelabelSiteItem(CFTPSite* pSite);
    // The site's folder items read their names again (its character set
    // changed).
    void RelabelSiteFolders(CFTPSite* pSite);
    void RemoveSiteItem(CFTPSite* pSite);
    CDirItem* FindSiteItem(const CFTPSite* pSite) const;

    // The folder of the selected item (a site item: the site's root); null
    // without a selection or on a placeholder.
    CFTPDir* SelectedFolder() const;
    CDirItem* SelectedItem() const;

    // "复制路径": the selected folder's FTP URL onto the clipboard.
    void OnCopyPath();

    // The two context menus (site item, folder item), owned by the caller.
    void SetContextMenus(QMenu* pSiteMenu, QMenu* pFolderMenu);

    // The folder a folder item stands for, found by its labels from the
    // site down; null when a name no longer matches.
    CFTPDir* FindFolderByLabels(const CDirItem* pItem) const;

    // An item inside a collapsed one is not scrolled to: the base class would
    // expand its ancestors, building (and deleting) items in the middle of a
    // change of the current item.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

signals:
    // A selection showed a folder: the listing and the history changed.
    void Navigated();

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    class CQuiet;

    void OnCurrentChanged(QTreeWidgetItem* pCurrent);
    void OnItemClicked(QTreeWidgetItem* pItem);
    void OnExpanded(QTreeWidgetItem* pItem);
    void OnCollapsed(QTreeWidgetItem* pItem);
    void OnSelChanged(CDirItem* pItem);
    void BuildChildren(CDirItem* pItem);
    void AddFolderItems(CDirItem* pParent, CFTPDir* pDir, bool bPlaceholderWhenNone);
    CDirItem* MakeFolderItem(CFTPDir* pDir) const;
    CDirItem* MakeSiteItem(CFTPSite* pSite) const;
    void DeleteChildren(QTreeWidgetItem* pItem);
    void SyncChildren(CDirItem* pItem);
    void SetBold(QTreeWidgetItem* pItem, bool bBold) const;
    void SetStatusPicture(QTreeWidgetItem* pItem, int nStatus) const;

    CTarnDoc& m_doc;
    CTarnView& m_fileView;
    // Status values 0 to 4: not updated, failed, succeeded, stopped, updating.
    static constexpr int STATUS_COUNT = 5;
    QIcon m_folderIcon;
    std::array<QIcon, STATUS_COUNT> m_statusIcons;
    QMenu* m_pSiteMenu = nullptr;
    QMenu* m_pFolderMenu = nullptr;
    // The first selection notice after start-up is not acted on.
    bool m_bFirstSelection = true;
    // Inside the view's own changes of items: selection notices are ignored.
    int m_nQuiet = 0;
    // The item whose folder the last selection showed (compared, not used).
    const QTreeWidgetItem* m_pShownItem = nullptr;
};
