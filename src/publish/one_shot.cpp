#include "publish/one_shot.h"

#include "publish/console_sinks.h"
#include "publish/job_runner.h"
#include "publish/publishing_core.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

namespace zantrel {

namespace {

// How long a camera may take to deliver its first picture before the test card stands in.
constexpr std::chrono::milliseconds kFirstFrameWait{5000};
// Grabbing, stamping and writing the picture and its archive copy.
constexpr std::chrono::milliseconds kPictureTime{3000};

} // namespace

std::chrono::milliseconds OnceDeadline(const TransferLimits& limits) {
    return kFirstFrameWait + kPictureTime + limits.deliveryBound();
}

int RunOnce(const TransferLimits& limits, const ServiceStarter& startServices) {
    const auto began = std::chrono::steady_clock::now();
    StdoutStatusSink status;
    StderrMessageSink messages;
    PublishingCore core(status, messages);
    core.jobs().waitForEveryServer(); // no job follows to skip a server still at work
    core.jobs().setTransferLimits(limits);
    core.connectStoredCamera(int(kFirstFrameWait.count()));
    if (startServices)
        startServices(core);
    // The camera's wait as it was (none without a camera), then the rest of the limits.
    const auto deadline = std::min(began + kFirstFrameWait, std::chrono::steady_clock::now()) + kPictureTime +
                          limits.deliveryBound();

    int exitCode = 1;
    const bool started = core.jobs().start([&exitCode](const PublishOutcome& outcome) {
        exitCode = outcome.complete() ? 0 : 1;
        QCoreApplication::quit();
    });
    // Past the sum of its limits the run stops its transfers; the job then ends as failed.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &giveUp, [&core, &messages, began] {
        const auto spent =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
        messages.showMessage(
            QStringLiteral("Gave up after %1 seconds, the sum of this run's limits").arg(spent.count()));
        core.jobs().cancel();
    });
    giveUp.start(std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                            deadline - std::chrono::steady_clock::now())));
    if (started)
        QCoreApplication::exec();
    core.shutdown(std::chrono::milliseconds(0));
    return exitCode;
}

} // namespace zantrel
