#pragma once
// "正在搜索...": the modeless progress window of a search or unread listing.
// The walk sets m_nTotal before showing it and advances m_nPos; the bar
// follows m_nPos every 100 ms while the walk lets events through. "停止"
// (or Escape, or closing the window) emits StopRequested and closes the
// window; the walk notices the request at its next pump. GUI thread only.

#include <QDialog>

class QProgressBar;
class QTimer;

class CSearchDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int REFRESH_MS = 100;

    explicit CSearchDialog(QWidget* pParent = nullptr);

    int m_nTotal = 0;
    int m_nPos = 0;

    // The Stop button's action.
    void reject() override;

    // Moves the bar to m_nPos (the timer's action).
    void OnTimer();

signals:
    void StopRequested();

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    QProgressBar* m_pProgress;
    QTimer* m_pTimer;
};
