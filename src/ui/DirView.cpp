#include "ui/DirView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <algorithm>
#include <unordered_map>

#include "doc/Ancestry.h"
#include "doc/FolderSnapshot.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/SiteStats.h"
#include "ui/Art.h"
#include "ui/DisplayText.h"
#include "ui/FileIconCache.h"
#include "ui/MessageBox.h"
#include "ui/StatsText.h"
#include "ui/TarnView.h"

namespace
{
// What the tree says.
const char* const TEXT_PATH_COPIED = "文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。";

const char* const TEXT_LAST_SUCCESS = "更新成功";
const char* const TEXT_STOPPED = "更新终止！";

// A site not updated in this run shows how its last update ended, from the
// figures stored with it (no cache is read for that).
int ShownStatus(const CFTPSite& site, const CSiteStats* pStats = nullptr)
{
    int nStatus = site.m_nStatus.load();
    if (nStatus != 0)
        return nStatus;
    CSiteStats stats = pStats != nullptr ? *pStats : ReadStoredStats(site.GetSettings());
    if (!stats.run || stats.run->strEnd.empty())
        return 0;
    if (stats.run->strLastError.empty())
        return 2;
    return stats.run->strLastError.starts_with(TEXT_STOPPED) ? 3 : 1;
}

// Cuts a UTF-8 text to at most nBytes without splitting a character.
std::string CutUtf8(std::string str, size_t nBytes)
{
    if (str.size() <= nBytes)
        return str;
    size_t nEnd = nBytes;
    while (nEnd > 0 && (static_cast<unsigned char>(str[nEnd]) & 0xC0) == 0x80)
        --nEnd;
    str.resize(nEnd);
    return str;
}

// The tip's line about TLS; empty for a plain FTP site.
QString TlsTip(const CSiteSettings& settings)
{
    CTlsSettings tls = settings.GetTls();
    const char* pszMode = nullptr;
    switch (settings.Get(CSiteSettings::TLS))
    {
    case TlsMode::off:
        return {};
    case TlsMode::explicitTls:
        pszMode = "显式 TLS";
        break;
    case TlsMode::tryTls:
        // A pinned key leaves "try" no way back to plain FTP.
        pszMode =
            tls.nMode == TlsMode::explicitTls ? "尽量 TLS（已有信任的证书，必须加密）" : "尽量 TLS";
        break;
    case TlsMode::implicitTls:
        pszMode = "隐式 TLS";
        break;
    }
    const char* pszTrust = !tls.strPin.empty()  ? "只接受已信任的证书"
                           : tls.bTrustFirstUse ? "首次连接时信任服务器证书"
                                                : "证书须由系统信任的机构签发";
    return QString::fromUtf8("加密：%1，%2")
        .arg(QString::fromUtf8(pszMode), QString::fromUtf8(pszTrust));
}

CDirItem* AsDirItem(QTreeWidgetItem* pItem)
{
    return static_cast<CDirItem*>(pItem);
}

bool IsInside(const QTreeWidgetItem* pItem, const QTreeWidgetItem* pAncestor)
{
    for (; pItem != nullptr; pItem = pItem->parent())
        if (pItem == pAncestor)
            return true;
    return false;
}

bool HasPlaceholder(const QTreeWidgetItem* pItem)
{
    return pItem->childCount() > 0 && AsDirItem(pItem->child(0))->IsPlaceholder();
}
} // namespace

// While it lives, the view's own changes of items raise no selection notices.
class CDirView::CQuiet
{
public:
    explicit CQuiet(CDirView& view) : m_view(view) { ++m_view.m_nQuiet; }
    ~CQuiet() { --m_view.m_nQuiet; }
    CQuiet(const CQuiet&) = delete;
    CQuiet& operator=(const CQuiet&) = delete;

private:
    CDirView& m_view;
};

CDirItem::CDirItem(CFTPDir* pDir) : QTreeWidgetItem(ITEM_TYPE), m_pDir(pDir) {}

bool CDirItem::IsSiteItem() const
{
    return m_pDir != nullptr && m_pDir->m_pParent == nullptr;
}

CFTPSite* CDirItem::GetSite() const
{
    return m_pDir != nullptr ? m_pDir->GetSite() : nullptr;
}

