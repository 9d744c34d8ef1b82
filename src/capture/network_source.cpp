#include "capture/network_source.h"

#include "capture/compressed_group.h"
#include "capture/multipart_parts.h"
#include "core/curl_global.h"
#include "imaging/picture_bound.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <curl/curl.h>
#include <gst/app/gstappsrc.h>
#include <mutex>
#include <thread>
#include <turbojpeg.h>

namespace zantrel {

namespace {

// Between two tries of a camera that failed.
constexpr int kRetryMs = 2000;
// A snapshot camera is never asked more often than this.
constexpr int kMinIntervalMs = 40;
// The largest picture a camera may send, in bytes.
constexpr qsizetype kMaxPictureBytes = MultipartParts::kMaxPartBytes;
// What rtspsrc buffers: enough for reordering over TCP, small enough for a live picture.
constexpr guint kRtspLatencyMs = 200;
constexpr int kRtspUdpRetryPauseMs = 1000;
constexpr guint kRtspLowerTransUdp = 1; // GST_RTSP_LOWER_TRANS_UDP
constexpr guint kRtspLowerTransTcp = 4; // GST_RTSP_LOWER_TRANS_TCP

const char* factoryName(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory ? GST_OBJECT_NAME(factory) : "";
}

// Elements plugged in by decodebin: decoders skip frames nothing refers to and never give up on a
// broken picture (the next one is decoded again).
void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
    const char* factory = factoryName(element);
    if (g_str_has_prefix(factory, "avdec_"))
        gst_util_set_object_arg(G_OBJECT(element), "skip-frame", "1");
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-errors"))
        g_object_set(element, "max-errors", -1, nullptr);
}

// Links a pad that appears on an element to target's sink pad, unless linked already or the pad is a
// camera's sound.
void linkNewPad(GstElement*, GstPad* pad, gpointer target) {
    gst::CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    const GstStructure* s =
        caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    const gchar* media = s ? gst_structure_get_string(s, "media") : nullptr;
    if (media && g_strcmp0(media, "video") != 0)
        return;
    gst::ObjectPtr<GstPad> sink(gst_element_get_static_pad(GST_ELEMENT(target), "sink"));
    if (sink && !gst_pad_is_linked(sink.get()))
        gst_pad_link(pad, sink.get());
}

// Pictures of a camera without a frame rate (an MJPEG stream) come without a duration, which the rate
// limit after the camera cannot do without: each lasts until the next, guessed from the one before.
GstPadProbeReturn giveDuration(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* previous = static_cast<GstClockTime*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_BUFFER_DURATION_IS_VALID(buffer)) {
        constexpr GstClockTime kGuess = GST_SECOND / 10;
        const GstClockTime lasted =
            GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(*previous) && pts > *previous
                ? pts - *previous
                : kGuess;
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_DURATION(buffer) = lasted;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    *previous = pts;
    return GST_PAD_PROBE_OK;
}

// What an RTSP camera's failure means, in plain words.
QString rtspFailure(const GError* error, bool overUdp, bool withLogin) {
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return withLogin ? QStringLiteral("the camera refuses the login")
                             : QStringLiteral("the camera asks for a login and password");
        case GST_RESOURCE_ERROR_NOT_FOUND:
            return QStringLiteral("the camera has no stream at this address");
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            return QStringLiteral("the camera cannot be reached");
        case GST_RESOURCE_ERROR_READ:
        case GST_RESOURCE_ERROR_WRITE:
            return overUdp ? QStringLiteral(
                                 "no pictures arrive from the camera over UDP (a firewall may block them)")
                           : QStringLiteral("the connection to the camera was lost");
        default:
            break;
        }
    }
    if (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND)
        return QStringLiteral("the camera sends its pictures neither over TCP nor over UDP");
    return QStringLiteral("the camera's stream cannot be read");
}

