#include "capture/frame_store.h"

#include "capture/compressed_group.h"

namespace zantrel {

namespace {

using Clock = std::chrono::steady_clock;

// How long decoding goes on after the last watcher left (one who looks away for a moment).
constexpr auto kLinger = std::chrono::seconds(3);
// The longest a grab waits for its picture to decode.
constexpr int kDecodeTimeoutMs = 5000;
// A picture asked for again and again (the live stream, until decoding resumes at the next key frame) is
// decoded at most this often.
constexpr auto kRedecodeAfter = std::chrono::milliseconds(500);

// How old a decoded frame may be to stand in for kept frames that do not decode, in the live picture.
constexpr int kNewestMaxAgeMs = 2000;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

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
        decodedAt_ = lastFrameAt_;
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
        if (!active) {
            dropped.swap(frame_);
            group_.reset();
            compressedSize_ = QSize();
        }
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

bool FrameStore::waitSettled(std::unique_lock<std::mutex>& lock, int settleMs, int firstFrameMs,
                             int maxAgeMs) const {
    const auto firstFrameDeadline = Clock::now() + std::chrono::milliseconds(firstFrameMs);
    // A frame that has stood for longer than maxAgeMs is no picture of now: only a newer one will do.
    const auto fresh = [this, maxAgeMs] {
        return (frame_ || (group_ && group_->hasKeyFrame())) &&
               Clock::now() - lastFrameAt_ <= std::chrono::milliseconds(maxAgeMs);
    };
    if (!arrived_.wait_until(lock, firstFrameDeadline, [this, &fresh] { return fresh() || !active_; }))
        return false;
    // A camera that stops meanwhile drops its frame: the wait ends with nothing.
    if (active_)
        arrived_.wait_until(lock, *firstFrameAt_ + std::chrono::milliseconds(settleMs),
                            [this] { return !active_; });
    return fresh();
}

bool FrameStore::settle(int settleMs, int firstFrameMs, int maxAgeMs) const {
    std::unique_lock lock(mutex_);
    return waitSettled(lock, settleMs, firstFrameMs, maxAgeMs);
}

QImage FrameStore::settled(int settleMs, int firstFrameMs, int maxAgeMs) const {
    std::unique_lock lock(mutex_);
    if (!waitSettled(lock, settleMs, firstFrameMs, maxAgeMs))
        return {};
    const std::shared_ptr<const CameraFrame> frame = frame_;
    const std::shared_ptr<CompressedGroup> group = group_;
    const auto decodedAt = decodedAt_;
    lock.unlock();
    return pictureOf(frame, group, decodedAt, false, maxAgeMs); // converted outside the lock
}

QImage FrameStore::pictureOf(std::shared_ptr<const CameraFrame> frame, std::shared_ptr<CompressedGroup> group,
                             Clock::time_point decodedAt, bool reuseRecent, int maxAgeMs) const {
    const std::optional<Clock::time_point> feeding = group ? group->feedingSince() : std::nullopt;
    if (group && group->hasKeyFrame() && !(frame && feeding && decodedAt >= *feeding)) {
        // The decoder is not fed, or has not caught up since: the kept frames give the picture.
        std::lock_guard lock(decodeMutex_);
        const CompressedGroup::Frames frames = group->frames();
        const bool same = !decodedGroup_.owner_before(group) && !group.owner_before(decodedGroup_);
        if (!same || decodedPicture_.isNull() ||
            (decodedSerial_ != frames.serial &&
             (!reuseRecent || Clock::now() - decodedPictureAt_ >= kRedecodeAfter))) {
            decodedPicture_ = DecodeNewestPicture(frames, kDecodeTimeoutMs);
            decodedGroup_ = group;
            decodedSerial_ = frames.serial;
            decodedPictureAt_ = Clock::now();
        }
        if (!decodedPicture_.isNull())
            return decodedPicture_;
        // Nothing in the group decodes: a frame decoded before stands in while it is recent.
        if (Clock::now() - decodedAt > std::chrono::milliseconds(maxAgeMs))
            return {};
    }
    return frame ? frame->image() : QImage();
}

void FrameStore::setWatched(Watcher who, bool watching) {
    const auto bit = unsigned(who);
    if (watching)
        watchers_.fetch_or(bit);
    else if (watchers_.fetch_and(~bit) & bit)
        lastWatchedNs_ = nowNs();
}

bool FrameStore::decodeWanted() const {
    return watchers_ != 0 || nowNs() - lastWatchedNs_ < std::chrono::nanoseconds(kLinger).count();
}

void FrameStore::setCompressed(std::shared_ptr<CompressedGroup> group) {
    std::lock_guard lock(mutex_);
    group_ = std::move(group);
}

bool FrameStore::noteCompressed(QSize size) {
    {
        std::lock_guard lock(mutex_);
        if (!active_)
            return false;
        lastFrameAt_ = Clock::now();
        if (!firstFrameAt_)
            firstFrameAt_ = lastFrameAt_;
        if (!size.isEmpty())
            compressedSize_ = size;
    }
    arrived_.notify_all();
    return decodeWanted();
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
    const std::shared_ptr<CompressedGroup> group = group_;
    const auto decodedAt = decodedAt_;
    lock.unlock();
    return pictureOf(frame, group, decodedAt, true, kNewestMaxAgeMs);
}

QSize FrameStore::frameSize() const {
    std::lock_guard lock(mutex_);
    return frame_ ? frame_->size() : compressedSize_;
}

} // namespace zantrel
