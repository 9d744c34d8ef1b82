#include "timelapse/timelapse_encoder.h"

#include "capture/gst_handle.h"
#include "core/file_replace.h"
#include "imaging/picture_bound.h"
#include "imaging/picture_file.h"
#include "publish/archive_retention.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gst/app/gstappsrc.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <turbojpeg.h>
#include <utility>
#include <vector>

namespace zantrel {

namespace {

// Frames waiting between the decoder and the encoder: enough to keep the encoder busy, few enough that
// memory stays small at any picture size.
constexpr int kQueuedFrames = 3;
constexpr GstClockTime kBusPoll = 100 * GST_MSECOND;

struct TjRelease {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjRelease>;

// Runs the calling thread at idle priority until the end of its scope: it gets the processor only
// when no other thread of the machine wants it.
class IdlePriority {
  public:
    IdlePriority() : saved_(pthread_getschedparam(pthread_self(), &policy_, &param_) == 0) { setIdle(); }
    ~IdlePriority() {
        if (saved_)
            pthread_setschedparam(pthread_self(), policy_, &param_);
    }
    IdlePriority(const IdlePriority&) = delete;
    IdlePriority& operator=(const IdlePriority&) = delete;

    static void setIdle() {
        const sched_param idle{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    }
    static void setNormal() {
        const sched_param normal{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    }

  private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
    bool saved_;
};

// The pipeline's streaming threads come from GStreamer's shared pool: each runs at idle priority while
// it works for this pipeline and goes back to normal when it leaves. The encoder's own threads, started
// from a streaming thread, inherit its priority.
GstBusSyncReply onSyncMessage(GstBus*, GstMessage* message, gpointer) {
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS)
        return GST_BUS_PASS;
    GstStreamStatusType type{};
    GstElement* owner = nullptr;
    gst_message_parse_stream_status(message, &type, &owner);
    if (type == GST_STREAM_STATUS_TYPE_ENTER)
        IdlePriority::setIdle();
    else if (type == GST_STREAM_STATUS_TYPE_LEAVE)
        IdlePriority::setNormal();
    gst_message_unref(message);
    return GST_BUS_DROP;
}

struct PipelineStop {
    void operator()(GstElement* pipeline) const {
        if (!pipeline)
            return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using PipelinePtr = std::unique_ptr<GstElement, PipelineStop>;

bool hasElement(const char* factory) {
    gst::ObjectPtr<GstElementFactory> found(gst_element_factory_find(factory));
    return bool(found);
}

QString errorText(GstMessage* message) {
    GError* raw = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &raw, &debug);
    gst::ErrorPtr error(raw);
    gst::CharPtr details(debug);
    return error ? gst::toQString(error->message) : QStringLiteral("unknown error");
}

struct BufferUnref {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};

// Decodes one picture into a frame; nullptr with `problem` set when it is skipped.
std::unique_ptr<GstBuffer, BufferUnref> decodePicture(tjhandle decoder, const QString& path, QSize& size,
                                                      QString& problem) {
    const PictureFileBytes file = ReadOwnPictureFile(path);
    if (!file.ok()) {
        problem = file.problem;
        return nullptr;
    }
    const QByteArray& jpeg = file.bytes;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto length = static_cast<unsigned long>(jpeg.size());
    const QString name = QFileInfo(path).fileName();
    problem = QStringLiteral("%1 cannot be decoded").arg(name);
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (jpeg.isEmpty() ||
        tjDecompressHeader3(decoder, data, length, &width, &height, &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0)
        return nullptr;
    // The header is read before anything is allocated: a few bytes can claim gigabytes.
    if (const QString refusal = PictureBoundRefusal({width, height}, name + QStringLiteral(" holds"));
        !refusal.isEmpty()) {
        problem = refusal;
        return nullptr;
    }
    const gsize bytes = gsize(width) * gsize(height) * 4;
    std::unique_ptr<GstBuffer, BufferUnref> buffer(gst_buffer_new_allocate(nullptr, bytes, nullptr));
    if (!buffer)
        return nullptr;
    GstMapInfo map;
    if (!gst_buffer_map(buffer.get(), &map, GST_MAP_WRITE))
        return nullptr;
    // A warning (a truncated or damaged file) fails the call too: half a picture is not shown. A
    // progressive file of endless scans is refused rather than decoded for minutes.
    const int rc = tjDecompress2(decoder, data, length, map.data, width, width * 4, height, TJPF_BGRX,
                                 TJFLAG_LIMITSCANS);
    gst_buffer_unmap(buffer.get(), &map);
    if (rc != 0)
        return nullptr;
    size = QSize(width, height);
    problem.clear();
    return buffer;
}

gst::CapsPtr rawCaps(QSize size, int fps) {
    return gst::CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                            G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(),
                                            "framerate", GST_TYPE_FRACTION, fps, 1, "pixel-aspect-ratio",
                                            GST_TYPE_FRACTION, 1, 1, nullptr));
}

// A temporary file next to target, removed again unless kept.
std::unique_ptr<QTemporaryFile> temporaryBeside(const QString& target, const char* suffix) {
    const QFileInfo info(target);
    auto file =
        std::make_unique<QTemporaryFile>(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                         QStringLiteral(".XXXXXX") + QLatin1String(suffix));
    if (!file->open())
        return nullptr;
    file->close();
    return file;
}

class Encoder {
  public:
    Encoder(const TimelapseRequest& request, const std::function<bool()>& cancelled)
        : request_(request), cancelled_(cancelled) {}