// A bin that tells an RTSP camera's failures in plain words, and tries UDP when the camera refuses to
// send its pictures over the RTSP connection itself (TCP), as some do.
struct ZantrelCameraBin {
    GstBin bin;
    GstElement* rtsp; // the bin's child, null for other sources; under the object lock
    gboolean withLogin;
};
struct ZantrelCameraBinClass {
    GstBinClass parent;
};

GType zantrel_camera_bin_get_type();
G_DEFINE_TYPE(ZantrelCameraBin, zantrel_camera_bin, GST_TYPE_BIN)

void zantrel_camera_bin_init(ZantrelCameraBin*) {}

// Replaces the camera's source that failed over TCP by a new one that asks for UDP (the old one,
// restarted, can take its failed attempt's last command for the new one's and hang).
void retryOverUdp(GstElement* bin, GstElement* old) {
    gst_element_set_state(old, GST_STATE_NULL);
    // A camera may still be tearing down the refused session: asked again at once, some answer 503.
    std::this_thread::sleep_for(std::chrono::milliseconds(kRtspUdpRetryPauseMs));
    gst::ElementPtr source = gst::makeElement("rtspsrc", "camera");
    gst::ObjectPtr<GstElement> decode(gst_bin_get_by_name(GST_BIN(bin), "decode"));
    if (!source || !decode)
        return;
    for (const char* name : {"location", "latency", "drop-on-latency", "user-id", "user-pw"}) {
        GValue value = G_VALUE_INIT;
        g_object_get_property(G_OBJECT(old), name, &value);
        g_object_set_property(G_OBJECT(source.get()), name, &value);
        g_value_unset(&value);
    }
    g_object_set(source.get(), "protocols", kRtspLowerTransUdp, nullptr);
    g_signal_connect(source.get(), "pad-added", G_CALLBACK(&linkNewPad), decode.get());
    GstElement* added = source.get();
    gst_bin_remove(GST_BIN(bin), old);
    GST_OBJECT_LOCK(bin);
    reinterpret_cast<ZantrelCameraBin*>(bin)->rtsp = added;
    GST_OBJECT_UNLOCK(bin);
    gst_bin_add(GST_BIN(bin), added); // a reference of its own: ours goes with source
    gst_element_sync_state_with_parent(added);
}

void cameraBinHandleMessage(GstBin* bin, GstMessage* message) {
    auto* self = reinterpret_cast<ZantrelCameraBin*>(bin);
    GST_OBJECT_LOCK(bin);
    gst::ObjectPtr<GstElement> rtsp(self->rtsp ? GST_ELEMENT(gst_object_ref(self->rtsp)) : nullptr);
    GST_OBJECT_UNLOCK(bin);
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || !rtsp ||
        !gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(rtsp.get()))) {
        GST_BIN_CLASS(zantrel_camera_bin_parent_class)->handle_message(bin, message);
        return;
    }
    GError* raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    const gst::ErrorPtr error(raw);
    guint protocols = 0;
    g_object_get(rtsp.get(), "protocols", &protocols, nullptr);
    if (protocols == kRtspLowerTransTcp && error->domain == GST_STREAM_ERROR &&
        error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND) {
        // The camera refused every stream over TCP: the same camera again over UDP. Not from this
        // thread, which is the source's own.
        gst_message_unref(message);
        std::thread([bin = gst::share(GST_ELEMENT(bin)), old = std::move(rtsp)] {
            retryOverUdp(bin.get(), old.get());
        }).detach();
        return;
    }
    const QByteArray text =
        rtspFailure(error.get(), protocols == kRtspLowerTransUdp, self->withLogin).toUtf8();
    GError* plain = g_error_new_literal(error->domain, error->code, text.constData());
    GstMessage* told = gst_message_new_error(GST_MESSAGE_SRC(message), plain, nullptr);
    g_error_free(plain);
    gst_message_unref(message);
    GST_BIN_CLASS(zantrel_camera_bin_parent_class)->handle_message(bin, told);
}

