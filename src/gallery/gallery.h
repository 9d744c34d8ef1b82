#pragma once

#include "gallery/thumbnail_maker.h"

#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QListView;
class QModelIndex;
class QTimer;

namespace zantrel {

class CaptionRow;
class GalleryModel;
class ImageView;
class ThumbnailLoader;

// The gallery of the archive folder: a frameless window with its caption row (" Image Gallery",
// "maxres", "close"), the grid of thumbnails `MasterControls` and the progress line `FootNote`. The
// grid fills from the folder's current files each time the window opens; "close" during the fill only
// stops it. A double click opens the picture in the viewer. The list `GalleryOrder` puts the newest or
// the oldest archive copy first (remembered as GALLERY/NEWESTFIRST) and fills the grid again.
class Gallery : public QWidget {
    Q_OBJECT
  public:
    static constexpr QSize kInitialSize{390, 343};
    static constexpr QSize kMinimumSize{250, 200};
    static constexpr QSize kGridSize{132, 124};

    struct Options {
        QString cacheRoot;        // the thumbnails folder; empty for the desktop's
        ThumbnailDecoder decoder; // empty for the default
    };

    explicit Gallery(Options options = {}, QWidget* parent = nullptr);
    ~Gallery() override;

    // The main window's "Image Gallery" command: opens a gallery on the archive folder (the setting
    // IMAGE/PATH), modal to the application, deleted when closed. `owner` only bounds its lifetime.
    static Gallery* open(QWidget* owner = nullptr);

    // Shows the window and starts filling the grid from `folder`.
    void showFolder(const QString& folder);

    void captionClicked(const QString& key);
    void openItem(const QModelIndex& index);
    // "Make time-lapse...": a video of the pictures shown, or of chosen days of the archive.
    void makeTimelapse();

    bool loading() const;
    ImageOrder imageOrder() const;
    QListView* grid() const { return grid_; }
    QLabel* footNote() const { return footNote_; }
    QComboBox* order() const { return order_; }
    CaptionRow* caption() const { return caption_; }
    GalleryModel& model() const { return *model_; }
    ImageView* viewer() const { return viewer_; }

  Q_SIGNALS:
    void footNoteChanged(const QString& text);

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setFootNote(const QString& text);
    void fillFinished();
    void updateVisibleRows();
    void orderChosen(int index);
    void fill(const QString& folder);

    CaptionRow* caption_ = nullptr;
    QListView* grid_ = nullptr;
    QLabel* footNote_ = nullptr;
    QComboBox* order_ = nullptr;
    ImageView* viewer_ = nullptr;
    QTimer* scrollSettle_ = nullptr;
    std::unique_ptr<GalleryModel> model_;
    std::unique_ptr<ThumbnailLoader> loader_;
};

// The first and last rows the view shows (first > last when it shows none).
std::pair<int, int> VisibleRows(const QListView& view);

} // namespace zantrel
