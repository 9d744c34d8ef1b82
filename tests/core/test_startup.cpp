// The built program run as a process: the start-up checks before any window opens.
#include "support/temp_store.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>

using zantrel::test::ProgramHome;

namespace {

const QByteArray kStarted("[FT]\nFIRSTTIME=NO\n");

// True when the process is still running after the given time.
bool stillRunningAfter(QProcess& p, int ms) {
    return !p.waitForFinished(ms) && p.state() == QProcess::Running;
}

void stop(QProcess& p) {
    ::kill(pid_t(p.processId()), SIGTERM); // closes the window as a normal exit does
    QVERIFY(p.waitForFinished(10000));
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // How a start ends. "before" is a first instance: running (in a window or headless), or killed so
    // that its lock stays behind.
    void startUp_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("before"); // "", "running", "headless", "crashed"
        QTest::addColumn<bool>("runs");
        QTest::addColumn<QByteArray>("written"); // in the settings once it has ended
        QTest::newRow("boot refused") << QByteArray() << "/BOOT" << QString() << false << QByteArray();
        QTest::newRow("boot allowed") << QByteArray("[PREF]\nWINDOWSSTART=1\n") + kStarted << "/BOOT"
                                      << QString() << true << QByteArray();
        QTest::newRow("lower-case boot is an ordinary start")
            << QByteArray(kStarted) << "/boot" << QString() << true << QByteArray();
        QTest::newRow("second instance ends silently")
            << QByteArray(kStarted) << QString() << "running" << false << QByteArray();
        QTest::newRow("headless after a window") << QByteArray(kStarted) << "--headless"
                                                 << "running" << false << QByteArray();
        QTest::newRow("window after headless")
            << QByteArray(kStarted) << QString() << "headless" << false << QByteArray();
        QTest::newRow("stale lock of a crashed instance")
            << QByteArray(kStarted) << QString() << "crashed" << true << QByteArray();
        QTest::newRow("first start is offered once")
            << QByteArray() << QString() << QString() << true << QByteArray("FIRSTTIME=NO");
        QTest::newRow("close saves geometry in twips and overlay as NO")
            << QByteArray(kStarted + "[LOAD]\nWIDTH=4800\nHEIGHT=6000\nLEFT=150\nTOP=300\nOVERLAY=yes\n")
            << QString() << QString() << true
            << QByteArray("HEIGHT=6000\nLEFT=150\nOVERLAY=NO\nTOP=300\nWIDTH=4800");
    }
    void startUp() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, argument);
        QFETCH(QString, before);
        QFETCH(bool, runs);
        QFETCH(QByteArray, written);
        ProgramHome home;
        home.writeSettings(ini);
        QProcess first;
        if (!before.isEmpty()) {
            home.prepare(first);
            if (before == QLatin1String("headless"))
                first.setArguments({QStringLiteral("--headless")});
            first.start();
            QVERIFY(stillRunningAfter(first, 1500));
            if (before == QLatin1String("crashed")) {
                first.kill(); // SIGKILL: no clean-up, the lock file stays behind
                QVERIFY(first.waitForFinished(10000));
                QVERIFY(QFile::exists(home.path() + QStringLiteral("/KALDOR/webcam-zantrel.lock")));
            }
        }
        QProcess p;
        home.prepare(p);
        p.setArguments(argument.isEmpty() ? QStringList() : QStringList{argument});
        p.start();
        if (runs) {
            QVERIFY(stillRunningAfter(p, 1500));
            QVERIFY(!home.settings().contains("FIRSTTIME=NO") || ini.contains("FIRSTTIME"));
            stop(p);
        } else {
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 0);
            if (argument != QLatin1String("--headless")) // which says why on its console
                QCOMPARE(p.readAllStandardOutput() + p.readAllStandardError(), QByteArray());
        }
        for (const QByteArray& line : written.split('\n'))
            QVERIFY2(home.settings().contains(line), home.settings().constData());
        if (!runs && ini.isEmpty())
            QVERIFY(!home.settings().contains("FIRSTTIME")); // nothing written: the first start is pending
        if (first.state() == QProcess::Running)
            stop(first); // the second start left it running
    }

    void noDisplayFailsWithAMessage() {
        ProgramHome home;
        QProcess p;
        home.prepare(p);
        QProcessEnvironment env = p.processEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.start();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("no display"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
