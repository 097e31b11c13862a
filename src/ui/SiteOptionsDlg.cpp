#include "ui/SiteOptionsDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>
#include <array>

#include "model/NameCodec.h"
#include "net/InternetSession.h"
#include "net/TlsSettings.h"
#include "ui/DisplayText.h"
#include "ui/MessageBox.h"
#include "ui/OkCancelRow.h"
#include "update/SiteConnection.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "站点选项";
const char* const TEXT_AUTO_UPDATE_GROUP = "自动更新";
const char* const TEXT_NO_AUTO_UPDATE = "不自动更新";
const char* const TEXT_CHARSET_GROUP = "文件名字符集";
const char* const TEXT_CHARSET = "服务器文件名的字符集：";
const char* const TEXT_FALLBACK = "自动时，不是 UTF-8 的名字按：";
const char* const TEXT_CHARSET_HINT = "缓存中保存的是服务器发来的原始字节，"
                                      "改变字符集后立即按新的字符集显示，无需重新更新。";
const char* const TEXT_AUTO = "自动";
const char* const TEXT_LISTING_GROUP = "列目录方式";
const char* const TEXT_LISTING_AUTO = "自动（先用两种方式列出起始目录，结果相同时用 STAT）";
const char* const TEXT_LISTING_STAT = "STAT（控制连接）";
const char* const TEXT_LISTING_LIST = "LIST（每个目录一个数据连接）";
const char* const TEXT_FOUND = "上次自动检测的结果：%1";
const char* const TEXT_NOT_FOUND_YET = "尚未自动检测过。";
const char* const TEXT_LISTING_HINT = "从下一次更新起生效。";
const char* const TEXT_TIMES_GROUP = "修改日期";
const char* const TEXT_TIME_OFFSET = "LIST 时间比 UTC 快（分钟）：";
const char* const TEXT_TIME_OFFSET_HINT =
    "服务器用 LIST 列出的是它自己的本地时间；填入它的时区（例如北京时间为 480），"
    "日期即按本地时间显示。0 表示时区未知，日期照服务器所列显示。MLSD 的时间不受影响。";
const char* const TEXT_LOG_MODIFIED = "记录大小未变但修改日期改变的文件";
const char* const TEXT_TLS_GROUP = "加密（FTP over TLS）";
const char* const TEXT_TLS_OFF = "不加密（普通 FTP）";
const char* const TEXT_TLS_EXPLICIT = "显式 TLS（AUTH TLS，服务器不支持则失败）";
const char* const TEXT_TLS_TRY = "尽量 TLS（服务器支持时加密）";
const char* const TEXT_TLS_IMPLICIT = "隐式 TLS（端口 990）";
const char* const TEXT_TRUST_FIRST_USE = "首次连接时信任服务器证书";
const char* const TEXT_PIN = "已信任的证书：";
const char* const TEXT_NO_PIN = "无";
const char* const TEXT_FORGET = "忘记";
const char* const TEXT_TRUST = "信任此证书";
// Broken by hand: a second wrapped hint would leave the dialog too short.
const char* const TEXT_TLS_HINT = "有已信任的证书时，只接受它的公钥，“尽量 TLS”也同显式 TLS，\n"
                                  "不再退回未加密的连接；没有时，证书须由系统信任的\n"
                                  "证书机构签发，或在首次连接时信任。";
const char* const TEXT_FETCHING = "正在读取服务器证书…";
const char* const TEXT_NO_HOST = "请先在“服务器”中填写站点地址。";
const char* const TEXT_FETCH_FAILED = "未能读取服务器 %1 的证书：\n%2";
const char* const TEXT_CERT =
    "服务器 %1 的证书：\n\n主题：%2\n颁发者：%3\n有效期至：%4\n指纹：%5\n";
const char* const TEXT_EXPIRED = "（已过期）";
const char* const TEXT_CERT_SAME = "\n本站点已信任这个证书。";
const char* const TEXT_CERT_REPLACES = "\n它将取代已信任的证书：\n%1\n";
const char* const TEXT_CERT_ASK = "\n请确认这是该服务器的证书。信任后，本站点只接受这个公钥"
                                  "（按“确定”保存站点后生效）。\n\n信任此证书吗？";

