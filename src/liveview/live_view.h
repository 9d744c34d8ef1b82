#pragma once

#include "imaging/jpeg_writer.h"
#include "liveview/http_server.h"
#include "liveview/live_state.h"
#include "liveview/mjpeg_feed.h"
#include "publish/publish_job.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace zantrel {

class CaptureWindow;
class JobRunner;
class RunControl;
class StatusSink;

// The live view settings as they are stored now, with the certificate and key read.
HttpServerConfig ReadHttpServerConfig();

// Why the live view that the settings ask for does not run (empty when it runs or is not asked for).
QString LiveViewProblem();
// What is said when the live view is reachable from the network without a login.
QString OpenToNetworkWarning(const QHostAddress& bind);

// The addresses to open for a server on bind and port: the one address, or every address of this
// machine when bound to all of them.
QStringList LiveViewAddresses(const QString& bind, int port, bool tls);

// The live view service: while HTTP/ENABLE is 1, serves the published image, the live stream and the
// state over HTTP. Its own thread runs the server, reads each published image and encodes the stream's
// frames (only while someone watches); settings changes apply within a second. The UI thread only hands
// it the schedule and the camera's state. A server that cannot start, or one open to the network without
// a login, is said on standard error and in status; the failure also stays in the state (for `--status`)
// and in LiveViewProblem() while it lasts. The pieces given must outlive it.
class LiveView : public QObject {
    Q_OBJECT
  public:
    LiveView(CaptureWindow& capture, JobRunner& jobs, RunControl& run, StatusSink& status,
             QObject* parent = nullptr);
    ~LiveView() override; // stops the server

    LiveViewState& state() { return state_; }

  private:
    void work();
    void absorb(const PublishOutcome& outcome);
    void encodeFrame();
    void pushProgramState();
    // The server's failure (empty: none) and a warning, said where they are seen.
    void say(const QString& problem, const QString& warning);

    CaptureWindow& capture_;
    JobRunner& jobs_;
    int observer_ = 0; // this view's subscription to the jobs' outcomes
    RunControl& run_;
    StatusSink& status_;
    LiveViewState state_;
    MjpegFeed feed_;
    QTimer stateTimer_;
    QString cameraState_ = QStringLiteral("none");
    qint64 lastFrameKey_ = 0;  // worker thread
    int quality_ = 50;         // worker thread
    FrameJpegEncoder encoder_; // worker thread

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::optional<PublishOutcome> pending_; // the newest outcome not yet absorbed
    std::thread worker_;
};

} // namespace zantrel
