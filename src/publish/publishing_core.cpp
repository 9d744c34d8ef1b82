#include "publish/publishing_core.h"

#include "capture/capture_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "publish/job_runner.h"
#include "publish/run_control.h"

namespace zantrel {

PublishingCore::PublishingCore(StatusSink& status, MessageSink& messages, VideoWindow* videoWindow,
                               QObject* parent)
    : QObject(parent), status_(status), messages_(messages),
      capture_(std::make_unique<CaptureWindow>(messages, videoWindow)),
      jobs_(std::make_unique<JobRunner>(ProgramServices(*capture_, status, messages))),
      runControl_(std::make_unique<RunControl>(status)) {
    runControl_->setJob(
        [this](std::function<void()> done) {
            return jobs_->start([done = std::move(done)](const PublishOutcome&) { done(); });
        },
        [this] { jobs_->stopUpload(); });
    connect(capture_.get(), &CaptureWindow::noCamera, this, [&status] { status.setStatus(NoCameraText()); });
    connect(capture_.get(), &CaptureWindow::lostSinceChanged, runControl_.get(),
            &RunControl::setCameraLostSince);
}

PublishingCore::~PublishingCore() {
    endServices(); // they hold on to the pieces below
}

void PublishingCore::endServices() {
    // A service may use one attached before it, never one attached after it.
    while (!services_.empty())
        services_.pop_back();
}

void PublishingCore::connectStoredCamera(int firstFrameWaitMs) {
    // Without any camera the test card is published; connecting would only add that preview fails.
    capture_->listStoredCamera();
    if (capture_->CountDrivers() == 0)
        messages_.showMessage(NoCameraText());
    else if (capture_->connectStoredCamera())
        capture_->waitForFrame(firstFrameWaitMs);
}

void PublishingCore::attach(std::unique_ptr<QObject> service) {
    services_.push_back(std::move(service));
}

bool PublishingCore::shutdown(std::chrono::milliseconds bound) {
    endServices();
    runControl_->masterTimer().stop();
    jobs_->cancel();
    capture_->DisconnectAndDestroy();
    return jobs_->waitForEnd(bound);
}

} // namespace zantrel
