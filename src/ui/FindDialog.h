#pragma once
// "查找": asks for the search keyword. m_strKeyword comes back exactly as
// typed (not trimmed, case kept, empty allowed). GUI thread only.

#include <QDialog>
#include <QString>

class QLineEdit;

class CFindDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CFindDialog(QWidget* pParent = nullptr);

    QString m_strKeyword;

    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QLineEdit* m_pEditKeyword;
};