    // Builds and starts the pipeline for frames of this size; false with result.error set on failure.
    bool start(QSize pictureSize, TimelapseResult& result);
    // Hands one frame to the encoder; blocks while the queue is full.
    bool push(std::unique_ptr<GstBuffer, BufferUnref> buffer, QSize size, TimelapseResult& result);
    // Ends the stream and waits for the file to be complete.
    bool finish(TimelapseResult& result);
    bool keep(TimelapseResult& result);

  private:
    bool isCancelled() const { return cancelled_ && cancelled_(); }
    QString pendingError();

    const TimelapseRequest& request_;
    const std::function<bool()>& cancelled_;
    // Declared before the pipeline: removed after the pipeline has closed them.
    std::unique_ptr<QTemporaryFile> video_;
    std::unique_ptr<QTemporaryFile> mediaData_;
    PipelinePtr pipeline_;
    gst::ObjectPtr<GstBus> bus_;
    gst::ObjectPtr<GstElement> source_;
    QSize sourceSize_;
    guint64 pushed_ = 0;
};

bool Encoder::start(QSize pictureSize, TimelapseResult& result) {
    const QString encoder = TimelapseEncoderLaunch();
    if (encoder.isEmpty()) {
        result.error = QStringLiteral("No H.264 encoder is installed (x264enc or openh264enc)");
        return false;
    }
    video_ = temporaryBeside(request_.output, ".part");
    mediaData_ = temporaryBeside(request_.output, ".data");
    if (!video_ || !mediaData_) {
        result.error = QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(request_.output));
        return false;
    }
    result.size = TimelapseFrameSize(pictureSize, request_.maxWidth);
    const QString launch =
        QStringLiteral("appsrc name=frames format=time block=true ! videoscale ! videoconvert ! "
                       "video/x-raw,format=I420,width=%1,height=%2,pixel-aspect-ratio=1/1 ! %3 ! "
                       "filesink name=file")
            .arg(result.size.width())
            .arg(result.size.height())
            .arg(encoder);
    GError* raw = nullptr;
    pipeline_.reset(gst_parse_launch(launch.toUtf8().constData(), &raw));
    gst::ErrorPtr error(raw);
    if (!pipeline_ || error) {
        result.error = error ? gst::toQString(error->message) : QStringLiteral("cannot build the encoder");
        return false;
    }
    if (g_object_is_floating(pipeline_.get()))
        gst_object_ref_sink(pipeline_.get());
    bus_.reset(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus_.get(), &onSyncMessage, nullptr, nullptr);

    source_.reset(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "frames"));
    gst::ObjectPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "file"));
    gst::ObjectPtr<GstElement> mux(gst_bin_get_by_name(GST_BIN(pipeline_.get()), "mux"));
    g_object_set(sink.get(), "location", QFile::encodeName(video_->fileName()).constData(), nullptr);
    if (mux)
        g_object_set(mux.get(), "faststart-file", QFile::encodeName(mediaData_->fileName()).constData(),
                     nullptr);
    sourceSize_ = pictureSize;
    const auto caps = rawCaps(pictureSize, request_.fps);
    gst_app_src_set_caps(GST_APP_SRC(source_.get()), caps.get());
    gst_app_src_set_max_bytes(GST_APP_SRC(source_.get()), guint64(pictureSize.width()) *
                                                              guint64(pictureSize.height()) * 4 *
                                                              kQueuedFrames);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        result.error = pendingError();
        return false;
    }
    return true;
}

QString Encoder::pendingError() {
    gst::MessagePtr message(gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR));
    if (!message)
        return QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(request_.output));
    return errorText(message.get());
}

bool Encoder::push(std::unique_ptr<GstBuffer, BufferUnref> buffer, QSize size, TimelapseResult& result) {
    if (size != sourceSize_) {
        // The scaler follows the new size; the video's stays.
        sourceSize_ = size;
        const auto caps = rawCaps(size, request_.fps);
        gst_app_src_set_caps(GST_APP_SRC(source_.get()), caps.get());
    }
    const guint64 pts = gst_util_uint64_scale(pushed_, GST_SECOND, guint64(request_.fps));
    const guint64 next = gst_util_uint64_scale(pushed_ + 1, GST_SECOND, guint64(request_.fps));
    GST_BUFFER_PTS(buffer.get()) = pts;
    GST_BUFFER_DTS(buffer.get()) = pts;
    GST_BUFFER_DURATION(buffer.get()) = next - pts;
    if (gst_app_src_push_buffer(GST_APP_SRC(source_.get()), buffer.release()) != GST_FLOW_OK) {
        result.error = pendingError();
        return false;
    }
    ++pushed_;
    // An error downstream shows on the bus before the queue notices it.
    if (gst::MessagePtr message{gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR)}) {
        result.error = errorText(message.get());
        return false;
    }
    return true;
}

