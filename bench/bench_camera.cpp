// webcam-zantrel-bench camera: the window program showing a 1080p H.264 RTSP camera (25 frames a
// second, the test RTSP server on 127.0.0.1) at the default preview rate, its CPU time over 30 s beside
// that of a bare gst-launch-1.0 pipeline that receives, decodes, limits, scales and shows the same
// camera at the same rate and size. Runs on $DISPLAY, or on an Xvfb of its own without one. An argument
// names another videotestsrc pattern than the moving ball (how much the decoding costs depends on it);
// `headless` measures the program with nobody watching instead (bench_camera_headless.cpp).

#include "bench.h"
#include "process_cpu.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

int runCameraHeadless();

namespace {

using zantrel::bench::Child;
using zantrel::bench::cpuOver;
using zantrel::bench::firstNumber;

constexpr int kSeconds = 30;
constexpr int kSettleSeconds = 8;
// The video area of the main window at its first-start size, which the preview fills.
constexpr int kViewWidth = 218;
constexpr int kViewHeight = 101;
constexpr int kPreviewRate = 12; // PREF/PFR's default

int runCamera() {
    if (!zantrel::bench::arguments().empty() && zantrel::bench::arguments().front() == "headless")
        return runCameraHeadless();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Child xvfb;
    if (!env.contains(QStringLiteral("DISPLAY"))) {
        xvfb.process.start(QStringLiteral("Xvfb"),
                           {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                            QStringLiteral("0"), QStringLiteral("1280x1024x24")});
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(firstNumber(xvfb.process)));
    }
    Child camera;
    camera.process.start(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral(ZANTREL_SOURCE_DIR "/tests/data/rtsp_server.py"),
                          QStringLiteral("--width"), QStringLiteral("1920"), QStringLiteral("--height"),
                          QStringLiteral("1080"), QStringLiteral("--rate"), QStringLiteral("25"),
                          QStringLiteral("--pattern"), QStringLiteral("ball")});
    const int port = firstNumber(camera.process);
    if (port <= 0) {
        std::fprintf(stderr, "camera: the RTSP test server did not start\n");
        return 1;
    }
    const QByteArray url = "rtsp://127.0.0.1:" + QByteArray::number(port) + "/cam";

    QTemporaryDir home;
    QDir().mkpath(home.filePath(QStringLiteral("KALDOR")));
    QFile ini(home.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[VFW]\nCAMERA=" + url + "\n[FT]\nFIRSTTIME=NO\n[PREF]\nAHANGUP=0\n");
    ini.close();
    double ours = 0;
    {
        Child program;
        QProcessEnvironment programEnv = env;
        programEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        programEnv.remove(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"));
        program.process.setProcessEnvironment(programEnv);
        program.process.setWorkingDirectory(home.path());
        program.process.start(QStringLiteral(ZANTREL_BINARY), QStringList());
        if (!program.process.waitForStarted(5000))
            return 1;
        cpuOver(program.process.processId(), kSettleSeconds);
        ours = cpuOver(program.process.processId(), kSeconds);
    }
    double bare = 0;
    {
        Child launch;
        launch.process.setProcessEnvironment(env);
        const QString caps =
            QStringLiteral("video/x-raw,width=%1,height=%2").arg(kViewWidth).arg(kViewHeight);
        launch.process.start(QStringLiteral("gst-launch-1.0"),
                             {QStringLiteral("-q"), QStringLiteral("rtspsrc"),
                              QStringLiteral("location=") + url, QStringLiteral("protocols=tcp"),
                              QStringLiteral("latency=200"), QStringLiteral("!"), QStringLiteral("decodebin"),
                              QStringLiteral("!"), QStringLiteral("videorate"), QStringLiteral("!"),
                              QStringLiteral("video/x-raw,framerate=%1/1").arg(kPreviewRate),
                              QStringLiteral("!"), QStringLiteral("videoscale"), QStringLiteral("!"), caps,
                              QStringLiteral("!"), QStringLiteral("videoconvert"), QStringLiteral("!"),
                              QStringLiteral("ximagesink")});
        if (!launch.process.waitForStarted(5000))
            return 1;
        cpuOver(launch.process.processId(), kSettleSeconds);
        bare = cpuOver(launch.process.processId(), kSeconds);
        if (launch.process.state() != QProcess::Running) {
            std::fprintf(stderr, "camera: gst-launch-1.0 ended: %s\n",
                         launch.process.readAllStandardError().constData());
            return 1;
        }
    }
    std::printf(
        "camera rtsp1080 cpu=%.2f (%.2f s against %.2f s of CPU in %d s, %dx%d at %d frames a second)\n",
        bare > 0 ? ours / bare : 0.0, ours, bare, kSeconds, kViewWidth, kViewHeight, kPreviewRate);
    return 0;
}

const zantrel::bench::Register reg("camera", &runCamera);

} // namespace
