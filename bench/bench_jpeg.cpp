// jpeg: what the JPEG writer adds to the encoder, the cost of stamping three items, and of a rich stamp
// (three lines, two live values read from files, a logo) with the save against the raw encoder.
#include "bench.h"
#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"
#include "imaging/stamp_values.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <turbojpeg.h>

namespace {

struct QuietMessages final : zantrel::MessageSink {
    int count = 0;
    void showMessage(const QString&) override { ++count; }
};

// A camera-like frame: smooth gradients with some fine texture.
QImage frame(int width, int height) {
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const int texture = ((x * 7 + y * 13) % 23) - 11;
            line[x * 3] = uchar(qBound(0, 60 + 120 * y / height + texture, 255));
            line[x * 3 + 1] = uchar(qBound(0, 90 + 100 * x / width - texture, 255));
            line[x * 3 + 2] = uchar(qBound(0, 200 - 150 * (x + y) / (width + height) + texture / 2, 255));
        }
    }
    return image;
}

// The milliseconds of CPU time this thread spends in fn: steadier than the wall clock on a busy machine.
template <typename F> double cpuMs(F&& fn) {
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    };
    const double start = now();
    fn();
    return now() - start;
}

int runJpeg() {
    constexpr int kQuality = 50;
    // The file goes to memory (/dev/shm) unless ZANTREL_BENCH_DIR names another folder: on a disk file
    // system, replacing the file costs milliseconds of write-back that say nothing about this code.
    QString base = qEnvironmentVariable("ZANTREL_BENCH_DIR");
    if (base.isEmpty() && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        base = QStringLiteral("/dev/shm");
    QTemporaryDir dir(base.isEmpty() ? QDir::tempPath() + QStringLiteral("/zantrel-bench-XXXXXX")
                                     : base + QStringLiteral("/zantrel-bench-XXXXXX"));
    std::fprintf(stderr, "jpeg: writing into %s\n", qPrintable(dir.path()));
    const QString file = QDir(dir.path()).filePath(QStringLiteral("webcam.jpg"));
    QuietMessages messages;
    tjhandle encoder = tjInitCompress();
    const struct { int w, h, reps; } sizes[] = {{640, 480, 200}, {1280, 720, 100}, {1920, 1080, 60}};

    for (const auto& size : sizes) {
        const QImage surface = frame(size.w, size.h);
        zantrel::cDIBSection dib;
        dib.CreateFromPicture(surface);
        zantrel::StampParams params;
        params.time = params.date = params.text = true;
        params.timePos = 6;
        params.datePos = 6;
        params.freeText = QStringLiteral("Webcam &DATE &TIME");
        QImage stamped = surface;

        std::vector<double> save, raw, stamp;
        for (int i = 0; i < size.reps; ++i) {
            // Interleaved, so both see the same machine load.
            save.push_back(zantrel::bench::timeMs(
                [&] { zantrel::SavePictureAsJpeg(surface, file, kQuality, messages); }));
            raw.push_back(zantrel::bench::timeMs([&] {
                unsigned char* jpeg = nullptr;
                unsigned long bytes = 0;
                tjCompress2(encoder, dib.DIBSectionBitsPtr(), dib.Width(), dib.BytesPerScanLine(),
                            dib.Height(), TJPF_BGR, &jpeg, &bytes, TJSAMP_420, kQuality, TJFLAG_BOTTOMUP);
                tjFree(jpeg);
            }));
            stamp.push_back(zantrel::bench::timeMs([&] { zantrel::StampFrame(stamped, params); }));
        }
        const double saveMs = zantrel::bench::median(save);
        const double rawMs = zantrel::bench::median(raw);
        std::printf("jpeg %dx%d save_ms=%.3f raw_ms=%.3f ratio=%.2f stamp_ms=%.3f\n", size.w, size.h, saveMs,
                    rawMs, saveMs / rawMs, zantrel::bench::median(stamp));
        std::fflush(stdout);
    }

    // The rich stamp at 1920 x 1080: the weather station's files are read at each job, as the job does.
    {
        const QDir folder(dir.path());
        QFile text(folder.filePath(QStringLiteral("station.txt")));
        QFile json(folder.filePath(QStringLiteral("station.json")));
        if (!text.open(QIODevice::WriteOnly) || !json.open(QIODevice::WriteOnly))
            return 1;
        text.write("Wind 12 km/h NW\n");
        json.write(R"({"outTemp": 21.4, "barometer": 1013.2, "outHumidity": 54})");
        text.close();
        json.close();
        QImage logo(300, 200, QImage::Format_ARGB32_Premultiplied);
        logo.fill(Qt::transparent);
        {
            QPainter painter(&logo);
            painter.setBrush(QColor(20, 120, 220, 200));
            painter.drawEllipse(logo.rect().adjusted(10, 10, -10, -10));
        }
        const QString logoFile = folder.filePath(QStringLiteral("logo.png"));
        logo.save(logoFile);

        const QImage picture = frame(1920, 1080);
        zantrel::cDIBSection dib;
        dib.CreateFromPicture(picture);
        zantrel::StampValueReader reader;
        zantrel::StampLogo logos;
        zantrel::StampParams params;
        params.time = params.date = params.text = true;
        params.timePos = params.datePos = 6;
        params.textPos = 4;
        params.freeText = QStringLiteral("Hilltop weather %A %d %B\\nTemperature {json:%1#/outTemp} C, "
                                         "pressure {json:%1#/barometer} hPa\\n{file:%2}")
                              .arg(json.fileName(), text.fileName());
        zantrel::ManualClock jobs(QDateTime::currentDateTime());
        const zantrel::ScopedClock jobClock(jobs);
        std::vector<double> stampedSave, stampOnly, raw, stampedSaveCpu, rawCpu;
        for (int i = 0; i < 150; ++i) {      // enough to steady the medians on a busy machine
            QImage stamped = picture.copy(); // a fresh frame of its own, as the camera hands the job
            const auto stampAndSave = [&] {
                stampOnly.push_back(zantrel::bench::timeMs([&] {
                    zantrel::StampTemplateContext context;
                    context.now = zantrel::clock().now();
                    context.value = [&](const QString& kind, const QString& argument) {
                        return reader.value(kind, argument, context.now, 600);
                    };
                    params.context = context;
                    params.logo = logos.forFrame(logoFile, stamped.height(), 10);
                    zantrel::StampFrame(stamped, params);
                }));
                zantrel::SavePictureAsJpeg(stamped, file, kQuality, messages);
            };
            const auto rawEncode = [&] {
                unsigned char* jpeg = nullptr;
                unsigned long bytes = 0;
                tjCompress2(encoder, dib.DIBSectionBitsPtr(), dib.Width(), dib.BytesPerScanLine(),
                            dib.Height(), TJPF_BGR, &jpeg, &bytes, TJSAMP_420, kQuality, TJFLAG_BOTTOMUP);
                tjFree(jpeg);
            };
            stampedSaveCpu.push_back(
                cpuMs([&] { stampedSave.push_back(zantrel::bench::timeMs(stampAndSave)); }));
            rawCpu.push_back(cpuMs([&] { raw.push_back(zantrel::bench::timeMs(rawEncode)); }));
            jobs.advance(3000); // the time stamp differs from job to job; the values stay fresh
        }
        if (!reader.takeNews().isEmpty()) {
            std::fprintf(stderr, "jpeg: a live value could not be read\n");
            return 1;
        }
        using zantrel::bench::median;
        std::printf(
            "jpeg stamped1080 ratio=%.2f stamped_save_ms=%.3f raw_ms=%.3f stamp_ms=%.3f cpu_ratio=%.2f\n",
            median(stampedSave) / median(raw), median(stampedSave), median(raw), median(stampOnly),
            median(stampedSaveCpu) / median(rawCpu));
        std::fflush(stdout);
    }
    tjDestroy(encoder);
    if (messages.count != 0) {
        std::fprintf(stderr, "jpeg: %d write failures\n", messages.count);
        return 1;
    }
    return 0;
}

const zantrel::bench::Register reg("jpeg", &runJpeg);

} // namespace