bool Encoder::finish(TimelapseResult& result) {
    gst_app_src_end_of_stream(GST_APP_SRC(source_.get()));
    for (;;) {
        if (isCancelled()) {
            result.outcome = TimelapseResult::Outcome::Cancelled;
            return false;
        }
        gst::MessagePtr message(gst_bus_timed_pop_filtered(
            bus_.get(), kBusPoll, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!message)
            continue;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS)
            return true;
        result.error = errorText(message.get());
        return false;
    }
}

bool Encoder::keep(TimelapseResult& result) {
    pipeline_.reset(); // closes the file
    QFile::setPermissions(video_->fileName(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    // rename() replaces an existing video in one step, the video on the disk before its name.
    SyncFileToDisk(video_->fileName());
    if (std::rename(QFile::encodeName(video_->fileName()).constData(),
                    QFile::encodeName(request_.output).constData()) != 0) {
        result.error = QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(request_.output));
        return false;
    }
    video_->setAutoRemove(false);
    SyncFolderOf(request_.output);
    return true;
}

} // namespace

QString TimelapseEncoderLaunch() {
    if (!gst::ensureInitialised() || !hasElement("mp4mux"))
        return {};
    QString encoder;
    if (hasElement("x264enc"))
        encoder = QStringLiteral("x264enc speed-preset=veryfast tune=zerolatency");
    else if (hasElement("openh264enc"))
        encoder = QStringLiteral("openh264enc");
    else
        return {};
    return encoder + QStringLiteral(" ! mp4mux name=mux faststart=true");
}

QSize TimelapseFrameSize(QSize picture, int maxWidth) {
    if (picture.isEmpty())
        return {};
    const int width = std::max(2, std::min(picture.width(), std::max(2, maxWidth)) & ~1);
    const int height = std::max(2, int(std::lround(double(picture.height()) * width / picture.width())) & ~1);
    return {width, height};
}

TimelapseResult EncodeTimelapse(const TimelapseRequest& request,
                                const std::function<void(const TimelapseProgress&)>& progress,
                                const std::function<bool()>& cancelled) {
    const IdlePriority idle;
    TimelapseResult result;
    TjHandle decoder(tjInitDecompress());
    if (!gst::ensureInitialised() || !decoder) {
        result.error = QStringLiteral("The video encoder cannot start");
        return result;
    }
    TimelapseRequest checked = request;
    checked.fps = std::clamp(request.fps, 1, 240);
    Encoder encoder(checked, cancelled);
    bool started = false;
    TimelapseProgress step{0, int(request.pictures.size())};
    for (const QString& path : request.pictures) {
        if (cancelled && cancelled()) {
            result.outcome = TimelapseResult::Outcome::Cancelled;
            return result;
        }
        QSize size;
        QString problem;
        auto buffer = decodePicture(decoder.get(), path, size, problem);
        if (!buffer) {
            if (!result.skipped++)
                result.firstSkipped = problem;
            // A handle that failed on a damaged file may refuse the next one: start afresh.
            decoder.reset(tjInitDecompress());
        } else {
            if (!started && !(started = encoder.start(size, result)))
                return result;
            if (!encoder.push(std::move(buffer), size, result))
                return result;
            ++result.frames;
        }
        ++step.done;
        if (progress)
            progress(step);
    }
    if (!started) {
        result.outcome = TimelapseResult::Outcome::NoPictures;
        result.error = result.skipped ? QStringLiteral("None of the %1 pictures could be read (%2)")
                                            .arg(result.skipped)
                                            .arg(result.firstSkipped)
                                      : QStringLiteral("There are no pictures to make a video of");
        return result;
    }
    if (!encoder.finish(result) || !encoder.keep(result))
        return result;
    result.outcome = TimelapseResult::Outcome::Written;
    return result;
}

QStringList ArchivePicturesOfDays(const QString& folder, const QDate& first, const QDate& last) {
    const auto dayKey = [](const QDate& d) {
        return (std::int64_t(d.year()) * 100 + d.month()) * 100 + d.day();
    };
    const std::int64_t from = dayKey(first), to = dayKey(last);
    std::vector<std::pair<std::int64_t, QString>> found;
    QDirIterator it(folder, QDir::Files);
    while (it.hasNext()) {
        it.next();
        const auto time = ArchiveNameTime(it.fileName());
        if (time && *time / 1000000 >= from && *time / 1000000 <= to)
            found.emplace_back(*time, it.filePath());
    }
    std::sort(found.begin(), found.end());
    QStringList paths;
    paths.reserve(qsizetype(found.size()));
    for (auto& [time, path] : found)
        paths << std::move(path);
    return paths;
}

} // namespace zantrel
