#pragma once

#include "gallery/image_folder.h"

#include <QImage>
#include <QString>

namespace zantrel {

// The shared thumbnail cache of the desktop ($XDG_CACHE_HOME/thumbnails/normal, else
// ~/.cache/thumbnails/normal): one PNG of at most 128 × 128 pixels per picture, named by the MD5 of the
// picture's file URI and stamped with the URI, modification time and size of the picture it shows, so
// that file managers and this program share what either has made. Thread-safe (no state but the root).
class ThumbnailCache {
  public:
    static constexpr int kBox = 128;

    // `root` is the thumbnails folder (the one holding "normal").
    explicit ThumbnailCache(QString root = defaultRoot());
    static QString defaultRoot();

    QString entryPath(const QString& picture) const;
    // True when this picture lies inside the cache itself (those are never thumbnailed).
    bool contains(const QString& picture) const;

    // True when an entry exists whose stamps match the picture's current time and size.
    bool isFresh(const QString& picture, const ImageFile& file) const;
    // The cached thumbnail, or a null image when there is none, it is stale or it cannot be read.
    QImage load(const QString& picture, const ImageFile& file) const;
    // Writes the entry (file 0600) through a temporary file renamed over the old entry. Its folders are
    // made 0700, or narrowed to 0700 when wider; nothing is written into a folder of another user.
    bool store(const QString& picture, const ImageFile& file, const QImage& thumbnail) const;

  private:
    QString normal_;
};

} // namespace zantrel
