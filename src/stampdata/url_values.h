#pragma once

#include "imaging/stamp_values.h"

#include <QObject>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

namespace zantrel {

class StampInputs;

// One fetch of an address for a stamp: http or https only, no redirects followed, the first
// kStampValueBytes of the answer kept and the rest not read, within `timeout`.
FetchedValue FetchStampValue(const QString& address, std::chrono::milliseconds timeout,
                             const std::function<bool()>& cancelled = {});

// The "{url:ADDRESS...}" addresses a stamp text names, each once.
QStringList StampTextAddresses(const QString& text);

// The bounds of the time from one round of fetches to the next, in seconds.
inline constexpr int kStampUrlIntervalMin = 5;
inline constexpr int kStampUrlIntervalMax = 3600;
// IMAGE/URLINTERVAL, held within the bounds.
std::chrono::seconds StampUrlInterval();

// Fetches the addresses the stamp text names on a thread of its own, one round every `interval`, and
// lends the answers to the stamp's inputs: a job only looks up the last answer, never waits on the
// network. Between rounds it looks at the text and the interval every second: an address the text
// names anew is fetched then, and a shorter interval takes effect. Ends its thread (cutting a transfer
// short) when destroyed.
class StampUrlFetcher final : public QObject {
  public:
    struct Options {
        std::function<std::chrono::milliseconds()> interval; // StampUrlInterval() when not given
        std::chrono::milliseconds timeout{std::chrono::seconds(10)};
        std::function<QString()> text; // the stamp text; IMAGE/TEXTSTRING when not given
    };
    explicit StampUrlFetcher(StampInputs& inputs, Options options);
    explicit StampUrlFetcher(StampInputs& inputs);
    ~StampUrlFetcher() override;

    std::optional<FetchedValue> lookup(const QString& address) const;
    // Rounds done so far.
    int rounds() const;
    // Waits up to `bound` for the first round to end: a single job (--once) then prints what was
    // fetched rather than "--". True when it ended.
    bool waitForFirstRound(std::chrono::milliseconds bound) const;

  private:
    void run(std::stop_token stop);

    StampInputs& inputs_;
    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    mutable std::condition_variable roundEnded_;
    std::map<QString, FetchedValue> values_;
    int rounds_ = 0;
    std::jthread worker_;
};

} // namespace zantrel
