// webcam-zantrel-bench preview: CPU time of the program's live preview (640x480 from a live test
// source, 12 frames a second, painted into the video area, 10 s) beside that of a bare pipeline of the
// same source and rate, and the median time of a frame grab taken meanwhile from another thread.

#include "bench.h"
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "capture/video_window.h"
#include "core/sinks.h"
#include "core/store.h"

#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <gst/gst.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr int kSeconds = 10;
constexpr const char* kSource =
    "videotestsrc is-live=true pattern=ball ! video/x-raw,width=640,height=480,framerate=30/1";

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEvents(int seconds) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
}

class Quiet final : public zantrel::MessageSink {
  public:
    void showMessage(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

int runPreview() {
    QTemporaryDir dir;
    zantrel::SettingsStore::instance().open(QDir(dir.path()).filePath(QStringLiteral("KALDOR.ini")));
    zantrel::SaveSetting(zantrel::keys::PrefPreviewRate, QStringLiteral("12"));
    qputenv(zantrel::DeviceList::testCameraVariable(), kSource);

    // The program: preview into a shown video area, grabs from a worker thread every half second.
    std::vector<double> grabs;
    double ours = 0;
    {
        Quiet messages;
        zantrel::VideoWindow video;
        video.resize(320, 240);
        video.show();
        zantrel::CaptureWindow capture(messages, &video);
        const int index = capture.CountDrivers() - 1;
        if (!capture.Init_Video(index)) {
            std::fprintf(stderr, "preview: the test camera does not connect\n");
            return 1;
        }
        runEvents(1); // settle
        std::atomic<bool> stop{false};
        std::mutex grabsMutex;
        std::thread worker([&] {
            while (!stop) {
                QImage frame;
                const double ms = zantrel::bench::timeMs([&] { capture.GrabFrame(frame); });
                {
                    std::lock_guard lock(grabsMutex);
                    grabs.push_back(ms);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
        });
        const double start = cpuSeconds();
        runEvents(kSeconds);
        ours = cpuSeconds() - start;
        stop = true;
        worker.join();
        capture.DisconnectAndDestroy();
    }

    // The same source, rate and picture format with nothing but a sink behind it.
    const QByteArray bare =
        QByteArray(kSource) +
        " ! videorate drop-only=true max-rate=12 ! videoconvert ! video/x-raw,format=BGRx ! fakesink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(bare.constData(), &error);
    if (!pipeline) {
        std::fprintf(stderr, "preview: bare pipeline: %s\n", error ? error->message : "?");
        g_clear_error(&error);
        return 1;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    runEvents(1);
    const double start = cpuSeconds();
    runEvents(kSeconds);
    const double bareCpu = cpuSeconds() - start;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);

    const double toPercent = 100.0 / kSeconds;
    std::printf("preview cpu_ours=%.2f%% cpu_bare=%.2f%% ratio=%.2f grab_ms=%.3f\n", ours * toPercent,
                bareCpu * toPercent, bareCpu > 0 ? ours / bareCpu : 0.0, zantrel::bench::median(grabs));
    return 0;
}

const zantrel::bench::Register reg("preview", &runPreview);

} // namespace
