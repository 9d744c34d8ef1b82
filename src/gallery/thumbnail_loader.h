#pragma once

#include "gallery/thumbnail_maker.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <memory>
#include <vector>

namespace zantrel {

class GalleryModel;
class ThumbnailQueue;
struct FillJob;

// Fills a GalleryModel from a folder without holding up the user-interface thread: the folder is
// listed and the thumbnails are made on a small pool of low-priority threads, and their results are
// applied in batches a few dozen times a second. Rows on screen get their pictures first; the fill
// then goes through every file in the gallery's order so that the thumbnail cache holds them all, and reports
// its progress in that order. Only pictures near the screen are kept in memory.
class ThumbnailLoader : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBatchMs = 25;
    // Pictures are kept in memory for the rows on screen and this many screens above and below.
    static constexpr int kBandScreens = 2;

    ThumbnailLoader(GalleryModel& model, ThumbnailCache cache, ThumbnailDecoder decoder,
                    QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    // Lists `folder` in that order and fills the model from it.
    void start(const QString& folder, ImageOrder order = ImageOrder::OldestFirst);
    // Ends the fill early: the items finished in order so far stay, the rest are removed.
    void cancel();
    bool loading() const { return loading_; }

    // The rows on screen (first > last when none).
    void setVisibleRows(int first, int last);

  Q_SIGNALS:
    // "Loading Images...", then "Loading NAME... (i of n)" for every file in order, then "".
    void footNoteChanged(const QString& text);
    void finished();

  private:
    void tick();
    void listed(std::vector<ImageFile> files);
    void apply(std::vector<ThumbnailResult> results);
    void advanceProgress();
    void requestVisible();
    std::pair<int, int> band() const;
    bool inBand(int row) const;
    void startWorkers();
    void finish();

    GalleryModel& model_;
    ThumbnailMaker maker_;
    QThreadPool pool_;
    QTimer timer_;
    std::shared_ptr<FillJob> job_;
    std::vector<char> processed_;
    int prefix_ = 0;    // rows finished in order
    int announced_ = 0; // rows whose progress text went out
    int visibleFirst_ = 0;
    int visibleLast_ = -1;
    bool loading_ = false;
};

} // namespace zantrel
