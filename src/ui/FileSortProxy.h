#pragma once
// The view's side of the file list. The rows sort in the model itself (see
// CFileListModel::Sort: a million rows sort off the GUI thread), so this
// proxy keeps the model's order and hands a sort request there.
// GUI thread only.

#include <QSortFilterProxyModel>

class CFileListModel;

class CFileSortProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit CFileSortProxy(CFileListModel& model, QObject* pParent = nullptr);

    void sort(int nColumn, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    CFileListModel& m_model;
};
