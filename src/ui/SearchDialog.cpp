#include "ui/SearchDialog.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "正在搜索...";
const char* const TEXT_STOP = "停止";
} // namespace

CSearchDialog::CSearchDialog(QWidget* pParent)
    : QDialog(pParent), m_pProgress(new QProgressBar), m_pTimer(new QTimer(this))
{
    setWindowTitle(QString::fromUtf8(TEXT_TITLE));
    setModal(false);
    m_pProgress->setObjectName("progress");
    m_pProgress->setTextVisible(false);
    m_pProgress->setMinimumWidth(260);

    auto* pButtonStop = new QPushButton(QString::fromUtf8(TEXT_STOP));
    pButtonStop->setObjectName("stop");
    connect(pButtonStop, &QPushButton::clicked, this, &CSearchDialog::reject);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pButtonStop);
    pButtons->addStretch();

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pProgress);
    pLayout->addSpacing(8);
    pLayout->addLayout(pButtons);

    m_pTimer->setInterval(REFRESH_MS);
    connect(m_pTimer, &QTimer::timeout, this, &CSearchDialog::OnTimer);
}

void CSearchDialog::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        m_pProgress->setRange(0, qMax(0, m_nTotal));
        m_pProgress->setValue(0);
        OnTimer();
        m_pTimer->start();
    }
    QDialog::showEvent(pEvent);
}

void CSearchDialog::hideEvent(QHideEvent* pEvent)
{
    if (!pEvent->spontaneous())
        m_pTimer->stop();
    QDialog::hideEvent(pEvent);
}

void CSearchDialog::OnTimer()
{
    m_pProgress->setValue(qBound(0, m_nPos, m_pProgress->maximum()));
}

void CSearchDialog::reject()
{
    emit StopRequested();
    QDialog::reject();
}
