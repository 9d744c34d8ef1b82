#include "imaging/jpeg_round_trip.h"

#include "imaging/dib_section.h"

#include <algorithm>
#include <memory>
#include <turbojpeg.h>

namespace zantrel {

namespace {

struct HandleRelease {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, HandleRelease>;

struct BufferRelease {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using JpegBuffer = std::unique_ptr<unsigned char, BufferRelease>;

} // namespace

QImage JpegRoundTrip(const QImage& picture, int quality) {
    // Encoded from the same bottom-up image and with the same settings as the JPEG writer uses.
    cDIBSection image;
    image.CreateFromPicture(picture);
    const TjHandle encoder(tjInitCompress());
    const TjHandle decoder(tjInitDecompress());
    if (!image.hDib() || !encoder || !decoder)
        return {};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(encoder.get(), image.DIBSectionBitsPtr(), image.Width(),
                               image.BytesPerScanLine(), image.Height(), TJPF_BGR, &out, &size, TJSAMP_420,
                               std::clamp(quality, 0, 100), TJFLAG_BOTTOMUP);
    const JpegBuffer jpeg(out);
    if (rc != 0)
        return {};
    QImage decoded(image.Width(), image.Height(), QImage::Format_RGB32);
    if (decoded.isNull() || tjDecompress2(decoder.get(), jpeg.get(), size, decoded.bits(), decoded.width(),
                                          int(decoded.bytesPerLine()), decoded.height(), TJPF_BGRX, 0) != 0)
        return {};
    return decoded;
}

} // namespace zantrel