QVariant CDirItem::data(int nColumn, int nRole) const
{
    if (nRole == Qt::ToolTipRole)
    {
        CFTPSite* pSite = IsSiteItem() ? GetSite() : nullptr;
        if (pSite == nullptr)
            return {};
        CSiteSettings settings = pSite->GetSettings();
        QString strTls = TlsTip(settings);
        // The stored figures only: a tool tip must not walk a large tree.
        CSiteStats stats = ReadStoredStats(settings);
        std::string strStatus = pSite->GetStatusText();
        if (pSite->m_nStatus.load() == 0 && ShownStatus(*pSite, &stats) != 0)
            strStatus =
                stats.run->strLastError.empty() ? TEXT_LAST_SUCCESS : stats.run->strLastError;
        QString strTip = DisplayText(CutUtf8(
            strStatus, strTls.isEmpty() ? CDirView::MAX_TIP_BYTES : CDirView::MAX_TLS_TIP_BYTES));
        QString strListed = ListedFoldersText(*pSite);
        if (!strListed.isEmpty())
            strTip += QLatin1Char('\n') + strListed;
        if (!strTls.isEmpty())
            strTip += QLatin1Char('\n') + strTls;
        QString strStats = StatsTipText(stats);
        if (!strStats.isEmpty())
            strTip += QLatin1Char('\n') + strStats;
        return PlainToolTip(strTip);
    }
    return QTreeWidgetItem::data(nColumn, nRole);
}

CDirView::CDirView(CTarnDoc& doc, CTarnView& fileView, QWidget* pParent)
    : QTreeWidget(pParent), m_doc(doc), m_fileView(fileView),
      m_folderIcon(CFileIconCache().FolderIcon())
{
    for (int i = 0; i < STATUS_COUNT; ++i)
        m_statusIcons[size_t(i)] = SiteStatusIcon(i);
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setAnimated(false);
    setIconSize(QSize(16, 16));
    // Labels are never edited, so long names scroll rather than shrink.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);

    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* pCurrent) { OnCurrentChanged(pCurrent); });
    connect(this, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* pItem) { OnItemClicked(pItem); });
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* pItem) { OnExpanded(pItem); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* pItem) { OnCollapsed(pItem); });
}

CDirView::~CDirView()
{
    // Deleting the items must not look like a selection by the user.
    blockSignals(true);
}

void CDirView::SetContextMenus(QMenu* pSiteMenu, QMenu* pFolderMenu)
{
    m_pSiteMenu = pSiteMenu;
    m_pFolderMenu = pFolderMenu;
}

void CDirView::SetBold(QTreeWidgetItem* pItem, bool bBold) const
{
    QFont font = pItem->font(0);
    if (font.bold() == bBold)
        return;
    font.setBold(bBold);
    pItem->setFont(0, font);
}

void CDirView::SetStatusPicture(QTreeWidgetItem* pItem, int nStatus) const
{
    if (pItem->data(0, CDirItem::STATUS_ROLE) == QVariant(nStatus))
        return;
    pItem->setData(0, CDirItem::STATUS_ROLE, nStatus);
    pItem->setIcon(0, m_statusIcons[size_t(std::clamp(nStatus, 0, STATUS_COUNT - 1))]);
}

CDirItem* CDirView::MakeSiteItem(CFTPSite* pSite) const
{
    auto* pItem = new CDirItem(pSite->m_pRoot.get());
    pItem->setText(0, SiteLabel(*pSite));
    SetStatusPicture(pItem, ShownStatus(*pSite));
    SetBold(pItem, pSite->m_bHasNew.load());
    pItem->addChild(new CDirItem(nullptr));
    return pItem;
}

CDirItem* CDirView::MakeFolderItem(CFTPDir* pDir) const
{
    auto* pItem = new CDirItem(pDir);
    pItem->m_strLabel = pDir->m_strName;
    pItem->setText(0, DisplayName(pDir->m_strName, pDir->GetSite()));
    pItem->setIcon(0, m_folderIcon);
    if (pDir->m_nState != 0)
        SetBold(pItem, true);
    pItem->addChild(new CDirItem(nullptr));
    return pItem;
}

void CDirView::FillTree()
{
    CQuiet quiet(*this);
    clear();
    m_pShownItem = nullptr;
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(m_doc.m_siteList.size()));
    for (const auto& pSite : m_doc.m_siteList)
        items.append(MakeSiteItem(pSite.get()));
    std::stable_sort(items.begin(), items.end(),
                     [](const QTreeWidgetItem* a, const QTreeWidgetItem* b)
                     {
                         int nOrder = a->text(0).compare(b->text(0), Qt::CaseInsensitive);
                         return nOrder != 0 ? nOrder < 0 : a->text(0) < b->text(0);
                     });
    addTopLevelItems(items);
}

