#include "capture/frame_store.h"

namespace zantrel {

void FrameStore::publish(std::shared_ptr<const CameraFrame> frame) {
    if (!frame)
        return;
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            return;
        lastFrameAt_ = std::chrono::steady_clock::now();
        if (!firstFrameAt_)
            firstFrameAt_ = lastFrameAt_;
        frame_.swap(frame);
    }
    arrived_.notify_all();
    if (!announced_.exchange(true))
        Q_EMIT frameArrived();
    // The replaced frame (and the camera buffer under it) is released here, outside the lock.
}

void FrameStore::setActive(bool active) {
    std::shared_ptr<const CameraFrame> dropped;
    {
        std::lock_guard lock(mutex_);
        if (active != active_) {
            firstFrameAt_.reset();
            lastFrameAt_ = std::chrono::steady_clock::now();
        }
        active_ = active;
        if (!active)
            dropped.swap(frame_);
    }
    arrived_.notify_all();
}

bool FrameStore::active() const {
    std::lock_guard lock(mutex_);
    return active_;
}

std::shared_ptr<const CameraFrame> FrameStore::takeForPaint() {
    announced_.store(false);
    std::lock_guard lock(mutex_);
    return frame_;
}

QImage FrameStore::settled(int settleMs, int firstFrameMs, int maxAgeMs) const {
    const auto firstFrameDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(firstFrameMs);
    std::unique_lock lock(mutex_);
    // A frame that has stood for longer than maxAgeMs is no picture of now: only a newer one will do.
    const auto fresh = [this, maxAgeMs] {
        return frame_ &&
               std::chrono::steady_clock::now() - lastFrameAt_ <= std::chrono::milliseconds(maxAgeMs);
    };
    if (!arrived_.wait_until(lock, firstFrameDeadline, [this, &fresh] { return fresh() || !active_; }))
        return {};
    // A camera that stops meanwhile drops its frame: the wait ends with nothing.
    if (active_)
        arrived_.wait_until(lock, *firstFrameAt_ + std::chrono::milliseconds(settleMs),
                            [this] { return !active_; });
    const std::shared_ptr<const CameraFrame> frame = fresh() ? frame_ : nullptr;
    lock.unlock();
    return frame ? frame->image() : QImage(); // converted outside the lock
}

qint64 FrameStore::idleMs() const {
    std::lock_guard lock(mutex_);
    if (!active_)
        return -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 lastFrameAt_)
        .count();
}

void FrameStore::setLostSince(const QDateTime& since) {
    std::lock_guard lock(mutex_);
    lostSince_ = since;
}

QDateTime FrameStore::lostSince() const {
    std::lock_guard lock(mutex_);
    return lostSince_;
}

QImage FrameStore::newest() const {
    std::unique_lock lock(mutex_);
    const std::shared_ptr<const CameraFrame> frame = frame_;
    lock.unlock();
    return frame ? frame->image() : QImage();
}

QSize FrameStore::frameSize() const {
    std::lock_guard lock(mutex_);
    return frame_ ? frame_->size() : QSize();
}

} // namespace zantrel
