#include "publish/publishing_core.h"

#include "capture/capture_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "publish/job_runner.h"
#include "publish/run_control.h"
#include "transfer/ftp_client.h"

namespace zantrel {

PublishingCore::PublishingCore(StatusSink& status, MessageSink& messages, VideoWindow* videoWindow,
                               QObject* parent)
    : QObject(parent), messages_(messages), capture_(std::make_unique<CaptureWindow>(messages, videoWindow)),
      ftp_(std::make_unique<FtpClient>(status)),
      jobs_(std::make_unique<JobRunner>(ProgramServices(*capture_, *ftp_, status, messages))),
      runControl_(std::make_unique<RunControl>(status)) {
    runControl_->setJob(
        [this](std::function<void()> done) {
            return jobs_->start([done = std::move(done)](const PublishOutcome&) { done(); });
        },
        [this] { jobs_->stopUpload(); });
    connect(capture_.get(), &CaptureWindow::noCamera, this, [&status] { status.setStatus(NoCameraText()); });
}

PublishingCore::~PublishingCore() {
    services_.clear(); // they hold on to the pieces below
}

void PublishingCore::connectStoredCamera(int firstFrameWaitMs) {
    // Without any camera the test card is published; connecting would only add that preview fails.
    if (capture_->CountDrivers() == 0)
        messages_.showMessage(NoCameraText());
    else if (capture_->Init_Video(ReadInt32(keys::VfwIndex)))
        capture_->waitForFrame(firstFrameWaitMs);
}

void PublishingCore::attach(std::unique_ptr<QObject> service) {
    services_.push_back(std::move(service));
}

bool PublishingCore::shutdown(std::chrono::milliseconds bound) {
    services_.clear();
    runControl_->masterTimer().stop();
    jobs_->cancel();
    capture_->DisconnectAndDestroy();
    return jobs_->waitForEnd(bound);
}

} // namespace zantrel
