#include "ui/StatsText.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

#include "doc/FormatSize.h"
#include "model/SiteStats.h"

namespace
{
// What the figures say.
const char* const TEXT_BYTES = "%1（%2 字节）";
const char* const TEXT_HOURS = "%1小时%2分%3秒";
const char* const TEXT_MINUTES = "%1分%2秒";
const char* const TEXT_SECONDS = "%1秒";
const char* const TEXT_TIP_TOTALS = "文件夹 %1，文件 %2，共 %3";
const char* const TEXT_TIP_UPDATED = "上次更新：%1";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

QString BytesText(uint64_t nBytes)
{
    QString strShort = QString::fromStdString(FormatSize(int64_t(nBytes)));
    if (nBytes < 1024)
        return strShort;
    // Grouped digits whatever the desktop's locale: the labels are Chinese.
    QString strExact = QLocale(QLocale::Chinese, QLocale::China).toString(qulonglong(nBytes));
    return Text(TEXT_BYTES).arg(strShort, strExact);
}

QString LocalTimeText(const std::string& strIso)
{
    if (strIso.empty())
        return {};
    QString str = QString::fromStdString(strIso);
    QDateTime time = QDateTime::fromString(str, Qt::ISODateWithMs);
    if (!time.isValid())
        return str;
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DurationText(int64_t nMs)
{
    nMs = std::max<int64_t>(nMs, 0);
    if (nMs < 60000)
    {
        // Tenths below a minute: a short update should not read "0秒".
        return Text(TEXT_SECONDS).arg(QString::number(double(nMs) / 1000.0, 'f', 1));
    }
    int64_t nSeconds = nMs / 1000;
    if (nSeconds < 3600)
        return Text(TEXT_MINUTES).arg(nSeconds / 60).arg(nSeconds % 60);
    return Text(TEXT_HOURS).arg(nSeconds / 3600).arg(nSeconds / 60 % 60).arg(nSeconds % 60);
}

QString StatsTipText(const CSiteStats& stats)
{
    QStringList lines;
    if (stats.totals)
        lines << Text(TEXT_TIP_TOTALS)
                     .arg(stats.totals->nFolders)
                     .arg(stats.totals->nFiles)
                     .arg(QString::fromStdString(FormatSize(int64_t(stats.totals->nBytes))));
    if (stats.run && !stats.run->strEnd.empty())
        lines << Text(TEXT_TIP_UPDATED).arg(LocalTimeText(stats.run->strEnd));
    return lines.join(QLatin1Char('\n'));
}
