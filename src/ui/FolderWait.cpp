#include "ui/FolderWait.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "model/DataFolderLock.h"
#include "ui/Art.h"

namespace
{
const char* const TEXT_WAITING = "后台更新正在进行，完成后自动打开";
const char* const TEXT_CANCEL = "取消";
const char* const TEXT_TITLE = "Tarn";
constexpr int RETRY_MS = 250;
} // namespace

bool WaitForBackgroundUpdate(CDataFolderLock* pLock, const std::string& strFolder, QWidget* pParent)
{
    QDialog dlg(pParent);
    dlg.setObjectName("backgroundUpdateWait");
    dlg.setWindowTitle(QString::fromUtf8(TEXT_TITLE));
    dlg.setWindowIcon(AppIcon());
    auto* pLabel = new QLabel(QString::fromUtf8(TEXT_WAITING));
    auto* pCancel = new QPushButton(QString::fromUtf8(TEXT_CANCEL));
    pCancel->setObjectName("cancel");
    QObject::connect(pCancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pCancel);
    pButtons->addStretch();
    auto* pLayout = new QVBoxLayout(&dlg);
    pLayout->addWidget(pLabel);
    pLayout->addLayout(pButtons);

    bool bFailed = false;
    QTimer retry;
    retry.setInterval(RETRY_MS);
    QObject::connect(&retry, &QTimer::timeout, &dlg,
                     [&]
                     {
                         std::string strError;
                         switch (pLock->Acquire(strFolder, std::chrono::milliseconds(0), &strError))
                         {
                         case CDataFolderLock::Result::taken:
                             dlg.accept();
                             break;
                         case CDataFolderLock::Result::failed:
                             bFailed = true;
                             dlg.reject();
                             break;
                         case CDataFolderLock::Result::busy:
                             break;
                         }
                     });
    retry.start();
    bool bTaken = dlg.exec() == QDialog::Accepted;
    return bTaken && !bFailed;
}
