#include "capture/capture_session.h"

#include "capture/camera_frame.h"
#include "capture/compressed_group.h"
#include "capture/pipeline_stopper.h"
#include "capture/video_formats_p.h"

#include <algorithm>
#include <atomic>
#include <gst/app/gstappsink.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>
#include <gst/video/videooverlay.h>

namespace zantrel {

namespace {

// Frames go to the program in system memory, in the camera's own format: they are converted only when
// a whole picture is asked for. The program's own picture format comes first (used as it lies), then
// any format of 8 bits a component in the camera's order, and only then anything else. A source that
// offers every format lists the deepest first: taken as it comes, it would paint each picture in 16
// bits a component, and every conversion of it would take GStreamer's slow path.
gst::CapsPtr frameCaps() {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    constexpr GstVideoFormat own = GST_VIDEO_FORMAT_BGRx; // QImage::Format_RGB32 in memory
#else
    constexpr GstVideoFormat own = GST_VIDEO_FORMAT_xRGB;
#endif
    GValue formats = G_VALUE_INIT;
    g_value_init(&formats, GST_TYPE_LIST);
    guint count = 0;
    const GstVideoFormat* all = gst_video_formats_raw(&count);
    for (guint i = 0; i < count; ++i) {
        const GstVideoFormatInfo* info = gst_video_format_get_info(all[i]);
        bool eightBits = !GST_VIDEO_FORMAT_INFO_IS_TILED(info) && !GST_VIDEO_FORMAT_INFO_HAS_PALETTE(info);
        for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info); ++c)
            eightBits = eightBits && GST_VIDEO_FORMAT_INFO_DEPTH(info, c) == 8;
        if (!eightBits)
            continue;
        GValue name = G_VALUE_INIT;
        g_value_init(&name, G_TYPE_STRING);
        g_value_set_static_string(&name, gst_video_format_to_string(all[i]));
        gst_value_list_append_and_take_value(&formats, &name);
    }
    gst::CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                          gst_video_format_to_string(own), nullptr));
    GstStructure* eightBitFormats = gst_structure_new_empty("video/x-raw");
    gst_structure_take_value(eightBitFormats, "format", &formats);
    gst_caps_append_structure(caps.get(), eightBitFormats);
    gst_caps_append_structure(caps.get(), gst_structure_new_empty("video/x-raw"));
    return caps;
}

GstFlowReturn onNewSample(GstAppSink* sink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    const auto& gate = *static_cast<std::shared_ptr<CaptureSession::FrameGate>*>(data);
    if (gate->open)
        gate->frames->publish(CameraFrame::fromSample(sample));
    else
        gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void releaseGate(gpointer data) {
    delete static_cast<std::shared_ptr<CaptureSession::FrameGate>*>(data);
}

// How long closing a session waits for its camera to stop. A camera that stops normally takes a few
// milliseconds; one whose network server froze can hang for many seconds and is left to stop on its own.
constexpr int kStopWaitMs = 500;

bool add(GstElement* bin, gst::ElementPtr& element) {
    // The bin takes a reference of its own (ours is no longer floating): ours is given back here.
    const bool added = gst_bin_add(GST_BIN(bin), element.get());
    element.reset();
    return added;
}

} // namespace

