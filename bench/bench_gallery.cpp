// webcam-zantrel-bench gallery [N [WxH]]: opens the gallery offscreen in a 1024×768 window on a folder
// of N archived JPEGs (default 10,000 of 1280×720; 320×240 above 20,000 files), made once in
// /tmp and reused, and prints how long the first screen and the whole fill take with an empty and with
// a filled thumbnail cache, the peak resident memory and the longest time the user-interface thread
// went without handling events during the fills.

#include "bench.h"
#include "gallery/gallery.h"
#include "gallery/gallery_model.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using zantrel::Gallery;

QByteArray samplePicture(QSize size, int variant) {
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(90 + variant * 10, 140, 200));
    sky.setColorAt(1, QColor(60, 110 + variant * 5, 60));
    p.fillRect(image.rect(), sky);
    QRandomGenerator random(quint32(variant + 1));
    for (int i = 0; i < 400; ++i) {
        p.setBrush(QColor::fromRgb(random.generate()));
        p.setPen(Qt::NoPen);
        const int w = int(random.bounded(size.width() / 8)) + 2;
        p.drawEllipse(int(random.bounded(size.width())), int(random.bounded(size.height())), w, w / 2 + 1);
    }
    p.setPen(Qt::white);
    p.drawText(10, 20, QStringLiteral("12:00:%1  06/12/2026").arg(variant));
    p.end();
    for (int y = 0; y < image.height(); ++y) { // a little sensor noise
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] ^= random.bounded(8u) * 0x010101u;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 50);
    return jpeg;
}

// N archive files named as the publishing job names them, one every 30 seconds, a day ago.
QString makeArchive(int n, QSize size) {
    const QString folder =
        QStringLiteral("/tmp/zantrel-bench-gallery-%1-%2x%3").arg(n).arg(size.width()).arg(size.height());
    QDir dir(folder);
    if (dir.exists() && dir.entryList({QStringLiteral("*.JPG")}, QDir::Files).size() == n)
        return folder;
    dir.removeRecursively();
    QDir().mkpath(folder);
    std::vector<QByteArray> pictures;
    for (int v = 0; v < 8; ++v)
        pictures.push_back(samplePicture(size, v));
    const QDateTime start = QDateTime::currentDateTime().addDays(-1 - n / 2880);
    for (int i = 0; i < n; ++i) {
        const QDateTime when = start.addSecs(qint64(i) * 30);
        const QString path =
            dir.filePath(when.toString(QStringLiteral("ddMMyyyyhhmmss")) + QStringLiteral(".JPG"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(pictures[std::size_t(i) % pictures.size()]) < 0) {
            std::fprintf(stderr, "gallery: cannot write %s\n", qPrintable(path));
            return {};
        }
        file.close();
        const timespec times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
        utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
    std::fprintf(stderr, "gallery: made %d files of %dx%d (%lld bytes each) in %s\n", n, size.width(),
                 size.height(), qlonglong(pictures[0].size()), qPrintable(folder));
    return folder;
}

double peakRssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

struct Fill {
    double firstScreenMs = -1;
    double fillMs = 0;
    double maxStallMs = 0;
    double maxBusyMs = 0; // the most CPU time the UI thread itself spent between two ticks
    double cpuMs = 0;     // the whole process during the fill
};

double cpuMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool screenComplete(const Gallery& gallery) {
    const auto& model = gallery.model();
    if (model.rowCount() == 0)
        return false;
    const auto [first, last] = zantrel::VisibleRows(*gallery.grid());
    if (first < 0)
        return false;
    for (int row = first; row <= last; ++row)
        if (!model.hasThumbnail(row))
            return false;
    return true;
}

Fill openGallery(const QString& folder, const QString& cacheRoot) {
    Fill fill;
    Gallery gallery(Gallery::Options{cacheRoot, {}});
    gallery.resize(1024, 768);
    QEventLoop loop;
    QObject::connect(&gallery, &Gallery::footNoteChanged, &loop, [&](const QString& text) {
        if (text.isEmpty())
            loop.quit();
    });
    QElapsedTimer clock;
    QTimer probe; // ticks every millisecond; a late tick is time the thread spent elsewhere
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    qint64 lastTick = 0;
    double lastCpu = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    const double processStart = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        fill.maxStallMs = std::max(fill.maxStallMs, (now - lastTick) / 1e6 - 1);
        lastTick = now;
        const double cpu = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        fill.maxBusyMs = std::max(fill.maxBusyMs, cpu - lastCpu);
        lastCpu = cpu;
        if (fill.firstScreenMs < 0 && screenComplete(gallery))
            fill.firstScreenMs = now / 1e6;
    });
    clock.start();
    probe.start();
    gallery.showFolder(folder);
    lastTick = clock.nsecsElapsed();
    loop.exec();
    fill.fillMs = clock.nsecsElapsed() / 1e6;
    fill.cpuMs = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processStart;
    while (fill.firstScreenMs < 0 && clock.elapsed() < fill.fillMs + 10000) // a fill shorter than a screen
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return fill;
}

int runGallery() {
    const auto& args = zantrel::bench::arguments();
    const int n = args.empty() ? 10000 : std::max(1, std::stoi(args[0]));
    QSize size = n > 20000 ? QSize(320, 240) : QSize(1280, 720);
    if (args.size() > 1 && std::sscanf(args[1].c_str(), "%dx%d", &size.rwidth(), &size.rheight()) != 2)
        return 2;
    const QString folder = makeArchive(n, size);
    if (folder.isEmpty())
        return 1;
    const QString cacheRoot = folder + QStringLiteral("-thumbnails");
    QDir(cacheRoot).removeRecursively();

    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    const Fill cold = openGallery(folder, cacheRoot);
    const Fill warm = openGallery(folder, cacheRoot);
    std::printf(
        "gallery n=%d first_screen_ms=%.0f fill_ms=%.0f warm_fill_ms=%.0f rss_mb=%.0f max_stall_ms=%.1f\n", n,
        cold.firstScreenMs, cold.fillMs, warm.fillMs, peakRssMb(),
        std::max(cold.maxStallMs, warm.maxStallMs));
    std::fprintf(
        stderr,
        "gallery: %dx%d files; load average %.2f before; warm first_screen_ms=%.0f; cpu_ms cold=%.0f "
        "warm=%.0f; longest UI-thread work between two ticks %.1f ms\n",
        size.width(), size.height(), load[0], warm.firstScreenMs, cold.cpuMs, warm.cpuMs,
        std::max(cold.maxBusyMs, warm.maxBusyMs));
    return 0;
}

const zantrel::bench::Register registration("gallery", &runGallery);

} // namespace
