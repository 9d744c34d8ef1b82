#include "imaging/picture_bound.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QImageReader>
#include <memory>
#include <turbojpeg.h>

namespace zantrel {

std::optional<PictureSize> JpegHeaderSize(const unsigned char* data, std::size_t length) {
    if (!data || length < 4 || length > 0xffffffffu)
        return std::nullopt;
    const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), &tjDestroy);
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (!decoder ||
        tjDecompressHeader3(decoder.get(), data, static_cast<unsigned long>(length), &width, &height,
                            &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0)
        return std::nullopt;
    return PictureSize{width, height};
}

std::optional<PictureSize> PictureFileSize(const QString& path) {
    const QSize size = QImageReader(path).size();
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    return PictureSize{size.width(), size.height()};
}

std::int64_t MaxPicturePixels() {
    const double stored = ReadNumber(keys::VfwMaxPixels);
    constexpr double kFloor = 1'000'000;
    constexpr double kCeiling = 1'000'000'000;
    if (!(stored >= kFloor))
        return stored > 0 ? std::int64_t(kFloor) : 40'000'000;
    return std::int64_t(stored < kCeiling ? stored : kCeiling);
}

QString PictureBoundRefusal(const PictureSize& size, const QString& whatSentIt) {
    const std::int64_t limit = MaxPicturePixels();
    if (size.width > 0 && size.height > 0 && size.pixels() <= limit)
        return {};
    return QStringLiteral("%1 a picture of %2×%3: more than the %4-megapixel limit")
        .arg(whatSentIt)
        .arg(size.width)
        .arg(size.height)
        .arg(QString::number(double(limit) / 1e6, 'g', 4));
}

} // namespace zantrel
