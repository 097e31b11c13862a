#pragma once
// The start-up picture. CSplash is the window: the 550x373 picture with a
// thin border, centred on the primary screen. CStartupSplash is what start-up
// uses: it shows the splash at once and keeps it up for at least a second
// while start-up goes on, then closes it once the main window is on screen.
// GUI thread only.

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSplashScreen>
#include <memory>

class CSplash : public QSplashScreen
{
    Q_OBJECT

public:
    CSplash();

    // Draws the picture (an empty path: the program's own) and shows the
    // window, painted at once. A picture that cannot be read leaves the
    // window plain; the splash is shown all the same.
    void Create(const QString& strPicturePath = QString());

    // Top left of a window of the given size centred on the screen; a window
    // larger than the screen starts before its edge (halves truncate toward zero).
    static QPoint CenteredPos(const QRect& screen, QSize window);
};

class CStartupSplash
{
public:
    static constexpr int MINIMUM_MS = 1000;

    explicit CStartupSplash(int nMinimumMs = MINIMUM_MS);
    // Finishes if Finish() was not called.
    ~CStartupSplash();
    CStartupSplash(const CStartupSplash&) = delete;
    CStartupSplash& operator=(const CStartupSplash&) = delete;

    // Waits out the rest of the minimum time (handling events, so windows
    // keep painting), then closes the splash as soon as pMainWindow (if any)
    // is on screen.
    void Finish(QWidget* pMainWindow = nullptr);

    bool IsShown() const { return m_pSplash != nullptr; }

private:
    std::unique_ptr<CSplash> m_pSplash;
    QElapsedTimer m_shown;
    int m_nMinimumMs;
};
