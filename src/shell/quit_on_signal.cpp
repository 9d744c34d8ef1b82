#include "shell/quit_on_signal.h"

#include "publish/signal_watch.h"
#include "shell/close_application.h"

#include <QApplication>
#include <csignal>

namespace zantrel {

namespace {
bool quitRequested = false;
} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent)
    : QObject(parent),
      watch_(std::make_unique<SignalWatch>(std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP})) {
    connect(watch_.get(), &SignalWatch::received, this, [] {
        quitRequested = true;
        // The program's own close steps, which reach the main window even while it is hidden in the
        // notification area (closeAllWindows passes hidden windows by); then whatever else is open.
        CloseApplication();
        QApplication::closeAllWindows();
        // Queued, so it also ends a main loop that has not started yet (a signal during a start-up box).
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
}

QuitOnSignal::~QuitOnSignal() = default;

bool QuitOnSignal::requested() {
    return quitRequested;
}

} // namespace zantrel
