#include "imaging/jpeg_writer.h"

#include "core/file_replace.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"

#include <QtDebug>
#include <algorithm>
#include <memory>
#include <turbojpeg.h>

namespace zantrel {

namespace {

struct EncoderRelease {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using Encoder = std::unique_ptr<void, EncoderRelease>;

struct BufferRelease {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using JpegBuffer = std::unique_ptr<unsigned char, BufferRelease>;

// The encoded picture, or nothing when the encoder refused it.
JpegBuffer encode(void* encoder, const cDIBSection& image, int quality, unsigned long& size) {
    if (!image.hDib())
        return nullptr;
    unsigned char* out = nullptr;
    size = 0;
    const int rc = tjCompress2(encoder, image.DIBSectionBitsPtr(), image.Width(), image.BytesPerScanLine(),
                               image.Height(), TJPF_BGR, &out, &size, TJSAMP_420, std::clamp(quality, 0, 100),
                               TJFLAG_BOTTOMUP);
    JpegBuffer buffer(out);
    if (rc != 0) {
        qWarning("JPEG encoding failed: %s", tjGetErrorStr2(encoder));
        return nullptr;
    }
    return buffer;
}

} // namespace

QByteArray EncodeJpeg(const cDIBSection& image, int quality) {
    const Encoder encoder(tjInitCompress());
    unsigned long size = 0;
    const JpegBuffer jpeg = encoder ? encode(encoder.get(), image, quality, size) : nullptr;
    return jpeg ? QByteArray(reinterpret_cast<const char*>(jpeg.get()), qsizetype(size)) : QByteArray();
}

bool WriteJpegFile(const cDIBSection& image, const QString& file, int quality, MessageSink& messages,
                   QByteArray* written) {
    Encoder encoder(tjInitCompress());
    if (!encoder) {
        qWarning("JPEG encoder unavailable: %s", tjGetErrorStr2(nullptr));
        messages.showMessage(QStringLiteral("Failed to initialise the IJL library: ") +
                                 QString::number(TJERR_FATAL),
                             MessageIcon::Exclamation);
        return false;
    }
    unsigned long size = 0;
    const JpegBuffer jpeg = encode(encoder.get(), image, quality, size);
    const QByteArrayView bytes(reinterpret_cast<const char*>(jpeg.get()), jpeg ? qsizetype(size) : 0);
    // The encoded picture is handed back even when the file cannot be replaced: it is this job's own
    // image, and publishing it beats publishing nothing (the failed write is still reported).
    if (written)
        *written = bytes.toByteArray();
    const ReplaceResult result = jpeg ? ReplaceFileContents(file, bytes) : ReplaceResult{};
    if (!result.replaced)
        messages.showMessage(result.refusal.isEmpty() ? QStringLiteral("Failed to save to JPG")
                                                      : result.refusal,
                             MessageIcon::Exclamation);
    return result.replaced;
}

bool SavePictureAsJpeg(const QImage& surface, const QString& file, int quality, MessageSink& messages,
                       QByteArray* written) {
    // The surface already holds the frame with its stamps; its copy in the image is what gets encoded.
    cDIBSection image;
    image.ClearUp();
    image.CreateFromPicture(surface);
    const bool ok = WriteJpegFile(image, file, quality, messages, written);
    if (!ok)
        messages.showMessage(QStringLiteral("Error writing ") + file + QStringLiteral("JPEG File."),
                             MessageIcon::Critical);
    return ok;
}

} // namespace zantrel
