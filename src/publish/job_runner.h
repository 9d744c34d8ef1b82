#pragma once

#include "publish/publish_job.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zantrel {

// Runs publishing jobs one at a time on a worker thread and reports their end on the thread that owns
// this object, so the window stays live while a job uploads.
class JobRunner : public QObject {
    Q_OBJECT
  public:
    explicit JobRunner(PublishServices services, QObject* parent = nullptr);
    ~JobRunner() override; // cancels and waits for a running job and its transfers

    // Starts a job; done(outcome) runs on this object's thread when it has ended. False, and done is
    // never called, while a job runs or once the runner was cancelled.
    [[nodiscard]] bool start(std::function<void(const PublishOutcome&)> done);
    bool running() const { return running_; }
    // Every job waits for all its servers, however long they take (a single job). Before start().
    void waitForEveryServer() { services_.targetWait.reset(); }
    // Bounds on every transfer of the jobs that follow. Before start(), while no job runs.
    void setTransferLimits(const TransferLimits& limits) { services_.limits = limits; }
    const TransferLimits& transferLimits() const { return services_.limits; }
    // Aborts the running uploads at once, also those that outlived their job; the job goes on with the
    // next server. Owning thread.
    void stopUpload();
    // Aborts the running upload, contacts no further server and starts no further job (the program
    // is closing).
    void cancel();
    // Waits up to bound for the job's thread and every upload to end; true when none is left.
    bool waitForEnd(std::chrono::milliseconds bound);

    // Calls observer with every job's outcome, on the job's thread as soon as the job has ended and
    // before done() is queued. An observer must return at once: it hands the outcome to a thread of its
    // own. Any thread. The number it returns ends the observing in forgetObserver, which waits for a
    // call under way: an observer is never called once that has returned.
    using OutcomeObserver = std::function<void(const PublishOutcome&)>;
    int observeOutcomes(OutcomeObserver observer);
    void forgetObserver(int id);

  private:
    PublishServices services_;
    std::thread worker_;
    std::future<void> workerEnded_;
    bool running_ = false;
    std::atomic<bool> cancelled_{false};
    std::mutex observersMutex_;
    std::vector<std::pair<int, OutcomeObserver>> observers_;
    int lastObserverId_ = 0;
};

} // namespace zantrel
