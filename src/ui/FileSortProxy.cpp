#include "ui/FileSortProxy.h"

#include <algorithm>
#include <string>

#include "ui/FileListModel.h"

namespace
{
// Case-insensitive for A-Z only, then byte order: names are bytes, and a
// comparison must not decode two names for every step of a sort.
int CompareNames(const std::string& a, const std::string& b)
{
    size_t nCommon = std::min(a.size(), b.size());
    for (size_t i = 0; i < nCommon; ++i)
    {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        int nDiff =
            lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
        if (nDiff != 0)
            return nDiff;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}
} // namespace

CFileSortProxy::CFileSortProxy(CFileListModel& model, QObject* pParent)
    : QSortFilterProxyModel(pParent), m_model(model)
{
    setSourceModel(&model);
    // New rows take their sorted place as they arrive.
    setDynamicSortFilter(true);
}

bool CFileSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const CFileListModel::CRow& a = m_model.Row(left.row());
    const CFileListModel::CRow& b = m_model.Row(right.row());
    bool bAscending = sortOrder() == Qt::AscendingOrder;
    if (a.m_bFolder != b.m_bFolder)
        return bAscending ? a.m_bFolder : b.m_bFolder;
    int nOrder = 0;
    switch (left.column())
    {
    case CFileListModel::COLUMN_SIZE:
    {
        uint64_t nLeft = m_model.SizeAt(left.row());
        uint64_t nRight = m_model.SizeAt(right.row());
        nOrder = nLeft < nRight ? -1 : (nLeft > nRight ? 1 : 0);
    }
    break;
    case CFileListModel::COLUMN_ADDRESS:
        nOrder = m_model.AddressAt(left.row()).compare(m_model.AddressAt(right.row()));
        break;
    case CFileListModel::COLUMN_MODIFIED:
    {
        CModTime leftTime = m_model.TimeAt(left.row());
        CModTime rightTime = m_model.TimeAt(right.row());
        // Rows without a time stay last either way, as folders stay first.
        if (leftTime.IsKnown() != rightTime.IsKnown())
            return bAscending ? leftTime.IsKnown() : rightTime.IsKnown();
        nOrder = CompareModTimes(leftTime, rightTime);
    }
    break;
    default:
        break;
    }
    if (nOrder == 0)
        nOrder = CompareNames(m_model.NameAt(left.row()), m_model.NameAt(right.row()));
    return nOrder < 0;
}
