// webcam-zantrel-bench camera headless: `webcam-zantrel --headless` publishing every 10 s from a 1080p
// camera nobody watches, its CPU time over 60 s beside bare gst-launch-1.0 pipelines on the same camera
// in the same run: an H.264 RTSP camera (the test RTSP server, 25 frames a second, a key frame a second)
// against one that decodes every frame and one that only receives and depayloads (the floor), and an
// HTTP MJPEG stream (the test HTTP camera, 25 pictures a second) against one that decodes every picture.

#include "bench.h"
#include "process_cpu.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

int runCameraHeadless();

namespace {

using zantrel::bench::Child;
using zantrel::bench::processCpuSeconds;

constexpr int kSeconds = 60;
constexpr int kSettleSeconds = 8;

// The program, --headless with a 10 s schedule, on its own settings.
std::unique_ptr<Child> startProgram(const QTemporaryDir& home, const QByteArray& url) {
    QDir().mkpath(home.filePath(QStringLiteral("KALDOR")));
    QFile ini(home.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return nullptr;
    ini.write("[VFW]\nCAMERA=" + url +
              "\n[FT]\nFIRSTTIME=NO\n[PREF]\nAHANGUP=0\n[UPDATE]\nPARTI=10\nUNITI=3\n");
    ini.close();
    auto program = std::make_unique<Child>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"));
    program->process.setProcessEnvironment(env);
    program->process.setWorkingDirectory(home.path());
    program->process.start(QStringLiteral(ZANTREL_BINARY), {QStringLiteral("--headless")});
    return program->process.waitForStarted(5000) ? std::move(program) : nullptr;
}

std::unique_ptr<Child> startLaunch(const QString& description) {
    auto launch = std::make_unique<Child>();
    launch->process.start(QStringLiteral("gst-launch-1.0"),
                          QStringList{QStringLiteral("-q")} + description.split(QLatin1Char(' ')));
    return launch->process.waitForStarted(5000) ? std::move(launch) : nullptr;
}

} // namespace

int runCameraHeadless() {
    Child rtsp;
    rtsp.process.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZANTREL_SOURCE_DIR "/tests/data/rtsp_server.py"),
                        QStringLiteral("--width"), QStringLiteral("1920"), QStringLiteral("--height"),
                        QStringLiteral("1080"), QStringLiteral("--rate"), QStringLiteral("25"),
                        QStringLiteral("--pattern"), QStringLiteral("ball")});
    // The MJPEG camera sends a second of the same moving ball, encoded once.
    QTemporaryDir pictures;
    QProcess encode;
    encode.start(QStringLiteral("gst-launch-1.0"),
                 {QStringLiteral("-q"), QStringLiteral("videotestsrc"), QStringLiteral("pattern=ball"),
                  QStringLiteral("num-buffers=25"), QStringLiteral("!"),
                  QStringLiteral("video/x-raw,width=1920,height=1080"), QStringLiteral("!"),
                  QStringLiteral("jpegenc"), QStringLiteral("!"), QStringLiteral("multifilesink"),
                  QStringLiteral("location=") + pictures.filePath(QStringLiteral("%03d.jpg"))});
    encode.waitForFinished(60000);
    Child http;
    http.process.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZANTREL_SOURCE_DIR "/tests/data/http_camera.py"),
                        QStringLiteral("--frames"), pictures.filePath(QStringLiteral("*.jpg")),
                        QStringLiteral("--rate"), QStringLiteral("25")});
    const int rtspPort = zantrel::bench::firstNumber(rtsp.process);
    const int httpPort = zantrel::bench::firstNumber(http.process);
    if (rtspPort <= 0 || httpPort <= 0) {
        std::fprintf(stderr, "camera headless: a test camera did not start\n");
        return 1;
    }
    const QByteArray rtspUrl = "rtsp://127.0.0.1:" + QByteArray::number(rtspPort) + "/cam";
    const QByteArray httpUrl = "http://127.0.0.1:" + QByteArray::number(httpPort) + "/stream";
    const QString rtspSource =
        QStringLiteral("rtspsrc location=%1 protocols=tcp latency=200 ! ").arg(QString::fromLatin1(rtspUrl));

    // All five at once, on the same cameras, under the same load.
    QTemporaryDir rtspHome, httpHome;
    std::unique_ptr<Child> children[] = {
        startProgram(rtspHome, rtspUrl),
        startLaunch(rtspSource + QStringLiteral("decodebin ! fakesink sync=false")),
        startLaunch(rtspSource + QStringLiteral("rtph264depay ! fakesink sync=false")),
        startProgram(httpHome, httpUrl),
        startLaunch(QStringLiteral("souphttpsrc location=%1 is-live=true ! multipartdemux ! jpegdec ! "
                                   "fakesink sync=false")
                        .arg(QString::fromLatin1(httpUrl))),
    };
    for (const auto& child : children) {
        if (!child) {
            std::fprintf(stderr, "camera headless: a process did not start\n");
            return 1;
        }
    }
    QThread::sleep(kSettleSeconds);
    double cpu[std::size(children)];
    for (std::size_t i = 0; i < std::size(children); ++i)
        cpu[i] = processCpuSeconds(children[i]->process.processId());
    QThread::sleep(kSeconds);
    for (std::size_t i = 0; i < std::size(children); ++i) {
        if (children[i]->process.state() != QProcess::Running) {
            std::fprintf(stderr, "camera headless: process %zu ended: %s\n", i,
                         children[i]->process.readAllStandardError().constData());
            return 1;
        }
        cpu[i] = processCpuSeconds(children[i]->process.processId()) - cpu[i];
    }
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("camera headless rtsp1080 cpu=%.2f floor=%.2f (%.2f s against %.2f s decoding, %.2f s "
                "receiving, in %d s)\n",
                ratio(cpu[0], cpu[1]), ratio(cpu[0], cpu[2]), cpu[0], cpu[1], cpu[2], kSeconds);
    std::printf("camera headless mjpeg1080 cpu=%.2f (%.2f s against %.2f s decoding, in %d s)\n",
                ratio(cpu[3], cpu[4]), cpu[3], cpu[4], kSeconds);
    return 0;
}
