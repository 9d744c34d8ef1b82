#include "capture/compressed_group.h"

#include "capture/camera_frame.h"

#include <algorithm>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

namespace zantrel {

namespace {

bool isKeyFrame(GstBuffer* buffer) {
    return !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
}

QSize pictureSize(GstCaps* caps) {
    int width = 0, height = 0;
    if (caps && gst_caps_get_size(caps) > 0) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
    }
    return QSize(width, height);
}

// A JPEG cut off before its end-of-image marker (a few padding bytes may follow it): decoders fill the
// missing part with grey.
bool incompleteJpeg(GstBuffer* buffer, GstCaps* caps) {
    if (!gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg"))
        return false;
    const gsize size = gst_buffer_get_size(buffer);
    const gsize tail = std::min<gsize>(size, 32);
    guint8 end[32];
    gst_buffer_extract(buffer, size - tail, end, tail);
    for (gsize i = tail; i >= 2; --i) {
        if (end[i - 2] == 0xFF && end[i - 1] == 0xD9)
            return false;
    }
    return true;
}

GstPadProbeReturn onCompressedFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    const auto& group = *static_cast<std::shared_ptr<CompressedGroup>*>(data);
    gst::CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps || gst_caps_is_empty(caps.get()) ||
        gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "video/x-raw"))
        return GST_PAD_PROBE_OK;
    return group->pass(GST_PAD_PROBE_INFO_BUFFER(info), caps.get()) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

// Decoders that give up on nothing and hand out no picture they could not decode whole.
void onDecoderAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
    GObjectClass* klass = G_OBJECT_GET_CLASS(element);
    if (g_object_class_find_property(klass, "max-errors"))
        g_object_set(element, "max-errors", -1, nullptr);
    if (g_object_class_find_property(klass, "output-corrupt"))
        g_object_set(element, "output-corrupt", FALSE, nullptr);
}

// decodebin's answer to a factory it may plug: 0 try it, 2 skip it.
gint skipSecondParser(GstElement*, GstPad*, GstCaps* caps, GstElementFactory* factory, gpointer) {
    gboolean parsed = FALSE;
    const bool parser = gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_PARSER);
    return parser && gst_caps_get_size(caps) > 0 &&
                   gst_structure_get_boolean(gst_caps_get_structure(caps, 0), "parsed", &parsed) && parsed
               ? 2
               : 0;
}

void linkToSink(GstElement*, GstPad* pad, gpointer target) {
    gst::ObjectPtr<GstPad> sink(gst_element_get_static_pad(GST_ELEMENT(target), "sink"));
    if (sink && !gst_pad_is_linked(sink.get()))
        gst_pad_link(pad, sink.get());
}

} // namespace

void CompressedGroup::keep(GstBuffer* buffer, GstCaps* caps) {
    const gsize size = gst_buffer_get_size(buffer);
    std::lock_guard lock(mutex_);
    if (isKeyFrame(buffer)) {
        buffers_.clear();
        bytes_ = 0;
        overflowed_ = false;
        caps_.reset(gst_caps_ref(caps));
    } else if (buffers_.empty() || overflowed_) {
        return; // nothing to decode it from
    } else if (caps_.get() != caps && !gst_caps_is_equal(caps_.get(), caps)) {
        // The stream changed without a key frame: what is kept no longer fits it.
        buffers_.clear();
        bytes_ = 0;
        caps_.reset();
        ++serial_;
        return;
    } else if (buffers_.size() >= kMaxFrames || bytes_ + size > kMaxBytes) {
        buffers_.resize(1);
        bytes_ = gst_buffer_get_size(buffers_.front().get());
        overflowed_ = true;
        ++serial_;
        return;
    }
    buffers_.emplace_back(gst_buffer_ref(buffer));
    bytes_ += size;
    ++serial_;
}

CompressedGroup::Frames CompressedGroup::frames() const {
    std::lock_guard lock(mutex_);
    Frames out;
    out.caps.reset(caps_ ? gst_caps_ref(caps_.get()) : nullptr);
    out.buffers.reserve(buffers_.size());
    for (const BufferPtr& buffer : buffers_)
        out.buffers.emplace_back(gst_buffer_ref(buffer.get()));
    out.serial = serial_;
    return out;
}

bool CompressedGroup::hasKeyFrame() const {
    std::lock_guard lock(mutex_);
    return !buffers_.empty();
}

std::size_t CompressedGroup::count() const {
    std::lock_guard lock(mutex_);
    return buffers_.size();
}

gsize CompressedGroup::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void CompressedGroup::clear() {
    std::lock_guard lock(mutex_);
    buffers_.clear();
    bytes_ = 0;
    caps_.reset();
    ++serial_;
}

void CompressedGroup::setDemand(std::function<bool(QSize)> wanted) {
    std::lock_guard lock(mutex_);
    wanted_ = std::move(wanted);
}

