#include "capture/frame_store.h"

#include <chrono>

namespace zantrel {

void FrameStore::publish(QImage frame) {
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            return;
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

QImage FrameStore::newest(int timeoutMs) const {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return !frame_.isNull() || !active_; });
    return frame_;
}

QSize FrameStore::frameSize() const {
    std::lock_guard lock(mutex_);
    return frame_.size();
}

} // namespace zantrel
