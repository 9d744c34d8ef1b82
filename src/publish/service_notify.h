#pragma once

#include "core/sinks.h"

#include <QObject>
#include <mutex>

namespace zantrel {

class RunControl;

// Tells the service manager how the headless program does, through sd_notify: READY=1 once it
// publishes, WATCHDOG=1 at every tick of the schedule (so the pings stop when the schedule stops or
// hangs) and STATUS= with each new status line. Without NOTIFY_SOCKET (not started as a notify
// service) nothing is sent.
class ServiceNotify final : public QObject, public StatusSink {
    Q_OBJECT
  public:
    // Status lines are passed on to inner as they come.
    explicit ServiceNotify(StatusSink& inner) : inner_(inner) {}

    // Pings the watchdog at each tick of this schedule.
    void watch(RunControl& runControl);
    void ready();
    void setStatus(const QString& text) override;
    void beep() override { inner_.beep(); }

  private:
    StatusSink& inner_;
    std::mutex mutex_;
    QString last_;
    bool watchdogOff_ = false;
};

} // namespace zantrel