CDirItem* CDirView::FindSiteItem(const CFTPSite* pSite) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
    {
        CDirItem* pItem = AsDirItem(topLevelItem(i));
        if (pItem->GetSite() == pSite)
            return pItem;
    }
    return nullptr;
}

void CDirView::UpdateSiteItem(CFTPSite* pSite)
{
    CDirItem* pItem = FindSiteItem(pSite);
    if (pItem == nullptr)
        return;
    SetStatusPicture(pItem, ShownStatus(*pSite));
    SetBold(pItem, pSite->m_bHasNew.load());
}

CDirItem* CDirView::AddSiteItem(CFTPSite* pSite)
{
    CDirItem* pItem = MakeSiteItem(pSite);
    addTopLevelItem(pItem);
    return pItem;
}

void CDirView::RelabelSiteItem(CFTPSite* pSite)
{
    if (CDirItem* pItem = FindSiteItem(pSite))
        pItem->setText(0, SiteLabel(*pSite));
}

void CDirView::RelabelSiteFolders(CFTPSite* pSite)
{
    CDirItem* pSiteItem = FindSiteItem(pSite);
    if (pSiteItem == nullptr)
        return;
    std::vector<QTreeWidgetItem*> stack{pSiteItem};
    while (!stack.empty())
    {
        QTreeWidgetItem* pItem = stack.back();
        stack.pop_back();
        for (int i = 0; i < pItem->childCount(); ++i)
        {
            CDirItem* pChild = AsDirItem(pItem->child(i));
            if (pChild->IsPlaceholder())
                continue;
            pChild->setText(0, DisplayName(pChild->m_strLabel, pSite));
            stack.push_back(pChild);
        }
    }
}

void CDirView::RemoveSiteItem(CFTPSite* pSite)
{
    CDirItem* pItem = FindSiteItem(pSite);
    if (pItem == nullptr)
        return;
    CQuiet quiet(*this);
    if (IsInside(currentItem(), pItem))
    {
        setCurrentItem(nullptr);
        clearSelection();
    }
    if (IsInside(m_pShownItem, pItem))
        m_pShownItem = nullptr;
    delete pItem;
}

CDirItem* CDirView::SelectedItem() const
{
    QTreeWidgetItem* pItem = currentItem();
    return pItem != nullptr && pItem->isSelected() ? AsDirItem(pItem) : nullptr;
}

CFTPDir* CDirView::SelectedFolder() const
{
    CDirItem* pItem = SelectedItem();
    return pItem != nullptr ? pItem->m_pDir : nullptr;
}

void CDirView::DeleteChildren(QTreeWidgetItem* pItem)
{
    CQuiet quiet(*this);
    for (int i = 0; i < pItem->childCount(); ++i)
        if (IsInside(m_pShownItem, pItem->child(i)))
            m_pShownItem = nullptr;
    qDeleteAll(pItem->takeChildren());
}

void CDirView::AddFolderItems(CDirItem* pParent, CFTPDir* pDir, bool bPlaceholderWhenNone)
{
    CFolderSnapshot children = ReadChildren(pDir);
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(children.m_dirs.size()));
    for (CFTPDir* pSub : children.m_dirs)
        items.append(MakeFolderItem(pSub));
    if (items.isEmpty() && bPlaceholderWhenNone)
        items.append(new CDirItem(nullptr));
    CQuiet quiet(*this);
    pParent->addChildren(items);
}

CFTPDir* CDirView::FindFolderByLabels(const CDirItem* pItem) const
{
    std::vector<const std::string*> labels;
    const CDirItem* pTop = pItem;
    for (; pTop->parent() != nullptr; pTop = AsDirItem(pTop->parent()))
        labels.push_back(&pTop->m_strLabel);
    // The site is the one of the item's own site item: two sites may share
    // a key, and the first one with it need not be this one.
    CFTPSite* pSite = pTop->GetSite();
    if (pSite == nullptr || !m_doc.HasSite(pSite))
        return nullptr;
    CFTPDir* pDir = pSite->m_pRoot.get();
    for (auto it = labels.rbegin(); it != labels.rend(); ++it)
    {
        CFolderSnapshot children = ReadChildren(pDir);
        auto found = std::find_if(children.m_dirs.begin(), children.m_dirs.end(),
                                  [&](const CFTPDir* p) { return p->m_strName == **it; });
        if (found == children.m_dirs.end())
            return nullptr;
        pDir = *found;
    }
    return pDir;
}

