#pragma once

#include "core/sinks.h"

#include <array>
#include <chrono>
#include <cstddef>

namespace zantrel {

// Passes progress texts to a sink, at most kPerSecond of them in any second; a text marked final is
// always passed. Short runs therefore show every text; long ones show a steady trickle. Texts keep
// their order: a dropped text is simply superseded by a later one.
class ProgressThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kPerSecond = 25;

    using Now = Clock::time_point (*)();

    explicit ProgressThrottle(StatusSink& sink, Now now = &Clock::now) : sink_(sink), clockNow_(now) {}

    void offer(const QString& text, bool final) {
        const auto now = clockNow_();
        // sent_[next_] is the oldest of the last kPerSecond texts passed.
        if (!final && count_ == kPerSecond && now - sent_[next_] < std::chrono::seconds(1))
            return;
        sent_[next_] = now;
        next_ = (next_ + 1) % kPerSecond;
        if (count_ < kPerSecond)
            ++count_;
        sink_.setStatus(text);
    }

  private:
    StatusSink& sink_;
    Now clockNow_;
    std::array<Clock::time_point, kPerSecond> sent_{};
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

} // namespace zantrel
