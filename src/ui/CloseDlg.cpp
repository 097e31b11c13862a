#include "ui/CloseDlg.h"

#include <QFrame>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "update/UpdateEngine.h"

namespace
{
// What the dialog says.
const char* const TEXT_CLOSING = "正在关闭连接,请稍后";
} // namespace

CCloseDlg::CCloseDlg(QWidget* pParent, std::function<bool()> isIdle)
    : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint),
      m_isIdle(isIdle ? std::move(isIdle) : std::function<bool()>(IsEngineIdle)),
      m_strText(QString::fromUtf8(TEXT_CLOSING)), m_pLabel(new QLabel(m_strText)),
      m_pTimer(new QTimer(this))
{
    setModal(true);
    m_pLabel->setObjectName("text");
    // Room for all five dots, so the window does not grow as they come.
    m_pLabel->setMinimumWidth(
        m_pLabel->fontMetrics().horizontalAdvance(m_strText + QString(MAX_DOTS, '.')) + 8);

    // No caption, so the thin border is our own.
    auto* pFrame = new QFrame;
    pFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    auto* pInner = new QVBoxLayout(pFrame);
    pInner->setContentsMargins(36, 24, 36, 24);
    pInner->addWidget(m_pLabel);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->addWidget(pFrame);

    m_pTimer->setInterval(TICK_MS);
    connect(m_pTimer, &QTimer::timeout, this, &CCloseDlg::OnTimer);
}

void CCloseDlg::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
        m_pTimer->start();
    QDialog::showEvent(pEvent);
}

void CCloseDlg::hideEvent(QHideEvent* pEvent)
{
    if (!pEvent->spontaneous())
        m_pTimer->stop();
    QDialog::hideEvent(pEvent);
}

void CCloseDlg::OnTimer()
{
    if (m_isIdle())
    {
        m_pTimer->stop();
        accept();
        return;
    }
    const QString strBase = QString::fromUtf8(TEXT_CLOSING);
    if (m_strText == strBase + QString(MAX_DOTS, '.'))
        m_strText = strBase;
    else
        m_strText += '.';
    m_pLabel->setText(m_strText);
}

void CCloseDlg::reject() {}
