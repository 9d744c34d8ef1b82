// The command line, GNU style: read whole before anything starts, so a wrong one opens no window and
// touches no camera, on any platform.
#include "core/command_line.h"
#include "support/temp_store.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

using namespace zantrel;
using zantrel::test::ProgramHome;

namespace {

QString described(const CommandLine& c) {
    if (!c.error.isEmpty())
        return c.error;
    static const char* const names[] = {"window", "boot",      "once", "headless",
                                        "status", "timelapse", "help", "version"};
    QString out = QLatin1String(names[static_cast<int>(c.mode)]);
    if (c.picturesFolder)
        out += QStringLiteral(" in pictures");
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

class TestCommandLine : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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
                           "/BOOT --help --version"));
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
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
