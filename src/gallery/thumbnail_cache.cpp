#include "gallery/thumbnail_cache.h"

#include "core/private_folder.h"
#include "gallery/png_text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryFile>
#include <QUrl>
#include <cstdio>

namespace zantrel {

namespace {

const QString kUri = QStringLiteral("Thumb::URI");
const QString kMTime = QStringLiteral("Thumb::MTime");
const QString kSize = QStringLiteral("Thumb::Size");

QByteArray uriOf(const QString& picture) {
    return QUrl::fromLocalFile(QDir::cleanPath(QDir(picture).absolutePath())).toEncoded();
}

} // namespace

ThumbnailCache::ThumbnailCache(QString root) : normal_(QDir(root).filePath(QStringLiteral("normal"))) {}

QString ThumbnailCache::defaultRoot() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::home().filePath(QStringLiteral(".cache"));
    return QDir(base).filePath(QStringLiteral("thumbnails"));
}

QString ThumbnailCache::entryPath(const QString& picture) const {
    const QByteArray md5 = QCryptographicHash::hash(uriOf(picture), QCryptographicHash::Md5).toHex();
    return QDir(normal_).filePath(QString::fromLatin1(md5) + QStringLiteral(".png"));
}

bool ThumbnailCache::contains(const QString& picture) const {
    const QString root = QDir::cleanPath(QDir(normal_ + QStringLiteral("/..")).absolutePath());
    return QDir::cleanPath(QDir(picture).absolutePath()).startsWith(root + QLatin1Char('/'));
}

bool ThumbnailCache::isFresh(const QString& picture, const ImageFile& file) const {
    const auto text = ReadPngText(entryPath(picture));
    if (text.value(kMTime) != QString::number(file.mtime))
        return false;
    if (text.contains(kUri) && text.value(kUri).toUtf8() != uriOf(picture))
        return false;
    return !text.contains(kSize) || text.value(kSize) == QString::number(file.size);
}

QImage ThumbnailCache::load(const QString& picture, const ImageFile& file) const {
    if (!isFresh(picture, file))
        return {};
    QImage image(entryPath(picture), "PNG");
    if (image.isNull() || image.width() > kBox || image.height() > kBox)
        return {};
    return image;
}

bool ThumbnailCache::store(const QString& picture, const ImageFile& file, const QImage& thumbnail) const {
    if (thumbnail.isNull())
        return false;
    QImage stamped = thumbnail;
    stamped.setText(kUri, QString::fromUtf8(uriOf(picture)));
    stamped.setText(kMTime, QString::number(file.mtime));
    stamped.setText(kSize, QString::number(file.size));
    const QString target = entryPath(picture);
    // Thumbnails show what the pictures hold: their folders are the user's alone.
    if (!MakePrivateFolder(QFileInfo(normal_).path()) || !MakePrivateFolder(normal_))
        return false;
    QTemporaryFile temp(target + QStringLiteral(".XXXXXX")); // created 0600
    if (!temp.open())
        return false;
    QImageWriter writer(&temp, "PNG");
    writer.setQuality(80); // light compression: these are small and written by the thousand
    if (!writer.write(stamped) || !temp.flush())
        return false;
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(target).constData()) !=
        0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace zantrel
