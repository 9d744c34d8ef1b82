#include "imaging/jpeg_writer.h"

#include "core/file_replace.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"

#include <QSysInfo>
#include <QtDebug>
#include <algorithm>
#include <memory>
#include <turbojpeg.h>
#include <utility>

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

// The picture's own rows as TurboJPEG takes them: 32-bit or 24-bit pixels as they are, anything else
// converted into converted first.
std::pair<const QImage*, int> encoderPixels(const QImage& picture, QImage& converted) {
    constexpr bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    switch (picture.format()) {
    case QImage::Format_RGB888:
        return {&picture, TJPF_RGB};
    case QImage::Format_BGR888:
        return {&picture, TJPF_BGR};
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return {&picture, little ? TJPF_BGRX : TJPF_XRGB};
    default:
        converted = picture.convertToFormat(QImage::Format_RGB32);
        return {&converted, little ? TJPF_BGRX : TJPF_XRGB};
    }
}

// The picture encoded from its own rows (32-bit or 24-bit pixels as they are, anything else converted
// first), or nothing when the encoder refused it.
JpegBuffer encodePicture(void* encoder, const QImage& picture, int quality, unsigned long& size) {
    if (picture.isNull())
        return nullptr;
    QImage converted;
    const auto [pixels, format] = encoderPixels(picture, converted);
    unsigned char* out = nullptr;
    size = 0;
    const int rc =
        tjCompress2(encoder, pixels->constBits(), pixels->width(), int(pixels->bytesPerLine()),
                    pixels->height(), format, &out, &size, TJSAMP_420, std::clamp(quality, 0, 100), 0);
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

FrameJpegEncoder::FrameJpegEncoder() : encoder_(tjInitCompress(), &tjDestroy) {}

FrameJpegEncoder::~FrameJpegEncoder() = default;

QByteArray FrameJpegEncoder::encode(const QImage& picture, int quality) {
    if (!encoder_ || picture.isNull())
        return {};
    // The camera's frames come as 32-bit pixels; anything else is brought to them first.
    QImage converted;
    const auto [pixels, format] = encoderPixels(picture, converted);
    // A buffer the largest picture of this size fits in, so the encoder never reallocates it.
    const unsigned long room = tjBufSize(pixels->width(), pixels->height(), TJSAMP_420);
    if (out_.size() != room)
        out_.assign(room, 0);
    unsigned char* out = out_.data();
    unsigned long size = room;
    if (tjCompress2(encoder_.get(), pixels->constBits(), pixels->width(), int(pixels->bytesPerLine()),
                    pixels->height(), format, &out, &size, TJSAMP_420, std::clamp(quality, 0, 100),
                    TJFLAG_NOREALLOC) != 0) {
        qWarning("JPEG encoding failed: %s", tjGetErrorStr2(encoder_.get()));
        return {};
    }
    return QByteArray(reinterpret_cast<const char*>(out), qsizetype(size));
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
    // The surface already holds the frame with its stamps: encoded straight from its pixels, the same
    // bytes its bottom-up copy in an image gives, without copying the picture first.
    const Encoder encoder(tjInitCompress());
    unsigned long size = 0;
    const JpegBuffer encoded = encoder ? encodePicture(encoder.get(), surface, quality, size) : nullptr;
    const QByteArray jpeg =
        encoded ? QByteArray(reinterpret_cast<const char*>(encoded.get()), qsizetype(size)) : QByteArray();
    if (written)
        *written = jpeg;
    const ReplaceResult result = jpeg.isEmpty() ? ReplaceResult{} : ReplaceFileContents(file, jpeg);
    if (!result.replaced) {
        messages.showMessage(result.refusal.isEmpty() ? QStringLiteral("Failed to save to JPG")
                                                      : result.refusal,
                             MessageIcon::Exclamation);
        messages.showMessage(QStringLiteral("Error writing ") + file + QStringLiteral("JPEG File."),
                             MessageIcon::Critical);
    }
    return result.replaced;
}

} // namespace zantrel
