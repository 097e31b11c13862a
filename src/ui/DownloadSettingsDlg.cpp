#include "ui/DownloadSettingsDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "ui/DownloadTexts.h"
#include "ui/MessageBox.h"

namespace
{
QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CDownloadSettingsDlg::CDownloadSettingsDlg(QWidget* pParent)
    : QDialog(pParent), m_pFolder(new QLineEdit), m_pPerSite(new QSpinBox), m_pTotal(new QSpinBox)
{
    setWindowTitle(Text(download_text::SETTINGS_TITLE));
    auto* pForm = new QFormLayout(this);
    auto* pFolderRow = new QHBoxLayout;
    pFolderRow->addWidget(m_pFolder, 1);
    auto* pBrowse = new QPushButton(Text(download_text::SETTINGS_BROWSE));
    pFolderRow->addWidget(pBrowse);
    pForm->addRow(Text(download_text::SETTINGS_FOLDER), pFolderRow);
    m_pPerSite->setRange(1, 10);
    m_pTotal->setRange(1, 20);
    pForm->addRow(Text(download_text::SETTINGS_PER_SITE), m_pPerSite);
    pForm->addRow(Text(download_text::SETTINGS_TOTAL), m_pTotal);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    pForm->addRow(pButtons);
    m_pFolder->setMinimumWidth(320);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(pBrowse, &QPushButton::clicked, this,
            [this]
            {
                QString strFolder =
                    QFileDialog::getExistingDirectory(this, QString(), m_pFolder->text());
                if (!strFolder.isEmpty())
                    m_pFolder->setText(strFolder);
            });
}

int CDownloadSettingsDlg::exec()
{
    m_pFolder->setText(m_strFolder);
    m_pPerSite->setValue(m_nPerSite);
    m_pTotal->setValue(m_nTotal);
    return QDialog::exec();
}

void CDownloadSettingsDlg::accept()
{
    QString strFolder = m_pFolder->text().trimmed();
    if (strFolder.isEmpty() || !QDir(strFolder).exists())
    {
        TarnMessageBox(this, Text(download_text::NO_FOLDER).arg(strFolder));
        m_pFolder->setFocus();
        return;
    }
    m_strFolder = QDir(strFolder).absolutePath();
    m_nPerSite = m_pPerSite->value();
    m_nTotal = m_pTotal->value();
    QDialog::accept();
}
