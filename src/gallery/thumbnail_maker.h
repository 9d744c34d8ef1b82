#pragma once

#include "gallery/image_folder.h"
#include "gallery/thumbnail_cache.h"

#include <QImage>
#include <QSize>
#include <functional>

namespace zantrel {

// Decodes the picture at `path` to an image that fits `box` with its proportions kept (never the full
// picture when the format can scale while decoding); a null image when the file cannot be decoded.
using ThumbnailDecoder = std::function<QImage(const QString& path, QSize box)>;

struct DecodedPicture {
    QImage image;    // null when the picture cannot be shown
    QString problem; // then why, when more can be said than that it cannot be decoded
};

// Decodes the archive picture at `path`, fitted into `box` (whole when `box` is empty). Only what
// ReadOwnPictureFile reads, and only when its header claims no more than MaxPicturePixels(); the size
// is asked for before decoding, so JPEGs are decoded at 1/2, 1/4 or 1/8 scale by the JPEG library itself.
DecodedPicture DecodePicture(const QString& path, QSize box = {});

// The default decoder: DecodePicture's image.
QImage DecodeScaled(const QString& path, QSize box);

// False for a JPEG whose end marker is missing: a file cut short, or one still being written. The
// JPEG library would show such a file with its lower part grey.
bool JpegLooksComplete(const QByteArray& bytes);

// The size that `source` takes when fitted into `box` with its proportions kept; never larger than the
// source when `enlarge` is false, never smaller than 1 × 1.
QSize FitInto(QSize source, QSize box, bool enlarge);

struct ThumbnailResult {
    int row = -1;
    bool failed = false; // the picture cannot be decoded
    QImage image;        // fitted into the gallery's box; null when not asked for or failed
};

// Makes the thumbnail of one file: from the desktop's thumbnail cache when it holds a fresh one, else
// by decoding, writing the cache entry unless the file changed within the last `settleSeconds` (it may
// still be being written). With `wantImage` false a fresh cache entry is only checked, not read.
class ThumbnailMaker {
  public:
    static constexpr QSize kGalleryBox{100, 80};
    static constexpr int kSettleSeconds = 5;

    ThumbnailMaker(ThumbnailCache cache, ThumbnailDecoder decoder);

    ThumbnailResult make(int row, const QString& folder, const ImageFile& file, bool wantImage) const;

  private:
    ThumbnailCache cache_;
    ThumbnailDecoder decoder_;
};

} // namespace zantrel