std::unique_ptr<CaptureSession> CaptureSession::open(gst::ElementPtr source,
                                                     std::shared_ptr<FrameStore> frames, Mode mode,
                                                     const QString& formatCaps, const QString& overlaySink,
                                                     QString* error) {
    std::unique_ptr<CaptureSession> session(new CaptureSession);
    session->mode_ = mode;
    session->frames_ = std::move(frames);
    session->group_ = CompressedGroupOf(source.get());
    if (!source || !session->build(std::move(source), overlaySink, error))
        return nullptr;
    if (gst_element_set_state(session->pipeline_.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        if (error)
            *error = QStringLiteral("the camera does not open");
        return nullptr;
    }
    if (!formatCaps.isEmpty() && !session->applyFormat(formatCaps))
        session->setFormatCaps({});
    return session;
}

bool CaptureSession::build(gst::ElementPtr source, const QString& overlaySink, QString* error) {
    const auto fail = [error](const char* reason) {
        if (error)
            *error = QString::fromLatin1(reason);
        return false;
    };
    pipeline_ = gst::adopt(gst_pipeline_new("capture"));
    bool linked = true;
    GstElement* framesFrom = pipeline_ ? addCamera(std::move(source), linked) : nullptr;
    if (!framesFrom)
        return fail("GStreamer's base plugins are missing");
    if (mode_ == Mode::Overlay) {
        framesFrom = addLiveView(framesFrom, overlaySink, linked);
        if (!framesFrom)
            return fail("no video sink can draw on this display");
    }
    if (!addFrameOutput(framesFrom, linked))
        return fail("GStreamer's base plugins are missing");
    watchBus();
    findColourBalance();
    if (group_) {
        // Each compressed frame counts as the camera delivering; it is decoded only while watched.
        group_->setDemand(
            [gate = gate_](QSize size) { return gate->open && gate->frames->noteCompressed(size); });
    }
    return linked || fail("the camera's pictures cannot be converted");
}

bool CaptureSession::addChain(std::initializer_list<gst::ElementPtr*> chain) {
    GstElement* previous = nullptr;
    bool linked = true;
    for (gst::ElementPtr* element : chain) {
        GstElement* current = element->get();
        add(pipeline_.get(), *element);
        if (previous)
            linked = linked && gst_element_link(previous, current);
        previous = current;
    }
    return linked;
}

GstElement* CaptureSession::addCamera(gst::ElementPtr source, bool& linked) {
    gst::ElementPtr format = gst::makeElement("capsfilter", "format");
    if (!format)
        return nullptr;
    source_ = source.get();
    formatFilter_ = format.get();
    linked = addChain({&source, &format}) && linked;
    return formatFilter_;
}

GstElement* CaptureSession::addLiveView(GstElement* upstream, const QString& sinkFactory, bool& linked) {
    gst::ElementPtr tee = gst::makeElement("tee");
    gst::ElementPtr frameQueue = gst::makeElement("queue");
    gst::ElementPtr viewQueue = gst::makeElement("queue");
    gst::ElementPtr viewConvert = gst::makeElement("videoconvert");
    gst::ElementPtr viewScale = gst::makeElement("videoscale");
    gst::ElementPtr viewFilter = gst::makeElement("capsfilter");
    gst::ElementPtr viewSink =
        sinkFactory.isEmpty() ? gst::ElementPtr() : gst::makeElement(sinkFactory.toLatin1().constData());
    if (!tee || !frameQueue || !viewQueue || !viewConvert || !viewScale || !viewFilter || !viewSink)
        return nullptr;
    for (GstElement* queue : {frameQueue.get(), viewQueue.get()})
        g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 2u, nullptr);
    g_object_set(viewSink.get(), "force-aspect-ratio", FALSE, nullptr);
    overlaySink_ = viewSink.get();
    if (sinkFactory == QLatin1String("ximagesink"))
        overlayScaleFilter_ = viewFilter.get();
    GstElement* teeElement = tee.get();
    GstElement* frameQueueElement = frameQueue.get();
    GstElement* viewQueueElement = viewQueue.get();
    add(pipeline_.get(), tee);
    linked = gst_element_link(upstream, teeElement) && linked;
    linked = addChain({&frameQueue}) && gst_element_link(teeElement, frameQueueElement) && linked;
    linked = addChain({&viewQueue, &viewConvert, &viewScale, &viewFilter, &viewSink}) &&
             gst_element_link(teeElement, viewQueueElement) && linked;
    return frameQueueElement;
}

bool CaptureSession::addFrameOutput(GstElement* upstream, bool& linked) {
    gst::ElementPtr rate = gst::makeElement("videorate");
    gst::ElementPtr frameFilter = gst::makeElement("capsfilter");
    gst::ElementPtr appsink = gst::makeElement("appsink");
    if (!rate || !frameFilter || !appsink)
        return false;
    rate_ = rate.get();
    g_object_set(rate_, "drop-only", TRUE, nullptr);
    g_object_set(frameFilter.get(), "caps", frameCaps().get(), nullptr);
    GstElement* sink = appsink.get();
    // Only the newest frame matters: never queue, never hold the camera back.
    g_object_set(sink, "max-buffers", 1u, "drop", TRUE, "qos", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &onNewSample;
    gate_ = std::make_shared<FrameGate>();
    gate_->frames = frames_;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new std::shared_ptr<FrameGate>(gate_),
                               &releaseGate);
    linked = addChain({&rate, &frameFilter, &appsink}) && gst_element_link(upstream, rate_) && linked;
    return true;
}

void CaptureSession::watchBus() {
    bus_ = std::make_unique<BusSignals>(gst::ObjectPtr<GstBus>(gst_element_get_bus(pipeline_.get())).get());
    connect(bus_.get(), &BusSignals::errorOccurred, this, [this](const QString& text) { fail(text); });
    connect(bus_.get(), &BusSignals::warningOccurred, this, &CaptureSession::trouble);
    connect(bus_.get(), &BusSignals::endOfStream, this,
            [this] { fail(QStringLiteral("the camera stopped sending pictures")); });
}

void CaptureSession::findColourBalance() {
    if (GST_IS_COLOR_BALANCE(source_))
        balance_ = gst::share(source_);
    else if (GST_IS_BIN(source_))
        balance_.reset(gst_bin_get_by_interface(GST_BIN(source_), GST_TYPE_COLOR_BALANCE));
}

CaptureSession::~CaptureSession() {
    if (gate_)
        gate_->open = false; // a frame still on its way is not the next camera's
    if (group_)
        group_->setDemand({});
    if (frames_)
        frames_->setActive(false);
    bus_.reset();
    balance_.reset();
    // A failed session is stopping already.
    if (pipeline_ && !failed_)
        StopPipeline(std::move(pipeline_), kStopWaitMs);
}

