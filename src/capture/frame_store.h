#pragma once

#include <QImage>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace zantrel {

// The newest frame of the running camera, shared between the thread that delivers frames, the UI
// thread that paints them and any thread that grabs one. Frames are Format_RGB32 images that may share
// the camera's buffer: they are never written to, and copies stay valid after the camera stops.
class FrameStore : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // Any thread. Replaces the newest frame; announces it unless an announcement is still unread.
    void publish(QImage frame);
    // A camera is connected and frames are expected (or not): without one, no frame is kept.
    void setActive(bool active);
    bool active() const;

    // UI thread: the frame to paint (null when none); re-arms the announcement.
    QImage takeForPaint();
    // Any thread: the newest frame, waiting up to timeoutMs for a first one while the camera is active.
    QImage newest(int timeoutMs) const;
    QSize frameSize() const;

  Q_SIGNALS:
    // Emitted from the delivering thread; connect with a queued (or automatic) connection.
    void frameArrived();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    QImage frame_;
    bool active_ = false;
    std::atomic<bool> announced_{false};
};

} // namespace zantrel
