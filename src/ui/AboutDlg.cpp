#include "ui/AboutDlg.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Art.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "关于 Tarn";
const char* const TEXT_PRODUCT = "Tarn 1.3";
const char* const TEXT_OK = "确定";
const char* const TEXT_AUTHOR_LABEL = "作者";
const char* const TEXT_HOME_LABEL = "主页";
const char* const TEXT_MAIL_LABEL = "邮箱";
const char* const TEXT_AUTHOR = "Tarn 开发组";
const char* const TEXT_HOME = "https://tarn.example.org/";
const char* const TEXT_MAIL = "tarn@example.org";

const int ICON_SIZE = 32;

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

// A contact line the user can click (the desktop opens the browser or mailer).
QLabel* LinkLabel(const QString& strText, const QString& strUrl)
{
    auto* pLabel = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                  .arg(strUrl.toHtmlEscaped(), strText.toHtmlEscaped()));
    pLabel->setTextFormat(Qt::RichText);
    pLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
    pLabel->setOpenExternalLinks(true);
    return pLabel;
}
} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(Text(TEXT_TITLE));

    auto* pIcon = new QLabel;
    pIcon->setPixmap(AppIcon().pixmap(ICON_SIZE, ICON_SIZE));
    auto* pProduct = new QLabel(Text(TEXT_PRODUCT));
    auto* pButtonOk = new QPushButton(Text(TEXT_OK));
    pButtonOk->setDefault(true);
    connect(pButtonOk, &QPushButton::clicked, this, &CAboutDlg::accept);

    auto* pTop = new QHBoxLayout;
    pTop->addWidget(pIcon);
    pTop->addSpacing(8);
    pTop->addWidget(pProduct);
    pTop->addStretch();
    pTop->addWidget(pButtonOk, 0, Qt::AlignTop);

    auto* pPicture = new QLabel;
    pPicture->setPixmap(RenderPicture(AboutPicturePath(), ABOUT_PICTURE_SIZE, devicePixelRatioF()));
    pPicture->setAlignment(Qt::AlignCenter);
    auto* pFrame = new QFrame;
    pFrame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* pFrameLayout = new QVBoxLayout(pFrame);
    pFrameLayout->setContentsMargins(4, 4, 4, 4);
    pFrameLayout->addWidget(pPicture);

    auto* pContacts = new QGridLayout;
    pContacts->addWidget(new QLabel(Text(TEXT_AUTHOR_LABEL)), 0, 0);
    pContacts->addWidget(new QLabel(Text(TEXT_AUTHOR)), 0, 1);
    pContacts->addWidget(new QLabel(Text(TEXT_HOME_LABEL)), 1, 0);
    pContacts->addWidget(LinkLabel(Text(TEXT_HOME), Text(TEXT_HOME)), 1, 1);
    pContacts->addWidget(new QLabel(Text(TEXT_MAIL_LABEL)), 2, 0);
    pContacts->addWidget(LinkLabel(Text(TEXT_MAIL), QStringLiteral("mailto:") + Text(TEXT_MAIL)), 2,
                         1);
    pContacts->setHorizontalSpacing(10);

    auto* pBottom = new QHBoxLayout;
    pBottom->addWidget(pFrame);
    pBottom->addSpacing(12);
    pBottom->addLayout(pContacts);
    pBottom->addStretch();

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pTop);
    pLayout->addSpacing(8);
    pLayout->addLayout(pBottom);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}
