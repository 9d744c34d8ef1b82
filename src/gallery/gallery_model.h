#pragma once

#include "gallery/image_folder.h"

#include <QAbstractListModel>
#include <QCache>
#include <QDateTime>
#include <QPixmap>
#include <vector>

namespace zantrel {

// When a picture was taken: for an archive copy the date and time its name holds (its file time may be
// that of a later copy or restore), for any other file its last modification.
QDateTime PictureTime(const ImageFile& file);

// The items of the gallery grid: one per picture file, its text the file name and, on a second line,
// the picture's date and time (PictureTime); its icon the thumbnail when one is in memory, a blank picture
// while none is, and a "broken picture" sign for a file that cannot be decoded. Thumbnails are held in a
// cache of bounded size, so that any number of files costs little more memory than the files' names.
class GalleryModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role { PathRole = Qt::UserRole + 1 };
    static constexpr qsizetype kCacheBytes = 32 * 1024 * 1024;

    explicit GalleryModel(QObject* parent = nullptr);

    void setFiles(const QString& folder, std::vector<ImageFile> files);
    // Keeps only the first `rows` items.
    void truncate(int rows);

    QString folder() const { return folder_; }
    const std::vector<ImageFile>& files() const { return files_; }
    QString path(int row) const;

    // The row's picture is in memory, or the row is known not to have one.
    bool hasThumbnail(int row) const;
    bool isBroken(int row) const;
    // Applies a batch of finished rows with one change signal per run of neighbouring rows.
    void setThumbnails(const std::vector<std::pair<int, QImage>>& images, const std::vector<int>& broken);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    void announce(std::vector<int> rows);

    QString folder_;
    std::vector<ImageFile> files_;
    std::vector<char> broken_;
    mutable QCache<int, QPixmap> thumbnails_;
    QPixmap blank_;
    QPixmap brokenPicture_;
};

} // namespace zantrel
