#pragma once
// "服务器": enter or change one FTP site. The caller fills the public members,
// runs exec(), and on QDialog::Accepted reads them back; the dialog copies
// the members into its fields whenever it is shown and back on OK. It never
// touches the site list itself. GUI thread only.
//
// "高级..." opens the site's options ("站点选项") on m_choices: like the
// other members they come back only on OK, and the caller writes them.

#include <QDialog>
#include <QString>

#include "ui/SiteOptionsDlg.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

class CSiteDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSiteDlg(QWidget* pParent = nullptr);

    QString m_strHost;
    unsigned int m_nPort = 21;
    QString m_strUser;
    // Anonymous login: the user-name and password fields are disabled, but
    // keep their texts, which still come back in m_strUser and m_strPassword.
    bool m_bAnonymous = false;
    QString m_strPassword;
    QString m_strNickname;
    bool m_bAnonUpdate = false;
    QString m_strRemark;
    CSiteChoices m_choices;

    // OK: the fields into the members. A port that does not start with a
    // digit, or lies outside 1-65535, is refused with a message, the focus
    // goes back to it and the dialog stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void OnAnonymousClicked(bool bChecked);
    void OnAdvanced();
    void EnableLogin();

    QLineEdit* m_pEditHost;
    QLineEdit* m_pEditPort;
    QLineEdit* m_pEditUser;
    QCheckBox* m_pCheckAnonymous;
    QLineEdit* m_pEditPassword;
    QLineEdit* m_pEditNickname;
    QCheckBox* m_pCheckAnonUpdate;
    QPlainTextEdit* m_pEditRemark;
    // The options as "高级..." last left them, until OK.
    CSiteChoices m_pendingChoices;
};