void zantrel_camera_bin_class_init(ZantrelCameraBinClass* klass) {
    GST_BIN_CLASS(klass)->handle_message = &cameraBinHandleMessage;
}

// source [! parsebin] ! decodebin ! queue, the queue's output the bin's; null when a plugin is missing. The
// compressed frames on their way to the decoder are kept in a group attached to the bin, and decoded only
// while someone watches (a grab decodes the group). An RTP stream is parsed into whole frames first.
gst::ElementPtr decodingBin(const char* sourceFactory, GstElement** source, bool parse) {
    gst::ElementPtr bin = gst::adopt(GST_ELEMENT(g_object_new(zantrel_camera_bin_get_type(), nullptr)));
    gst::ElementPtr camera = gst::makeElement(sourceFactory, "camera");
    // The source's output goes to the element named "decode" (a source made again links there too).
    gst::ElementPtr parser = parse ? gst::makeElement("parsebin", "decode") : gst::ElementPtr();
    gst::ElementPtr decode = gst::makeElement("decodebin", parse ? "decoder" : "decode");
    gst::ElementPtr decoded = gst::makeElement("queue", "decoded");
    if (!bin || !camera || (parse && !parser) || !decode || !decoded)
        return {};
    // A decoder slower than the camera drops pictures rather than falling behind.
    g_object_set(decoded.get(), "leaky", 2 /* downstream */, "max-size-buffers", 2u, "max-size-bytes", 0u,
                 "max-size-time", guint64(0), nullptr);
    g_signal_connect(decode.get(), "deep-element-added", G_CALLBACK(&onElementAdded), nullptr);
    g_signal_connect(decode.get(), "pad-added", G_CALLBACK(&linkNewPad), decoded.get());
    DecodeParsedFrames(decode.get());
    gst::ObjectPtr<GstPad> compressed(gst_element_get_static_pad(decode.get(), "sink"));
    auto group = std::make_shared<CompressedGroup>();
    KeepCompressedFrames(compressed.get(), group);
    AttachCompressedGroup(bin.get(), std::move(group));
    gst_bin_add_many(GST_BIN(bin.get()), camera.get(), decode.get(), decoded.get(), nullptr);
    GstElement* first = decode.get();
    if (parser) {
        first = parser.get();
        gst_bin_add(GST_BIN(bin.get()), parser.get());
        g_signal_connect(parser.get(), "pad-added", G_CALLBACK(&linkNewPad), decode.get());
    }
    *source = camera.get();
    if (!gst_element_link(camera.get(), first))
        g_signal_connect(camera.get(), "pad-added", G_CALLBACK(&linkNewPad), first);
    gst::ObjectPtr<GstPad> out(gst_element_get_static_pad(decoded.get(), "src"));
    gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, &giveDuration,
                      new GstClockTime(GST_CLOCK_TIME_NONE),
                      [](gpointer data) { delete static_cast<GstClockTime*>(data); });
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", out.get()));
    camera.reset(), parser.reset(), decode.reset(), decoded.reset(); // the bin holds them
    return bin;
}

} // namespace