void CaptureSession::fail(const QString& reason) {
    if (failed_)
        return;
    failed_ = true;
    playing_ = false;
    if (gate_)
        gate_->open = false;
    frames_->setActive(false);
    // The session keeps its own reference, for what is asked of it until it is closed.
    StopPipeline(gst::share(pipeline_.get()), 0);
    Q_EMIT failed(reason);
}

void CaptureSession::setRate(int framesPerSecond) {
    g_object_set(rate_, "max-rate", framesPerSecond >= 1 ? framesPerSecond : G_MAXINT, nullptr);
}

void CaptureSession::setOverlayWindow(WId window, QSize size) {
    if (!overlaySink_)
        return;
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(overlaySink_), guintptr(window));
    resizeOverlay(size);
}

void CaptureSession::resizeOverlay(QSize size) {
    if (!overlaySink_)
        return;
    if (overlayScaleFilter_ && !size.isEmpty()) {
        gst::CapsPtr caps(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, size.width(), "height",
                                              G_TYPE_INT, size.height(), nullptr));
        g_object_set(overlayScaleFilter_, "caps", caps.get(), nullptr);
    }
    gst_video_overlay_expose(GST_VIDEO_OVERLAY(overlaySink_));
}

bool CaptureSession::play() {
    if (failed_)
        return false;
    if (playing_)
        return true;
    frames_->setActive(true);
    frames_->setCompressed(group_);
    playing_ = gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (!playing_)
        frames_->setActive(false);
    return playing_;
}

QSize CaptureSession::formatSize() const {
    const QSize seen = frames_->frameSize();
    if (!seen.isEmpty())
        return seen;
    gst::ObjectPtr<GstPad> pad(gst_element_get_static_pad(formatFilter_, "src"));
    gst::CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    if (!caps && pad) {
        gst::CapsPtr allowed(gst_pad_query_caps(pad.get(), nullptr));
        if (allowed && !gst_caps_is_empty(allowed.get()) && !gst_caps_is_any(allowed.get()))
            caps.reset(gst_caps_fixate(allowed.release()));
    }
    int width = 0;
    int height = 0;
    if (caps && !gst_caps_is_empty(caps.get()) && !gst_caps_is_any(caps.get())) {
        const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
    }
    return QSize(width, height);
}

std::vector<VideoFormat> CaptureSession::formats() const {
    gst::ObjectPtr<GstPad> pad(gst_element_get_static_pad(source_, "src"));
    if (!pad)
        return {};
    gst::CapsPtr caps(gst_pad_query_caps(pad.get(), nullptr));
    return enumerateFormats(caps.get());
}

bool CaptureSession::setFormatCaps(const QString& capsText) {
    gst::CapsPtr caps(capsText.isEmpty() ? gst_caps_new_any()
                                         : gst_caps_from_string(capsText.toUtf8().constData()));
    if (!caps)
        return false;
    g_object_set(formatFilter_, "caps", caps.get(), nullptr);
    formatCaps_ = capsText;
    return true;
}

bool CaptureSession::applyFormat(const QString& capsText) {
    if (failed_)
        return false;
    const QString previous = formatCaps_;
    // Cameras take a new size or pixel format only while stopped.
    const bool wasPlaying = playing_;
    gst_element_set_state(pipeline_.get(), GST_STATE_READY);
    frames_->setActive(false);
    playing_ = false;
    bool ok = setFormatCaps(capsText);
    if (ok) {
        gst::ObjectPtr<GstPad> pad(gst_element_get_static_pad(source_, "src"));
        gst::CapsPtr offered(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
        gst::CapsPtr wanted(gst_caps_from_string(capsText.toUtf8().constData()));
        ok = offered && wanted && gst_caps_can_intersect(offered.get(), wanted.get());
    }
    if (!ok)
        setFormatCaps(previous);
    if (wasPlaying && !play() && ok) {
        // The camera accepted the format in principle but will not run with it.
        gst_element_set_state(pipeline_.get(), GST_STATE_READY);
        setFormatCaps(previous);
        play();
        ok = false;
    }
    return ok;
}

std::vector<SourceControl> CaptureSession::controls() const {
    std::vector<SourceControl> out;
    if (!balance_)
        return out;
    GstColorBalance* balance = GST_COLOR_BALANCE(balance_.get());
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        if (channel->min_value >= channel->max_value)
            continue;
        out.push_back({gst::toQString(channel->label), channel->min_value, channel->max_value,
                       gst_color_balance_get_value(balance, channel)});
    }
    return out;
}

bool CaptureSession::setControl(const QString& name, int value) {
    if (!balance_)
        return false;
    GstColorBalance* balance = GST_COLOR_BALANCE(balance_.get());
    for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
        if (gst::toQString(channel->label) == name) {
            gst_color_balance_set_value(balance, channel,
                                        std::clamp(value, channel->min_value, channel->max_value));
            return true;
        }
    }
    return false;
}

} // namespace zantrel
