#pragma once
// The main window over a temporary data folder, with helpers to build sites
// and trees and to read what the two views show.

#include <QAbstractItemModel>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <memory>

#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/TreeBuilder.h"
#include "ui/CommandIds.h"
#include "ui/DirView.h"
#include "ui/FileListModel.h"
#include "ui/FileSortProxy.h"
#include "ui/MainFrame.h"
#include "ui/TarnView.h"

class CWindowFixture
{
public:
    CWindowFixture()
    {
        QStandardPaths::setTestModeEnabled(true);
        SetProgramFolder(m_data.Path());
        m_pFrame = std::make_unique<CMainFrame>();
        (void)Doc().OnNewDocument();
        Doc().SetPumpInterval(std::chrono::nanoseconds(0));
        m_pFrame->OnInitialUpdate();
    }

    CMainFrame& Frame() const { return *m_pFrame; }
    CTarnDoc& Doc() const { return m_pFrame->GetDoc(); }
    CDirView& Tree() const { return m_pFrame->GetDirView(); }
    CTarnView& List() const { return m_pFrame->GetFileView(); }
    const std::string& DataFolder() const { return m_data.Path(); }

    // An anonymous site on the document, without a tree item (FillTree adds it).
    CFTPSite* AddSite(const std::string& strHost, const std::string& strNickname = "")
    {
        CSiteInfo info;
        info.m_strHost = strHost;
        info.m_bAnonymous = true;
        info.m_strNickname = strNickname;
        if (!Doc().AddSite(info))
            return nullptr;
        return Doc().m_siteList.back().get();
    }

    // The texts of one column as the list shows them, waiting rows included.
    QStringList Rows(int nColumn = CFileListModel::COLUMN_NAME) const
    {
        List().Model().FlushPending();
        QStringList rows;
        const QAbstractItemModel* pModel = List().model();
        for (int i = 0; i < pModel->rowCount(); ++i)
            rows << pModel->index(i, nColumn).data().toString();
        return rows;
    }
    // Whether each row is highlighted as unread, in the list's order.
    QList<bool> Highlights() const
    {
        List().Model().FlushPending();
        QList<bool> rows;
        const QAbstractItemModel* pModel = List().model();
        for (int i = 0; i < pModel->rowCount(); ++i)
            rows << pModel->index(i, 0).data(Qt::BackgroundRole).isValid();
        return rows;
    }

    static QStringList Labels(const QTreeWidgetItem* pParent)
    {
        QStringList labels;
        for (int i = 0; i < pParent->childCount(); ++i)
            labels << pParent->child(i)->text(0);
        return labels;
    }
    QStringList TopLabels() const { return Labels(Tree().invisibleRootItem()); }
    CDirItem* TopItem(int n) const { return static_cast<CDirItem*>(Tree().topLevelItem(n)); }
    static CDirItem* Child(QTreeWidgetItem* pItem, int n)
    {
        return static_cast<CDirItem*>(pItem->child(n));
    }
    // Selects an item as a user would. The first notice after start-up is
    // used up first, so this one counts.
    void Select(QTreeWidgetItem* pItem)
    {
        if (!m_bFirstUsed)
        {
            m_bFirstUsed = true;
            Tree().setCurrentItem(pItem);
            Tree().setCurrentItem(nullptr);
        }
        Tree().setCurrentItem(pItem);
    }

private:
    CTempDir m_data;
    std::unique_ptr<CMainFrame> m_pFrame;
    bool m_bFirstUsed = false;
};
