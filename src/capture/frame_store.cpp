#include "capture/frame_store.h"

namespace zantrel {

void FrameStore::publish(QImage frame) {
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            return;
        if (!firstFrameAt_)
            firstFrameAt_ = std::chrono::steady_clock::now();
        frame_.swap(frame);
    }
    arrived_.notify_all();
    if (!announced_.exchange(true))
        Q_EMIT frameArrived();
    // The replaced frame (and the camera buffer under it) is released here, outside the lock.
}

void FrameStore::setActive(bool active) {
    QImage dropped;
    {
        std::lock_guard lock(mutex_);
        if (active != active_)
            firstFrameAt_.reset();
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

QImage FrameStore::takeForPaint() {
    announced_.store(false);
    std::lock_guard lock(mutex_);
    return frame_;
}

QImage FrameStore::settled(int settleMs, int firstFrameMs) const {
    const auto firstFrameDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(firstFrameMs);
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_until(lock, firstFrameDeadline, [this] { return !frame_.isNull() || !active_; }))
        return {};
    // A camera that stops meanwhile drops its frame: the wait ends with nothing.
    if (active_)
        arrived_.wait_until(lock, *firstFrameAt_ + std::chrono::milliseconds(settleMs),
                            [this] { return !active_; });
    return frame_;
}

QImage FrameStore::newest() const {
    std::lock_guard lock(mutex_);
    return frame_;
}

QSize FrameStore::frameSize() const {
    std::lock_guard lock(mutex_);
    return frame_.size();
}

} // namespace zantrel
