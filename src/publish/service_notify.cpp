#include "publish/service_notify.h"

#include "publish/run_control.h"

#include <systemd/sd-daemon.h>

namespace zantrel {

namespace {

void notify(const QByteArray& state) {
    // sd_notify does nothing when NOTIFY_SOCKET is not set.
    sd_notify(0, state.constData());
}

} // namespace

void ServiceNotify::watch(RunControl& runControl) {
    connect(&runControl, &RunControl::ticked, this, [] { notify("WATCHDOG=1"); });
}

void ServiceNotify::ready() {
    notify("READY=1");
}

void ServiceNotify::setStatus(const QString& text) {
    inner_.setStatus(text);
    std::lock_guard lock(mutex_);
    if (text == last_)
        return;
    last_ = text;
    notify("STATUS=" + OneLine(text).trimmed().toUtf8());
}

} // namespace zantrel