// The known sets with what they are for; a set missing here shows its name.
struct CCharsetLabel
{
    const char* pszName;
    const char* pszLabel;
};
const CCharsetLabel CHARSET_LABELS[] = {
    {"GB18030", "GB18030（简体中文，含 GBK、GB2312）"},
    {"Big5", "Big5（繁体中文）"},
    {"Shift_JIS", "Shift_JIS（日文）"},
    {"EUC-JP", "EUC-JP（日文）"},
    {"EUC-KR", "EUC-KR（韩文）"},
    {"Windows-1251", "Windows-1251（西里尔文）"},
    {"KOI8-R", "KOI8-R（俄文）"},
    {"Windows-1252", "Windows-1252（西欧）"},
    {"ISO-8859-1", "ISO-8859-1（西欧）"},
};

// The listing ways in the order they are offered; the button ids are the
// indexes.
struct CListingLabel
{
    ListingMode nMode;
    const char* pszLabel;
    const char* pszObjectName;
};
const std::array<CListingLabel, 3> LISTING_LABELS = {{
    {ListingMode::automatic, TEXT_LISTING_AUTO, "listingAuto"},
    {ListingMode::stat, TEXT_LISTING_STAT, "listingStat"},
    {ListingMode::list, TEXT_LISTING_LIST, "listingList"},
}};

// The TLS modes in the order they are offered; the button ids are the
// indexes.
struct CTlsLabel
{
    TlsMode nMode;
    const char* pszLabel;
    const char* pszObjectName;
};
const std::array<CTlsLabel, 4> TLS_LABELS = {{
    {TlsMode::off, TEXT_TLS_OFF, "tlsOff"},
    {TlsMode::explicitTls, TEXT_TLS_EXPLICIT, "tlsExplicit"},
    {TlsMode::tryTls, TEXT_TLS_TRY, "tlsTry"},
    {TlsMode::implicitTls, TEXT_TLS_IMPLICIT, "tlsImplicit"},
}};

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

QString CharsetLabel(const std::string& strName)
{
    if (strName == CHARSET_AUTO)
        return Text(TEXT_AUTO);
    for (const CCharsetLabel& label : CHARSET_LABELS)
        if (strName == label.pszName)
            return Text(label.pszLabel);
    return QString::fromStdString(strName);
}

QLabel* Hint(const char* psz)
{
    auto* pLabel = new QLabel(Text(psz));
    pLabel->setWordWrap(true);
    return pLabel;
}

void SelectValue(QComboBox* pCombo, const std::string& strValue)
{
    int nIndex = pCombo->findData(QString::fromStdString(strValue));
    pCombo->setCurrentIndex(nIndex >= 0 ? nIndex : 0);
}

std::string SelectedValue(const QComboBox* pCombo)
{
    return pCombo->currentData().toString().toStdString();
}

// A set the fallback may name: one that reads any name, not auto or UTF-8.
bool IsFallbackSet(const std::string& strName)
{
    return !strName.empty() && strName != CHARSET_AUTO && strName != CHARSET_UTF8;
}

} // namespace

CSiteChoices CSiteChoices::FromSettings(const CSiteSettings& settings)
{
    using S = CSiteSettings;
    CSiteChoices choices;
    choices.m_strCharset = settings.Get(S::CHARSET);
    choices.m_strFallback = settings.Get(S::CHARSET_FALLBACK);
    choices.m_nListing = settings.Get(S::LISTING);
    choices.m_listingFound = settings.Get(S::LISTING_FOUND);
    if (choices.m_listingFound == ListingMode::automatic)
        choices.m_listingFound.reset(); // not a finding
    choices.m_nTls = settings.Get(S::TLS);
    choices.m_bTrustFirstUse = settings.Get(S::TLS_TRUST) == TlsTrust::firstUse;
    choices.m_strPin = settings.Get(S::TLS_PIN);
    choices.m_nTimeOffset = settings.Get(S::TIME_OFFSET);
    choices.m_bLogModified = settings.Get(S::LOG_MODIFIED);
    choices.m_bNoAutoUpdate = !settings.Get(S::AUTO_UPDATE);
    return choices;
}

