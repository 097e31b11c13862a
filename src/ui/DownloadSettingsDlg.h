#pragma once
// "下载设置": the folder downloads go to and how many connections they use
// (per site and in all). The caller fills the members, runs exec() and on
// QDialog::Accepted reads them back. GUI thread only.

#include <QDialog>

class QLineEdit;
class QSpinBox;

class CDownloadSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CDownloadSettingsDlg(QWidget* pParent = nullptr);

    QString m_strFolder;
    int m_nPerSite = 2;
    int m_nTotal = 4;

    int exec() override;
    void accept() override;

    QLineEdit* GetFolderEdit() const { return m_pFolder; }

private:
    QLineEdit* m_pFolder;
    QSpinBox* m_pPerSite;
    QSpinBox* m_pTotal;
};
