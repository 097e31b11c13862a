#pragma once
// "站点信息": one site's figures (model/SiteStats.h), read-only, with a
// 关闭 button. GUI thread only.

#include <QDialog>

struct CSiteStats;

class CSiteInfoDlg : public QDialog
{
    Q_OBJECT

public:
    CSiteInfoDlg(const QString& strSite, const CSiteStats& stats, QWidget* pParent = nullptr);

    // The value shown beside a label ("" when the label is not there).
    QString Value(const QString& strLabel) const;
};