void CSiteChoices::WriteChanges(const CSiteChoices& before, CSiteSettings* pSettings) const
{
    using S = CSiteSettings;
    if (m_strCharset != before.m_strCharset)
        pSettings->Set(S::CHARSET, m_strCharset);
    if (m_strFallback != before.m_strFallback)
        pSettings->Set(S::CHARSET_FALLBACK, m_strFallback);
    if (m_nListing != before.m_nListing)
        pSettings->Set(S::LISTING, m_nListing);
    if (m_nTls != before.m_nTls)
        pSettings->Set(S::TLS, m_nTls);
    if (m_bTrustFirstUse != before.m_bTrustFirstUse)
        pSettings->Set(S::TLS_TRUST, m_bTrustFirstUse ? TlsTrust::firstUse : TlsTrust::ca);
    // Unchanged here, a key the first connection pinned meanwhile stays.
    if (m_strPin != before.m_strPin)
        pSettings->Set(S::TLS_PIN, m_strPin);
    if (m_nTimeOffset != before.m_nTimeOffset)
        pSettings->Set(S::TIME_OFFSET, m_nTimeOffset);
    if (m_bLogModified != before.m_bLogModified)
        pSettings->Set(S::LOG_MODIFIED, m_bLogModified);
    if (m_bNoAutoUpdate != before.m_bNoAutoUpdate)
        pSettings->Set(S::AUTO_UPDATE, !m_bNoAutoUpdate);
}

CSiteOptionsDlg::CSiteOptionsDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(Text(TEXT_TITLE));

    QHBoxLayout* pButtons = MakeOkCancelRow(this).pLayout;

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(MakeCharsetSection());
    pLayout->addWidget(MakeListingSection());
    pLayout->addWidget(MakeTlsSection());
    pLayout->addWidget(MakeTimesSection());
    m_pCheckNoAutoUpdate = new QCheckBox(Text(TEXT_NO_AUTO_UPDATE));
    m_pCheckNoAutoUpdate->setObjectName("noAutoUpdate");
    auto* pAutoGroup = new QGroupBox(Text(TEXT_AUTO_UPDATE_GROUP));
    (new QVBoxLayout(pAutoGroup))->addWidget(m_pCheckNoAutoUpdate);
    pLayout->addWidget(pAutoGroup);
    pLayout->addStretch();
    pLayout->addSpacing(8);
    pLayout->addLayout(pButtons);
    setMinimumWidth(460);
}

QWidget* CSiteOptionsDlg::MakeCharsetSection()
{
    m_pComboCharset = new QComboBox;
    m_pComboFallback = new QComboBox;
    m_pComboCharset->setObjectName("charset");
    m_pComboFallback->setObjectName("fallback");
    for (const std::string& strName : GetKnownCharsets())
    {
        QString strValue = QString::fromStdString(strName);
        m_pComboCharset->addItem(CharsetLabel(strName), strValue);
        if (IsFallbackSet(strName))
            m_pComboFallback->addItem(CharsetLabel(strName), strValue);
    }
    connect(m_pComboCharset, &QComboBox::currentIndexChanged, this,
            &CSiteOptionsDlg::EnableFallback);

    auto* pGroup = new QGroupBox(Text(TEXT_CHARSET_GROUP));
    auto* pForm = new QFormLayout(pGroup);
    pForm->addRow(Text(TEXT_CHARSET), m_pComboCharset);
    pForm->addRow(Text(TEXT_FALLBACK), m_pComboFallback);
    pForm->addRow(Hint(TEXT_CHARSET_HINT));
    return pGroup;
}

