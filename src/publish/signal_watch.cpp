#include "publish/signal_watch.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace zantrel {

namespace {

int signalFds[2] = {-1, -1};

void onSignal(int signalNumber) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const auto n = ::write(signalFds[0], &byte, 1);
}

void handle(const std::vector<int>& signalNumbers, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : signalNumbers)
        ::sigaction(sig, &action, nullptr);
}

} // namespace

SignalWatch::SignalWatch(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), watched_(signalNumbers) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalFds) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(signalFds[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(signalFds[1], &byte, 1) == 1)
            Q_EMIT received(byte);
    });
    handle(watched_, onSignal);
}

SignalWatch::~SignalWatch() {
    handle(watched_, SIG_DFL);
    notifier_.reset();
    for (int& fd : signalFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace zantrel
