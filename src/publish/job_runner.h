#pragma once

#include "publish/publish_job.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace zantrel {

// Runs publishing jobs one at a time on a worker thread and reports their end on the thread that owns
// this object, so the window stays live while a job uploads.
class JobRunner : public QObject {
    Q_OBJECT
  public:
    explicit JobRunner(PublishServices services, QObject* parent = nullptr);
    ~JobRunner() override; // waits for a running job

    // Starts a job; done(outcome) runs on this object's thread when it has ended. False while a job runs.
    bool start(std::function<void(const PublishOutcome&)> done);
    bool running() const { return running_; }
    // Aborts the running upload at once; the job goes on with the next server. Owning thread.
    void stopUpload();
    // Aborts the running upload and contacts no further server (the program is closing).
    void cancel();

  private:
    PublishServices services_;
    std::thread worker_;
    bool running_ = false;
    std::atomic<bool> cancelled_{false};
};

} // namespace zantrel
