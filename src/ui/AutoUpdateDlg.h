#pragma once
// "自动更新": when the window updates on its own, which sites take part, a
// missed run made up at start, and closing to the tray. The caller fills
// m_choices, runs exec(), and on QDialog::Accepted reads them back.
// GUI thread only.

#include <QDialog>

#include "ui/AutoUpdate.h"

class QCheckBox;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

class CAutoUpdateDlg : public QDialog
{
    Q_OBJECT

public:
    CAutoUpdateDlg(QWidget* pParent, bool bTrayAvailable);

    CAutoUpdate::CChoices m_choices;

    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void EnableFields();

    QRadioButton* m_pRadioOff;
    QRadioButton* m_pRadioEvery;
    QRadioButton* m_pRadioDaily;
    QSpinBox* m_pSpinHours;
    QTimeEdit* m_pEditTime;
    QRadioButton* m_pRadioAllSites;
    QRadioButton* m_pRadioMarkedOut;
    QCheckBox* m_pCheckCatchUp;
    QCheckBox* m_pCheckTray;
};
