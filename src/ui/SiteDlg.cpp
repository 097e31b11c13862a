#include "ui/SiteDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include "model/FTPSite.h"
#include "ui/DialogData.h"
#include "ui/OkCancelRow.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "服务器";
const char* const TEXT_HOST = "站点";
const char* const TEXT_PORT = "端口号";
const char* const TEXT_USER = "用户名";
const char* const TEXT_ANONYMOUS = "匿名";
const char* const TEXT_PASSWORD = "密码";
const char* const TEXT_NICKNAME = "站点昵称:";
const char* const TEXT_ANON_UPDATE = "是否匿名更新站点内容";
const char* const TEXT_REMARK = "备注:";
const char* const TEXT_ADVANCED = "高级...";
const char* const TEXT_BAD_PORT = "Please enter a positive integer.";
const char* const TEXT_PORT_RANGE = "Please enter an integer between %1 and %2.";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

QLabel* Label(const char* psz, QWidget* pBuddy)
{
    auto* pLabel = new QLabel(Text(psz));
    pLabel->setBuddy(pBuddy);
    return pLabel;
}
} // namespace

CSiteDlg::CSiteDlg(QWidget* pParent)
    : QDialog(pParent), m_pEditHost(new QLineEdit), m_pEditPort(new QLineEdit),
      m_pEditUser(new QLineEdit), m_pCheckAnonymous(new QCheckBox(Text(TEXT_ANONYMOUS))),
      m_pEditPassword(new QLineEdit), m_pEditNickname(new QLineEdit),
      m_pCheckAnonUpdate(new QCheckBox(Text(TEXT_ANON_UPDATE))), m_pEditRemark(new QPlainTextEdit)
{
    setWindowTitle(Text(TEXT_TITLE));

    // Object names let tests and accessibility tools find the fields.
    m_pEditHost->setObjectName("host");
    m_pEditPort->setObjectName("port");
    m_pEditUser->setObjectName("user");
    m_pCheckAnonymous->setObjectName("anonymous");
    m_pEditPassword->setObjectName("password");
    m_pEditNickname->setObjectName("nickname");
    m_pCheckAnonUpdate->setObjectName("anonUpdate");
    m_pEditRemark->setObjectName("remark");

    // Digits only from the keyboard; OK still checks, since a pasted or
    // empty text gets past a validator.
    m_pEditPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_pEditPort));
    m_pEditPort->setMaximumWidth(m_pEditPort->fontMetrics().horizontalAdvance('0') * 8 + 12);
    m_pEditPassword->setEchoMode(QLineEdit::Password);
    m_pEditRemark->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pEditRemark->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pEditRemark->setTabChangesFocus(true);

    COkCancelRow buttons = MakeOkCancelRow(this);
    QPushButton* pButtonOk = buttons.pOk;
    QPushButton* pButtonCancel = buttons.pCancel;
    auto* pButtonAdvanced = new QPushButton(Text(TEXT_ADVANCED));
    pButtonAdvanced->setObjectName("advanced");
    pButtonAdvanced->setAutoDefault(false);
    connect(pButtonAdvanced, &QPushButton::clicked, this, &CSiteDlg::OnAdvanced);
    connect(m_pCheckAnonymous, &QCheckBox::clicked, this, &CSiteDlg::OnAnonymousClicked);

    auto* pGrid = new QGridLayout;
    pGrid->addWidget(Label(TEXT_HOST, m_pEditHost), 0, 0);
    pGrid->addWidget(m_pEditHost, 0, 1);
    pGrid->addWidget(Label(TEXT_PORT, m_pEditPort), 0, 2);
    pGrid->addWidget(m_pEditPort, 0, 3);
    pGrid->addWidget(Label(TEXT_USER, m_pEditUser), 1, 0);
    pGrid->addWidget(m_pEditUser, 1, 1);
    pGrid->addWidget(m_pCheckAnonymous, 1, 2, 1, 2);
    pGrid->addWidget(Label(TEXT_PASSWORD, m_pEditPassword), 2, 0);
    pGrid->addWidget(m_pEditPassword, 2, 1);
    pGrid->addWidget(Label(TEXT_NICKNAME, m_pEditNickname), 3, 0);
    pGrid->addWidget(m_pEditNickname, 3, 1);
    pGrid->addWidget(m_pCheckAnonUpdate, 3, 2, 1, 2);
    pGrid->addWidget(Label(TEXT_REMARK, m_pEditRemark), 4, 0, 1, 4);
    pGrid->addWidget(m_pEditRemark, 5, 0, 1, 4);
    pGrid->addWidget(pButtonAdvanced, 6, 2, 1, 2, Qt::AlignRight);
    pGrid->setColumnStretch(1, 1);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pGrid);
    pLayout->addSpacing(8);
    pLayout->addLayout(buttons.pLayout);

    // The fields in the order they are read, then the buttons.
    setTabOrder(m_pEditHost, m_pEditPort);
    setTabOrder(m_pEditPort, m_pEditUser);
    setTabOrder(m_pEditUser, m_pCheckAnonymous);
    setTabOrder(m_pCheckAnonymous, m_pEditPassword);
    setTabOrder(m_pEditPassword, m_pEditNickname);
    setTabOrder(m_pEditNickname, m_pCheckAnonUpdate);
    setTabOrder(m_pCheckAnonUpdate, m_pEditRemark);
    setTabOrder(m_pEditRemark, pButtonAdvanced);
    setTabOrder(pButtonAdvanced, pButtonOk);
    setTabOrder(pButtonOk, pButtonCancel);

    resize(460, 380);
}

