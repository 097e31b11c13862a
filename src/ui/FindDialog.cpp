#include "ui/FindDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "查找";
const char* const TEXT_PROMPT = "请输入查找关键词:";
const char* const TEXT_OK = "确定";
const char* const TEXT_CANCEL = "取消";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CFindDialog::CFindDialog(QWidget* pParent) : QDialog(pParent), m_pEditKeyword(new QLineEdit)
{
    setWindowTitle(Text(TEXT_TITLE));
    m_pEditKeyword->setObjectName("keyword");
    m_pEditKeyword->setMinimumWidth(240);
    auto* pPrompt = new QLabel(Text(TEXT_PROMPT));
    pPrompt->setBuddy(m_pEditKeyword);

    auto* pButtonOk = new QPushButton(Text(TEXT_OK));
    auto* pButtonCancel = new QPushButton(Text(TEXT_CANCEL));
    pButtonOk->setObjectName("ok");
    pButtonCancel->setObjectName("cancel");
    pButtonOk->setDefault(true);
    connect(pButtonOk, &QPushButton::clicked, this, &CFindDialog::accept);
    connect(pButtonCancel, &QPushButton::clicked, this, &CFindDialog::reject);
    auto* pButtons = new QVBoxLayout;
    pButtons->addWidget(pButtonOk);
    pButtons->addWidget(pButtonCancel);
    pButtons->addStretch();

    auto* pField = new QVBoxLayout;
    pField->addWidget(pPrompt);
    pField->addWidget(m_pEditKeyword);
    pField->addStretch();

    auto* pLayout = new QHBoxLayout(this);
    pLayout->addLayout(pField, 1);
    pLayout->addSpacing(8);
    pLayout->addLayout(pButtons);
    setTabOrder(m_pEditKeyword, pButtonOk);
    setTabOrder(pButtonOk, pButtonCancel);
}

void CFindDialog::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        m_pEditKeyword->setText(m_strKeyword);
        m_pEditKeyword->selectAll();
        m_pEditKeyword->setFocus();
    }
    QDialog::showEvent(pEvent);
}

void CFindDialog::accept()
{
    m_strKeyword = m_pEditKeyword->text();
    QDialog::accept();
}
