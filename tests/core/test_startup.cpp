// The built program run as a process: the start-up checks before any window opens; the command line,
// GNU style, read whole before anything starts, so a wrong one opens no window and touches no camera.
#include "core/command_line.h"
#include "core/own_process.h"
#include "support/camera_servers.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

using zantrel::test::CameraServer;
using zantrel::test::ProgramHome;
using namespace zantrel;

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

QString described(const CommandLine& c) {
    if (!c.error.isEmpty())
        return c.error;
    static const char* const names[] = {"window", "boot",      "once", "headless",
                                        "status", "timelapse", "help", "version"};
    QString out = QLatin1String(names[static_cast<int>(c.mode)]);
    if (c.picturesFolder)
        out += QStringLiteral(" in pictures");
    if (!c.instance.isEmpty())
        out += QStringLiteral(" as ") + c.instance;
    if (!c.timelapse.isEmpty())
        out += QLatin1Char(' ') + c.timelapse.join(QLatin1Char(' '));
    return out;
}

// The program living in home, started with args and these variables added to its environment.
void start(QProcess& p, const ProgramHome& home, const QStringList& args,
           const std::initializer_list<std::pair<const char*, QString>>& vars = {}) {
    home.prepare(p);
    QProcessEnvironment env = p.processEnvironment();
    for (const auto& [name, value] : vars)
        env.insert(QLatin1String(name), value);
    p.setProcessEnvironment(env);
    p.setArguments(args);
    p.start();
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

    void parse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("parsed");
        QTest::newRow("none") << QStringList() << "window";
        QTest::newRow("help wins over what follows") << QStringList{"--help", "--once", "--bogus"} << "help";
        QTest::newRow("short version") << QStringList{"-V"} << "version";
        QTest::newRow("boot in pictures") << QStringList{"--pictures-folder", "/BOOT"} << "boot in pictures";
        QTest::newRow("timelapse, both value forms")
            << QStringList{"--fps=10", "--timelapse", "07122026", "--output", "a b.mp4"}
            << "timelapse --timelapse 07122026 --fps 10 --output a b.mp4";
        QTest::newRow("unknown long")
            << QStringList{"--once", "--verbose"} << "unrecognized option '--verbose'";
        QTest::newRow("unknown short") << QStringList{"-x"} << "invalid option -- 'x'";
        QTest::newRow("missing value")
            << QStringList{"--timelapse"} << "option '--timelapse' requires an argument";
        QTest::newRow("value not allowed")
            << QStringList{"--once=1"} << "option '--once' doesn't allow an argument";
        QTest::newRow("two modes") << QStringList{"--once", "--headless"}
                                   << "--once and --headless cannot be used together";
        QTest::newRow("timelapse option alone")
            << QStringList{"--once", "--fps", "3"} << "option '--fps' is only for --timelapse";
        QTest::newRow("operand") << QStringList{"/start"} << "unexpected argument '/start'";
        QTest::newRow("after the end of options")
            << QStringList{"--", "--once"} << "unexpected argument '--once'";
        QTest::newRow("instance") << QStringList{"--instance", "Gate_2-b", "--once"} << "once as Gate_2-b";
        QTest::newRow("instance with a slash") << QStringList{"--instance=a/b"}
                                               << "the instance name 'a/b' may hold only letters, digits, "
                                                  "'-' and '_' (not '/')";
        QTest::newRow("instance of dots") << QStringList{"--instance", ".."}
                                          << "the instance name '..' may "
                                             "hold only letters, digits, "
                                             "'-' and '_' (not '.')";
        QTest::newRow("instance name too long")
            << QStringList{"--instance", QString(33, u'x')}
            << "the instance name '" + QString(33, u'x') + "' is longer than 32 characters";
    }
    void parse() {
        QFETCH(QStringList, args);
        QFETCH(QString, parsed);
        QCOMPARE(described(ParseCommandLine(args)), parsed);
    }

    // --help: every option the program takes, one line each, each accepted as shown.
    void helpShowsEveryOption() {
        const QStringList lines = UsageText(QStringLiteral("/x/KALDOR.ini"), 465).split(QLatin1Char('\n'));
        const QRegularExpression optionLine(
            QStringLiteral("^  (?:(-\\w), )?\\s*(--[a-z-]+|/BOOT)(?: (\\S+))?  "));
        QStringList shown;
        for (const QString& line : lines) {
            const auto m = optionLine.match(line);
            if (!m.hasMatch())
                continue;
            QVERIFY2(line.size() <= 80, qPrintable(line));
            shown << m.captured(2);
            QStringList args{m.captured(2)};
            if (!m.captured(3).isEmpty())
                args << QStringLiteral("1");
            if (args.first() != QLatin1String("--timelapse") && args.size() > 1)
                args << QStringLiteral("--timelapse") << QStringLiteral("07122026");
            QVERIFY2(ParseCommandLine(args).error.isEmpty(), qPrintable(line));
            if (!m.captured(1).isEmpty())
                QCOMPARE(ParseCommandLine({m.captured(1)}).mode, ParseCommandLine({m.captured(2)}).mode);
        }
        QCOMPARE(
            shown.join(QLatin1Char(' ')),
            QStringLiteral("--once --headless --status --timelapse --fps --width --output --pictures-folder "
                           "--instance /BOOT --help --version"));
    }

    // The program itself, on a platform whose display is not there: a wrong command line ends with
    // status 2 and a hint before a window, the instance lock or the settings folder is touched.
    void programRefusesBeforeStarting_data() {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        for (const char* platform : {"wayland", "xcb"}) {
            const auto row = [platform](const char* name) -> QTestData& {
                return QTest::addRow("%s %s", platform, name);
            };
            row("unknown option") << QByteArray(platform) << QStringList{"--bogus"} << 2;
            row("once with an unknown option")
                << QByteArray(platform) << QStringList{"--once", "--verbose"} << 2;
            row("bad value") << QByteArray(platform) << QStringList{"--timelapse", "99999999"} << 2;
            row("instance out of its folder")
                << QByteArray(platform) << QStringList{"--instance", "../x"} << 2;
            row("help") << QByteArray(platform) << QStringList{"--help", "--once"} << 0;
        }
    }
    void programRefusesBeforeStarting() {
        QFETCH(QByteArray, platform);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        ProgramHome home;
        QProcess p;
        start(p, home, args,
              {{"QT_QPA_PLATFORM", QString::fromLatin1(platform)},
               {"DISPLAY", QStringLiteral(":97")},
               {"WAYLAND_DISPLAY", QStringLiteral("no-such-wayland-display")}});
        QVERIFY(p.waitForFinished(10000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == exitCode, err.constData());
        if (exitCode == 2) {
            QVERIFY(out.isEmpty());
            QVERIFY2(err.startsWith("webcam-zantrel: ") &&
                         err.endsWith("\nTry 'webcam-zantrel --help' for more information.\n"),
                     err.constData());
        } else {
            QVERIFY(out.startsWith("Usage: webcam-zantrel"));
        }
        QVERIFY(!QFile::exists(home.path() + QStringLiteral("/KALDOR/webcam-zantrel.lock")));
    }

    // --pictures-folder (the menu entry's, the unit's) works in the pictures folder, made if missing.
    void picturesFolder() {
        ProgramHome home{QString()};
        home.writeSettings("[FT]\nFIRSTTIME=NO\n");
        QProcess p;
        start(p, home, {QStringLiteral("--once"), QStringLiteral("--pictures-folder")},
              {{"XDG_PICTURES_DIR", home.path() + QStringLiteral("/My Pictures")}});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFile::exists(home.path() + QStringLiteral("/My Pictures/Webcam Zantrel/webcam.jpg")));
        QVERIFY(!QFile::exists(home.path() + QStringLiteral("/webcam.jpg")));
    }

    // --once next to a running instance publishes nothing and says why: a failure, not a success.
    void onceWhileAnotherRuns() {
        ProgramHome home;
        // The running instance waits for a day to come: it publishes nothing meanwhile.
        home.writeSettings("[UPDATE]\nTYPE=0\nYEAR=2099\nMONTH=1\nDAY=1\nHOUR=0\nMINUTE=0\nSECOND=0\n");
        QProcess first, once;
        start(first, home, {QStringLiteral("--headless")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.path() + QStringLiteral("/KALDOR/webcam-zantrel.lock")),
                                 10000);
        start(once, home, {QStringLiteral("--once")});
        QVERIFY(once.waitForFinished(10000));
        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(once.exitCode(), 1);
        QCOMPARE(once.readAllStandardError(),
                 QByteArray("webcam-zantrel: another instance is running; --once publishes nothing.\n"));
        QVERIFY(!QFile::exists(home.path() + QStringLiteral("/webcam.jpg")));
    }

    // Two cameras side by side: each named instance publishes its own camera's picture to its own
    // target from its own folder, the same name twice is refused, and --status has a line for each
    // (the one whose live view finds the shared port taken has a warning: the worst status is 1).
    void instancesSideBySide() {
        CameraServer rtsp(CameraServer::Kind::Rtsp), http(CameraServer::Kind::Http);
        QVERIFY2(rtsp.running() && http.running(), qPrintable(rtsp.failure() + http.failure()));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QByteArray port = QByteArray::number(probe.serverPort());
        probe.close();
        ProgramHome home{QString()};
        const QList<std::pair<QString, QString>> cameras{{"gate", rtsp.url("/cam")},
                                                         {"garden", http.url("/stream")}};
        for (const auto& [name, url] : cameras) {
            const QString folder = home.path() + "/KALDOR/instances/" + name;
            QVERIFY(QDir().mkpath(folder) && QDir().mkpath(home.path() + "/out-" + name));
            QFile ini(folder + "/KALDOR.ini");
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[FT]\nFIRSTTIME=NO\n[PREF]\nAHANGUP=0\n[VFW]\nCAMERA=" + url.toUtf8() +
                      "\n[HTTP]\nENABLE=1\nPORT=" + port +
                      "\n[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=file://" + QFile::encodeName(home.path()) +
                      "/out-" + name.toUtf8() + "\n");
        }
        const std::initializer_list<std::pair<const char*, QString>> runtime{
            {"XDG_RUNTIME_DIR", home.path() + "/runtime"}};
        QProcess gate, garden, again, status;
        start(gate, home, {"--headless", "--instance", "gate"}, runtime);
        start(garden, home, {"--instance=garden", "--headless"}, runtime);
        const auto stopBoth = qScopeGuard([&] {
            for (QProcess* p : {&gate, &garden})
                if (p->state() == QProcess::Running) // a pid of 0 would signal this whole group
                    ::kill(pid_t(p->processId()), SIGTERM), p->waitForFinished(10000);
        });
        for (const auto& [name, size] : {std::pair{"gate", QSize(640, 360)}, {"garden", QSize(320, 240)}}) {
            QTRY_COMPARE_WITH_TIMEOUT(QImage(home.path() + "/" + name + "/webcam.jpg").size(), size, 60000);
            QTRY_COMPARE_WITH_TIMEOUT(QImage(home.path() + "/out-" + name + "/webcam.jpg").size(), size,
                                      30000);
        }
        QVERIFY(!QFile::exists(home.path() + "/webcam.jpg"));
        start(again, home, {"--headless", "--instance", "gate"}, runtime);
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.readAllStandardError(),
                 QByteArray("webcam-zantrel: another instance is running; this one ends.\n"));

        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((start(status, home, {"--status"}, runtime), status.waitForFinished(10000),
                                  said = status.readAllStandardOutput(), said.count("Warning: ") == 1),
                                 20000);
        QCOMPARE(status.exitCode(), 1);
        const QList<QByteArray> lines = said.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            lines[0].startsWith("garden: Running, process " + QByteArray::number(garden.processId()) +
                                ", ") &&
                lines[1].startsWith("gate: Running, process " + QByteArray::number(gate.processId()) + ", "),
            said.constData());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
