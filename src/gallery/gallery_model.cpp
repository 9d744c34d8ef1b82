#include "gallery/gallery_model.h"

#include "gallery/thumbnail_maker.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <algorithm>

namespace zantrel {

namespace {

QPixmap blankPicture() {
    QPixmap pixmap(ThumbnailMaker::kGalleryBox);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A grey frame with a red cross: the file is there but shows no picture.
QPixmap brokenSign() {
    QPixmap pixmap = blankPicture();
    QPainter p(&pixmap);
    const QRect box(30, 20, 40, 40);
    p.fillRect(box, QColor(0xe0, 0xe0, 0xe0));
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.setPen(QPen(QColor(0xc0, 0x20, 0x20), 3));
    p.drawLine(box.topLeft() + QPoint(10, 10), box.bottomRight() - QPoint(10, 10));
    p.drawLine(box.topRight() + QPoint(-10, 10), box.bottomLeft() + QPoint(10, -10));
    return pixmap;
}

} // namespace

QDateTime PictureTime(const ImageFile& file) {
    if (file.nameTime == 0)
        return QDateTime::fromSecsSinceEpoch(file.mtime);
    const auto digits = [&file](std::int64_t unit) { return int(file.nameTime / unit % 100); };
    const QDate date(int(file.nameTime / 10'000'000'000), digits(100'000'000), digits(1'000'000));
    const QTime time(digits(10'000), digits(100), digits(1));
    const QDateTime local(date, time);
    return local.isValid() ? local : QDateTime(date, time, Qt::UTC); // a local time the clock skipped
}

GalleryModel::GalleryModel(QObject* parent)
    : QAbstractListModel(parent), thumbnails_(kCacheBytes), blank_(blankPicture()),
      brokenPicture_(brokenSign()) {}

void GalleryModel::setFiles(const QString& folder, std::vector<ImageFile> files) {
    beginResetModel();
    folder_ = folder;
    files_ = std::move(files);
    broken_.assign(files_.size(), 0);
    thumbnails_.clear();
    endResetModel();
}

void GalleryModel::truncate(int rows) {
    if (rows >= rowCount())
        return;
    beginRemoveRows({}, rows, rowCount() - 1);
    for (int row = rows; row < rowCount(); ++row)
        thumbnails_.remove(row);
    files_.resize(std::size_t(rows));
    broken_.resize(std::size_t(rows));
    endRemoveRows();
}

QString GalleryModel::path(int row) const {
    return row >= 0 && row < rowCount() ? JoinPath(folder_, files_[std::size_t(row)].name) : QString();
}

bool GalleryModel::hasThumbnail(int row) const {
    return isBroken(row) || thumbnails_.contains(row);
}

bool GalleryModel::isBroken(int row) const {
    return row >= 0 && row < rowCount() && broken_[std::size_t(row)];
}

void GalleryModel::setThumbnails(const std::vector<std::pair<int, QImage>>& images,
                                 const std::vector<int>& broken) {
    std::vector<int> changed;
    for (const auto& [row, image] : images) {
        if (row >= rowCount() || image.isNull())
            continue;
        auto* pixmap = new QPixmap(QPixmap::fromImage(image));
        const qsizetype cost = qsizetype(pixmap->width()) * pixmap->height() * 4;
        thumbnails_.insert(row, pixmap, cost); // takes ownership
        changed.push_back(row);
    }
    for (int row : broken) {
        if (row < rowCount()) {
            broken_[std::size_t(row)] = 1;
            changed.push_back(row);
        }
    }
    announce(std::move(changed));
}

void GalleryModel::announce(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        Q_EMIT dataChanged(index(rows[i]), index(rows[j]), {Qt::DecorationRole});
        i = j + 1;
    }
}

int GalleryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(files_.size());
}

QVariant GalleryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row();
    const ImageFile& file = files_[std::size_t(row)];
    switch (role) {
    case Qt::DisplayRole:
        return file.name + QLatin1Char('\n') + QLocale().toString(PictureTime(file), QLocale::ShortFormat);
    case Qt::DecorationRole:
        if (broken_[std::size_t(row)])
            return brokenPicture_;
        if (const QPixmap* pixmap = thumbnails_.object(row))
            return *pixmap;
        return blank_;
    case PathRole:
        return path(row);
    default:
        return {};
    }
}

} // namespace zantrel