void CDirView::OnCurrentChanged(QTreeWidgetItem* pCurrent)
{
    if (m_nQuiet > 0 || pCurrent == nullptr)
        return;
    OnSelChanged(AsDirItem(pCurrent));
}

void CDirView::OnItemClicked(QTreeWidgetItem* pItem)
{
    // A click on the selected item whose folder is not on display (the
    // first selection, or one refused during a walk) shows it now.
    if (pItem == currentItem() && pItem != m_pShownItem)
        OnSelChanged(AsDirItem(pItem));
}

void CDirView::OnSelChanged(CDirItem* pItem)
{
    if (m_bFirstSelection)
    {
        m_bFirstSelection = false;
        return;
    }
    if (pItem->IsPlaceholder())
        return;
    // A running walk fills the file list; another listing would mix in.
    if (m_doc.IsBusy())
        return;

    DeleteChildren(pItem);
    if (pItem->IsSiteItem())
    {
        CFTPDir* pRoot = pItem->m_pDir;
        m_doc.NavigateTo(pRoot); // loads the site's tree on first use
        AddFolderItems(pItem, pRoot, true);
    }
    else
    {
        CFTPDir* pDir = FindFolderByLabels(pItem);
        if (pDir == nullptr)
            return;
        SetBold(pItem, false);
        m_doc.OpenFolder(pDir); // clears its unread mark
        AddFolderItems(pItem, pDir, false);
    }
    m_pShownItem = pItem;
    m_fileView.ShowBrowseListing();
    emit Navigated();
}

void CDirView::BuildChildren(CDirItem* pItem)
{
    DeleteChildren(pItem);
    if (pItem->IsSiteItem())
    {
        if (CFTPSite* pSite = pItem->GetSite())
            m_doc.EnsureLoaded(*pSite);
        AddFolderItems(pItem, pItem->m_pDir, true);
        return;
    }
    if (CFTPDir* pDir = FindFolderByLabels(pItem))
        AddFolderItems(pItem, pDir, false);
}

void CDirView::OnExpanded(QTreeWidgetItem* pItem)
{
    if (m_nQuiet > 0)
        return;
    // Children built by a selection are kept.
    if (HasPlaceholder(pItem))
        BuildChildren(AsDirItem(pItem));
}

void CDirView::OnCollapsed(QTreeWidgetItem* pItem)
{
    if (m_nQuiet > 0)
        return;
    // The selection inside goes to the collapsed item, which is then shown,
    // as if the user had selected it.
    if (currentItem() != pItem && IsInside(currentItem(), pItem))
    {
        {
            CQuiet quiet(*this);
            setCurrentItem(pItem);
        }
        OnSelChanged(AsDirItem(pItem));
    }
    DeleteChildren(pItem);
    CQuiet quiet(*this);
    pItem->addChild(new CDirItem(nullptr));
}

void CDirView::ForgetEntries(const CSubtreeSet& removed)
{
    if (removed.IsEmpty())
        return;
    // The topmost items of removed folders (their children go with them).
    std::vector<QTreeWidgetItem*> gone;
    std::vector<QTreeWidgetItem*> stack;
    for (int i = 0; i < topLevelItemCount(); ++i)
        stack.push_back(topLevelItem(i));
    while (!stack.empty())
    {
        QTreeWidgetItem* pItem = stack.back();
        stack.pop_back();
        CDirItem* pDirItem = AsDirItem(pItem);
        if (pDirItem->m_pDir != nullptr && !pDirItem->IsSiteItem() &&
            removed.Covers(pDirItem->m_pDir))
        {
            gone.push_back(pItem);
            continue;
        }
        for (int i = 0; i < pItem->childCount(); ++i)
            stack.push_back(pItem->child(i));
    }
    if (gone.empty())
        return;

    CQuiet quiet(*this);
    QTreeWidgetItem* pCurrent = currentItem();
    for (QTreeWidgetItem* pItem : gone)
    {
        if (IsInside(pCurrent, pItem))
        {
            // The nearest ancestor that stays takes the selection.
            QTreeWidgetItem* pKeep = pItem->parent();
            setCurrentItem(pKeep);
            if (pKeep != nullptr)
                pKeep->setSelected(true);
            pCurrent = pKeep;
        }
        if (IsInside(m_pShownItem, pItem))
            m_pShownItem = nullptr;
        delete pItem;
    }
}

