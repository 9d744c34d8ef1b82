#include "gallery/thumbnail_queue.h"

#include <algorithm>

namespace zantrel {

ThumbnailQueue::ThumbnailQueue(int rows) : claimed_(std::size_t(rows), 0), pending_(std::size_t(rows), 0) {}

std::optional<ThumbnailQueue::Task> ThumbnailQueue::take() {
    std::lock_guard lock(mutex_);
    while (!urgent_.empty()) {
        const int row = urgent_.back();
        urgent_.pop_back();
        if (pending_[std::size_t(row)])
            continue;
        claimed_[std::size_t(row)] = pending_[std::size_t(row)] = 1;
        ++inFlight_;
        return Task{row, true};
    }
    while (filling_ && fillNext_ < int(claimed_.size())) {
        const int row = fillNext_++;
        if (claimed_[std::size_t(row)])
            continue;
        claimed_[std::size_t(row)] = pending_[std::size_t(row)] = 1;
        ++inFlight_;
        return Task{row, inBandLocked(row)};
    }
    --workers_;
    return std::nullopt;
}

void ThumbnailQueue::finish(ThumbnailResult result) {
    std::lock_guard lock(mutex_);
    --inFlight_;
    done_.push_back(std::move(result));
}

void ThumbnailQueue::setUrgent(std::vector<int> rows) {
    std::lock_guard lock(mutex_);
    std::erase_if(rows, [this](int r) { return r < 0 || r >= int(claimed_.size()); });
    std::reverse(rows.begin(), rows.end());
    urgent_ = std::move(rows);
}

void ThumbnailQueue::setBand(int first, int last) {
    std::lock_guard lock(mutex_);
    bandFirst_ = first;
    bandLast_ = last;
}

void ThumbnailQueue::stopFill() {
    std::lock_guard lock(mutex_);
    filling_ = false;
}

void ThumbnailQueue::stopAll() {
    std::lock_guard lock(mutex_);
    filling_ = false;
    urgent_.clear();
}

std::vector<ThumbnailResult> ThumbnailQueue::drain() {
    std::lock_guard lock(mutex_);
    for (const auto& result : done_)
        pending_[std::size_t(result.row)] = 0;
    return std::exchange(done_, {});
}

int ThumbnailQueue::claimWorkers(int threads) {
    std::lock_guard lock(mutex_);
    const bool work = !urgent_.empty() || (filling_ && fillNext_ < int(claimed_.size()));
    const int more = work ? std::max(0, threads - workers_) : 0;
    workers_ += more;
    return more;
}

bool ThumbnailQueue::busy() const {
    std::lock_guard lock(mutex_);
    return !urgent_.empty() || (filling_ && fillNext_ < int(claimed_.size())) || inFlight_ > 0 ||
           !done_.empty();
}

} // namespace zantrel
