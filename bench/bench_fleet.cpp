// webcam-zantrel-bench fleet [SECONDS [INSTANCES]]: many cameras on one machine. Starts INSTANCES (8)
// named instances of the program, `--headless`, each with an RTSP test camera of its own (1280x720,
// 10 frames a second, the moving ball) and a 5 s schedule, lets them settle, then watches them for
// SECONDS (300) and prints
//   fleet instances=8 late_jobs=<n> max_late_ms=<ms> cpu_cores=<CPU s / wall s> rss_mb=<sum>
// A job is on time when its picture is written less than 1 s after its due time: the due times are the
// schedule's beat, taken from the "Next Update" lines each instance prints, and a picture's time is its
// working file's modification time. A beat without a picture counts as late too. cpu_cores and rss_mb
// are the instances' own (user and system CPU over the watched time, resident memory at its end); the
// test cameras' CPU goes to standard error.

#include "bench.h"
#include "process_cpu.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using zantrel::bench::Child;
using zantrel::bench::processCpuSeconds;

constexpr int kIntervalSeconds = 5;
constexpr qint64 kLateMs = 1000;
constexpr int kSettleSeconds = 20;

struct Instance {
    QString name;
    Child camera;
    Child program;
    QString picture;
    std::vector<QDateTime> dues;   // announced by the instance
    std::vector<QDateTime> writes; // its working file's modification times
    QByteArray pending;            // standard output not yet a whole line
};

double residentMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// The due times and pictures that came since the last look.
void look(Instance& in) {
    static const QRegularExpression due(QStringLiteral("Next Update: .* at (\\d\\d):(\\d\\d):(\\d\\d)$"));
    in.pending += in.program.process.readAllStandardOutput();
    for (qsizetype end; (end = in.pending.indexOf('\n')) >= 0; in.pending.remove(0, end + 1)) {
        const auto m = due.match(QString::fromUtf8(in.pending.left(end)).trimmed());
        if (!m.hasMatch())
            continue;
        const QDateTime now = QDateTime::currentDateTime();
        QDateTime at(now.date(), QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()));
        if (at.secsTo(now) > 12 * 3600) // the next day's, announced before midnight
            at = at.addDays(1);
        if (in.dues.empty() || in.dues.back() != at)
            in.dues.push_back(at);
    }
    const QDateTime written = QFileInfo(in.picture).lastModified();
    if (written.isValid() && (in.writes.empty() || in.writes.back() != written))
        in.writes.push_back(written);
}

int runFleet() {
    const auto& args = zantrel::bench::arguments();
    const int seconds = args.size() > 0 ? std::max(10, std::stoi(args[0])) : 300;
    const int count = args.size() > 1 ? std::max(1, std::stoi(args[1])) : 8;

    QTemporaryDir home;
    QDir().mkpath(home.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"));
    env.remove(QStringLiteral("NOTIFY_SOCKET"));

    std::vector<std::unique_ptr<Instance>> fleet;
    for (int i = 1; i <= count; ++i) {
        auto in = std::make_unique<Instance>();
        in->name = QStringLiteral("cam%1").arg(i);
        in->camera.process.start(QStringLiteral("/usr/bin/python3"),
                                 {QStringLiteral(ZANTREL_SOURCE_DIR "/tests/data/rtsp_server.py"),
                                  QStringLiteral("--width=1280"), QStringLiteral("--height=720"),
                                  QStringLiteral("--rate=10"), QStringLiteral("--pattern=ball")});
        const int port = zantrel::bench::firstNumber(in->camera.process);
        if (port <= 0) {
            std::fprintf(stderr, "fleet: the RTSP test server did not start\n");
            return 1;
        }
        const QString folder = home.filePath(QStringLiteral("KALDOR/instances/") + in->name);
        QDir().mkpath(folder);
        QFile ini(folder + QStringLiteral("/KALDOR.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            return 1;
        ini.write("[FT]\nFIRSTTIME=NO\n[PREF]\nAHANGUP=0\n[VFW]\nCAMERA=rtsp://127.0.0.1:" +
                  QByteArray::number(port) +
                  "/cam\n[UPDATE]\nTYPE=1\nPARTI=" + QByteArray::number(kIntervalSeconds) + "\nUNITI=3\n");
        ini.close();
        in->picture = home.filePath(in->name + QStringLiteral("/webcam.jpg"));
        in->program.process.setProcessEnvironment(env);
        in->program.process.setWorkingDirectory(home.path());
        in->program.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        in->program.process.start(QStringLiteral(ZANTREL_BINARY),
                                  {QStringLiteral("--headless"), QStringLiteral("--instance"), in->name});
        fleet.push_back(std::move(in));
    }

    // Runs the event loop for a while, looking at every instance ten times a second.
    const auto watch = [&fleet](int forSeconds) {
        QElapsedTimer wall;
        wall.start();
        while (wall.elapsed() < forSeconds * 1000LL) {
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
            for (auto& in : fleet)
                look(*in);
        }
    };
    watch(kSettleSeconds);
    const QDateTime from = QDateTime::currentDateTime();
    double cpuBefore = 0, camerasBefore = 0;
    for (auto& in : fleet) {
        if (in->program.process.state() != QProcess::Running) {
            std::fprintf(stderr, "fleet: instance %s ended\n", qPrintable(in->name));
            return 1;
        }
        cpuBefore += processCpuSeconds(in->program.process.processId());
        camerasBefore += processCpuSeconds(in->camera.process.processId());
    }
    QElapsedTimer wall;
    wall.start();
    watch(seconds);
    const double wallSeconds = double(wall.elapsed()) / 1000.0;
    double cpu = 0, cameras = 0, rss = 0;
    for (auto& in : fleet) {
        cpu += processCpuSeconds(in->program.process.processId());
        cameras += processCpuSeconds(in->camera.process.processId());
        rss += residentMb(in->program.process.processId());
    }
    watch(2); // the pictures of the last beats in the window
    const QDateTime until = from.addSecs(seconds);

    int late = 0, jobs = 0;
    qint64 maxLate = 0;
    for (auto& in : fleet) {
        // The beat of the schedule, from the first due time announced in the watched time; every beat
        // up to its end, announced or left out by a job that ran long, wants a picture.
        auto first =
            std::find_if(in->dues.begin(), in->dues.end(), [&](const QDateTime& d) { return d >= from; });
        if (first == in->dues.end()) {
            std::fprintf(stderr, "fleet: instance %s announced no update\n", qPrintable(in->name));
            late += seconds / kIntervalSeconds;
            continue;
        }
        for (QDateTime beat = *first; beat.addSecs(kIntervalSeconds) <= until;
             beat = beat.addSecs(kIntervalSeconds)) {
            ++jobs;
            const auto picture = std::find_if(in->writes.begin(), in->writes.end(),
                                              [&](const QDateTime& w) { return w >= beat; });
            const qint64 lateMs =
                beat.msecsTo(picture == in->writes.end() ? QDateTime::currentDateTime() : *picture);
            maxLate = std::max(maxLate, lateMs);
            if (lateMs > kLateMs)
                ++late;
        }
    }
    std::fprintf(stderr, "fleet: %d jobs due in %.0f s; the test cameras used %.2f CPU cores\n", jobs,
                 wallSeconds, (cameras - camerasBefore) / wallSeconds);
    std::printf("fleet instances=%d late_jobs=%d max_late_ms=%lld cpu_cores=%.2f rss_mb=%.0f\n", count, late,
                static_cast<long long>(maxLate), (cpu - cpuBefore) / wallSeconds, rss);
    return 0;
}

const zantrel::bench::Register reg("fleet", &runFleet);

} // namespace
