#include "publish/one_shot.h"

#include "capture/capture_window.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "ftp/ftp_client.h"
#include "publish/job_runner.h"

#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace zantrel {

namespace {

// How long a camera may take to deliver its first picture before the test card stands in.
constexpr int kFirstFrameWaitMs = 5000;

// One whole line at a time, whichever thread writes it.
void printLine(std::FILE* stream, const QString& text) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

class StdoutStatusSink final : public StatusSink {
  public:
    void setStatus(const QString& text) override { printLine(stdout, text); }
};

class StderrMessageSink final : public MessageSink {
  public:
    void showMessage(const QString& text) override { printLine(stderr, text); }
};

} // namespace

int RunOnce() {
    StdoutStatusSink status;
    StderrMessageSink messages;
    CaptureWindow capture(messages);
    // Without any camera the test card is published; there is no live picture to complain about.
    if (capture.CountDrivers() > 0 && capture.Init_Video(ReadInt32(keys::VfwIndex)))
        capture.waitForFrame(kFirstFrameWaitMs);

    FtpClient ftp(status);
    const PublishServices services = ProgramServices(capture, ftp, status, messages);

    int exitCode = 1;
    JobRunner runner(services);
    runner.start([&exitCode](const PublishOutcome& outcome) {
        exitCode = outcome.complete() ? 0 : 1;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    capture.DisconnectAndDestroy();
    return exitCode;
}

} // namespace zantrel
