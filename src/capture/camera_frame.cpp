#include "capture/camera_frame.h"

#include <QPainter>

namespace zantrel {

namespace {

// The byte order of QImage::Format_RGB32 in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr GstVideoFormat kImageFormat = GST_VIDEO_FORMAT_BGRx;
#else
constexpr GstVideoFormat kImageFormat = GST_VIDEO_FORMAT_xRGB;
#endif

// A camera buffer mapped for reading for as long as an image refers to it.
struct MappedFrame {
    GstSample* sample = nullptr;
    GstVideoFrame frame{};
    static void release(void* info) {
        std::unique_ptr<MappedFrame> mapped(static_cast<MappedFrame*>(info));
        gst_video_frame_unmap(&mapped->frame);
        gst_sample_unref(mapped->sample);
    }
};

// A picture already in the program's format is used where it lies, without a copy.
QImage wrap(GstSample* sample, const GstVideoInfo& info) {
    auto mapped = std::make_unique<MappedFrame>();
    if (!gst_video_frame_map(&mapped->frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
        return {};
    mapped->sample = gst_sample_ref(sample);
    const auto* data = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0);
    const int width = GST_VIDEO_FRAME_WIDTH(&mapped->frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&mapped->frame);
    return QImage(data, width, height, stride, QImage::Format_RGB32, &MappedFrame::release, mapped.release());
}

struct BufferUnref {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};

} // namespace

std::shared_ptr<const CameraFrame> CameraFrame::fromSample(GstSample* sample) {
    if (!sample)
        return nullptr;
    std::shared_ptr<CameraFrame> frame(new CameraFrame);
    frame->sample_.reset(sample);
    if (!gst_video_info_from_caps(&frame->info_, gst_sample_get_caps(sample)) ||
        !gst_sample_get_buffer(sample) || GST_VIDEO_INFO_WIDTH(&frame->info_) <= 0 ||
        GST_VIDEO_INFO_HEIGHT(&frame->info_) <= 0)
        return nullptr;
    frame->size_ = QSize(GST_VIDEO_INFO_WIDTH(&frame->info_), GST_VIDEO_INFO_HEIGHT(&frame->info_));
    return frame;
}

std::shared_ptr<const CameraFrame> CameraFrame::fromImage(QImage image) {
    if (image.isNull())
        return nullptr;
    std::shared_ptr<CameraFrame> frame(new CameraFrame);
    frame->size_ = image.size();
    frame->image_ = image.format() == QImage::Format_RGB32 ? std::move(image)
                                                           : image.convertToFormat(QImage::Format_RGB32);
    std::call_once(frame->converted_, [] {});
    return frame;
}

QImage CameraFrame::image() const {
    std::call_once(converted_, [this] {
        if (GST_VIDEO_INFO_FORMAT(&info_) == kImageFormat) {
            image_ = wrap(sample_.get(), info_);
        } else {
            FrameConverter converter;
            image_ = converter.convert(*this, QRect(QPoint(), size_), size_);
        }
    });
    return image_;
}

QImage FrameConverter::convert(const CameraFrame& frame, const QRect& source, const QSize& size) {
    const QRect part = source & QRect(QPoint(), frame.size());
    if (part.isEmpty() || size.isEmpty())
        return {};
    if (!frame.sample_) {
        const QImage whole = frame.image();
        const QImage cut = part == whole.rect() ? whole : whole.copy(part);
        return cut.size() == size ? cut : cut.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    if (!converter_ || !gst_video_info_is_equal(&from_, &frame.info_) || source_ != part || size_ != size) {
        GstVideoInfo to;
        gst_video_info_set_format(&to, kImageFormat, guint(size.width()), guint(size.height()));
        // The converter changes pixels, never timing or field order.
        GST_VIDEO_INFO_FPS_N(&to) = GST_VIDEO_INFO_FPS_N(&frame.info_);
        GST_VIDEO_INFO_FPS_D(&to) = GST_VIDEO_INFO_FPS_D(&frame.info_);
        GST_VIDEO_INFO_INTERLACE_MODE(&to) = GST_VIDEO_INFO_INTERLACE_MODE(&frame.info_);
        GstStructure* config = gst_structure_new(
            "GstVideoConverter", GST_VIDEO_CONVERTER_OPT_SRC_X, G_TYPE_INT, part.x(),
            GST_VIDEO_CONVERTER_OPT_SRC_Y, G_TYPE_INT, part.y(), GST_VIDEO_CONVERTER_OPT_SRC_WIDTH,
            G_TYPE_INT, part.width(), GST_VIDEO_CONVERTER_OPT_SRC_HEIGHT, G_TYPE_INT, part.height(),
            GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
            GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_RESAMPLER_OPT_MAX_TAPS, G_TYPE_INT, 2,
            GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
            nullptr);
        converter_.reset(gst_video_converter_new(const_cast<GstVideoInfo*>(&frame.info_), &to, config));
        from_ = frame.info_;
        source_ = part;
        size_ = size;
        if (!converter_)
            return {};
    }
    GstVideoFrame in;
    if (!gst_video_frame_map(&in, const_cast<GstVideoInfo*>(&frame.info_),
                             gst_sample_get_buffer(frame.sample_.get()), GST_MAP_READ))
        return {};
    if (picture_.size() != size)
        picture_ = QImage(size, QImage::Format_RGB32);
    uchar* bits = picture_.bits(); // a copy first if the last picture is still held
    QImage out = picture_;
    GstVideoInfo outInfo = *gst_video_converter_get_out_info(converter_.get());
    outInfo.stride[0] = int(out.bytesPerLine());
    outInfo.size = gsize(out.sizeInBytes());
    const std::unique_ptr<GstBuffer, BufferUnref> wrapped(gst_buffer_new_wrapped_full(
        GstMemoryFlags(0), bits, outInfo.size, 0, outInfo.size, nullptr, nullptr));
    GstVideoFrame target;
    const bool mapped = gst_video_frame_map(&target, &outInfo, wrapped.get(), GST_MAP_WRITE);
    if (mapped) {
        gst_video_converter_frame(converter_.get(), &in, &target);
        gst_video_frame_unmap(&target);
    }
    gst_video_frame_unmap(&in);
    return mapped ? out : QImage();
}

void FrameConverter::draw(QPainter& painter, const CameraFrame& frame, const QRect& source,
                          const QRect& target) {
    const QRect part = source & QRect(QPoint(), frame.size());
    if (!frame.sample_ || GST_VIDEO_INFO_FORMAT(&frame.info_) == kImageFormat) {
        const QImage whole = frame.image();
        if (whole.isNull() || part.isEmpty())
            painter.fillRect(target, Qt::black);
        else
            painter.drawImage(target, whole, part);
        return;
    }
    const QImage converted = convert(frame, part, target.size());
    if (converted.isNull())
        painter.fillRect(target, Qt::black);
    else
        painter.drawImage(target.topLeft(), converted);
}

} // namespace zantrel
