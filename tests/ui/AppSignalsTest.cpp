// The window program started as a user starts it, then ended by the signals
// a session sends (logout, kill, Ctrl-C, the terminal closing): each closes
// the window the normal way, so it exits cleanly instead of dying.

#include <QProcess>
#include <QtTest>
#include <csignal>

#include "model/DataFolderLock.h"
#include "support/TempDir.h"

class AppSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void EachTerminateSignalClosesTheWindowNormally_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void EachTerminateSignalClosesTheWindowNormally()
    {
        QFETCH(int, signal);
        CTempDir data;
        CTempDir home;
        QProcess tarn;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", QString::fromStdString(home.Path()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(home.Path()));
        tarn.setProcessEnvironment(env);
        tarn.start(TARN_APP_PATH, {"--data-dir", QString::fromStdString(data.Path())});
        QVERIFY(tarn.waitForStarted());
        // The lock is taken once the handlers are in place.
        QTRY_COMPARE_WITH_TIMEOUT(CDataFolderLock::ReadHolderName(data.Path()),
                                  std::string(CDataFolderLock::HOLDER_WINDOW), 20000);
        QCOMPARE(::kill(pid_t(tarn.processId()), signal), 0);
        QVERIFY(tarn.waitForFinished(20000));
        QCOMPARE(tarn.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tarn.exitCode(), 0);
        QVERIFY(!QString::fromUtf8(tarn.readAllStandardError()).contains("终止信号"));
    }
};

QTEST_MAIN(AppSignalsTest)
#include "AppSignalsTest.moc"
