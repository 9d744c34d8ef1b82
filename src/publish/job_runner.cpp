#include "publish/job_runner.h"

#include <algorithm>

namespace zantrel {

JobRunner::JobRunner(PublishServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    services_.cancelled = [this] { return cancelled_.load(); };
}

JobRunner::~JobRunner() {
    cancel();
    if (worker_.joinable())
        worker_.join();
    // Uploads that outlived their job ask cancelled() of this object: they end before it does.
    if (services_.targets)
        services_.targets->shutDown();
}

bool JobRunner::start(std::function<void(const PublishOutcome&)> done) {
    if (running_ || cancelled_)
        return false;
    if (worker_.joinable())
        worker_.join(); // the previous job has already reported its end
    running_ = true;
    std::promise<void> ended;
    workerEnded_ = ended.get_future();
    worker_ = std::thread([this, done = std::move(done), ended = std::move(ended)]() mutable {
        const PublishOutcome outcome = RunPublishJob(services_);
        {
            std::lock_guard lock(observersMutex_);
            for (const auto& [id, observe] : observers_)
                observe(outcome);
        }
        // Queued to this object: dropped if the runner is gone by the time the event loop gets to it.
        QMetaObject::invokeMethod(this, [this, done, outcome] {
            running_ = false;
            done(outcome);
        });
        ended.set_value();
    });
    return true;
}

int JobRunner::observeOutcomes(OutcomeObserver observer) {
    std::lock_guard lock(observersMutex_);
    observers_.emplace_back(++lastObserverId_, std::move(observer));
    return lastObserverId_;
}

void JobRunner::forgetObserver(int id) {
    std::lock_guard lock(observersMutex_);
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void JobRunner::cancel() {
    cancelled_ = true;
    stopUpload(); // also an upload that outlived its job
}

bool JobRunner::waitForEnd(std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    if (worker_.joinable()) {
        if (workerEnded_.wait_for(bound) != std::future_status::ready)
            return false;
        worker_.join();
    }
    return !services_.targets ||
           services_.targets->waitForIdle(
               std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          end - std::chrono::steady_clock::now())));
}

void JobRunner::stopUpload() {
    if (services_.targets)
        services_.targets->stop();
}

} // namespace zantrel
