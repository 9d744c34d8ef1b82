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

bool MjpegFeed::hasFrame() const {
    std::lock_guard lock(mutex_);
    return part_ != nullptr;
}

void MjpegFeed::publish(const QByteArray& jpeg) {
    auto part = std::make_shared<QByteArray>();
    part->reserve(jpeg.size() + 100);
    part->append("--").append(kBoundary).append("\r\nContent-Type: image/jpeg\r\nContent-Length: ");
    part->append(QByteArray::number(jpeg.size())).append("\r\n\r\n").append(jpeg).append("\r\n");
    std::map<std::uint64_t, std::function<void()>> woken;
    {
        std::lock_guard lock(mutex_);
        part_ = std::move(part);
        ++generation_;
        published_ = std::chrono::steady_clock::now();
        woken.swap(waiting_);
    }
    for (const auto& [wait, wake] : woken)
        wake();
}

void MjpegFeed::repeat(std::chrono::steady_clock::duration age) {
    std::map<std::uint64_t, std::function<void()>> woken;
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (!part_ || waiting_.empty() || now - published_ < age)
            return;
        ++generation_; // the same part, new to every client
        published_ = now;
        woken.swap(waiting_);
    }
    for (const auto& [wait, wake] : woken)
        wake();
}

std::shared_ptr<const QByteArray> MjpegFeed::next(std::uint64_t& seen) {
    std::lock_guard lock(mutex_);
    if (closing_ || !part_ || generation_ == seen)
        return {};
    seen = generation_;
    return part_;
}

bool MjpegFeed::closing() const {
    std::lock_guard lock(mutex_);
    return closing_;
}

std::uint64_t MjpegFeed::await(std::uint64_t seen, std::function<void()> wake) {
    {
        std::lock_guard lock(mutex_);
        if (!closing_ && !(part_ && generation_ != seen)) {
            waiting_.emplace(++lastWait_, std::move(wake));
            return lastWait_;
        }
    }
    wake();
    return 0;
}

bool MjpegFeed::cancel(std::uint64_t wait) {
    std::lock_guard lock(mutex_);
    return waiting_.erase(wait) > 0;
}

void MjpegFeed::close() {
    std::map<std::uint64_t, std::function<void()>> woken;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        woken.swap(waiting_);
    }
    for (const auto& [wait, wake] : woken)
        wake();
}

void MjpegFeed::open() {
    std::lock_guard lock(mutex_);
    closing_ = false;
}

} // namespace zantrel
