#pragma once

#include "timelapse/timelapse_encoder.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace zantrel {

// One video made on a thread of its own while the window stays responsive: progress and the end
// arrive as signals on the thread this object lives on. Destroying it cancels a running encode and
// waits for it to stop (at most one frame).
class TimelapseJob : public QObject {
    Q_OBJECT
  public:
    explicit TimelapseJob(QObject* parent = nullptr);
    ~TimelapseJob() override;

    // Starts the encode unless one is running. When listPictures is given, it is called on the job's
    // thread and its list replaces request.pictures (reading a large folder takes a while).
    bool start(TimelapseRequest request, std::function<QStringList()> listPictures = {});
    // Stops the encode at the next frame; no file is left. finished() still follows.
    void cancel() { cancelled_ = true; }
    bool running() const { return running_; }

  Q_SIGNALS:
    void progress(int done, int total, int secondsLeft); // secondsLeft is -1 until it can be told
    void finished(const zantrel::TimelapseResult& result);

  private:
    std::atomic<bool> cancelled_{false};
    bool running_ = false; // UI thread only
    std::thread worker_;
};

} // namespace zantrel
