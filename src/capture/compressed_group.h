#pragma once

// Capture-private: a camera's compressed frames kept while nobody watches, decoded only when a picture
// is asked for.

#include "capture/gst_handle.h"

#include <QImage>
#include <QSize>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace zantrel {

struct BufferUnref {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};
using BufferPtr = std::unique_ptr<GstBuffer, BufferUnref>;

// The frames of a compressed stream (H.264, H.265, MJPEG, ...) since its newest key frame, in order:
// what decoding the newest picture needs and no more. A frame that cannot be decoded without the ones
// before it (a delta frame) is kept only after a key frame. Past kMaxBytes or kMaxFrames (a camera with
// a very long key-frame interval) only the key frame is kept, until the next one. Thread-safe.
class CompressedGroup {
  public:
    static constexpr gsize kMaxBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxFrames = 600;
    using Clock = std::chrono::steady_clock;

    struct Frames {
        gst::CapsPtr caps;
        std::vector<BufferPtr> buffers; // the key frame first
        std::uint64_t serial = 0;       // of the newest frame kept: equal serials, equal pictures
    };

    // The streaming thread: each frame as it arrives, with the stream's caps.
    void keep(GstBuffer* buffer, GstCaps* caps);
    Frames frames() const;
    bool hasKeyFrame() const;
    std::size_t count() const;
    gsize bytes() const;
    void clear();

    // Whether frames go on to the decoder, decided at each frame by wanted(size of the pictures): from
    // the first key frame after it turns true, until it turns false.
    void setDemand(std::function<bool(QSize)> wanted);
    // The streaming thread: keeps the frame and says whether it goes on to the decoder.
    bool pass(GstBuffer* buffer, GstCaps* caps);
    // Since when the decoder has been fed without a gap; none while it is not.
    std::optional<Clock::time_point> feedingSince() const;

  private:
    mutable std::mutex mutex_;
    gst::CapsPtr caps_;
    std::vector<BufferPtr> buffers_;
    gsize bytes_ = 0;
    bool overflowed_ = false; // only the key frame is kept until the next one
    std::uint64_t serial_ = 0;
    std::function<bool(QSize)> wanted_;
    std::optional<Clock::time_point> feedingSince_;
};

// Installs on pad (where parsed, whole compressed frames pass) the probe that keeps them in group and lets
// through to the decoder only what group->pass allows. Raw pictures pass untouched and are not kept.
void KeepCompressedFrames(GstPad* pad, std::shared_ptr<CompressedGroup> group);

// Makes decodebin plug no parser for frames that come parsed already (as they leave parsebin).
void DecodeParsedFrames(GstElement* decodebin);

// The group kept by a camera's source element (attached when it was made); null when it keeps none.
void AttachCompressedGroup(GstElement* source, std::shared_ptr<CompressedGroup> group);
std::shared_ptr<CompressedGroup> CompressedGroupOf(GstElement* source);

// Decodes frames in order on a pipeline of its own and returns the last picture that decoded whole
// (Format_RGB32); null when none did. Waits at most timeoutMs.
QImage DecodeNewestPicture(const CompressedGroup::Frames& frames, int timeoutMs);

} // namespace zantrel
