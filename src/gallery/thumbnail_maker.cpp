#include "gallery/thumbnail_maker.h"

#include "imaging/picture_bound.h"
#include "imaging/picture_file.h"

#include <QBuffer>
#include <QDateTime>
#include <QImageReader>
#include <cmath>

namespace zantrel {

QSize FitInto(QSize source, QSize box, bool enlarge) {
    if (source.isEmpty())
        return {};
    if (!enlarge && source.width() <= box.width() && source.height() <= box.height())
        return source;
    const double scale =
        std::min(double(box.width()) / source.width(), double(box.height()) / source.height());
    return {std::max(1, int(std::lround(source.width() * scale))),
            std::max(1, int(std::lround(source.height() * scale)))};
}

bool JpegLooksComplete(const QByteArray& bytes) {
    if (!bytes.startsWith("\xff\xd8"))
        return true; // not a JPEG: its own decoder judges it
    return bytes.right(64).contains("\xff\xd9");
}

DecodedPicture DecodePicture(const QString& path, QSize box) {
    DecodedPicture result;
    PictureFileBytes file = ReadOwnPictureFile(path);
    if (!file.ok()) {
        result.problem = file.problem;
        return result;
    }
    if (!JpegLooksComplete(file.bytes))
        return result;
    result.problem = PictureBytesRefusal(file.bytes, path);
    if (!result.problem.isEmpty())
        return result;
    QBuffer buffer(&file.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // The pixel bound is the one limit, also for a whole picture near it.
    reader.setAllocationLimit(int(MaxPicturePixels() * 4 / (1 << 20)) + 1);
    const QSize size = reader.size();
    if (size.isValid() && box.isValid())
        reader.setScaledSize(FitInto(size, box, false));
    QImage image = reader.read();
    if (image.isNull())
        return result;
    if (box.isValid() && (image.width() > box.width() || image.height() > box.height()))
        image =
            image.scaled(FitInto(image.size(), box, false), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    result.image =
        image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return result;
}

QImage DecodeScaled(const QString& path, QSize box) {
    return DecodePicture(path, box).image;
}

ThumbnailMaker::ThumbnailMaker(ThumbnailCache cache, ThumbnailDecoder decoder)
    : cache_(std::move(cache)), decoder_(decoder ? std::move(decoder) : ThumbnailDecoder(&DecodeScaled)) {}

ThumbnailResult ThumbnailMaker::make(int row, const QString& folder, const ImageFile& file,
                                     bool wantImage) const {
    ThumbnailResult result;
    result.row = row;
    const QString path = JoinPath(folder, file.name);
    const bool cacheable = !cache_.contains(path);
    QImage cached;
    bool decoded = false;
    if (cacheable) {
        if (!wantImage && cache_.isFresh(path, file))
            return result;
        cached = cache_.load(path, file);
    }
    if (cached.isNull()) {
        cached = decoder_(path, {ThumbnailCache::kBox, ThumbnailCache::kBox});
        if (cached.isNull()) {
            result.failed = true;
            return result;
        }
        decoded = true;
        const bool settled = QDateTime::currentSecsSinceEpoch() - file.mtime >= kSettleSeconds;
        if (cacheable && settled)
            cache_.store(path, file, cached);
    }
    if (wantImage || decoded) // a fresh decode is worth handing on even unasked
        result.image = cached.scaled(FitInto(cached.size(), kGalleryBox, true), Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    return result;
}

} // namespace zantrel
