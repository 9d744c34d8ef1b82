// The built program run as a process: the start-up checks before any window opens.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

class Program {
  public:
    explicit Program(const QString& configHome) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // A camera, so that start-up shows no "no camera" message of its own.
        env.insert(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"),
                   QStringLiteral("videotestsrc ! video/x-raw,width=320,height=240"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(configHome);
    }
    void start(const QStringList& args) { process.start(QStringLiteral(ZANTREL_BINARY), args); }
    QProcess process;
};

void writeIni(const QString& configHome, const QByteArray& text) {
    QDir().mkpath(configHome + QStringLiteral("/KALDOR"));
    QFile f(configHome + QStringLiteral("/KALDOR/KALDOR.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray readIni(const QString& configHome) {
    QFile f(configHome + QStringLiteral("/KALDOR/KALDOR.ini"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// True when the process is still running after the given time.
bool stillRunningAfter(QProcess& p, int ms) {
    return !p.waitForFinished(ms) && p.state() == QProcess::Running;
}

void stop(QProcess& p) {
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000));
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void bootEndsAtOnceUnlessAllowed() {
        QTemporaryDir home;
        Program p(home.path());
        p.start({QStringLiteral("/BOOT")});
        QVERIFY(p.process.waitForFinished(10000));
        QCOMPARE(p.process.exitCode(), 0);
        QVERIFY(p.process.readAllStandardOutput().isEmpty());
        // Nothing was written: the first start is still pending.
        QVERIFY(!readIni(home.path()).contains("FIRSTTIME"));

        writeIni(home.path(), "[PREF]\nWINDOWSSTART=1\n[FT]\nFIRSTTIME=NO\n");
        Program allowed(home.path());
        allowed.start({QStringLiteral("/BOOT")});
        QVERIFY(stillRunningAfter(allowed.process, 1500));
        stop(allowed.process);
    }

    void lowerCaseBootIsAnOrdinaryStart() {
        QTemporaryDir home;
        writeIni(home.path(), "[FT]\nFIRSTTIME=NO\n");
        Program p(home.path());
        p.start({QStringLiteral("/boot")});
        QVERIFY(stillRunningAfter(p.process, 1500));
        stop(p.process);
    }

    void secondInstanceEndsSilentlyAndTheFirstRunsOn() {
        QTemporaryDir home;
        writeIni(home.path(), "[FT]\nFIRSTTIME=NO\n");
        Program first(home.path());
        first.start({});
        QVERIFY(stillRunningAfter(first.process, 1500));

        Program second(home.path());
        second.start({});
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(second.process.readAllStandardOutput().isEmpty());
        QVERIFY(second.process.readAllStandardError().isEmpty());
        QCOMPARE(first.process.state(), QProcess::Running);
        stop(first.process);
    }

    void staleLockOfACrashedInstanceDoesNotBlock() {
        QTemporaryDir home;
        writeIni(home.path(), "[FT]\nFIRSTTIME=NO\n");
        Program crashed(home.path());
        crashed.start({});
        QVERIFY(stillRunningAfter(crashed.process, 1500));
        crashed.process.kill(); // SIGKILL: no clean-up, the lock file stays behind
        QVERIFY(crashed.process.waitForFinished(10000));
        QVERIFY(QFile::exists(home.path() + QStringLiteral("/KALDOR/webcam-zantrel.lock")));

        Program next(home.path());
        next.start({});
        QVERIFY(stillRunningAfter(next.process, 1500));
        stop(next.process);
    }

    void closeSavesGeometryInTwipsAndOverlayAsNo() {
        QTemporaryDir home;
        writeIni(home.path(),
                 "[FT]\nFIRSTTIME=NO\n[LOAD]\nWIDTH=4800\nHEIGHT=6000\nLEFT=150\nTOP=300\nOVERLAY=yes\n");
        Program p(home.path());
        p.start({});
        QVERIFY(stillRunningAfter(p.process, 1500));
        stop(p.process); // SIGTERM closes the window as a normal exit does
        const QByteArray ini = readIni(home.path());
        QVERIFY2(ini.contains("WIDTH=4800"), ini.constData());
        QVERIFY2(ini.contains("HEIGHT=6000"), ini.constData());
        QVERIFY2(ini.contains("LEFT=150"), ini.constData());
        QVERIFY2(ini.contains("TOP=300"), ini.constData());
        QVERIFY2(ini.contains("OVERLAY=NO"), ini.constData());
    }

    void firstStartIsOfferedOnce() {
        QTemporaryDir home;
        Program first(home.path());
        first.start({});
        QVERIFY(stillRunningAfter(first.process, 1500));
        QVERIFY(!readIni(home.path()).contains("FIRSTTIME")); // written only once the message is closed
        stop(first.process);                                  // closes the message like any other window
        QVERIFY(readIni(home.path()).contains("FIRSTTIME=NO"));
    }

    void noDisplayFailsWithAMessage() {
        QTemporaryDir home;
        Program p(home.path());
        QProcessEnvironment env = p.process.processEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.process.setProcessEnvironment(env);
        p.start({});
        QVERIFY(p.process.waitForFinished(10000));
        QCOMPARE(p.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.process.exitCode(), 1);
        QVERIFY(p.process.readAllStandardError().contains("no display"));
    }

    void versionAndHelp() {
        QTemporaryDir home;
        Program p(home.path());
        p.start({QStringLiteral("--version")});
        QVERIFY(p.process.waitForFinished(10000));
        QCOMPARE(p.process.readAllStandardOutput().trimmed(), QByteArray("Webcam Zantrel 2.00"));
        Program h(home.path());
        h.start({QStringLiteral("--help")});
        QVERIFY(h.process.waitForFinished(10000));
        QCOMPARE(h.process.exitCode(), 0);
        QVERIFY(h.process.readAllStandardOutput().contains("Usage:"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
