// The dialogs' rules that a caller depends on: what OK refuses and where the
// focus goes, what Cancel keeps, the anonymous box, the closing dialog's dots
// and its minimum time on screen, the search dialog's stop and refresh, and
// the splash window's placement and time on screen.

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "UiTestSupport.h"
#include "ui/CloseDlg.h"
#include "ui/FindDialog.h"
#include "ui/QtTranslations.h"
#include "ui/SearchDialog.h"
#include "ui/SiteDlg.h"
#include "ui/Splash.h"
#include "ui/UpdateNumSet.h"

namespace
{
template <typename T> T* Child(QWidget& parent, const char* pszName)
{
    T* pChild = parent.findChild<T*>(QString::fromLatin1(pszName));
    if (pChild == nullptr)
        qFatal("no child %s", pszName);
    return pChild;
}

const QString CLOSING = QStringLiteral("正在关闭连接,请稍后");
} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private slots:
    void AnonymousBoxDisablesLoginButKeepsItsTexts()
    {
        CSiteDlg dlg;
        dlg.m_strUser = "bob";
        dlg.m_strPassword = "secret";
        dlg.m_bAnonymous = true;
        dlg.show();
        auto* pUser = Child<QLineEdit>(dlg, "user");
        auto* pPassword = Child<QLineEdit>(dlg, "password");
        auto* pAnonymous = Child<QCheckBox>(dlg, "anonymous");
        QVERIFY(pAnonymous->isChecked());
        QVERIFY(!pUser->isEnabled());
        QVERIFY(!pPassword->isEnabled());
        QCOMPARE(pPassword->echoMode(), QLineEdit::Password);

        pAnonymous->click();
        QVERIFY(pUser->isEnabled());
        QVERIFY(pPassword->isEnabled());
        QCOMPARE(pUser->text(), QStringLiteral("bob"));
        QCOMPARE(pPassword->text(), QStringLiteral("secret"));
        QVERIFY(!dlg.m_bAnonymous);

        pAnonymous->click();
        QVERIFY(!pUser->isEnabled());
        Child<QPushButton>(dlg, "ok")->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(dlg.m_bAnonymous);
        QCOMPARE(dlg.m_strUser, QStringLiteral("bob"));
        QCOMPARE(dlg.m_strPassword, QStringLiteral("secret"));
    }

    void PortMustBeADigitInRange_data()
    {
        const QString notNumber = QStringLiteral("Please enter a positive integer.");
        const QString outside = QStringLiteral("Please enter an integer between 1 and 65535.");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::addColumn<uint>("port");
        QTest::newRow("empty") << QString() << notNumber << 21u;
        QTest::newRow("letters") << QStringLiteral("ftp") << notNumber << 21u;
        QTest::newRow("sign") << QStringLiteral("-5") << notNumber << 21u;
        QTest::newRow("plain") << QStringLiteral("2121") << QString() << 2121u;
        QTest::newRow("digits then junk") << QStringLiteral("990x") << QString() << 990u;
        QTest::newRow("lowest") << QStringLiteral("1") << QString() << 1u;
        QTest::newRow("highest") << QStringLiteral("65535") << QString() << 65535u;
        // Cut to 16 bits these would name other ports (67668 is 2132).
        QTest::newRow("zero") << QStringLiteral("0") << outside << 21u;
        QTest::newRow("just above") << QStringLiteral("65536") << outside << 21u;
        QTest::newRow("wraps to 2132") << QStringLiteral("67668") << outside << 21u;
        QTest::newRow("70000") << QStringLiteral("70000") << outside << 21u;
        QTest::newRow("beyond unsigned") << QStringLiteral("99999999999") << outside << 21u;
    }

    void PortMustBeADigitInRange()
    {
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        QFETCH(uint, port);
        CMessageBoxRecorder boxes;
        CSiteDlg dlg;
        dlg.m_strHost = "ftp.example.org";
        dlg.show();
        auto* pPort = Child<QLineEdit>(dlg, "port");
        QCOMPARE(pPort->text(), QStringLiteral("21"));
        pPort->setText(text); // as pasted: the keyboard filter is not in the way
        Child<QLineEdit>(dlg, "host")->setFocus();
        dlg.accept();

        QCOMPARE(dlg.isVisible(), !refusal.isEmpty());
        QCOMPARE(dlg.m_nPort, port);
        if (refusal.isEmpty())
        {
            QVERIFY(boxes.Requests().isEmpty());
            QCOMPARE(dlg.m_strHost, QStringLiteral("ftp.example.org"));
        }
        else
        {
            QCOMPARE(boxes.Requests().size(), 1);
            QCOMPARE(boxes.LastText(), refusal);
            QCOMPARE(boxes.Requests().last().strCaption, QStringLiteral("Tarn"));
            QCOMPARE(dlg.focusWidget(), pPort);
        }
    }

    void PortKeyboardTakesDigitsOnly()
    {
        CSiteDlg dlg;
        dlg.show();
        auto* pPort = Child<QLineEdit>(dlg, "port");
        pPort->clear();
        QTest::keyClicks(pPort, "8a0 -1");
        QCOMPARE(pPort->text(), QStringLiteral("801"));
    }

    void ThreadCountBetween1And500_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("threads"); // 0: refused
        QTest::addColumn<QString>("message");
        const QString strRange = QStringLiteral("Please enter an integer between 1 and 500.");
        const QString strInteger = QStringLiteral("Please enter an integer.");
        QTest::newRow("0") << QStringLiteral("0") << 0 << strRange;
        QTest::newRow("501") << QStringLiteral("501") << 0 << strRange;
        QTest::newRow("negative") << QStringLiteral("-3") << 0 << strRange;
        QTest::newRow("huge") << QStringLiteral("99999999999") << 0 << strRange;
        QTest::newRow("empty") << QString() << 0 << strInteger;
        QTest::newRow("letters") << QStringLiteral("five") << 0 << strInteger;
        QTest::newRow("1") << QStringLiteral("1") << 1 << QString();
        QTest::newRow("500") << QStringLiteral("500") << 500 << QString();
        QTest::newRow("digits then junk") << QStringLiteral(" 12 threads") << 12 << QString();
    }

    void ThreadCountBetween1And500()
    {
        QFETCH(QString, text);
        QFETCH(int, threads);
        QFETCH(QString, message);
        CMessageBoxRecorder boxes;
        CUpdateNumSet dlg;
        dlg.m_nThreads = 5;
        dlg.show();
        auto* pEdit = Child<QLineEdit>(dlg, "threads");
        QCOMPARE(pEdit->text(), QStringLiteral("5"));
        pEdit->setText(text);
        Child<QPushButton>(dlg, "ok")->setFocus();
        dlg.accept();

        QCOMPARE(boxes.LastText(), message);
        QCOMPARE(dlg.isVisible(), threads == 0);
        QCOMPARE(dlg.m_nThreads, threads == 0 ? 5 : threads);
        if (threads == 0)
            QCOMPARE(dlg.focusWidget(), pEdit);
    }

    void CancelKeepsTheValues()
    {
        CUpdateNumSet threads;
        threads.m_nThreads = 7;
        threads.show();
        Child<QLineEdit>(threads, "threads")->setText("300");
        Child<QPushButton>(threads, "cancel")->click();
        QCOMPARE(threads.result(), int(QDialog::Rejected));
        QCOMPARE(threads.m_nThreads, 7);

        CSiteDlg site;
        site.m_strHost = "a.example.org";
        site.show();
        Child<QLineEdit>(site, "host")->setText("b.example.org");
        Child<QPushButton>(site, "cancel")->click();
        QCOMPARE(site.m_strHost, QStringLiteral("a.example.org"));
    }

    void FindKeywordComesBackAsTyped()
    {
        CFindDialog dlg;
        dlg.show();
        Child<QLineEdit>(dlg, "keyword")->insert(QStringLiteral(" MiXed 中文 "));
        Child<QPushButton>(dlg, "ok")->click();
        QCOMPARE(dlg.m_strKeyword, QStringLiteral(" MiXed 中文 "));
    }

    void ClosingDotsCycleThroughFiveAndBack()
    {
        CCloseDlg dlg(nullptr, [] { return false; });
        dlg.show();
        QCOMPARE(dlg.Text(), CLOSING);
        const QStringList expected = {".", "..", "...", "....", ".....", "", ".", ".."};
        for (const QString& strDots : expected)
        {
            dlg.OnTimer();
            QCOMPARE(dlg.Text(), CLOSING + strDots);
        }
        dlg.reject(); // Escape: ignored while the engine runs
        QVERIFY(dlg.isVisible());
        QCOMPARE(Child<QLabel>(dlg, "text")->text(), CLOSING + "..");
    }

    void ClosingStaysUntilItsFirstTickEvenWhenIdle()
    {
        int nAsked = 0;
        CCloseDlg dlg(nullptr,
                      [&nAsked]
                      {
                          ++nAsked;
                          return true;
                      });
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QVERIFY2(timer.elapsed() >= CCloseDlg::TICK_MS - 50,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(nAsked, 1);
        QCOMPARE(dlg.Text(), CLOSING);
    }

    void SearchStopAsksOnceAndCloses()
    {
        CSearchDialog dlg;
        dlg.m_nTotal = 3;
        dlg.show();
        QSignalSpy stops(&dlg, &CSearchDialog::StopRequested);
        auto* pProgress = Child<QProgressBar>(dlg, "progress");
        QCOMPARE(pProgress->maximum(), 3);
        dlg.m_nPos = 2;
        QTRY_COMPARE_WITH_TIMEOUT(pProgress->value(), 2, 1000);
        Child<QPushButton>(dlg, "stop")->click();
        QCOMPARE(stops.count(), 1);
        QVERIFY(!dlg.isVisible());
    }

    void SplashIsCentredOnTheScreen_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("1024x768") << QRect(0, 0, 1024, 768) << QPoint(237, 197);
        QTest::newRow("odd sizes") << QRect(0, 0, 1025, 769) << QPoint(237, 198);
        QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024) << QPoint(1920 + 365, 325);
        QTest::newRow("smaller than the picture") << QRect(0, 0, 500, 300) << QPoint(-25, -36);
    }

    void SplashIsCentredOnTheScreen()
    {
        QFETCH(QRect, screen);
        QFETCH(QPoint, topLeft);
        QCOMPARE(CSplash::CenteredPos(screen, QSize(550, 373)), topLeft);
    }

    void StartupSplashStaysItsMinimumTime()
    {
        QElapsedTimer timer;
        timer.start();
        CStartupSplash splash(200);
        QVERIFY(splash.IsShown());
        splash.Finish();
        QVERIFY(timer.elapsed() >= 200);
        QVERIFY(!splash.IsShown());
    }

    void SplashShowsThePictureSizeWhereItIsPlaced()
    {
        CSplash splash;
        splash.Create();
        QVERIFY(splash.isVisible());
        QCOMPARE(splash.size(), QSize(550, 373));
        QCOMPARE(splash.pos(), CSplash::CenteredPos(splash.screen()->geometry(), QSize(550, 373)));
    }

    // Last: from here on Qt speaks Chinese in this process.
    void QtsOwnTextsSpeakChinese()
    {
        QVERIFY(InstallQtTranslations());
        struct
        {
            QDialogButtonBox::StandardButton nButton;
            QString strText;
        } buttons[] = {{QDialogButtonBox::Cancel, QStringLiteral("取消")},
                       {QDialogButtonBox::Save, QStringLiteral("保存")},
                       {QDialogButtonBox::Open, QStringLiteral("打开")}};
        QDialogButtonBox box;
        for (const auto& button : buttons)
            QCOMPARE(box.addButton(button.nButton)->text().remove('&').left(2), button.strText);
        // Qt's own file dialog (the one shown where the desktop has none).
        QFileDialog files;
        files.setOption(QFileDialog::DontUseNativeDialog);
        QStringList labels;
        for (QLabel* pLabel : files.findChildren<QLabel*>())
            labels << pLabel->text();
        QVERIFY2(labels.join('|').contains(QStringLiteral("查找")), qPrintable(labels.join('|')));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Copy").remove('&').left(2),
                 QStringLiteral("复制"));
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
