#pragma once

#include "capture/gst_handle.h"

#include <QImage>
#include <QRect>
#include <gst/video/video.h>
#include <memory>
#include <mutex>

class QPainter;

namespace zantrel {

struct SampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct ConverterFree {
    void operator()(GstVideoConverter* converter) const { gst_video_converter_free(converter); }
};

// One picture of the camera, kept in the pixel format the camera (or its decoder) delivered it in.
// It is converted to the program's Format_RGB32 only when it is needed whole (a grab), once per
// picture, and scaled down straight from that format for the preview: a 1080p camera previewed at
// twelve frames a second is not converted at full size twelve times a second. Never written to.
class CameraFrame {
  public:
    // Takes over the caller's reference; null when the sample holds no raw video picture.
    static std::shared_ptr<const CameraFrame> fromSample(GstSample* sample);
    static std::shared_ptr<const CameraFrame> fromImage(QImage image);
    CameraFrame(const CameraFrame&) = delete;
    CameraFrame& operator=(const CameraFrame&) = delete;

    QSize size() const { return size_; }
    // The whole picture as Format_RGB32, converted the first time it is asked for. Any thread.
    QImage image() const;

  private:
    friend class FrameConverter;
    CameraFrame() = default;

    QSize size_;
    std::unique_ptr<GstSample, SampleUnref> sample_; // null for a frame made from an image
    GstVideoInfo info_{};
    mutable std::once_flag converted_;
    mutable QImage image_;
};

// Converts parts of frames to Format_RGB32 pictures of a given size, keeping its converter and its
// picture while the frames' format, the part and the size stay the same (the preview asks for the same
// at every frame). One thread at a time.
class FrameConverter {
  public:
    FrameConverter() = default;
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // source (inside the frame) scaled to size; null when either is empty or the frame cannot be read.
    QImage convert(const CameraFrame& frame, const QRect& source, const QSize& size);
    // Paints source (inside the frame) over target: a frame already in the program's format straight
    // from its buffer, scaled by the painter; any other converted at the target's size. Black when the
    // frame cannot be read.
    void draw(QPainter& painter, const CameraFrame& frame, const QRect& source, const QRect& target);

  private:
    std::unique_ptr<GstVideoConverter, ConverterFree> converter_;
    GstVideoInfo from_{};
    QRect source_;
    QSize size_;
    QImage picture_; // written again at the next frame unless a caller still holds it
};

} // namespace zantrel