QWidget* CSiteOptionsDlg::MakeTimesSection()
{
    auto* pGroup = new QGroupBox(Text(TEXT_TIMES_GROUP));
    auto* pBox = new QVBoxLayout(pGroup);
    auto* pForm = new QFormLayout;
    m_pSpinTimeOffset = new QSpinBox;
    m_pSpinTimeOffset->setObjectName("timeOffset");
    m_pSpinTimeOffset->setRange(-24 * 60, 24 * 60);
    pForm->addRow(Text(TEXT_TIME_OFFSET), m_pSpinTimeOffset);
    pBox->addLayout(pForm);
    pBox->addWidget(Hint(TEXT_TIME_OFFSET_HINT));
    m_pCheckLogModified = new QCheckBox(Text(TEXT_LOG_MODIFIED));
    m_pCheckLogModified->setObjectName("logModified");
    pBox->addWidget(m_pCheckLogModified);
    return pGroup;
}

QWidget* CSiteOptionsDlg::MakeListingSection()
{
    auto* pGroup = new QGroupBox(Text(TEXT_LISTING_GROUP));
    auto* pBox = new QVBoxLayout(pGroup);
    m_pListingGroup = new QButtonGroup(this);
    for (size_t i = 0; i < LISTING_LABELS.size(); ++i)
    {
        auto* pButton = new QRadioButton(Text(LISTING_LABELS[i].pszLabel));
        pButton->setObjectName(LISTING_LABELS[i].pszObjectName);
        m_pListingGroup->addButton(pButton, int(i));
        pBox->addWidget(pButton);
    }
    m_pLabelFound = new QLabel;
    m_pLabelFound->setTextFormat(Qt::PlainText);
    m_pLabelFound->setObjectName("listingFound");
    pBox->addWidget(m_pLabelFound);
    pBox->addWidget(Hint(TEXT_LISTING_HINT));
    return pGroup;
}

QWidget* CSiteOptionsDlg::MakeTlsSection()
{
    auto* pGroup = new QGroupBox(Text(TEXT_TLS_GROUP));
    auto* pBox = new QVBoxLayout(pGroup);
    m_pTlsGroup = new QButtonGroup(this);
    for (size_t i = 0; i < TLS_LABELS.size(); ++i)
    {
        auto* pButton = new QRadioButton(Text(TLS_LABELS[i].pszLabel));
        pButton->setObjectName(TLS_LABELS[i].pszObjectName);
        m_pTlsGroup->addButton(pButton, int(i));
        pBox->addWidget(pButton);
    }
    connect(m_pTlsGroup, &QButtonGroup::idToggled, this, &CSiteOptionsDlg::EnableTls);

    m_pCheckTrustFirstUse = new QCheckBox(Text(TEXT_TRUST_FIRST_USE));
    m_pCheckTrustFirstUse->setObjectName("trustFirstUse");
    pBox->addSpacing(4);
    pBox->addWidget(m_pCheckTrustFirstUse);

    m_pLabelPin = new QLabel;
    m_pLabelPin->setTextFormat(Qt::PlainText);
    m_pLabelPin->setObjectName("tlsPin");
    // People compare it with what the server's owner told them.
    m_pLabelPin->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pButtonForget = new QPushButton(Text(TEXT_FORGET));
    m_pButtonForget->setObjectName("forgetPin");
    m_pButtonForget->setAutoDefault(false);
    connect(m_pButtonForget, &QPushButton::clicked, this, [this] { ShowPin({}); });
    // The pin has a line of its own: 52 characters that must show whole.
    auto* pPinRow = new QHBoxLayout;
    pPinRow->addWidget(new QLabel(Text(TEXT_PIN)));
    pPinRow->addStretch();
    pPinRow->addWidget(m_pButtonForget);
    pBox->addLayout(pPinRow);
    m_pLabelPin->setContentsMargins(16, 0, 0, 4);
    pBox->addWidget(m_pLabelPin);

    m_pButtonTrust = new QPushButton(Text(TEXT_TRUST));
    m_pButtonTrust->setObjectName("trustCertificate");
    m_pButtonTrust->setAutoDefault(false);
    connect(m_pButtonTrust, &QPushButton::clicked, this, &CSiteOptionsDlg::OnTrustCertificate);
    m_pLabelFetch = new QLabel;
    m_pLabelFetch->setTextFormat(Qt::PlainText);
    m_pLabelFetch->setObjectName("fetchState");
    auto* pTrustRow = new QHBoxLayout;
    pTrustRow->addWidget(m_pButtonTrust);
    pTrustRow->addWidget(m_pLabelFetch, 1);
    pBox->addLayout(pTrustRow);
    pBox->addWidget(new QLabel(Text(TEXT_TLS_HINT)));
    return pGroup;
}