class HttpFeed {
  public:
    HttpFeed(CameraAddress address, GstElement* appsrc, int intervalMs)
        : address_(std::move(address)), appsrc_(gst::share(appsrc)),
          intervalMs_(std::max(intervalMs, kMinIntervalMs)) {
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = [](GstAppSrc*, guint, gpointer self) { static_cast<HttpFeed*>(self)->start(); };
        gst_app_src_set_callbacks(GST_APP_SRC(appsrc_.get()), &callbacks, this, nullptr);
    }
    ~HttpFeed() {
        GstAppSrcCallbacks none{};
        gst_app_src_set_callbacks(GST_APP_SRC(appsrc_.get()), &none, nullptr, nullptr);
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    HttpFeed(const HttpFeed&) = delete;
    HttpFeed& operator=(const HttpFeed&) = delete;

    void setDemand(bool watched, int idleIntervalMs) {
        {
            std::lock_guard lock(mutex_);
            if (watched == watched_ && idleIntervalMs == idleIntervalMs_)
                return;
            watched_ = watched;
            idleIntervalMs_ = idleIntervalMs;
        }
        wake_.notify_all();
    }

    QImage fetchNow(int timeoutMs) {
        std::unique_lock lock(mutex_);
        if (!snapshot_ || stop_)
            return {};
        const std::uint64_t wanted = ++requested_;
        wake_.notify_all();
        done_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return stop_ || fetchedFor_ >= wanted; });
        return fetchedFor_ >= wanted ? fetched_ : QImage();
    }

  private:
    // Sniffed: a generic type, decided by the body's first bytes.
    enum class Answer { Unknown, Sniffed, Stream, Picture, Refused };

    void start() {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() && !stop_)
            thread_ = std::thread([this] { run(); });
    }

    bool stopping() {
        std::lock_guard lock(mutex_);
        return stop_;
    }

    // Posted at every failed try; whoever shows it tells each reason once.
    void warn(const QString& reason) {
        GError* error =
            g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, reason.toUtf8().constData());
        gst_element_post_message(appsrc_.get(),
                                 gst_message_new_warning(GST_OBJECT(appsrc_.get()), error, nullptr));
        g_error_free(error);
    }

    static size_t onData(char* data, size_t size, size_t count, void* self) {
        return static_cast<HttpFeed*>(self)->take(data, size * count);
    }
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<HttpFeed*>(self)->stopping() ? 1 : 0;
    }

    // The first bytes of an answer decide what it is.
    size_t take(const char* data, size_t size) {
        if (answer_ == Answer::Unknown)
            answer_ = classify();
        const size_t given = size;
        if (answer_ == Answer::Sniffed && !sniff(data, size))
            return answer_ == Answer::Refused ? 0 : given;
        switch (answer_) {
        case Answer::Stream:
            return takeStream(data, size) ? given : 0;
        case Answer::Picture:
            if (body_.size() + qsizetype(size) > kMaxPictureBytes) {
                refusal_ = QStringLiteral("the camera sent a picture larger than the 32 MB limit");
                return 0;
            }
            body_.append(data, qsizetype(size));
            return given;
        default:
            return 0;
        }
    }

    // An answer of a generic type: a multipart body is a stream, a JPEG a picture. False while
    // undecided (the bytes are kept) or refused.
    bool sniff(const char*& data, size_t& size) {
        sniffed_.append(data, qsizetype(size));
        bool undecided = false;
        if (MultipartParts::looksLikeMultipart(sniffed_, &undecided))
            answer_ = Answer::Stream;
        else if (sniffed_.startsWith("\xFF\xD8\xFF"))
            answer_ = Answer::Picture;
        else if (undecided && !sniffed_.startsWith("\xFF"))
            return false;
        else if (sniffed_.size() < 3)
            return false;
        else {
            refusal_ = QStringLiteral("the camera answers %1, not pictures").arg(QString::fromLatin1(type_));
            answer_ = Answer::Refused;
            return false;
        }
        // What was kept goes on as the answer's first bytes.
        data = sniffed_.constData();
        size = size_t(sniffed_.size());
        return true;
    }

    // An MJPEG stream: its JPEG parts, each within the bounds, go to the pipeline one by one.
    bool takeStream(const char* data, size_t size) {
        std::vector<QByteArray> parts;
        const bool readable = parts_.take(data, size, parts, &refusal_);
        for (const QByteArray& part : parts) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(part.constData());
            const std::optional<PictureSize> claimed = JpegHeaderSize(bytes, std::size_t(part.size()));
            if (!claimed) {
                warnOnce(QStringLiteral("the camera sent a damaged picture"));
                continue;
            }
            if (claimed->pixels() > maxPixels_) {
                refusal_ = PictureBoundRefusal(*claimed, QStringLiteral("the camera sent"));
                return false;
            }
            if (const QSize pictureSize(claimed->width, claimed->height); pictureSize != streamSize_) {
                // The size in the caps tells the camera delivers while its pictures are not decoded.
                gst::CapsPtr caps(gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, claimed->width,
                                                      "height", G_TYPE_INT, claimed->height, nullptr));
                gst_app_src_set_caps(GST_APP_SRC(appsrc_.get()), caps.get());
                streamSize_ = pictureSize;
                pushedSize_ = QSize();
            }
            gst_app_src_push_buffer(GST_APP_SRC(appsrc_.get()),
                                    gst_buffer_new_memdup(bytes, gsize(part.size())));
            delivered_ = true;
        }
        return readable;
    }

    void warnOnce(const QString& reason) {
        if (reason == lastWarning_)
            return;
        lastWarning_ = reason;
        warn(reason);
    }

    Answer classify() {
        long code = 0;
        curl_easy_getinfo(curl_.get(), CURLINFO_RESPONSE_CODE, &code);
        if (code == 401 || code == 407) {
            refusal_ = address_.login.isEmpty() && address_.password.isEmpty()
                           ? QStringLiteral("the camera asks for a login and password")
                           : QStringLiteral("the camera refuses the login");
            return Answer::Refused;
        }
        if (code >= 400) {
            refusal_ = QStringLiteral("the camera answers HTTP %1").arg(code);
            return Answer::Refused;
        }
        const char* raw = nullptr;
        curl_easy_getinfo(curl_.get(), CURLINFO_CONTENT_TYPE, &raw);
        const QByteArray type = QByteArray(raw ? raw : "").trimmed().toLower();
        type_ = type.isEmpty() ? QByteArray("no content type") : type.left(40);
        curl_off_t length = -1;
        curl_easy_getinfo(curl_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (type.startsWith("multipart/x-mixed-replace"))
            return Answer::Stream;
        if (length > kMaxPictureBytes) {
            refusal_ = QStringLiteral("the camera sent a picture larger than the 32 MB limit");
            return Answer::Refused;
        }
        if (type.startsWith("image/jpeg") || type.startsWith("image/jpg"))
            return Answer::Picture;
        // Some cameras (and ffmpeg's server) call everything they send a stream of bytes.
        if (type == "no content type" || type.startsWith("application/octet-stream") ||
            type.startsWith("binary/octet-stream"))
            return Answer::Sniffed;
        refusal_ = QStringLiteral("the camera answers %1, not pictures").arg(QString::fromLatin1(type_));
        return Answer::Refused;
    }

    bool prepare() {
        curl_ = NewCurlHandle();
        CURL* h = curl_.get();
        if (!h)
            return false;
        curl_easy_setopt(h, CURLOPT_URL, address_.location.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
        if (!address_.login.isEmpty() || !address_.password.isEmpty()) {
            curl_easy_setopt(h, CURLOPT_USERNAME, address_.login.toUtf8().constData());
            curl_easy_setopt(h, CURLOPT_PASSWORD, address_.password.toUtf8().constData());
            curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
        }
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
        // A camera that stops sending for this long is asked again.
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 10L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpFeed::onData);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &HttpFeed::onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText_);
        return true;
    }

    // One request; the reason it gave no picture, empty when it gave one (or a stream that ran).
    QString fetch(QImage* picture) {
        answer_ = Answer::Unknown;
        body_.clear();
        sniffed_.clear();
        parts_ = MultipartParts();
        lastWarning_.clear();
        refusal_.clear();
        delivered_ = false;
        errorText_[0] = '\0';
        const CURLcode rc = curl_easy_perform(curl_.get());
        if (answer_ == Answer::Unknown && rc == CURLE_OK)
            answer_ = classify(); // an answer without a body
        if (answer_ == Answer::Sniffed && rc == CURLE_OK && refusal_.isEmpty())
            refusal_ =
                sniffed_.isEmpty()
                    ? QStringLiteral("the camera sent an empty picture")
                    : QStringLiteral("the camera answers %1, not pictures").arg(QString::fromLatin1(type_));
        if (!refusal_.isEmpty())
            return refusal_;
        if (rc != CURLE_OK && answer_ != Answer::Stream)
            return QStringLiteral("the camera cannot be reached: %1")
                .arg(QString::fromUtf8(errorText_[0] ? errorText_ : curl_easy_strerror(rc)));
        if (answer_ == Answer::Stream)
            return delivered_ ? QStringLiteral("the camera's stream ended")
                              : QStringLiteral("the camera sent nothing");
        return decode(picture);
    }

    QString decode(QImage* picture) {
        if (body_.isEmpty())
            return QStringLiteral("the camera sent an empty picture");
        // A complete JPEG ends in its end-of-image marker; decoders fill a cut-off one with grey.
        if (!body_.endsWith("\xFF\xD9"))
            return QStringLiteral("the camera sent an incomplete picture");
        const auto* data = reinterpret_cast<const unsigned char*>(body_.constData());
        // The size the picture claims decides whether it is decoded at all.
        const std::optional<PictureSize> claimed = JpegHeaderSize(data, std::size_t(body_.size()));
        if (!claimed)
            return QStringLiteral("the camera sent a picture that is not a JPEG");
        if (claimed->pixels() > maxPixels_)
            return PictureBoundRefusal(*claimed, QStringLiteral("the camera sent"));
        std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), &tjDestroy);
        const int width = claimed->width, height = claimed->height;
        QImage image(width, height, QImage::Format_RGB32);
        if (!decoder || image.isNull() ||
            tjDecompress2(decoder.get(), data, static_cast<unsigned long>(body_.size()), image.bits(), width,
                          int(image.bytesPerLine()), height, TJPF_BGRX, TJFLAG_FASTDCT) != 0)
            return QStringLiteral("the camera sent a damaged picture");
        *picture = std::move(image);
        return {};
    }

    void push(const QImage& picture) {
        if (picture.size() != pushedSize_) {
            // A camera may change its size at any time: the pipeline follows.
            gst::CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                                  G_TYPE_INT, picture.width(), "height", G_TYPE_INT,
                                                  picture.height(), "framerate", GST_TYPE_FRACTION, 1000,
                                                  intervalMs_, nullptr));
            gst_app_src_set_caps(GST_APP_SRC(appsrc_.get()), caps.get());
            pushedSize_ = picture.size();
            streamSize_ = QSize();
        }
        const auto bytes = gsize(picture.sizeInBytes());
        GstBuffer* buffer = gst_buffer_new_memdup(picture.constBits(), bytes);
        GST_BUFFER_DURATION(buffer) = GstClockTime(intervalMs_) * GST_MSECOND;
        gst_app_src_push_buffer(GST_APP_SRC(appsrc_.get()), buffer);
    }

    void run() {
        if (!prepare()) {
            warn(QStringLiteral("libcurl cannot start"));
            return;
        }
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const std::uint64_t startedFor = requested_;
            lock.unlock();
            QImage picture;
            const QString reason = fetch(&picture);
            if (!reason.isEmpty())
                warn(reason);
            else if (!picture.isNull())
                push(picture);
            lock.lock();
            snapshot_ = snapshot_ || answer_ == Answer::Picture;
            if (snapshot_) {
                fetchedFor_ = startedFor;
                fetched_ = picture;
                done_.notify_all();
            }
            // A snapshot camera nobody watches is asked only often enough to tell that it still answers.
            const int pictureMs = watched_ ? intervalMs_ : std::max(intervalMs_, idleIntervalMs_);
            const int pauseMs = reason.isEmpty() && answer_ == Answer::Picture ? pictureMs : kRetryMs;
            const bool watchedBefore = watched_;
            wake_.wait_for(lock, std::chrono::milliseconds(pauseMs),
                           [&] { return stop_ || requested_ > startedFor || (watched_ && !watchedBefore); });
        }
    }

    const CameraAddress address_;
    const gst::ObjectPtr<GstElement> appsrc_;
    const int intervalMs_;
    const std::int64_t maxPixels_ = MaxPicturePixels();
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable wake_; // to the feeding thread
    std::condition_variable done_; // to those waiting for a picture
    bool stop_ = false;
    bool snapshot_ = false;
    bool watched_ = false;
    int idleIntervalMs_ = 3000;
    std::uint64_t requested_ = 0;  // fresh pictures asked for
    std::uint64_t fetchedFor_ = 0; // the requests answered by the last fetch
    QImage fetched_;

    // The feeding thread's own.
    CurlHandle curl_;
    Answer answer_ = Answer::Unknown;
    QByteArray body_;    // a picture
    QByteArray type_;    // the answer's type, as it may be shown
    QByteArray sniffed_; // the first bytes of an answer of a generic type
    MultipartParts parts_;
    QString refusal_;
    QString lastWarning_;
    bool delivered_ = false;
    QSize pushedSize_; // of the pictures decoded here (a snapshot camera's)
    QSize streamSize_; // of the JPEG pictures of a stream
    char errorText_[CURL_ERROR_SIZE] = {};
};