bool CompressedGroup::pass(GstBuffer* buffer, GstCaps* caps) {
    if (incompleteJpeg(buffer, caps))
        return false; // neither kept nor decoded: the picture before it stands
    keep(buffer, caps);
    std::unique_lock lock(mutex_);
    const std::function<bool(QSize)> wanted = wanted_;
    lock.unlock();
    const bool want = !wanted || wanted(pictureSize(caps));
    lock.lock();
    if (!want)
        feedingSince_.reset();
    else if (!feedingSince_ && isKeyFrame(buffer))
        feedingSince_ = Clock::now(); // a decoder starts at a key frame
    return feedingSince_.has_value();
}

std::optional<CompressedGroup::Clock::time_point> CompressedGroup::feedingSince() const {
    std::lock_guard lock(mutex_);
    return feedingSince_;
}

void KeepCompressedFrames(GstPad* pad, std::shared_ptr<CompressedGroup> group) {
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &onCompressedFrame,
                      new std::shared_ptr<CompressedGroup>(std::move(group)),
                      [](gpointer data) { delete static_cast<std::shared_ptr<CompressedGroup>*>(data); });
}

namespace {
constexpr const char* kGroupKey = "zantrel-compressed-group";
}

void DecodeParsedFrames(GstElement* decodebin) {
    g_signal_connect(decodebin, "autoplug-select", G_CALLBACK(&skipSecondParser), nullptr);
}

void AttachCompressedGroup(GstElement* source, std::shared_ptr<CompressedGroup> group) {
    g_object_set_data_full(
        G_OBJECT(source), kGroupKey, new std::shared_ptr<CompressedGroup>(std::move(group)),
        [](gpointer data) { delete static_cast<std::shared_ptr<CompressedGroup>*>(data); });
}

std::shared_ptr<CompressedGroup> CompressedGroupOf(GstElement* source) {
    const auto* group = static_cast<std::shared_ptr<CompressedGroup>*>(
        source ? g_object_get_data(G_OBJECT(source), kGroupKey) : nullptr);
    return group ? *group : nullptr;
}

QImage DecodeNewestPicture(const CompressedGroup::Frames& frames, int timeoutMs) {
    if (!frames.caps || frames.buffers.empty())
        return {};
    gst::ElementPtr pipeline = gst::adopt(gst_pipeline_new("group"));
    gst::ElementPtr source = gst::makeElement("appsrc");
    gst::ElementPtr decode = gst::makeElement("decodebin");
    gst::ElementPtr sink = gst::makeElement("appsink");
    if (!pipeline || !source || !decode || !sink)
        return {};
    GstElement* src = source.get();
    GstElement* out = sink.get();
    g_object_set(src, "caps", frames.caps.get(), "format", GST_FORMAT_TIME, "max-bytes", guint64(0), nullptr);
    // Pictures in the decoder's own format, in system memory: only the last one is converted.
    gst::CapsPtr raw(gst_caps_from_string("video/x-raw"));
    g_object_set(out, "sync", FALSE, "max-buffers", 2u, "caps", raw.get(), nullptr);
    g_signal_connect(decode.get(), "deep-element-added", G_CALLBACK(&onDecoderAdded), nullptr);
    g_signal_connect(decode.get(), "pad-added", G_CALLBACK(&linkToSink), out);
    DecodeParsedFrames(decode.get());
    GstElement* decodeElement = decode.get();
    for (gst::ElementPtr* element : {&source, &decode, &sink}) {
        gst_bin_add(GST_BIN(pipeline.get()), element->get());
        element->reset(); // the pipeline holds it
    }
    if (!gst_element_link(src, decodeElement))
        return {};
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return {};
    }
    for (const BufferPtr& buffer : frames.buffers)
        gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_ref(buffer.get()));
    gst_app_src_end_of_stream(GST_APP_SRC(src));

    std::unique_ptr<GstSample, SampleUnref> last;
    bool spoiled = false;
    // The pictures come out in the order of their times: one that does not come (the decoder could not
    // make it) leaves the ones after it built on what it would have been.
    std::vector<GstClockTime> times;
    for (const BufferPtr& buffer : frames.buffers)
        times.push_back(GST_BUFFER_PTS(buffer.get()));
    std::sort(times.begin(), times.end());
    auto next = std::find(times.begin(), times.end(), GST_CLOCK_TIME_NONE) == times.end() ? times.begin()
                                                                                          : times.end();
    gst::ObjectPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!gst_app_sink_is_eos(GST_APP_SINK(out))) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        GstSample* sample = gst_app_sink_try_pull_sample(
            GST_APP_SINK(out),
            GstClockTime(std::min<std::int64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(left).count(), 50 * GST_MSECOND)));
        if (sample) {
            // A picture the decoder could not make whole, and every one after it (they are built on
            // it), are left out.
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            spoiled = spoiled || !buffer || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_CORRUPTED) ||
                      (next != times.end() && GST_BUFFER_PTS(buffer) != *next);
            if (next != times.end())
                ++next;
            if (!spoiled)
                last.reset(sample);
            else
                gst_sample_unref(sample);
            continue;
        }
        // A decoder that fails on the stream ends it: what decoded before is the picture.
        gst::MessagePtr error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        if (error)
            break;
    }
    QImage picture;
    if (last) {
        const std::shared_ptr<const CameraFrame> frame = CameraFrame::fromSample(last.release());
        picture = frame ? frame->image().copy() : QImage();
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return picture;
}

} // namespace zantrel