void CSiteOptionsDlg::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        SelectValue(m_pComboCharset, m_choices.m_strCharset);
        SelectValue(m_pComboFallback, m_choices.m_strFallback);
        EnableFallback();
        int nListing = 0;
        for (size_t i = 0; i < LISTING_LABELS.size(); ++i)
            if (m_choices.m_nListing == LISTING_LABELS[i].nMode)
                nListing = int(i);
        m_pListingGroup->button(nListing)->setChecked(true);

        QString strFound = Text(TEXT_NOT_FOUND_YET);
        for (const CListingLabel& label : LISTING_LABELS)
            if (m_choices.m_listingFound == label.nMode)
                strFound = Text(TEXT_FOUND).arg(Text(label.pszLabel));
        m_pLabelFound->setText(strFound);

        int nTls = 0;
        for (size_t i = 0; i < TLS_LABELS.size(); ++i)
            if (m_choices.m_nTls == TLS_LABELS[i].nMode)
                nTls = int(i);
        m_pTlsGroup->button(nTls)->setChecked(true);
        m_pCheckTrustFirstUse->setChecked(m_choices.m_bTrustFirstUse);
        ShowPin(m_choices.m_strPin);
        m_pSpinTimeOffset->setValue(int(m_choices.m_nTimeOffset));
        m_pCheckLogModified->setChecked(m_choices.m_bLogModified);
        EnableTls();
        m_pCheckNoAutoUpdate->setChecked(m_choices.m_bNoAutoUpdate);
        m_pComboCharset->setFocus();
        // A window is first sized without asking its wrapped hints how tall
        // they are at its width, which squeezed the last section.
        int nHeight = heightForWidth(width());
        if (nHeight > height())
            resize(width(), nHeight);
    }
    QDialog::showEvent(pEvent);
}

void CSiteOptionsDlg::accept()
{
    m_choices.m_strCharset = SelectedValue(m_pComboCharset);
    m_choices.m_strFallback = SelectedValue(m_pComboFallback);
    int nListing = m_pListingGroup->checkedId();
    if (nListing >= 0 && size_t(nListing) < LISTING_LABELS.size())
        m_choices.m_nListing = LISTING_LABELS[size_t(nListing)].nMode;
    int nTls = m_pTlsGroup->checkedId();
    if (nTls >= 0 && size_t(nTls) < TLS_LABELS.size())
        m_choices.m_nTls = TLS_LABELS[size_t(nTls)].nMode;
    m_choices.m_bTrustFirstUse = m_pCheckTrustFirstUse->isChecked();
    m_choices.m_strPin = m_strShownPin;
    m_choices.m_nTimeOffset = m_pSpinTimeOffset->value();
    m_choices.m_bLogModified = m_pCheckLogModified->isChecked();
    m_choices.m_bNoAutoUpdate = m_pCheckNoAutoUpdate->isChecked();
    QDialog::accept();
}

void CSiteOptionsDlg::done(int nResult)
{
    StopFetch();
    QDialog::done(nResult);
}

CSiteOptionsDlg::~CSiteOptionsDlg()
{
    StopFetch();
}

void CSiteOptionsDlg::EnableTls()
{
    bool bTls = m_pTlsGroup->checkedId() > 0;
    m_pCheckTrustFirstUse->setEnabled(bTls);
    m_pButtonTrust->setEnabled(bTls && !m_bFetching);
}

void CSiteOptionsDlg::ShowPin(const std::string& strPin)
{
    m_strShownPin = strPin;
    m_pLabelPin->setText(strPin.empty() ? Text(TEXT_NO_PIN) : DisplayText(strPin));
    m_pButtonForget->setEnabled(!strPin.empty());
}

