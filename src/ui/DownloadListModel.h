#pragma once
// The transfer list's rows: a copy of the download queue's jobs, refreshed
// when the queue reports a change (never read from the workers directly).
//
// GUI thread only.

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <vector>

#include "transfer/Download.h"

class CDownloadListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        COL_NAME,
        COL_SIZE,
        COL_PROGRESS,
        COL_SPEED,
        COL_LEFT,
        COL_STATE,
        COLUMN_COUNT,
    };
    // The progress column's value: per mille, -1 unknown.
    static constexpr int PROGRESS_ROLE = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    void SetJobs(std::vector<CDownloadJob> jobs);
    const CDownloadJob* JobAt(int nRow) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation,
                        int nRole = Qt::DisplayRole) const override;

private:
    std::vector<CDownloadJob> m_jobs;
};

// Paints the progress column as a bar.
class CProgressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* pPainter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// "1.50M/s"; "" when nothing moves.
QString FormatSpeed(double dBytesPerSecond);
// "1:02:03", "2:03"; "" when unknown.
QString FormatTimeLeft(int64_t nSeconds);
