#include "ui/Splash.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include "ui/Art.h"

namespace
{
const QColor BORDER_COLOR(0x56, 0x66, 0x7A);

QScreen* SplashScreen()
{
    return QGuiApplication::primaryScreen();
}
} // namespace

CSplash::CSplash() : QSplashScreen(SplashScreen()) {}

void CSplash::Create(const QString& strPicturePath)
{
    const qreal rRatio = SplashScreen() != nullptr ? SplashScreen()->devicePixelRatio() : 1.0;
    QPixmap picture(SPLASH_SIZE * rRatio);
    picture.setDevicePixelRatio(rRatio);
    picture.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&picture);
        painter.drawPixmap(
            0, 0,
            RenderPicture(strPicturePath.isEmpty() ? SplashPicturePath() : strPicturePath,
                          SPLASH_SIZE, rRatio));
        painter.setPen(BORDER_COLOR);
        painter.drawRect(QRect(QPoint(0, 0), SPLASH_SIZE - QSize(1, 1)));
    }
    setPixmap(picture);
    const QRect screen = SplashScreen() != nullptr ? SplashScreen()->geometry() : QRect();
    move(CenteredPos(screen, SPLASH_SIZE));
    show();
    repaint(); // painted now, before start-up goes on
}

QPoint CSplash::CenteredPos(const QRect& screen, QSize window)
{
    return screen.topLeft() +
           QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

CStartupSplash::CStartupSplash(int nMinimumMs)
    : m_pSplash(std::make_unique<CSplash>()), m_nMinimumMs(nMinimumMs)
{
    m_pSplash->Create();
    m_shown.start();
}

CStartupSplash::~CStartupSplash()
{
    Finish();
}

void CStartupSplash::Finish(QWidget* pMainWindow)
{
    if (!m_pSplash)
        return;
    while (m_shown.elapsed() < m_nMinimumMs)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (pMainWindow != nullptr)
        m_pSplash->finish(pMainWindow);
    m_pSplash.reset();
}
