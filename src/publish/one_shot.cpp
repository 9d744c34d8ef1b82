#include "publish/one_shot.h"

#include "publish/console_sinks.h"
#include "publish/job_runner.h"
#include "publish/publishing_core.h"

#include <QCoreApplication>

namespace zantrel {

namespace {

// How long a camera may take to deliver its first picture before the test card stands in.
constexpr int kFirstFrameWaitMs = 5000;

} // namespace

int RunOnce() {
    StdoutStatusSink status;
    StderrMessageSink messages;
    PublishingCore core(status, messages);
    core.jobs().waitForEveryServer(); // no job follows to skip a server still at work
    core.connectStoredCamera(kFirstFrameWaitMs);

    int exitCode = 1;
    const bool started = core.jobs().start([&exitCode](const PublishOutcome& outcome) {
        exitCode = outcome.complete() ? 0 : 1;
        QCoreApplication::quit();
    });
    if (started)
        QCoreApplication::exec();
    core.shutdown(std::chrono::milliseconds(0));
    return exitCode;
}

} // namespace zantrel
