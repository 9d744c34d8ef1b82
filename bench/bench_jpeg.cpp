// jpeg: what the JPEG writer adds to the encoder, and the cost of stamping three items.
#include "bench.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <cstdio>
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
    tjDestroy(encoder);
    if (messages.count != 0) {
        std::fprintf(stderr, "jpeg: %d write failures\n", messages.count);
        return 1;
    }
    return 0;
}

const zantrel::bench::Register reg("jpeg", &runJpeg);

} // namespace
