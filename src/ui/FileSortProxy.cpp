#include "ui/FileSortProxy.h"

#include "ui/FileListModel.h"

CFileSortProxy::CFileSortProxy(CFileListModel& model, QObject* pParent)
    : QSortFilterProxyModel(pParent), m_model(model)
{
    setSourceModel(&model);
    setDynamicSortFilter(false);
}

void CFileSortProxy::sort(int nColumn, Qt::SortOrder order)
{
    m_model.Sort(nColumn, order);
}
