// The built program run as a process: the start-up checks before any window opens.
#include "core/own_process.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

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
        // "", "running", "headless", "crashed", or blocked: the settings "folder" is a file, the "lock" a
        // folder
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("runs");
        QTest::addColumn<QByteArray>("written"); // in the settings once it has ended
        QTest::newRow("boot refused") << QByteArray() << "/BOOT" << QString() << false << QByteArray();
        QTest::newRow("boot allowed") << QByteArray("[PREF]\nWINDOWSSTART=1\n") + kStarted << "/BOOT"
                                      << QString() << true << QByteArray();
        QTest::newRow("lower-case boot is an ordinary start")
            << QByteArray(kStarted) << "/boot" << QString() << true << QByteArray();
        QTest::newRow("second instance says one runs")
            << QByteArray(kStarted) << QString() << "running" << false << QByteArray();
        QTest::newRow("headless after a window") << QByteArray(kStarted) << "--headless"
                                                 << "running" << false << QByteArray();
        QTest::newRow("window after headless")
            << QByteArray(kStarted) << QString() << "headless" << false << QByteArray();
        QTest::newRow("stale lock of a crashed instance")
            << QByteArray(kStarted) << QString() << "crashed" << true << QByteArray();
        QTest::newRow("no settings folder is a failure") << QByteArray() << "--headless"
                                                         << "folder" << false << QByteArray();
        QTest::newRow("a lock that cannot be taken is a failure")
            << QByteArray(kStarted) << QString() << "lock" << false << QByteArray();
        // Ended while its message shows, before the settings dialog: still pending at the next start.
        QTest::newRow("first start ended during its message")
            << QByteArray() << QString() << QString() << true << QByteArray();
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
        // Under umask 000 the settings folder is still the user's alone, made so by the program or
        // narrowed by it.
        const mode_t umask = ::umask(0);
        const auto restoreUmask = qScopeGuard([umask] { ::umask(umask); });
        const QString folder = home.path() + QStringLiteral("/KALDOR");
        if (!ini.isEmpty())
            home.writeSettings(ini);
        QProcess first;
        const bool blocked = before == QLatin1String("folder") || before == QLatin1String("lock");
        if (before == QLatin1String("folder"))
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        else if (before == QLatin1String("lock"))
            QVERIFY(QDir().mkpath(folder + QStringLiteral("/webcam-zantrel.lock")));
        else if (!before.isEmpty()) {
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
            const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
            if (blocked) { // a failure, so that the service's restart applies
                QCOMPARE(p.exitCode(), 1);
                QVERIFY2(said.contains(" cannot be "), said.constData());
                return;
            }
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(said, before.isEmpty()
                               ? QByteArray()
                               : QByteArray("webcam-zantrel: another instance is running; this one ends.\n"));
        }
        QCOMPARE(QFile::permissions(folder) & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        for (const QByteArray& line : written.split('\n'))
            QVERIFY2(home.settings().contains(line), home.settings().constData());
        if (ini.isEmpty()) // the first start is still pending
            QVERIFY(!home.settings().contains(runs ? "FIRSTTIME=NO" : "FIRSTTIME"));
        if (first.state() == QProcess::Running)
            stop(first); // the second start left it running
    }

    // Outside debugging the process cannot be dumped (nor attached to), so no core file holds the
    // passwords; WEBCAM_ZANTREL_DEBUG=1 keeps it dumpable.
    void coreDumpsOnlyWhileDebugging_data() {
        QTest::addColumn<QByteArray>("debug");
        QTest::addColumn<int>("dumpable");
        QTest::newRow("by default") << QByteArray() << 0;
        QTest::newRow("debugging") << QByteArray("1") << 1;
    }
    void coreDumpsOnlyWhileDebugging() {
        QFETCH(QByteArray, debug);
        QFETCH(int, dumpable);
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the leak check of a sanitizer build attaches to the process: it stays dumpable");
#endif
        qputenv("WEBCAM_ZANTREL_DEBUG", debug);
        zantrel::HardenProcess();
        const int now = ::prctl(PR_GET_DUMPABLE);
        ::prctl(PR_SET_DUMPABLE, 1);
        qunsetenv("WEBCAM_ZANTREL_DEBUG");
        QCOMPARE(now, dumpable);
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
