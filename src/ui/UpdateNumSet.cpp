#include "ui/UpdateNumSet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/DialogData.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "设置更新线程";
const char* const TEXT_THREADS = "设置更新线程数：";
const char* const TEXT_OK = "确定";
const char* const TEXT_CANCEL = "取消";
const char* const TEXT_NOT_A_NUMBER = "Please enter an integer.";
const char* const TEXT_OUT_OF_RANGE = "Please enter an integer between %1 and %2.";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CUpdateNumSet::CUpdateNumSet(QWidget* pParent) : QDialog(pParent), m_pEditThreads(new QLineEdit)
{
    setWindowTitle(Text(TEXT_TITLE));
    m_pEditThreads->setObjectName("threads");
    m_pEditThreads->setMaximumWidth(m_pEditThreads->fontMetrics().horizontalAdvance('0') * 8 + 12);

    auto* pLabel = new QLabel(Text(TEXT_THREADS));
    pLabel->setBuddy(m_pEditThreads);
    auto* pField = new QHBoxLayout;
    pField->addStretch();
    pField->addWidget(pLabel);
    pField->addWidget(m_pEditThreads);
    pField->addStretch();

    auto* pButtonOk = new QPushButton(Text(TEXT_OK));
    auto* pButtonCancel = new QPushButton(Text(TEXT_CANCEL));
    pButtonOk->setObjectName("ok");
    pButtonCancel->setObjectName("cancel");
    pButtonOk->setDefault(true);
    connect(pButtonOk, &QPushButton::clicked, this, &CUpdateNumSet::accept);
    connect(pButtonCancel, &QPushButton::clicked, this, &CUpdateNumSet::reject);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pButtonOk);
    pButtons->addSpacing(20);
    pButtons->addWidget(pButtonCancel);
    pButtons->addStretch();

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pField);
    pLayout->addSpacing(8);
    pLayout->addLayout(pButtons);
    setTabOrder(m_pEditThreads, pButtonOk);
    setTabOrder(pButtonOk, pButtonCancel);
}

void CUpdateNumSet::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        m_pEditThreads->setText(QString::number(m_nThreads));
        m_pEditThreads->selectAll();
        m_pEditThreads->setFocus();
    }
    QDialog::showEvent(pEvent);
}

void CUpdateNumSet::accept()
{
    const std::optional<int> threads = ScanLeadingInt(m_pEditThreads->text());
    if (!threads)
    {
        RefuseField(this, m_pEditThreads, Text(TEXT_NOT_A_NUMBER));
        return;
    }
    if (*threads < MIN_THREADS || *threads > MAX_THREADS)
    {
        RefuseField(this, m_pEditThreads,
                    Text(TEXT_OUT_OF_RANGE).arg(MIN_THREADS).arg(MAX_THREADS));
        return;
    }
    m_nThreads = *threads;
    QDialog::accept();
}
