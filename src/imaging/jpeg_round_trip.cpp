#include "imaging/jpeg_round_trip.h"

#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"

#include <memory>
#include <turbojpeg.h>

namespace zantrel {

namespace {

struct HandleRelease {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, HandleRelease>;

} // namespace

QImage JpegRoundTrip(const QImage& picture, int quality) {
    // Encoded by the JPEG writer's own encoder, from the same bottom-up image.
    cDIBSection image;
    image.CreateFromPicture(picture);
    const QByteArray jpeg = EncodeJpeg(image, quality);
    const TjHandle decoder(tjInitDecompress());
    if (jpeg.isEmpty() || !decoder)
        return {};
    QImage decoded(image.Width(), image.Height(), QImage::Format_RGB32);
    if (decoded.isNull() ||
        tjDecompress2(decoder.get(), reinterpret_cast<const unsigned char*>(jpeg.constData()),
                      static_cast<unsigned long>(jpeg.size()), decoded.bits(), decoded.width(),
                      int(decoded.bytesPerLine()), decoded.height(), TJPF_BGRX, 0) != 0)
        return {};
    return decoded;
}

} // namespace zantrel
