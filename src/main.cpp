#include "core/command_line.h"
#include "core/instance.h"
#include "core/log_line.h"
#include "core/own_process.h"
#include "core/setting_keys.h"
#include "core/startup.h"
#include "core/store.h"
#include "core/version.h"
#include "core/work_folder.h"
#include "gallery/gallery.h"
#include "health/state_document.h"
#include "publish/console_sinks.h"
#include "publish/headless.h"
#include "publish/one_shot.h"
#include "publish/publishing_core.h"
#include "publish/stamp_inputs.h"
#include "secrets/secret_resolver.h"
#include "settings/settings_dialog.h"
#include "shell/master.h"
#include "shell/quit_on_signal.h"
#include "shell/splash.h"
#include "stampdata/url_values.h"
#include "timelapse/daily_timelapse.h"
#include "timelapse/timelapse_command.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

using namespace zantrel;

namespace {

// A wrong command line, GNU style: what is wrong, then where to read how it is right.
int usageError(const QString& error) {
    std::fprintf(stderr, "webcam-zantrel: %s\nTry 'webcam-zantrel --help' for more information.\n",
                 qPrintable(error));
    return kUsageExitStatus;
}

// Another instance holds the lock (failure empty), or the lock cannot be taken at all.
void sayInstanceLockRefused(const QString& failure, const char* whenAnotherRuns) {
    LogLine(failure.isEmpty() ? LogPriority::Warning : LogPriority::Error,
            QStringLiteral("webcam-zantrel: ") +
                (failure.isEmpty() ? QString::fromUtf8(whenAnotherRuns) : failure));
}

// What Qt and the libraries report goes to the log with its priority, like the program's own lines.
// Qt falls back to a runtime folder of its own when the session names none, and says so on every start:
// that notice is dropped; whatever else Qt reports about the folder is kept.
QtMessageHandler previousHandler = nullptr;
void logQtMessages() {
    previousHandler =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
                return;
            if (type == QtWarningMsg || type == QtCriticalMsg)
                LogLine(type == QtWarningMsg ? LogPriority::Warning : LogPriority::Error, message);
            else if (previousHandler)
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
    logQtMessages();
    InstallSecrets(); // password values resolve before anything reads them
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Read whole before anything starts: a wrong command line opens no window and touches no camera.
    const CommandLine command = ParseCommandLine(args);
    if (!command.error.isEmpty())
        return usageError(command.error);
    if (command.mode == RunMode::Help) {
        std::fputs(qPrintable(UsageText(SettingsStore::defaultPath(), OnceDeadline().count() / 1000)),
                   stdout);
        return 0;
    }
    if (command.mode == RunMode::Version) {
        std::printf("%s\n", qPrintable(applicationTitle()));
        return 0;
    }
    // Before anything opens the settings: the instance's own file.
    SetInstanceName(command.instance);
    if (command.mode == RunMode::Status) {
        QCoreApplication app(argc, argv);
        return command.instance.isEmpty() ? PrintEveryInstanceStatus(stdout)
                                          : PrintStatus(StateDocumentPath(), stdout);
    }
    if (command.mode == RunMode::Boot && BootStartRefused(QStringLiteral("/BOOT")))
        return 0;
    if (command.picturesFolder || !command.instance.isEmpty()) {
        QString failure;
        if ((command.picturesFolder && !EnterPicturesWorkFolder(failure)) ||
            (!command.instance.isEmpty() && !EnterInstanceWorkFolder(command.instance, failure))) {
            LogLine(LogPriority::Error, QStringLiteral("webcam-zantrel: ") + failure);
            return 1;
        }
    }

    if (command.mode == RunMode::Timelapse) {
        QCoreApplication app(argc, argv);
        const QString error = ParseTimelapseCommand(command.timelapse).error;
        if (!error.isEmpty())
            return usageError(error);
        return RunTimelapseCommand(command.timelapse);
    }

    if (command.mode == RunMode::Once) {
        // One image beside a running instance would race it for the working file and the servers.
        QString failure;
        const auto instanceLock = AcquireInstanceLock(failure);
        if (!instanceLock) {
            sayInstanceLockRefused(failure, "another instance is running; --once publishes nothing.");
            return 1;
        }
        // No window is opened: run on the offscreen platform, so no display is needed.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        movePasswordsToKeyring();
        return RunOnce({}, [](PublishingCore& core) {
            // The stamp's {url:} values, fetched once before the job while the camera starts.
            auto fetcher = std::make_unique<StampUrlFetcher>(StampInputs::instance());
            fetcher->waitForFirstRound(std::chrono::seconds(4));
            core.attach(std::move(fetcher));
        });
    }

    if (command.mode == RunMode::Headless) {
        QString failure;
        const auto instanceLock = AcquireInstanceLock(failure);
        if (!instanceLock) {
            sayInstanceLockRefused(failure, "another instance is running; this one ends.");
            return failure.isEmpty() ? 0 : 1; // a lock that cannot be taken is a failure: restart applies
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        movePasswordsToKeyring();
        StdoutStatusSink timelapseStatus;
        DailyTimelapse dailyTimelapse(timelapseStatus);
        return RunHeadless([](PublishingCore& core) { AttachServices(core); });
    }

    QString failure;
    const auto instanceLock = AcquireInstanceLock(failure);
    if (!instanceLock) {
        sayInstanceLockRefused(failure, "another instance is running; this one ends.");
        return failure.isEmpty() ? 0 : 1;
    }
    if (!DisplayAvailable()) {
        LogLine(LogPriority::Error,
                QStringLiteral("webcam-zantrel: no display to open the window on (DISPLAY is not set)."));
        return 1;
    }

    // The desktop file's name is the Wayland app id, the application's name the X11 window class: both
    // name the menu entry, so the desktop shows its icon and groups the window with its launcher.
    QApplication::setDesktopFileName(QStringLiteral(ZANTREL_APP_ID));
    QApplication app(argc, argv);
    movePasswordsToKeyring();
    app.setApplicationName(QStringLiteral(ZANTREL_APP_ID));
    app.setApplicationDisplayName(InstanceTitle());
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
