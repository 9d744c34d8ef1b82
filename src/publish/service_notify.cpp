#include "publish/service_notify.h"

#include "publish/run_control.h"

#include <limits>
#include <systemd/sd-daemon.h>
#include <utility>

namespace zantrel {

namespace {

void notify(const QByteArray& state) {
    // sd_notify does nothing when NOTIFY_SOCKET is not set.
    sd_notify(0, state.constData());
}

} // namespace

void ServiceNotify::watch(RunControl& runControl) {
    connect(&runControl, &RunControl::ticked, this, [this] {
        // A schedule that runs again (reloaded settings) is watched again, for the unit's time.
        if (std::exchange(watchdogOff_, false) && qEnvironmentVariableIsSet("WATCHDOG_USEC"))
            notify("WATCHDOG_USEC=" + qgetenv("WATCHDOG_USEC"));
        notify("WATCHDOG=1");
    });
    // A fixed date's schedule ends with its one job while publishing stays on: the watchdog is told to
    // wait no more, or the service would be restarted and the picture published again and again.
    connect(&runControl, &RunControl::jobFinished, this, [this, &runControl] {
        if (runControl.timerActive() || !runControl.buttons().stop)
            return;
        watchdogOff_ = true;
        notify("WATCHDOG_USEC=" + QByteArray::number(std::numeric_limits<quint64>::max())); // for ever
    });
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
