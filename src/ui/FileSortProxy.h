#pragma once
// Sorting the file list by a clicked column without touching the model's own
// order: folders stay ahead of files in either direction; names compare
// without regard to the case of A-Z, sizes as numbers, addresses as text,
// times as times (rows without one last in either direction).
// Unsorted (column -1, the default) the rows keep the model's order.
// GUI thread only.

#include <QSortFilterProxyModel>

class CFileListModel;

class CFileSortProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit CFileSortProxy(CFileListModel& model, QObject* pParent = nullptr);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    CFileListModel& m_model;
};
