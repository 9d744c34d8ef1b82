#include "liveview/mjpeg_feed.h"

namespace zantrel {

bool MjpegFeed::join(int limit) {
    std::lock_guard lock(mutex_);
    if (closing_ || clients_ >= limit)
        return false;
    ++clients_;
    return true;
}

void MjpegFeed::leave() {
    std::lock_guard lock(mutex_);
    if (--clients_ == 0)
        part_.reset(); // the next first client gets a fresh frame, not an old one
}

int MjpegFeed::clients() const {
    std::lock_guard lock(mutex_);
    return clients_;
}

void MjpegFeed::publish(const QByteArray& jpeg) {
    auto part = std::make_shared<QByteArray>();
    part->reserve(jpeg.size() + 100);
    part->append("--").append(kBoundary).append("\r\nContent-Type: image/jpeg\r\nContent-Length: ");
    part->append(QByteArray::number(jpeg.size())).append("\r\n\r\n").append(jpeg).append("\r\n");
    {
        std::lock_guard lock(mutex_);
        part_ = std::move(part);
        ++generation_;
    }
    changed_.notify_all();
}

std::shared_ptr<const QByteArray> MjpegFeed::next(std::uint64_t& seen) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closing_ || (part_ && generation_ != seen); });
    if (closing_)
        return {};
    seen = generation_;
    return part_;
}

void MjpegFeed::pause(std::chrono::milliseconds time) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, time, [this] { return closing_; });
}

void MjpegFeed::close() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
}

void MjpegFeed::open() {
    std::lock_guard lock(mutex_);
    closing_ = false;
}

} // namespace zantrel
