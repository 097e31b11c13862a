#include "ui/FileSortProxy.h"

#include "ui/FileListModel.h"

CFileSortProxy::CFileSortProxy(CFileListModel& model, QObject* pParent)
    : QIdentityProxyModel(pParent), m_model(model)
{
    setSourceModel(&model);
}

void CFileSortProxy::sort(int nColumn, Qt::SortOrder order)
{
    m_model.Sort(nColumn, order);
}
