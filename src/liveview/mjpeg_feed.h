#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zantrel {

// The live stream's newest frame, encoded once and shared by every client. Clients take a place
// (refused beyond the limit), then take frames newer than the one they sent, and ask to be woken when
// there is none yet; each holds at most the one frame it is sending. Safe on any thread.
class MjpegFeed {
  public:
    static constexpr const char* kBoundary = "zantrelframe";

    // A place for one more client, unless limit clients are already watching.
    bool join(int limit);
    void leave();
    int clients() const;

    // The encoder: the next frame, a JPEG. Wakes every waiting client.
    void publish(const QByteArray& jpeg);

    // A client: the newest frame's multipart part when it is newer than `seen` (updated); null when
    // there is none yet or the feed is closing.
    std::shared_ptr<const QByteArray> next(std::uint64_t& seen);
    bool closing() const;
    // A client that found nothing newer than `seen`: wake runs once, on the encoder's thread with the
    // next frame or on the closing one; at once, here, when either came meanwhile.
    void await(std::uint64_t seen, std::function<void()> wake);

    // Closing: every waiting client is woken and no one waits any more. open() undoes it.
    void close();
    void open();

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const QByteArray> part_;
    std::uint64_t generation_ = 0;
    std::vector<std::function<void()>> waiting_;
    int clients_ = 0;
    bool closing_ = false;
};

} // namespace zantrel