void CSiteOptionsDlg::OnTrustCertificate()
{
    int nTls = m_pTlsGroup->checkedId();
    if (m_bFetching || nTls <= 0 || size_t(nTls) >= TLS_LABELS.size())
        return;
    if (m_strHost.empty())
    {
        TarnMessageBox(this, Text(TEXT_NO_HOST));
        return;
    }
    CTlsSettings tls;
    tls.nMode = TLS_LABELS[size_t(nTls)].nMode;
    m_pFetchSession = OpenSiteSession();
    if (!m_pFetchSession)
    {
        OnCertificateFetched(m_nFetch, false, {}, "创建Internet会话失败");
        return;
    }
    const unsigned nFetch = ++m_nFetch;
    m_pButtonTrust->setEnabled(false);
    m_pLabelFetch->setText(Text(TEXT_FETCHING));
    setCursor(Qt::WaitCursor);
    m_pMailbox = std::make_shared<CFetchMailbox>();
    m_pMailbox->pDlg = this;
    m_bFetching = true;
    std::thread(
        [nFetch, tls, strHost = m_strHost, nPort = m_nPort, pSession = m_pFetchSession,
         pMailbox = m_pMailbox]
        {
            auto pCert = std::make_shared<CTlsCertificate>();
            auto pError = std::make_shared<std::string>();
            bool bOk = FetchSiteCertificate(strHost, nPort, tls, pCert.get(), pError.get(),
                                            pSession.get());
            // Posted under the lock, so the dialog cannot go meanwhile; an
            // event of a dialog that went later is dropped with it.
            std::lock_guard lock(pMailbox->lock);
            if (CSiteOptionsDlg* pDlg = pMailbox->pDlg)
                QMetaObject::invokeMethod(
                    pDlg,
                    [pDlg, nFetch, bOk, pCert, pError]
                    { pDlg->OnCertificateFetched(nFetch, bOk, *pCert, *pError); },
                    Qt::QueuedConnection);
        })
        .detach();
}

void CSiteOptionsDlg::OnCertificateFetched(unsigned nFetch, bool bOk, const CTlsCertificate& cert,
                                           const std::string& strError)
{
    if (nFetch != m_nFetch)
        return;
    StopFetch();
    QString strServer = DisplayText(m_strHost);
    if (!bOk)
    {
        TarnMessageBox(this, Text(TEXT_FETCH_FAILED).arg(strServer, DisplayText(strError)),
                       TarnCaption(), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    QString strExpires = DisplayText(cert.strExpires);
    // The pin still decides; people deciding should know.
    if (cert.bExpired)
        strExpires += Text(TEXT_EXPIRED);
    QString strText =
        Text(TEXT_CERT).arg(strServer, DisplayText(cert.strSubject), DisplayText(cert.strIssuer),
                            strExpires, DisplayText(cert.strPin));
    if (cert.strPin == m_strShownPin)
    {
        TarnMessageBox(this, strText + Text(TEXT_CERT_SAME), Text(TEXT_TRUST));
        return;
    }
    if (!m_strShownPin.empty())
        strText += Text(TEXT_CERT_REPLACES).arg(DisplayText(m_strShownPin));
    if (TarnMessageBox(this, strText + Text(TEXT_CERT_ASK), Text(TEXT_TRUST),
                       QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::Question) == QMessageBox::Yes)
        ShowPin(cert.strPin);
}

void CSiteOptionsDlg::StopFetch()
{
    if (m_bFetching)
    {
        {
            std::lock_guard lock(m_pMailbox->lock);
            m_pMailbox->pDlg = nullptr;
        }
        // Ends what can be cut at once; the rest ends on its own.
        m_pFetchSession->Close();
        m_bFetching = false;
        ++m_nFetch;
    }
    m_pMailbox.reset();
    m_pFetchSession.reset();
    if (m_pLabelFetch != nullptr)
    {
        m_pLabelFetch->clear();
        unsetCursor();
        EnableTls();
    }
}

void CSiteOptionsDlg::EnableFallback()
{
    // The fallback matters only to auto; an explicit set reads every name.
    m_pComboFallback->setEnabled(SelectedValue(m_pComboCharset) == CHARSET_AUTO);
}
