#pragma once
// The view's side of the file list. The rows sort in the model itself (see
// CFileListModel::Sort: a million rows sort off the GUI thread), so this
// proxy keeps the model's order, row for row, and hands a sort request
// there. An identity proxy: inserting rows costs it nothing per row already
// shown, where a sorting proxy would remap them all at every batch.
// GUI thread only.

#include <QIdentityProxyModel>

class CFileListModel;

class CFileSortProxy : public QIdentityProxyModel
{
    Q_OBJECT

public:
    explicit CFileSortProxy(CFileListModel& model, QObject* pParent = nullptr);

    void sort(int nColumn, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    CFileListModel& m_model;
};