void CDirView::SyncChildren(CDirItem* pItem)
{
    // Unbuilt items are built afresh when they are opened.
    if (pItem->m_pDir == nullptr || HasPlaceholder(pItem))
        return;
    CFolderSnapshot children = ReadChildren(pItem->m_pDir);
    std::unordered_map<const CFTPDir*, int> wanted;
    for (size_t i = 0; i < children.m_dirs.size(); ++i)
        wanted.emplace(children.m_dirs[i], int(i));

    // Items of folders that are gone, then the new folders in their places
    // (an update appends new folders, so the others keep their order).
    for (int i = pItem->childCount() - 1; i >= 0; --i)
    {
        CDirItem* pChild = AsDirItem(pItem->child(i));
        if (pChild->m_pDir == nullptr || !wanted.contains(pChild->m_pDir))
        {
            if (IsInside(currentItem(), pChild))
                setCurrentItem(pItem);
            if (IsInside(m_pShownItem, pChild))
                m_pShownItem = nullptr;
            delete pChild;
        }
    }
    for (size_t i = 0; i < children.m_dirs.size(); ++i)
    {
        int nIndex = int(i);
        QTreeWidgetItem* pAt = pItem->child(nIndex);
        if (pAt != nullptr && AsDirItem(pAt)->m_pDir == children.m_dirs[i])
            continue;
        pItem->insertChild(nIndex, MakeFolderItem(children.m_dirs[i]));
    }
    // An item that no longer matches its place (a folder moved) goes.
    while (pItem->childCount() > int(children.m_dirs.size()))
    {
        QTreeWidgetItem* pExtra = pItem->child(pItem->childCount() - 1);
        if (IsInside(currentItem(), pExtra))
            setCurrentItem(pItem);
        if (IsInside(m_pShownItem, pExtra))
            m_pShownItem = nullptr;
        delete pExtra;
    }
    for (int i = 0; i < pItem->childCount(); ++i)
        SyncChildren(AsDirItem(pItem->child(i)));
}

void CDirView::RefreshSiteFolders(CFTPSite* pSite)
{
    CDirItem* pItem = FindSiteItem(pSite);
    if (pItem == nullptr)
        return;
    CQuiet quiet(*this);
    SyncChildren(pItem);
    // A site item with no folders keeps its placeholder.
    if (pItem->childCount() == 0)
        pItem->addChild(new CDirItem(nullptr));
}

void CDirView::OnCopyPath()
{
    CDirItem* pItem = SelectedItem();
    if (pItem == nullptr || pItem->IsPlaceholder())
        return;
    std::string strAddress = pItem->m_pDir->GetAddress();
    if (!m_doc.CopyAddress(strAddress))
        return;
    TarnMessageBox(window(),
                   QString::fromUtf8(TEXT_PATH_COPIED) + "\n\n" +
                       CopiedUrlText(m_doc.GetUrl(strAddress),
                                     DisplayName(strAddress, pItem->GetSite()), pItem->GetSite()));
}

void CDirView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        if (!isExpanded(parent))
            return;
    QTreeWidget::scrollTo(index, hint);
}

void CDirView::contextMenuEvent(QContextMenuEvent* pEvent)
{
    QTreeWidgetItem* pItem =
        pEvent->reason() == QContextMenuEvent::Mouse ? itemAt(pEvent->pos()) : currentItem();
    if (pItem == nullptr)
        return;
    // The item under the click is selected (and shown) before the menu opens.
    if (pItem != currentItem())
        setCurrentItem(pItem);
    else if (pItem != m_pShownItem)
        OnSelChanged(AsDirItem(pItem));
    pItem->setSelected(true);
    QMenu* pMenu = AsDirItem(pItem)->IsSiteItem() ? m_pSiteMenu : m_pFolderMenu;
    if (pMenu != nullptr)
        pMenu->exec(pEvent->globalPos());
}

void CDirView::keyPressEvent(QKeyEvent* pEvent)
{
    if ((pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) &&
        pEvent->modifiers() == Qt::NoModifier)
    {
        if (QTreeWidgetItem* pItem = currentItem())
        {
            pItem->setSelected(true);
            if (pItem != m_pShownItem)
                OnSelChanged(AsDirItem(pItem));
            pItem->setExpanded(true);
        }
        return;
    }
    QTreeWidget::keyPressEvent(pEvent);
}
