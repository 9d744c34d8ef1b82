// How the desktop knows the program: its windows carry the menu entry's name as their X11 class (and so
// get its icon and group with its launcher), and the start-up entry runs the program found on PATH.
#include "settings/autostart.h"
#include "support/temp_store.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace zantrel;

namespace {

const QString kDesktopFile =
    QStringLiteral(ZANTREL_TEST_DATA_DIR "/../../data/org.zantrel.WebcamZantrel.desktop");

QByteArray run(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(5000);
    return p.readAllStandardOutput().trimmed();
}

} // namespace

class TestAppIdentity : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void windowClassIsTheMenuEntrys() {
        for (const char* tool : {"Xvfb", "xdotool", "xprop"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("needs Xvfb, xdotool and xprop");
        QFile desktopFile(kDesktopFile);
        QVERIFY(desktopFile.open(QIODevice::ReadOnly));
        const QString wmClass = QRegularExpression(QStringLiteral("\\nStartupWMClass=(.*)\\n"))
                                    .match(QString::fromUtf8(desktopFile.readAll()))
                                    .captured(1);
        // On Wayland the app id is the menu entry's file name: the same name.
        QCOMPARE(wmClass + QStringLiteral(".desktop"), kDesktopFile.section(QLatin1Char('/'), -1));

        QProcess server;
        server.start(QStringLiteral("Xvfb"),
                     {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        QTRY_VERIFY_WITH_TIMEOUT((server.waitForReadyRead(100), server.canReadLine()), 10000);
        const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine().trimmed());
        zantrel::test::ProgramHome home{QString()};
        home.writeSettings("[FT]\nFIRSTTIME=NO\n");
        QProcess program;
        home.prepare(program);
        QProcessEnvironment env = program.processEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        program.setProcessEnvironment(env);
        program.start();
        QByteArray window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = run("xdotool", {"search", "--pid", QString::number(program.processId())}, env))
                 .isEmpty(),
            15000);
        const QByteArray classes =
            run("xprop", {"-id", QString::fromLatin1(window.split('\n').first()), "WM_CLASS"}, env);
        ::kill(pid_t(program.processId()), SIGTERM);
        program.waitForFinished(10000);
        server.terminate();
        server.waitForFinished(5000);
        QCOMPARE(classes, "WM_CLASS(STRING) = \"webcam-zantrel\", \"" + wmClass.toLatin1() + "\"");
    }

    // The start-up entry runs the program on PATH (not the build tree's one that wrote it), with the icon.
    void autostartRunsTheProgramOnPath() {
        QTemporaryDir bin;
        const QString installed = bin.filePath(QStringLiteral("webcam-zantrel"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), installed));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        const QString chosen = AutostartProgram(QStringLiteral("/build/webcam-zantrel"));
        qputenv("PATH", path);
        QCOMPARE(chosen, installed);
        const QString entry = AutostartEntryText(chosen);
        QVERIFY(entry.contains(QStringLiteral("\nExec=\"%1\" --pictures-folder /BOOT\n").arg(installed)));
        QVERIFY(entry.contains(QStringLiteral("\nIcon=org.zantrel.WebcamZantrel\n")));
    }
};

QTEST_GUILESS_MAIN(TestAppIdentity)
#include "test_app_identity.moc"
