#include "shell/quit_on_signal.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zantrel {

namespace {
int signalFds[2] = {-1, -1};
bool quitRequested = false;

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalFds[0], &byte, 1);
}
} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalFds) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signalFds[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [] {
        char byte;
        [[maybe_unused]] const auto n = ::read(signalFds[1], &byte, 1);
        quitRequested = true;
        QApplication::closeAllWindows();
        // Queued, so it also ends a main loop that has not started yet (a signal during a start-up box).
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

bool QuitOnSignal::requested() {
    return quitRequested;
}

QuitOnSignal::~QuitOnSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    notifier_.reset();
    for (int& fd : signalFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace zantrel
