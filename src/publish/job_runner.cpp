#include "publish/job_runner.h"

#include "ftp/ftp_client.h"

#include <QPointer>

namespace zantrel {

JobRunner::JobRunner(PublishServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    services_.cancelled = [this] { return cancelled_.load(); };
}

JobRunner::~JobRunner() {
    if (worker_.joinable()) {
        if (running_)
            cancel();
        worker_.join();
    }
}

bool JobRunner::start(std::function<void(const PublishOutcome&)> done) {
    if (running_)
        return false;
    if (worker_.joinable())
        worker_.join(); // the previous job has already reported its end
    running_ = true;
    worker_ = std::thread([this, done = std::move(done)] {
        const PublishOutcome outcome = RunPublishJob(services_);
        QMetaObject::invokeMethod(this, [this, done, outcome] {
            running_ = false;
            done(outcome);
        });
    });
    return true;
}

void JobRunner::cancel() {
    cancelled_ = true;
    stopUpload();
}

void JobRunner::stopUpload() {
    if (services_.ftp)
        services_.ftp->FtpDisconnect();
}

} // namespace zantrel
