#include "ui/SiteInfoDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/SiteStats.h"
#include "ui/DisplayText.h"
#include "ui/StatsText.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "站点信息";
const char* const TEXT_CLOSE = "关闭";
const char* const TEXT_SITE = "站点";
const char* const TEXT_FOLDERS = "文件夹";
const char* const TEXT_FILES = "文件";
const char* const TEXT_BYTES = "总大小";
const char* const TEXT_UNREAD = "未读";
const char* const TEXT_NEWEST = "最新文件时间";
const char* const TEXT_LAST_START = "上次更新开始";
const char* const TEXT_LAST_END = "上次更新结束";
const char* const TEXT_DURATION = "用时";
const char* const TEXT_FOLDERS_LISTED = "列出的文件夹";
const char* const TEXT_COMMANDS = "发送的命令";
const char* const TEXT_LISTING_BYTES = "收到的列表";
const char* const TEXT_LAST_ERROR = "上次错误";
const char* const TEXT_NOT_COUNTED = "未统计";
const char* const TEXT_NEVER = "从未更新";
const char* const TEXT_NONE = "无";
const char* const TEXT_NOT_ENDED = "未结束";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CSiteInfoDlg::CSiteInfoDlg(const QString& strSite, const CSiteStats& stats, QWidget* pParent)
    : QDialog(pParent)
{
    setWindowTitle(Text(TEXT_TITLE));
    auto* pForm = new QFormLayout;
    pForm->setLabelAlignment(Qt::AlignRight);
    auto add = [&](const char* pszLabel, const QString& strValue)
    {
        auto* pValue = new QLabel(strValue);
        // The site's name and the server's last reply are shown as they are.
        pValue->setTextFormat(Qt::PlainText);
        pValue->setObjectName(Text(pszLabel));
        // Figures and errors are worth copying into a report.
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pValue->setWordWrap(true);
        pForm->addRow(Text(pszLabel) + QStringLiteral("："), pValue);
    };

    add(TEXT_SITE, strSite);
    if (const auto& totals = stats.totals)
    {
        add(TEXT_FOLDERS, QString::number(totals->nFolders));
        add(TEXT_FILES, QString::number(totals->nFiles));
        add(TEXT_BYTES, BytesText(totals->nBytes));
        add(TEXT_UNREAD, QString::number(totals->nUnread));
        add(TEXT_NEWEST, totals->newest.IsKnown()
                             ? QString::fromStdString(DescribeModTime(totals->newest))
                             : Text(TEXT_NONE));
    }
    else
    {
        for (const char* psz : {TEXT_FOLDERS, TEXT_FILES, TEXT_BYTES, TEXT_UNREAD, TEXT_NEWEST})
            add(psz, Text(TEXT_NOT_COUNTED));
    }
    if (const auto& run = stats.run)
    {
        add(TEXT_LAST_START, LocalTimeText(run->strStart));
        add(TEXT_LAST_END, run->strEnd.empty() ? Text(TEXT_NOT_ENDED) : LocalTimeText(run->strEnd));
        add(TEXT_DURATION, DurationText(run->nDurationMs));
        add(TEXT_FOLDERS_LISTED, QString::number(run->nFoldersListed));
        add(TEXT_COMMANDS, QString::number(run->nCommands));
        add(TEXT_LISTING_BYTES, BytesText(run->nListingBytes));
        add(TEXT_LAST_ERROR,
            run->strLastError.empty() ? Text(TEXT_NONE) : DisplayText(run->strLastError));
    }
    else
    {
        add(TEXT_LAST_START, Text(TEXT_NEVER));
        for (const char* psz : {TEXT_LAST_END, TEXT_DURATION, TEXT_FOLDERS_LISTED, TEXT_COMMANDS,
                                TEXT_LISTING_BYTES, TEXT_LAST_ERROR})
            add(psz, Text(TEXT_NONE));
    }

    auto* pButtons = new QDialogButtonBox;
    QPushButton* pClose = pButtons->addButton(Text(TEXT_CLOSE), QDialogButtonBox::RejectRole);
    pClose->setDefault(true);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(pButtons);
    setMinimumWidth(360);
}

QString CSiteInfoDlg::Value(const QString& strLabel) const
{
    auto* pValue = findChild<QLabel*>(strLabel);
    return pValue != nullptr ? pValue->text() : QString();
}
