#pragma once
// The closing dialog: shown modally while the update workers stop, it says
// "正在关闭连接,请稍后" with 0 to 5 dots advancing once a second, and ends by
// itself at the first tick that finds the engine idle (so it stays up for at
// least one tick). It cannot be dismissed by the user. GUI thread only.

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QTimer;

class CCloseDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int TICK_MS = 1000;
    static constexpr int MAX_DOTS = 5;

    // isIdle tells whether the engine has finished: no worker running and
    // nothing queued. The default asks the update engine.
    explicit CCloseDlg(QWidget* pParent = nullptr, std::function<bool()> isIdle = {});

    QString Text() const { return m_strText; }

    // One tick: closes the dialog when the engine is idle, else moves the dots on.
    void OnTimer();

    // Escape and the window's close button do nothing: the dialog ends only
    // when the workers have.
    void reject() override;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    std::function<bool()> m_isIdle;
    QString m_strText;
    QLabel* m_pLabel;
    QTimer* m_pTimer;
};
