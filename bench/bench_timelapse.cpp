// timelapse: the program's time for 1,000 archived 1280x720 pictures against a bare gst-launch-1.0
// pipeline with the same encoder settings, the program's peak memory, and how late a scheduled job
// starts while a time-lapse encodes in the same process.
#include "bench.h"
#include "timelapse/timelapse_encoder.h"
#include "timelapse/timelapse_job.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct ChildRun {
    bool ok = false;
    double ms = 0;
    double peakMb = 0;
};

// Runs a program to its end at idle priority (as the program's encoder runs), with its own peak memory.
ChildRun runChild(const QStringList& args, const QByteArray& configHome = {}) {
    std::vector<QByteArray> words;
    for (const QString& a : args)
        words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const sched_param idle{};
        sched_setscheduler(0, SCHED_IDLE, &idle);
        if (!configHome.isEmpty())
            setenv("XDG_CONFIG_HOME", configHome.constData(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ChildRun r;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return r;
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.peakMb = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    return r;
}

} // namespace

namespace {

int runTimelapse() {
    constexpr int kFrames = 1000;
    const QString launch = zantrel::TimelapseEncoderLaunch();
    if (launch.isEmpty()) {
        std::fprintf(stderr, "timelapse: no H.264 encoder installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString pictures = dir.filePath(QStringLiteral("archive"));
    QDir().mkpath(pictures);
    // The pictures: camera-like 1280x720 JPEG files, numbered for multifilesrc and linked under archive
    // names.
    const ChildRun made =
        runChild({QStringLiteral("gst-launch-1.0"), QStringLiteral("-q"), QStringLiteral("videotestsrc"),
                  QStringLiteral("num-buffers=%1").arg(kFrames), QStringLiteral("pattern=smpte"),
                  QStringLiteral("horizontal-speed=3"), QStringLiteral("!"),
                  QStringLiteral("video/x-raw,width=1280,height=720"), QStringLiteral("!"),
                  QStringLiteral("jpegenc"), QStringLiteral("quality=85"), QStringLiteral("!"),
                  QStringLiteral("multifilesink"), QStringLiteral("location=%1/f%05d.jpg").arg(dir.path())});
    if (!made.ok) {
        std::fprintf(stderr, "timelapse: cannot make the pictures\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < kFrames; ++i) {
        const QString name = QStringLiteral("0712202610%1%2.JPG")
                                 .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(i % 60, 2, 10, QLatin1Char('0'));
        const QString numbered = dir.filePath(QStringLiteral("f%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        QFile::link(numbered, QDir(pictures).filePath(name));
        files << numbered;
    }
    const QString config = dir.filePath(QStringLiteral("config"));
    QDir().mkpath(config + QStringLiteral("/KALDOR"));
    QFile ini(config + QStringLiteral("/KALDOR/KALDOR.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[IMAGE]\nPATH=" + pictures.toUtf8() + "\n");
    ini.close();

    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../webcam-zantrel");
    const QStringList ours{program, QStringLiteral("--timelapse"), QStringLiteral("07122026"),
                           QStringLiteral("--output"), dir.filePath(QStringLiteral("ours.mp4"))};
    QStringList bare{QStringLiteral("gst-launch-1.0"),
                     QStringLiteral("-q"),
                     QStringLiteral("multifilesrc"),
                     QStringLiteral("location=%1/f%05d.jpg").arg(dir.path()),
                     QStringLiteral("index=0"),
                     QStringLiteral("caps=image/jpeg,framerate=25/1"),
                     QStringLiteral("!"),
                     QStringLiteral("jpegdec"),
                     QStringLiteral("!"),
                     QStringLiteral("videoscale"),
                     QStringLiteral("!"),
                     QStringLiteral("videoconvert"),
                     QStringLiteral("!"),
                     QStringLiteral("video/x-raw,format=I420,width=1280,height=720,pixel-aspect-ratio=1/1"),
                     QStringLiteral("!")};
    bare << launch.split(QLatin1Char(' '), Qt::SkipEmptyParts)
         << QStringList{QStringLiteral("!"), QStringLiteral("filesink"),
                        QStringLiteral("location=%1").arg(dir.filePath(QStringLiteral("bare.mp4")))};

    // Alternating runs; the best of each, as the machine's other work only ever adds time.
    double oursMs = 1e18, bareMs = 1e18, peakMb = 0;
    for (int round = 0; round < 2; ++round) {
        const ChildRun b = runChild(bare);
        const ChildRun o = runChild(ours, config.toLocal8Bit());
        if (!b.ok || !o.ok) {
            std::fprintf(stderr, "timelapse: a run failed (bare %d, program %d)\n", b.ok, o.ok);
            return 1;
        }
        bareMs = std::min(bareMs, b.ms);
        oursMs = std::min(oursMs, o.ms);
        peakMb = std::max(peakMb, o.peakMb);
    }
    std::printf("timelapse 1000x720p ratio=%.2f rss_mb=%.0f (program %.1f s, gst-launch %.1f s)\n",
                oursMs / bareMs, peakMb, oursMs / 1000, bareMs / 1000);

    // A job every 500 ms while the encoder works in this process: how late its thread starts.
    zantrel::TimelapseJob job;
    zantrel::TimelapseRequest request;
    request.pictures = files;
    request.output = dir.filePath(QStringLiteral("inproc.mp4"));
    std::vector<double> delays;
    QEventLoop loop;
    QObject::connect(&job, &zantrel::TimelapseJob::finished, &loop, &QEventLoop::quit);
    auto due = Clock::now() + std::chrono::milliseconds(500);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        std::atomic<Clock::time_point> started{};
        std::thread publish([&started] {
            started = Clock::now();
            volatile double work = 0; // a job's own processing, so both cores are wanted
            for (int i = 0; i < 20'000'000; ++i)
                work = work + i * 0.5;
        });
        publish.join();
        delays.push_back(std::chrono::duration<double, std::milli>(started.load() - due).count());
        due += std::chrono::milliseconds(500);
        tick.start(int(std::max<qint64>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count())));
    });
    tick.start(500);
    job.start(request);
    loop.exec();
    tick.stop();
    const double worst = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    std::printf("timelapse job_start_delay_ms jobs=%zu median=%.1f max=%.1f\n", delays.size(),
                zantrel::bench::median(delays), worst);
    return 0;
}

const zantrel::bench::Register registered("timelapse", &runTimelapse);

} // namespace
