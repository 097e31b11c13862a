#include "ui/SiteOptionsDlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <array>

#include "model/NameCodec.h"
#include "model/SiteOptions.h"
#include "update/ListingPlan.h"

namespace
{
// What the dialog says.
const char* const TEXT_TITLE = "站点选项";
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
const char* const TEXT_OK = "确定";
const char* const TEXT_CANCEL = "取消";

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
    const char* pszValue;
    const char* pszLabel;
    const char* pszObjectName;
};
const std::array<CListingLabel, 3> LISTING_LABELS = {{
    {LISTING_AUTO, TEXT_LISTING_AUTO, "listingAuto"},
    {LISTING_STAT, TEXT_LISTING_STAT, "listingStat"},
    {LISTING_LIST, TEXT_LISTING_LIST, "listingList"},
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

// Sets a key back to its default by dropping its line.
void WriteChoice(CSiteOptions* pOptions, const char* pszKey, const std::string& strValue,
                 const char* pszDefault)
{
    if (strValue == pszDefault)
        pOptions->Remove(pszKey);
    else
        (void)pOptions->Set(pszKey, strValue);
}
} // namespace

CSiteChoices::CSiteChoices()
    : m_strCharset(CHARSET_AUTO), m_strFallback(DEFAULT_CHARSET_FALLBACK),
      m_strListing(LISTING_AUTO)
{
}

CSiteChoices CSiteChoices::FromOptions(const CSiteOptions& options)
{
    CSiteChoices choices;
    std::string strCharset = NormalizeCharsetName(options.Get(OPTION_CHARSET, CHARSET_AUTO));
    if (!strCharset.empty())
        choices.m_strCharset = strCharset;
    std::string strFallback =
        NormalizeCharsetName(options.Get(OPTION_CHARSET_FALLBACK, DEFAULT_CHARSET_FALLBACK));
    if (IsFallbackSet(strFallback))
        choices.m_strFallback = strFallback;
    ListingMode nMode = ListingMode::automatic;
    if (ParseListingMode(options.Get(OPTION_LISTING, LISTING_AUTO), &nMode))
        choices.m_strListing = FormatListingMode(nMode);
    ListingMode nFound = ListingMode::automatic;
    if (ParseListingMode(options.Get(OPTION_LISTING_FOUND), &nFound) &&
        nFound != ListingMode::automatic)
        choices.m_strListingFound = FormatListingMode(nFound);
    return choices;
}

void CSiteChoices::WriteChanges(const CSiteChoices& before, CSiteOptions* pOptions) const
{
    if (m_strCharset != before.m_strCharset)
        WriteChoice(pOptions, OPTION_CHARSET, m_strCharset, CHARSET_AUTO);
    if (m_strFallback != before.m_strFallback)
        WriteChoice(pOptions, OPTION_CHARSET_FALLBACK, m_strFallback, DEFAULT_CHARSET_FALLBACK);
    if (m_strListing != before.m_strListing)
        WriteChoice(pOptions, OPTION_LISTING, m_strListing, LISTING_AUTO);
}

CSiteOptionsDlg::CSiteOptionsDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(Text(TEXT_TITLE));

    auto* pButtonOk = new QPushButton(Text(TEXT_OK));
    auto* pButtonCancel = new QPushButton(Text(TEXT_CANCEL));
    pButtonOk->setObjectName("ok");
    pButtonCancel->setObjectName("cancel");
    pButtonOk->setDefault(true);
    connect(pButtonOk, &QPushButton::clicked, this, &CSiteOptionsDlg::accept);
    connect(pButtonCancel, &QPushButton::clicked, this, &CSiteOptionsDlg::reject);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pButtonOk);
    pButtons->addSpacing(40);
    pButtons->addWidget(pButtonCancel);
    pButtons->addStretch();

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(MakeCharsetSection());
    pLayout->addWidget(MakeListingSection());
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
    m_pLabelFound->setObjectName("listingFound");
    pBox->addWidget(m_pLabelFound);
    pBox->addWidget(Hint(TEXT_LISTING_HINT));
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
            if (m_choices.m_strListing == LISTING_LABELS[i].pszValue)
                nListing = int(i);
        m_pListingGroup->button(nListing)->setChecked(true);

        QString strFound = Text(TEXT_NOT_FOUND_YET);
        for (const CListingLabel& label : LISTING_LABELS)
            if (m_choices.m_strListingFound == label.pszValue)
                strFound = Text(TEXT_FOUND).arg(Text(label.pszLabel));
        m_pLabelFound->setText(strFound);
        m_pComboCharset->setFocus();
    }
    QDialog::showEvent(pEvent);
}

void CSiteOptionsDlg::accept()
{
    m_choices.m_strCharset = SelectedValue(m_pComboCharset);
    m_choices.m_strFallback = SelectedValue(m_pComboFallback);
    int nListing = m_pListingGroup->checkedId();
    if (nListing >= 0 && size_t(nListing) < LISTING_LABELS.size())
        m_choices.m_strListing = LISTING_LABELS[size_t(nListing)].pszValue;
    QDialog::accept();
}

void CSiteOptionsDlg::EnableFallback()
{
    // The fallback matters only to auto; an explicit set reads every name.
    m_pComboFallback->setEnabled(SelectedValue(m_pComboCharset) == CHARSET_AUTO);
}
