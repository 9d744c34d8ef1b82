#include "publish/headless.h"

#include "publish/console_sinks.h"
#include "publish/publishing_core.h"
#include "publish/run_control.h"
#include "publish/service_notify.h"
#include "publish/signal_watch.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace zantrel {

void EndProcessNow(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

int RunHeadless(const ServiceStarter& startServices) {
    StdoutStatusSink lines(/*skipRepeats=*/true);
    // The service manager hears of every status line too, and of every tick of the schedule.
    ServiceNotify status(lines);
    StderrMessageSink messages;
    PublishingCore core(status, messages);
    status.watch(core.runControl());
    SignalWatch signals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&signals, &SignalWatch::received, &core, [&core](int signalNumber) {
        if (signalNumber == SIGHUP) {
            // Settings are read afresh at every use: only the next update needs computing again.
            core.runControl().reschedule();
            return;
        }
        core.shutdown(std::chrono::milliseconds(0));
        QCoreApplication::quit();
    });

    // No waiting for the camera's first picture here: grabs wait for it themselves, and a signal is
    // answered at once.
    core.connectStoredCamera(0);
    // Each line printed is a change of the status: the date of the next update, not a count each second.
    core.runControl().setCountdown(false);
    if (startServices)
        startServices(core);
    core.runControl().FTPRun();
    status.ready();
    QCoreApplication::exec();
    if (!core.shutdown(std::chrono::milliseconds(kCloseBoundMs)))
        EndProcessNow(0);
    return 0;
}

} // namespace zantrel
