#include "core/one_shot.h"

#include "capture/capture_window.h"
#include "core/job_runner.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "ftp/ftp_client.h"

#include <QCoreApplication>
#include <cstdio>
#include <mutex>

namespace zantrel {

namespace {

// How long a camera may take to deliver its first picture before the test card stands in.
constexpr int kFirstFrameWaitMs = 5000;

class StdoutStatusSink final : public StatusSink {
  public:
    void setStatus(const QString& text) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
    }

  private:
    std::mutex mutex_;
};

class StderrMessageSink final : public MessageSink {
  public:
    void showMessage(const QString& text) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }

  private:
    std::mutex mutex_;
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
