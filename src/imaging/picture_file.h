#pragma once

#include "imaging/picture_bound.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace zantrel {

// A picture file read whole for decoding. Archive folders can hold what others put there, so only a
// regular file owned by this user is read, never through a symbolic link, and none larger than a
// picture within MaxPicturePixels() can be. `problem` says why nothing was read.
struct PictureFileBytes {
    QByteArray bytes;
    QString problem;
    bool ok() const { return problem.isEmpty(); }
};
PictureFileBytes ReadOwnPictureFile(const QString& path);
// The size the header of such a file claims, read without the rest; nullopt for any other file.
std::optional<PictureSize> OwnPictureFileSize(const QString& path);

// The bound's refusal ("NAME holds a picture of 65500×65500: more than the 40-megapixel limit") when
// the picture in bytes claims more pixels than MaxPicturePixels(); empty when it fits or no size can be
// read from its header (the decoder then refuses it).
QString PictureBytesRefusal(const QByteArray& bytes, const QString& name);

} // namespace zantrel
