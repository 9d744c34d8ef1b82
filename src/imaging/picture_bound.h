#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zantrel {

// The size a picture claims in its header, read without decoding it.
struct PictureSize {
    int width = 0;
    int height = 0;
    std::int64_t pixels() const { return std::int64_t(width) * height; }
};

// The JPEG frame header's size (TurboJPEG reads only the headers); nullopt when the bytes are no JPEG
// or the header is damaged.
std::optional<PictureSize> JpegHeaderSize(const unsigned char* data, std::size_t length);
// Any picture file's claimed size as Qt's image readers see it (JPEG, PNG, ...), without decoding the
// pixels; nullopt when no reader knows the file.
std::optional<PictureSize> PictureFileSize(const QString& path);

// The most pixels a decoder may be asked for: VFW/MAXPIXELS, at least one megapixel.
std::int64_t MaxPicturePixels();
// Empty when size fits under MaxPicturePixels(); otherwise the reason, naming what sent it:
// "the camera sent a picture of 30000×30000: more than the 40-megapixel limit".
QString PictureBoundRefusal(const PictureSize& size, const QString& whatSentIt);

} // namespace zantrel
