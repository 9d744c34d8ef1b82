#include "capture/camera_probe.h"

#include "capture/capture_session.h"
#include "capture/device_list_p.h"

#include <QTimer>

namespace zantrel {

CameraProbe::CameraProbe(QObject* parent) : QObject(parent) {}

CameraProbe::~CameraProbe() = default;

void CameraProbe::start(const DeviceList& devices, int index, int timeoutMs) {
    session_.reset();
    const quint64 attempt = ++attempt_;
    frames_ = std::make_shared<FrameStore>();
    frames_->setWatched(FrameStore::Watcher::Probe, true); // its first picture is the answer
    QString error;
    gst::ElementPtr source = devices.internals().createSource(index, &error);
    if (source)
        session_ =
            CaptureSession::open(std::move(source), frames_, CaptureSession::Mode::Preview, {}, {}, &error);
    if (!session_ || !session_->play()) {
        const QString reason = error.isEmpty() ? QStringLiteral("the camera does not start") : error;
        QTimer::singleShot(0, this, [this, attempt, reason] {
            if (attempt == attempt_)
                Q_EMIT finished({}, reason);
        });
        return;
    }
    // A trouble ends the try: the camera gives no picture as it is set up.
    connect(session_.get(), &CaptureSession::failed, this, [this](const QString& r) { finish({}, r); });
    connect(session_.get(), &CaptureSession::trouble, this, [this](const QString& r) { finish({}, r); });
    connect(frames_.get(), &FrameStore::frameArrived, this, [this, frames = frames_] {
        if (frames == frames_)
            finish(frames->newest(), {});
    });
    QTimer::singleShot(timeoutMs, this, [this, attempt, timeoutMs] {
        if (attempt == attempt_ && session_)
            finish({}, QStringLiteral("no picture within %1 s").arg(timeoutMs / 1000));
    });
}

void CameraProbe::finish(const QImage& picture, const QString& error) {
    if (!session_)
        return;
    ++attempt_;
    // The session may be the sender of the signal that ended the try: it goes once that returns.
    std::shared_ptr<CaptureSession> ended(std::move(session_));
    frames_.reset();
    QTimer::singleShot(0, this, [ended] {});
    Q_EMIT finished(picture.copy(), error);
}

} // namespace zantrel
