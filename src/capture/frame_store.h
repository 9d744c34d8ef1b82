#pragma once

#include "capture/camera_frame.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace zantrel {

class CompressedGroup;

// The newest frame of the running camera, shared between the thread that delivers frames, the UI
// thread that paints them and any thread that grabs one. Frames stay in the camera's own format until a
// whole picture is asked for; the images handed out are Format_RGB32 and may share the camera's buffer:
// they are never written to, and copies stay valid after the camera stops.
class FrameStore : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // Any thread. Replaces the newest frame; announces it unless an announcement is still unread.
    void publish(std::shared_ptr<const CameraFrame> frame);
    void publish(QImage frame) { publish(CameraFrame::fromImage(std::move(frame))); }
    // A camera is connected and frames are expected (or not): without one, no frame is kept.
    void setActive(bool active);
    bool active() const;

    // UI thread: the frame to paint (null when none); re-arms the announcement.
    std::shared_ptr<const CameraFrame> takeForPaint();
    // Any thread: the newest frame once the camera has been delivering for settleMs (auto exposure and
    // white balance settle meanwhile). Waits up to firstFrameMs for a first frame no older than maxAgeMs,
    // then for the rest of the settling time; null when the camera gives nothing or stops meanwhile.
    QImage settled(int settleMs, int firstFrameMs, int maxAgeMs) const;
    // The same wait, without making the picture: whether there is one.
    bool settle(int settleMs, int firstFrameMs, int maxAgeMs) const;
    // Milliseconds since the newest frame arrived, or since the camera started when none has yet; -1
    // while no camera is active.
    qint64 idleMs() const;
    // Any thread: when the camera was lost (invalid while it is not).
    void setLostSince(const QDateTime& since);
    QDateTime lostSince() const;
    QSize frameSize() const;
    // Any thread: the newest frame as it is, without waiting (null when none).
    QImage newest() const;

    // Who looks at the live picture. While nobody does (and for a few seconds after the last one stops),
    // a camera whose frames come compressed keeps them so, and a picture is decoded only when asked for.
    enum class Watcher : unsigned { Window = 1, LiveView = 2, Probe = 4 };
    // Any thread.
    void setWatched(Watcher who, bool watching);
    bool decodeWanted() const;
    // The running camera's compressed frames (null: its frames come decoded).
    void setCompressed(std::shared_ptr<CompressedGroup> group);
    // Any thread: a compressed frame of the given picture size arrived; whether it is to be decoded.
    bool noteCompressed(QSize size);

  Q_SIGNALS:
    // Emitted from the delivering thread; connect with a queued (or automatic) connection.
    void frameArrived();

  private:
    bool waitSettled(std::unique_lock<std::mutex>& lock, int settleMs, int firstFrameMs, int maxAgeMs) const;
    // The picture of frame, or of the compressed group when the decoded frames are behind it.
    QImage pictureOf(std::shared_ptr<const CameraFrame> frame, std::shared_ptr<CompressedGroup> group,
                     std::chrono::steady_clock::time_point decodedAt, bool reuseRecent, int maxAgeMs) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::shared_ptr<const CameraFrame> frame_;
    std::optional<std::chrono::steady_clock::time_point> firstFrameAt_; // since the camera started
    std::chrono::steady_clock::time_point lastFrameAt_;                 // or when it started
    std::chrono::steady_clock::time_point decodedAt_;                   // when frame_ arrived
    std::shared_ptr<CompressedGroup> group_;
    QSize compressedSize_;
    QDateTime lostSince_;
    bool active_ = false;
    std::atomic<unsigned> watchers_{0};
    std::atomic<std::int64_t> lastWatchedNs_{0}; // steady clock, when the last watcher left

    // One decoding of the compressed frames at a time; the picture it gave, for the same frames again.
    mutable std::mutex decodeMutex_;
    mutable std::weak_ptr<CompressedGroup> decodedGroup_;
    mutable std::uint64_t decodedSerial_ = 0;
    mutable std::chrono::steady_clock::time_point decodedPictureAt_;
    mutable QImage decodedPicture_;
    std::atomic<bool> announced_{false};
};

} // namespace zantrel
