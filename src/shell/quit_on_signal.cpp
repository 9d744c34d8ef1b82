#include "shell/quit_on_signal.h"

#include "publish/signal_watch.h"

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
