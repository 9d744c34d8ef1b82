#include "core/own_process.h"
#include "core/setting_keys.h"
#include "core/startup.h"
#include "core/store.h"
#include "core/version.h"
#include "gallery/gallery.h"
#include "health/state_document.h"
#include "publish/console_sinks.h"
#include "publish/headless.h"
#include "publish/one_shot.h"
#include "publish/publishing_core.h"
#include "secrets/secret_resolver.h"
#include "settings/settings_dialog.h"
#include "shell/master.h"
#include "shell/quit_on_signal.h"
#include "shell/splash.h"
#include "timelapse/daily_timelapse.h"
#include "timelapse/timelapse_command.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

using namespace zantrel;

namespace {

void printUsage() {
    std::printf("Usage: webcam-zantrel [--once | --headless | --status | --help | --version | /BOOT]\n"
                "Shows the live camera picture and publishes stamped JPEG images on a schedule.\n\n"
                "  --once     publish one image with the stored settings, without a window, and\n"
                "             exit: 0 when the image was written and every upload succeeded\n"
                "  --headless publish on the stored schedule without a window or display until\n"
                "             SIGTERM or SIGINT; status on standard output, messages on standard\n"
                "             error; SIGHUP reschedules from the settings as they are now\n"
                "  --status   print the running instance's state (servers' last success, next\n"
                "             update, camera, alerts) and exit: 0 when all is well, 1 while an\n"
                "             alert is under way, 2 when no instance runs\n"
                "  --timelapse DDMMYYYY[-DDMMYYYY] [--fps N] [--width W] [--output FILE]\n"
                "             write a video of the archive's pictures of those days and exit\n"
                "  /BOOT      started by the session's start-up entry: runs only when the\n"
                "             preference \"run when the computer starts\" is set\n"
                "  --help     show this text\n"
                "  --version  show the program's name and version\n\n"
                "Settings: %s\n",
                qPrintable(SettingsStore::defaultPath()));
}

// Qt falls back to a runtime folder of its own when the session names none, and says so on every start:
// that notice is dropped; whatever else Qt reports about the folder is kept.
QtMessageHandler previousHandler = nullptr;
void quietRuntimeFolderNotice() {
    previousHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                                const QString& message) {
        if (!message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) && previousHandler)
            previousHandler(type, context, message);
    });
}

// Plain passwords in the settings file go into the keyring at the first start that finds one.
void movePasswordsToKeyring() {
    const QString said = MovePasswordsToKeyring();
    if (!said.isEmpty())
        std::fprintf(stderr, "webcam-zantrel: %s\n", qPrintable(said));
}

} // namespace

int main(int argc, char** argv) {
    HardenProcess();
    quietRuntimeFolderNotice();
    InstallSecrets(); // password values resolve before anything reads them
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args == QStringList{QStringLiteral("--help")}) {
        printUsage();
        return 0;
    }
    if (args == QStringList{QStringLiteral("--version")}) {
        std::printf("%s\n", qPrintable(applicationTitle()));
        return 0;
    }

    if (args == QStringList{QStringLiteral("--status")}) {
        QCoreApplication app(argc, argv);
        return PrintStatus(StateDocumentPath(), stdout);
    }

    if (args.value(0) == QLatin1String("--timelapse")) {
        QCoreApplication app(argc, argv);
        return RunTimelapseCommand(args);
    }

    if (args == QStringList{QStringLiteral("--once")}) {
        // No window is opened: run on the offscreen platform, so no display is needed.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        movePasswordsToKeyring();
        return RunOnce();
    }

    if (args == QStringList{QStringLiteral("--headless")}) {
        QString failure;
        const auto instanceLock = AcquireInstanceLock(failure);
        if (!instanceLock) {
            std::fprintf(stderr, "webcam-zantrel: %s\n",
                         failure.isEmpty() ? "another instance is running; this one ends."
                                           : qPrintable(failure));
            return failure.isEmpty() ? 0 : 1; // a lock that cannot be taken is a failure: restart applies
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        movePasswordsToKeyring();
        StdoutStatusSink timelapseStatus;
        DailyTimelapse dailyTimelapse(timelapseStatus);
        return RunHeadless([](PublishingCore& core) { AttachServices(core); });
    }

    if (BootStartRefused(ArgumentText(args)))
        return 0;
    QString failure;
    const auto instanceLock = AcquireInstanceLock(failure);
    if (!instanceLock) {
        std::fprintf(stderr, "webcam-zantrel: %s\n",
                     failure.isEmpty() ? "another instance is running; this one ends." : qPrintable(failure));
        return failure.isEmpty() ? 0 : 1;
    }
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "webcam-zantrel: no display to open the window on (DISPLAY is not set).\n");
        return 1;
    }

    QApplication app(argc, argv);
    movePasswordsToKeyring();
    app.setApplicationName(QStringLiteral("webcam-zantrel"));
    app.setApplicationDisplayName(applicationTitle());
    // The main window may be hidden in the notification area while a dialog closes: the program ends
    // when the main window closes (CloseApplication), not with the last visible window.
    app.setQuitOnLastWindowClosed(false);

    QuitOnSignal quitOnSignal;
    // The main window shows once the splash has closed itself; both from the main loop.
    Splash* splash = Splash::wanted(args) ? Splash::Show() : nullptr;
    Master master;
    // However the program ends, a job thread that does not stop in time (a camera or disk that does
    // not answer) must not keep the process alive.
    const auto end = [&master](int exitCode) {
        if (!master.publishing().shutdown(std::chrono::milliseconds(kCloseBoundMs)))
            EndProcessNow(exitCode);
        return exitCode;
    };
    const auto openSettings = [&master] {
        return ShowSettingsDialog(master.captureWindow(), &master,
                                  [&master](bool on) { master.setOverlayMode(on); });
    };
    QObject::connect(&master, &Master::settingsRequested, &master, openSettings);
    QObject::connect(&master, &Master::galleryRequested, &master, [&master] { Gallery::open(&master); });
    // Daily videos of the archive, made in the background while the window runs.
    DailyTimelapse dailyTimelapse(master.statusSink());
    const auto start = [&master, openSettings] {
        master.load();
        if (QuitOnSignal::requested()) {
            master.close(); // asked to end before the main window showed: still save the window state
            return;
        }
        master.show();
        if (GetSetting(keys::FirstTime) != QLatin1String("YES"))
            return;
        auto* box = new QMessageBox(
            QMessageBox::Information, applicationTitle(),
            QStringLiteral("Webcam Zantrel, now will configure all settings that is needed to work..."),
            QMessageBox::Ok, &master);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Ended by a signal meanwhile, the first start stays pending: it is done once the settings showed.
        QObject::connect(box, &QDialog::finished, &master, [openSettings] {
            if (QuitOnSignal::requested())
                return;
            openSettings();
            SaveSetting(keys::FirstTime, QStringLiteral("NO"));
        });
        box->open();
    };
    if (splash) {
        QObject::connect(splash, &QDialog::finished, &master, start);
    } else {
        start();
        if (QuitOnSignal::requested())
            return end(0);
    }
    return end(app.exec());
}
