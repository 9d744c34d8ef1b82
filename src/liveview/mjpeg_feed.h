#pragma once

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

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
    bool hasFrame() const;

    // The encoder: the next frame, a JPEG. Wakes every waiting client.
    void publish(const QByteArray& jpeg);

    // A client: the newest frame's multipart part when it is newer than `seen` (updated); null when
    // there is none yet or the feed is closing.
    std::shared_ptr<const QByteArray> next(std::uint64_t& seen);
    bool closing() const;
    // A client that found nothing newer than `seen`: wake runs once, on the encoder's thread with the
    // next frame or on the closing one; at once, here, when either came meanwhile (then 0 is returned,
    // else the wait's number for cancel()).
    std::uint64_t await(std::uint64_t seen, std::function<void()> wake);
    // Takes a wait back before it ran: false when its wake has run or is about to.
    bool cancel(std::uint64_t wait);

    // The newest frame once more, when it has waited for `age` and someone waits: a player that hears
    // nothing for long gives up, and a stream client that went away is noticed when the frame finds it
    // gone. While the camera sends nothing this keeps the stream alive.
    void repeat(std::chrono::steady_clock::duration age);

    // Closing: every waiting client is woken and no one waits any more. open() undoes it.
    void close();
    void open();

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const QByteArray> part_;
    std::uint64_t generation_ = 0;
    std::chrono::steady_clock::time_point published_;
    std::uint64_t lastWait_ = 0;
    std::map<std::uint64_t, std::function<void()>> waiting_;
    int clients_ = 0;
    bool closing_ = false;
};

} // namespace zantrel
