#pragma once

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zantrel {

// The live stream's newest frame, encoded once and shared by every client. Clients take a place
// (refused beyond the limit), then wait for frames newer than the one they sent; each holds at most
// the one frame it is sending. Safe on any thread.
class MjpegFeed {
  public:
    static constexpr const char* kBoundary = "zantrelframe";

    // A place for one more client, unless limit clients are already watching.
    bool join(int limit);
    void leave();
    int clients() const;

    // The encoder: the next frame, a JPEG. Wakes every waiting client.
    void publish(const QByteArray& jpeg);

    // A client: the newest frame's multipart part once it is newer than `seen` (updated), or null
    // when the feed is closing.
    std::shared_ptr<const QByteArray> next(std::uint64_t& seen);

    // Waits for the time given or until the feed closes.
    void pause(std::chrono::milliseconds time);

    // Closing: every waiting client is released and no one waits any more. open() undoes it.
    void close();
    void open();

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<const QByteArray> part_;
    std::uint64_t generation_ = 0;
    int clients_ = 0;
    bool closing_ = false;
};

} // namespace zantrel
