#pragma once
// "设置更新线程": how many sites are updated at once. The caller sets
// m_nThreads to the current limit, runs exec(), and on QDialog::Accepted
// stores m_nThreads back; OK accepts only 1 to 500. GUI thread only.

#include <QDialog>

class QLineEdit;

class CUpdateNumSet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MIN_THREADS = 1;
    static constexpr int MAX_THREADS = 500;

    explicit CUpdateNumSet(QWidget* pParent = nullptr);

    int m_nThreads = 0;

    // OK: refuses a text that does not start with a number, or a number
    // outside 1..500, with a message and the focus back in the field.
    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QLineEdit* m_pEditThreads;
};
