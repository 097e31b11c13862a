#include "ui/AutoUpdateDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "ui/OkCancelRow.h"

namespace
{
const char* const TEXT_TITLE = "自动更新";
const char* const TEXT_WHEN = "何时更新";
const char* const TEXT_OFF = "不自动更新";
const char* const TEXT_EVERY = "每隔";
const char* const TEXT_HOURS = "小时";
const char* const TEXT_DAILY = "每天";
const char* const TEXT_SITES = "参加的站点";
const char* const TEXT_ALL_SITES = "全部站点";
const char* const TEXT_MARKED_OUT = "除在“站点选项”中标记为“不自动更新”的站点以外的全部站点";
const char* const TEXT_CATCH_UP = "启动时补上错过的更新";
const char* const TEXT_TRAY = "关闭时最小化到托盘";
const char* const TEXT_NO_TRAY = "（此桌面没有托盘）";

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}
} // namespace

CAutoUpdateDlg::CAutoUpdateDlg(QWidget* pParent, bool bTrayAvailable) : QDialog(pParent)
{
    setWindowTitle(Text(TEXT_TITLE));

    m_pRadioOff = new QRadioButton(Text(TEXT_OFF));
    m_pRadioEvery = new QRadioButton(Text(TEXT_EVERY));
    m_pRadioDaily = new QRadioButton(Text(TEXT_DAILY));
    m_pRadioOff->setObjectName("off");
    m_pRadioEvery->setObjectName("every");
    m_pRadioDaily->setObjectName("daily");
    auto* pWhenGroup = new QButtonGroup(this);
    for (QRadioButton* pRadio : {m_pRadioOff, m_pRadioEvery, m_pRadioDaily})
    {
        pWhenGroup->addButton(pRadio);
        connect(pRadio, &QRadioButton::toggled, this, &CAutoUpdateDlg::EnableFields);
    }
    m_pSpinHours = new QSpinBox;
    m_pSpinHours->setObjectName("hours");
    m_pSpinHours->setRange(CScheduleRule::MIN_HOURS, CScheduleRule::MAX_HOURS);
    m_pEditTime = new QTimeEdit;
    m_pEditTime->setObjectName("time");
    m_pEditTime->setDisplayFormat("HH:mm");

    auto* pWhen = new QGroupBox(Text(TEXT_WHEN));
    auto* pGrid = new QGridLayout(pWhen);
    pGrid->addWidget(m_pRadioOff, 0, 0, 1, 3);
    pGrid->addWidget(m_pRadioEvery, 1, 0);
    pGrid->addWidget(m_pSpinHours, 1, 1);
    pGrid->addWidget(new QLabel(Text(TEXT_HOURS)), 1, 2);
    pGrid->addWidget(m_pRadioDaily, 2, 0);
    pGrid->addWidget(m_pEditTime, 2, 1);
    pGrid->setColumnStretch(3, 1);

    m_pRadioAllSites = new QRadioButton(Text(TEXT_ALL_SITES));
    m_pRadioMarkedOut = new QRadioButton(Text(TEXT_MARKED_OUT));
    m_pRadioAllSites->setObjectName("allSites");
    m_pRadioMarkedOut->setObjectName("markedOut");
    auto* pSitesGroup = new QButtonGroup(this);
    pSitesGroup->addButton(m_pRadioAllSites);
    pSitesGroup->addButton(m_pRadioMarkedOut);
    auto* pSites = new QGroupBox(Text(TEXT_SITES));
    auto* pSitesBox = new QVBoxLayout(pSites);
    pSitesBox->addWidget(m_pRadioMarkedOut);
    pSitesBox->addWidget(m_pRadioAllSites);

    m_pCheckCatchUp = new QCheckBox(Text(TEXT_CATCH_UP));
    m_pCheckCatchUp->setObjectName("catchUp");
    m_pCheckTray =
        new QCheckBox(Text(TEXT_TRAY) + (bTrayAvailable ? QString() : Text(TEXT_NO_TRAY)));
    m_pCheckTray->setObjectName("closeToTray");

    QHBoxLayout* pButtons = MakeOkCancelRow(this).pLayout;

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pWhen);
    pLayout->addWidget(pSites);
    pLayout->addWidget(m_pCheckCatchUp);
    pLayout->addWidget(m_pCheckTray);
    pLayout->addSpacing(8);
    pLayout->addLayout(pButtons);
}

void CAutoUpdateDlg::EnableFields()
{
    m_pSpinHours->setEnabled(m_pRadioEvery->isChecked());
    m_pEditTime->setEnabled(m_pRadioDaily->isChecked());
}

void CAutoUpdateDlg::showEvent(QShowEvent* pEvent)
{
    if (!pEvent->spontaneous())
    {
        const CScheduleRule& rule = m_choices.rule;
        m_pRadioOff->setChecked(rule.nKind == ScheduleKind::off);
        m_pRadioEvery->setChecked(rule.nKind == ScheduleKind::everyHours);
        m_pRadioDaily->setChecked(rule.nKind == ScheduleKind::daily);
        m_pSpinHours->setValue(rule.nEveryHours);
        m_pEditTime->setTime(QTime(rule.nDailyMinute / 60, rule.nDailyMinute % 60));
        m_pRadioAllSites->setChecked(m_choices.bAllSites);
        m_pRadioMarkedOut->setChecked(!m_choices.bAllSites);
        m_pCheckCatchUp->setChecked(rule.bCatchUp);
        m_pCheckTray->setChecked(m_choices.bCloseToTray);
        EnableFields();
    }
    QDialog::showEvent(pEvent);
}

void CAutoUpdateDlg::accept()
{
    CScheduleRule& rule = m_choices.rule;
    rule.nKind = m_pRadioEvery->isChecked()   ? ScheduleKind::everyHours
                 : m_pRadioDaily->isChecked() ? ScheduleKind::daily
                                              : ScheduleKind::off;
    rule.nEveryHours = m_pSpinHours->value();
    QTime time = m_pEditTime->time();
    rule.nDailyMinute = time.hour() * 60 + time.minute();
    rule.bCatchUp = m_pCheckCatchUp->isChecked();
    m_choices.bAllSites = m_pRadioAllSites->isChecked();
    m_choices.bCloseToTray = m_pCheckTray->isChecked();
    QDialog::accept();
}
