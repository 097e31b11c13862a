#include "ui/DownloadListModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include "doc/FormatSize.h"
#include "transfer/DownloadQueue.h"
#include "ui/DownloadTexts.h"

namespace
{
QString Text(const std::string& str)
{
    return QString::fromUtf8(str.data(), qsizetype(str.size()));
}

int64_t SizeOf(const CDownloadJob& job)
{
    return job.nTotal >= 0 ? job.nTotal : job.nListedSize;
}
} // namespace

QString FormatSpeed(double dBytesPerSecond)
{
    if (dBytesPerSecond < 1)
        return {};
    return Text(FormatSize(static_cast<int64_t>(dBytesPerSecond))) + "/s";
}

QString FormatTimeLeft(int64_t nSeconds)
{
    if (nSeconds < 0)
        return {};
    int64_t nHours = nSeconds / 3600;
    int nMinutes = static_cast<int>(nSeconds / 60 % 60);
    int nSecs = static_cast<int>(nSeconds % 60);
    if (nHours > 0)
        return QString("%1:%2:%3")
            .arg(nHours)
            .arg(nMinutes, 2, 10, QChar('0'))
            .arg(nSecs, 2, 10, QChar('0'));
    return QString("%1:%2").arg(nMinutes).arg(nSecs, 2, 10, QChar('0'));
}

void CDownloadListModel::SetJobs(std::vector<CDownloadJob> jobs)
{
    bool bSameRows =
        jobs.size() == m_jobs.size() &&
        std::equal(jobs.begin(), jobs.end(), m_jobs.begin(),
                   [](const CDownloadJob& a, const CDownloadJob& b) { return a.nId == b.nId; });
    if (!bSameRows)
    {
        beginResetModel();
        m_jobs = std::move(jobs);
        endResetModel();
        return;
    }
    m_jobs = std::move(jobs);
    if (!m_jobs.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, COLUMN_COUNT - 1));
}

const CDownloadJob* CDownloadListModel::JobAt(int nRow) const
{
    return nRow >= 0 && size_t(nRow) < m_jobs.size() ? &m_jobs[size_t(nRow)] : nullptr;
}

int CDownloadListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_jobs.size());
}

int CDownloadListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CDownloadListModel::data(const QModelIndex& index, int nRole) const
{
    const CDownloadJob* pJob = JobAt(index.row());
    if (pJob == nullptr)
        return {};
    const CDownloadJob& job = *pJob;
    int64_t nSize = SizeOf(job);
    if (nRole == PROGRESS_ROLE)
    {
        if (job.nState == DownloadState::done)
            return 1000;
        return nSize > 0 ? int(std::min<uint64_t>(1000, job.nDone * 1000 / uint64_t(nSize)))
                         : (nSize == 0 ? 0 : -1);
    }
    if (nRole == Qt::ToolTipRole)
    {
        std::string strTip = job.strSaved.empty() ? job.GetTarget() : job.strSaved;
        if (!job.strError.empty())
            strTip += "\n" + job.strError;
        if (!job.strNote.empty())
            strTip += "\n" + job.strNote;
        return Text(strTip);
    }
    if (nRole == Qt::TextAlignmentRole && index.column() != COL_NAME && index.column() != COL_STATE)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (nRole != Qt::DisplayRole)
        return {};
    switch (index.column())
    {
    case COL_NAME:
    {
        size_t nSlash = job.strRelative.rfind('/');
        return Text(nSlash == std::string::npos ? job.strRelative
                                                : job.strRelative.substr(nSlash + 1));
    }
    case COL_SIZE:
        return nSize >= 0 ? Text(FormatSize(nSize)) : QString();
    case COL_PROGRESS:
        return {};
    case COL_SPEED:
        return job.nState == DownloadState::running ? FormatSpeed(job.dSpeed) : QString();
    case COL_LEFT:
        if (job.nState != DownloadState::running || job.dSpeed < 1 || nSize < 0)
            return {};
        return FormatTimeLeft(static_cast<int64_t>(
            double(std::max<int64_t>(0, nSize - int64_t(job.nDone))) / job.dSpeed));
    case COL_STATE:
    {
        QString strState = QString::fromUtf8(DescribeState(job.nState));
        if (job.nState == DownloadState::failed && !job.strError.empty())
            strState += "：" + Text(job.strError);
        else if (!job.strNote.empty())
            strState += "（" + Text(job.strNote) + "）";
        return strState;
    }
    default:
        return {};
    }
}

QVariant CDownloadListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole || nSection < 0 ||
        nSection >= COLUMN_COUNT)
        return {};
    return QString::fromUtf8(download_text::COLUMNS[nSection]);
}

void CProgressDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    QStyledItemDelegate::paint(pPainter, option, index);
    int nValue = index.data(CDownloadListModel::PROGRESS_ROLE).toInt();
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 3, -2, -3);
    bar.minimum = 0;
    bar.maximum = nValue < 0 ? 0 : 1000; // 0..0: busy
    bar.progress = std::max(0, nValue);
    bar.textVisible = nValue >= 0;
    bar.text = QString::number(std::max(0, nValue) / 10) + "%";
    bar.state = option.state | QStyle::State_Horizontal;
    QStyle* pStyle = option.widget != nullptr ? option.widget->style() : QApplication::style();
    pStyle->drawControl(QStyle::CE_ProgressBar, &bar, pPainter, option.widget);
}
