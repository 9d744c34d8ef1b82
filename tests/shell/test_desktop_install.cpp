// What an install puts on the machine, checked with the desktop's and systemd's own validators: a
// `cmake --install` into a scratch prefix, and the Debian package built from this build tree, installed
// with apt-get and removed again. And how the desktop knows the running program: its window class and
// its start-up entry.
#include "core/instance.h"
#include "settings/autostart.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

namespace {

const QString kBuildDir = QFileInfo(QStringLiteral(ZANTREL_BINARY)).absolutePath();

struct Run {
    int exitCode = -1;
    QByteArray output; // standard output and error
};

Run run(const QString& program, const QStringList& args, int timeoutMs = 120000,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(kBuildDir);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs))
        p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

#define VERIFY_RUN(call)                                                                                     \
    do {                                                                                                     \
        const Run r_ = (call);                                                                               \
        QVERIFY2(r_.exitCode == 0, (#call ": " + r_.output).constData());                                    \
    } while (false)

bool have(const char* tool) {
    return !QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty();
}

// The validators of the menu entry, the AppStream description and the user unit, on the files under root.
void validate(const QString& root, const QStringList& unitOptions) {
    const QString share = root + QStringLiteral("/share/");
    if (have("desktop-file-validate"))
        VERIFY_RUN(run("desktop-file-validate", {share + "applications/org.zantrel.WebcamZantrel.desktop"}));
    if (have("appstreamcli"))
        VERIFY_RUN(run("appstreamcli",
                       {"validate", "--no-net", share + "metainfo/org.zantrel.WebcamZantrel.metainfo.xml"}));
    if (have("systemd-analyze")) {
        // The user manager's view needs a runtime folder of the user's own.
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        const QString units = root + QStringLiteral("/lib/systemd/user/");
        VERIFY_RUN(run("systemd-analyze",
                       QStringList{"--user", "verify"} + unitOptions +
                           QStringList{units + "webcam-zantrel.service", units + "webcam-zantrel@.service"},
                       60000, env));
    }
}

} // namespace

class TestDesktopInstall : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Into any prefix: the unit runs the program installed there.
    void installedUnderAnyPrefix() {
        QTemporaryDir prefix;
        VERIFY_RUN(run("cmake", {"--install", kBuildDir, "--prefix", prefix.path()}));
        const QString share = prefix.path() + "/share/";
        for (const QString& file : {prefix.path() + "/bin/webcam-zantrel",
                                    share + "icons/hicolor/scalable/apps/org.zantrel.WebcamZantrel.svg",
                                    share + "icons/hicolor/48x48/apps/org.zantrel.WebcamZantrel.png",
                                    share + "man/man1/webcam-zantrel.1.gz"})
            QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
        // The plain unit, and the template of a named instance.
        for (const char* instance : {"", "@"}) {
            QFile unit(prefix.path() + "/lib/systemd/user/webcam-zantrel" + instance + ".service");
            QVERIFY(unit.open(QIODevice::ReadOnly));
            const QByteArray text = unit.readAll();
            QVERIFY2(text.contains("\nExecStart=" + QFile::encodeName(prefix.path()) +
                                   "/bin/webcam-zantrel --headless --pictures-folder" +
                                   (*instance ? " --instance %i" : "") + "\n"),
                     text.constData());
        }
        // The manual page is not where man looks; the rest is checked, the program's path included.
        validate(prefix.path(), {"--man=no"});
    }

    void debianPackage() {
        for (const char* tool : {"cpack", "dpkg-shlibdeps", "dpkg-deb"})
            if (!have(tool))
                QSKIP("needs cpack, dpkg-shlibdeps and dpkg-deb (dpkg-dev)");
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the package is made from the plain build");
#endif
        // From the program already built. The build tree's generator would have cpack build everything
        // first (its pre-install step); for Ninja's, which has none, it installs what is there.
        QTemporaryDir out;
        VERIFY_RUN(run("cpack",
                       {"-G", "DEB", "-D", "CPACK_CMAKE_GENERATOR=Ninja", "--config",
                        kBuildDir + "/CPackConfig.cmake", "-B", out.path()},
                       300000));
        const QString arch = QString::fromLatin1(run("dpkg", {"--print-architecture"}).output.trimmed());
        const QString deb = out.filePath(
            QStringLiteral("webcam-zantrel_%1_%2.deb").arg(QStringLiteral(ZANTREL_VERSION), arch));
        QVERIFY2(QFileInfo(deb).isFile(), qPrintable(QDir(out.path()).entryList().join(' ')));
        const QByteArray depends = run("dpkg-deb", {"--field", deb, "Depends"}).output;
        for (const char* package :
             {"libqt6widgets6", "libturbojpeg0", "gstreamer1.0-plugins-good", "libqt6svg6", "qt6-wayland"})
            QVERIFY2(depends.contains(package), depends.constData());
        if (have("lintian")) {
            const Run lint = run("lintian", {"--fail-on", "error", deb}, 300000);
            QVERIFY2(lint.exitCode == 0 && !lint.output.contains("\nE: ") && !lint.output.startsWith("E: "),
                     lint.output.constData());
        }

        if (::geteuid() != 0 || !have("apt-get"))
            QSKIP("installing the package needs root and apt-get");
        if (run("dpkg-query", {"-W", "-f=${Status}", "webcam-zantrel"}).output.contains("installed"))
            QSKIP("webcam-zantrel is installed on this machine already: left alone");
        const QStringList lock{"-o", "DPkg::Lock::Timeout=300"};
        VERIFY_RUN(run("apt-get", lock + QStringList{"install", "-y", "-q", "--no-install-recommends", deb},
                       600000));
        const auto remove = qScopeGuard([&lock] {
            run("apt-get", lock + QStringList{"purge", "-y", "-q", "webcam-zantrel"}, 600000);
        });
        const Run version = run("/usr/bin/webcam-zantrel", {"--version"});
        QCOMPARE(version.output, QByteArray("Webcam Zantrel 2.00\n"));
        const Run manual = run("man", {"-w", "webcam-zantrel"});
        QCOMPARE(manual.output, QByteArray("/usr/share/man/man1/webcam-zantrel.1.gz\n"));
        validate(QStringLiteral("/usr"), {});
    }

    // The windows carry the menu entry's name as their X11 class (so they get its icon and group with
    // its launcher); on Wayland the app id is the entry's file name, the same name.
    void windowClassIsTheMenuEntrys() {
        for (const char* tool : {"Xvfb", "xdotool", "xprop"})
            if (!have(tool))
                QSKIP("needs Xvfb, xdotool and xprop");
        const QString desktopFile =
            QStringLiteral(ZANTREL_TEST_DATA_DIR "/../../data/org.zantrel.WebcamZantrel.desktop");
        QFile desktop(desktopFile);
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QString wmClass = QRegularExpression(QStringLiteral("\\nStartupWMClass=(.*)\\n"))
                                    .match(QString::fromUtf8(desktop.readAll()))
                                    .captured(1);
        QCOMPARE(wmClass + QStringLiteral(".desktop"), desktopFile.section(QLatin1Char('/'), -1));

        QProcess server;
        server.start(QStringLiteral("Xvfb"),
                     {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        QTRY_VERIFY_WITH_TIMEOUT((server.waitForReadyRead(100), server.canReadLine()), 10000);
        zantrel::test::ProgramHome home{QString()};
        home.writeSettings("[FT]\nFIRSTTIME=NO\n");
        QProcess program;
        home.prepare(program);
        QProcessEnvironment env = program.processEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"),
                   QStringLiteral(":") + QString::fromLatin1(server.readLine().trimmed()));
        program.setProcessEnvironment(env);
        program.start();
        QByteArray window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = run("xdotool", {"search", "--pid", QString::number(program.processId())}, 5000, env)
                           .output.trimmed())
                 .isEmpty(),
            60000); // a first start after the GStreamer registry was cleared scans every plugin
        const QByteArray classes =
            run("xprop", {"-id", QString::fromLatin1(window.split('\n').first()), "WM_CLASS"}, 5000, env)
                .output.trimmed();
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
        const QString chosen = zantrel::AutostartProgram(QStringLiteral("/build/webcam-zantrel"));
        qputenv("PATH", path);
        QCOMPARE(chosen, installed);
        const QString entry = zantrel::AutostartEntryText(chosen);
        QVERIFY(entry.contains(QStringLiteral("\nExec=\"%1\" --pictures-folder /BOOT\n").arg(installed)));
        QVERIFY(entry.contains(QStringLiteral("\nIcon=org.zantrel.WebcamZantrel\n")));
        // A named instance's entry is its own and starts that instance.
        zantrel::SetInstanceName(QStringLiteral("gate"));
        const QString gate = zantrel::AutostartEntryText(installed), gatePath = zantrel::AutostartEntryPath();
        zantrel::SetInstanceName({});
        QVERIFY(gate.contains(
            QStringLiteral("\nExec=\"%1\" --pictures-folder --instance gate /BOOT\n").arg(installed)));
        QVERIFY(gatePath.endsWith(QStringLiteral("/autostart/webcam-zantrel@gate.desktop")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopInstall)
#include "test_desktop_install.moc"
