#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace zantrel {

class CaptureWindow;
class JobRunner;
class MessageSink;
class RunControl;
class StatusSink;
class VideoWindow;

// The one place where the publishing pieces are put together: the camera, the job
// runner and the run control, wired to the status and message sinks of whoever drives them (the main
// window, `--once`, `--headless`). The sinks must outlive this object. Lives on the UI thread.
class PublishingCore : public QObject {
    Q_OBJECT
  public:
    PublishingCore(StatusSink& status, MessageSink& messages, VideoWindow* videoWindow = nullptr,
                   QObject* parent = nullptr);
    ~PublishingCore() override; // waits for a running job

    CaptureWindow& capture() { return *capture_; }
    JobRunner& jobs() { return *jobs_; }
    RunControl& runControl() { return *runControl_; }
    StatusSink& status() { return status_; }

    // Connects the camera stored in the settings, when there is any, and waits up to firstFrameWaitMs
    // for its first picture. Without a window to show it in, grabs still get its frames. With no camera
    // at all it tells the messages that the test card is published.
    void connectStoredCamera(int firstFrameWaitMs);

    // The program is closing: the schedule stops, a running upload is cut short, no further server is
    // contacted and no new job starts; the camera is disconnected. Waits up to bound for the job's
    // thread; true when it has ended.
    bool shutdown(std::chrono::milliseconds bound);

    // Keeps a service that watches or serves what publishing does (the live view): made by the layer
    // above, on the pieces of this core, and ended first when the program closes, the last attached first.
    void attach(std::unique_ptr<QObject> service);

  private:
    void endServices();

    StatusSink& status_;
    MessageSink& messages_;
    // Declared in the order they depend on each other: destroyed the other way round.
    std::unique_ptr<CaptureWindow> capture_;
    std::unique_ptr<JobRunner> jobs_;
    std::unique_ptr<RunControl> runControl_;
    std::vector<std::unique_ptr<QObject>> services_;
};

// Makes the services a program runs beside publishing and attaches them to the core.
using ServiceStarter = std::function<void(PublishingCore&)>;

} // namespace zantrel