void CSiteDlg::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        m_pEditHost->setText(m_strHost);
        m_pEditPort->setText(QString::number(m_nPort));
        m_pEditUser->setText(m_strUser);
        m_pEditPassword->setText(m_strPassword);
        m_pCheckAnonymous->setChecked(m_bAnonymous);
        m_pEditNickname->setText(m_strNickname);
        m_pEditRemark->setPlainText(m_strRemark);
        m_pCheckAnonUpdate->setChecked(m_bAnonUpdate);
        m_pendingChoices = m_choices;
        EnableLogin();
        m_pEditHost->setFocus();
    }
    QDialog::showEvent(pEvent);
}

void CSiteDlg::accept()
{
    const std::optional<unsigned int> port = ScanLeadingUnsigned(m_pEditPort->text());
    if (!port)
    {
        RefuseField(this, m_pEditPort, Text(TEXT_BAD_PORT));
        return;
    }
    // A port the connection cannot use would be cut to 16 bits and reach
    // another server with the site's password.
    if (!IsValidPort(*port))
    {
        RefuseField(this, m_pEditPort, Text(TEXT_PORT_RANGE).arg(PORT_MIN).arg(PORT_MAX));
        return;
    }
    m_strHost = m_pEditHost->text();
    m_strUser = m_pEditUser->text();
    m_strPassword = m_pEditPassword->text();
    m_bAnonymous = m_pCheckAnonymous->isChecked();
    m_nPort = *port;
    m_strNickname = m_pEditNickname->text();
    m_strRemark = m_pEditRemark->toPlainText();
    m_bAnonUpdate = m_pCheckAnonUpdate->isChecked();
    m_choices = m_pendingChoices;
    QDialog::accept();
}

void CSiteDlg::OnAdvanced()
{
    CSiteOptionsDlg dlg(this);
    dlg.m_choices = m_pendingChoices;
    // "信任此证书" asks the server the fields name now, saved or not.
    dlg.m_strHost = m_pEditHost->text().toStdString();
    dlg.m_nPort = int32_t(ScanLeadingUnsigned(m_pEditPort->text()).value_or(21));
    if (dlg.exec() == QDialog::Accepted)
        m_pendingChoices = dlg.m_choices;
}

void CSiteDlg::OnAnonymousClicked(bool bChecked)
{
    m_bAnonymous = bChecked;
    EnableLogin();
}

void CSiteDlg::EnableLogin()
{
    const bool bLogin = !m_pCheckAnonymous->isChecked();
    m_pEditUser->setEnabled(bLogin);
    m_pEditPassword->setEnabled(bLogin);
}