QImage FetchFreshPicture(HttpFeed& feed, int timeoutMs) {
    return feed.fetchNow(timeoutMs);
}

void SetFeedDemand(HttpFeed& feed, bool watched, int idleIntervalMs) {
    feed.setDemand(watched, idleIntervalMs);
}

NetworkSource CreateNetworkSource(const NetworkCamera& camera, int intervalMs, QString* error) {
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return NetworkSource{};
    };
    const CameraAddress address = ParseCameraAddress(camera);
    if (!address.error.isEmpty())
        return fail(address.error);
    GstElement* source = nullptr;
    NetworkSource out;
    if (address.kind == CameraAddress::Kind::Rtsp) {
        out.element = decodingBin("rtspsrc", &source, true);
        if (!out.element)
            return fail(QStringLiteral("GStreamer's RTSP or decoder plugins are missing"));
        // Over the RTSP connection first (TCP), through firewalls and without losses; over UDP when the
        // camera refuses that.
        g_object_set(source, "location", address.location.toUtf8().constData(), "protocols",
                     kRtspLowerTransTcp, "latency", kRtspLatencyMs, "drop-on-latency", TRUE, nullptr);
        auto* bin = reinterpret_cast<ZantrelCameraBin*>(out.element.get());
        bin->rtsp = source;
        bin->withLogin = !address.login.isEmpty() || !address.password.isEmpty();
        if (!address.login.isEmpty() || !address.password.isEmpty())
            g_object_set(source, "user-id", address.login.toUtf8().constData(), "user-pw",
                         address.password.toUtf8().constData(), nullptr);
        return out;
    }
    out.element = decodingBin("appsrc", &source, false);
    if (!out.element)
        return fail(QStringLiteral("GStreamer's app or decoder plugins are missing"));
    g_object_set(source, "is-live", TRUE, "do-timestamp", TRUE, "format", GST_FORMAT_TIME, "max-bytes",
                 guint64(64 * 1024 * 1024), nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "leaky-type", "downstream");
    out.feed = std::make_shared<HttpFeed>(address, source, intervalMs);
    // The pipeline keeps the feed for as long as it lives.
    g_object_set_data_full(G_OBJECT(out.element.get()), "zantrel-feed",
                           new std::shared_ptr<HttpFeed>(out.feed),
                           [](gpointer data) { delete static_cast<std::shared_ptr<HttpFeed>*>(data); });
    return out;
}

} // namespace zantrel
