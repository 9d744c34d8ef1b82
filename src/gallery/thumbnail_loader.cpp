#include "gallery/thumbnail_loader.h"

#include "gallery/gallery_model.h"
#include "gallery/thumbnail_queue.h"

#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace zantrel {

// What the threads of one fill share: the listing and the queue. Kept alive by every thread that
// uses it, so closing the gallery never pulls it from under a running decoder.
struct FillJob {
    QString folder;
    ImageOrder order = ImageOrder::OldestFirst;
    std::mutex mutex;
    std::optional<std::vector<ImageFile>> listing; // set once by the listing thread
    std::shared_ptr<const std::vector<ImageFile>> files;
    std::unique_ptr<ThumbnailQueue> queue;
};

namespace {

// Decoding must never slow down the publishing job or the window: run the pool's threads niced.
void lowerThreadPriority() {
    setpriority(PRIO_PROCESS, ::gettid(), 10);
}

int threadCount() {
    return std::clamp(QThread::idealThreadCount(), 1, 2);
}

} // namespace

ThumbnailLoader::ThumbnailLoader(GalleryModel& model, ThumbnailCache cache, ThumbnailDecoder decoder,
                                 QObject* parent)
    : QObject(parent), model_(model), maker_(std::move(cache), std::move(decoder)) {
    pool_.setMaxThreadCount(threadCount() + 1); // one more for listing
    timer_.setInterval(kBatchMs);
    connect(&timer_, &QTimer::timeout, this, &ThumbnailLoader::tick);
}

ThumbnailLoader::~ThumbnailLoader() {
    if (job_ && job_->queue)
        job_->queue->stopAll();
    pool_.waitForDone();
}

void ThumbnailLoader::start(const QString& folder, ImageOrder order) {
    if (job_ && job_->queue)
        job_->queue->stopAll();
    job_ = std::make_shared<FillJob>();
    job_->folder = folder;
    job_->order = order;
    model_.setFiles(folder, {});
    processed_.clear();
    prefix_ = 0;
    announced_ = 0;
    loading_ = true;
    Q_EMIT footNoteChanged(QStringLiteral("Loading Images..."));
    pool_.start([job = job_] {
        lowerThreadPriority();
        auto files = ListImageFolder(job->folder, job->order);
        std::lock_guard lock(job->mutex);
        job->listing = std::move(files);
    });
    timer_.start();
}

void ThumbnailLoader::cancel() {
    if (!loading_)
        return;
    if (job_->queue)
        job_->queue->stopFill();
    else
        job_->files = std::make_shared<const std::vector<ImageFile>>(); // the listing is dropped
    model_.truncate(prefix_);
    finish();
}

void ThumbnailLoader::setVisibleRows(int first, int last) {
    visibleFirst_ = first;
    visibleLast_ = last;
    requestVisible();
}

void ThumbnailLoader::tick() {
    if (!job_)
        return;
    if (!job_->files) {
        std::optional<std::vector<ImageFile>> listing;
        {
            std::lock_guard lock(job_->mutex);
            listing.swap(job_->listing);
        }
        if (listing)
            listed(std::move(*listing));
    }
    if (job_->queue) {
        apply(job_->queue->drain());
        requestVisible();
    }
    if (!loading_ && (!job_->queue || !job_->queue->busy()))
        timer_.stop();
}

void ThumbnailLoader::listed(std::vector<ImageFile> files) {
    job_->files = std::make_shared<const std::vector<ImageFile>>(files);
    job_->queue = std::make_unique<ThumbnailQueue>(int(files.size()));
    processed_.assign(files.size(), 0);
    model_.setFiles(job_->folder, std::move(files));
    advanceProgress(); // announces the first file, or ends an empty fill
    if (loading_)
        startWorkers();
}

void ThumbnailLoader::apply(std::vector<ThumbnailResult> results) {
    if (results.empty())
        return;
    std::vector<std::pair<int, QImage>> images;
    std::vector<int> broken;
    for (auto& result : results) {
        if (result.row >= model_.rowCount())
            continue; // removed by a cancel
        processed_[std::size_t(result.row)] = 1;
        if (result.failed)
            broken.push_back(result.row);
        else if (!result.image.isNull() && inBand(result.row))
            images.emplace_back(result.row, std::move(result.image));
    }
    model_.setThumbnails(images, broken);
    if (loading_)
        advanceProgress();
}

void ThumbnailLoader::advanceProgress() {
    const auto& files = model_.files();
    const int n = int(files.size());
    while (prefix_ < n && processed_[std::size_t(prefix_)])
        ++prefix_;
    // Every file in turn, so the progress line reads the same however the batches fall.
    for (; announced_ <= prefix_ && announced_ < n; ++announced_)
        Q_EMIT footNoteChanged(QStringLiteral("Loading ") + files[std::size_t(announced_)].name +
                               QStringLiteral("... (") + QString::number(announced_ + 1) +
                               QStringLiteral(" of ") + QString::number(n) + QLatin1Char(')'));
    if (prefix_ >= n)
        finish();
}

std::pair<int, int> ThumbnailLoader::band() const {
    if (visibleFirst_ > visibleLast_)
        return {0, ThumbnailQueue::kFirstBand - 1};
    const int screen = visibleLast_ - visibleFirst_ + 1;
    return {visibleFirst_ - kBandScreens * screen, visibleLast_ + kBandScreens * screen};
}

bool ThumbnailLoader::inBand(int row) const {
    const auto [first, last] = band();
    return row >= first && row <= last;
}

void ThumbnailLoader::requestVisible() {
    if (!job_ || !job_->queue)
        return;
    std::vector<int> missing;
    for (int row = std::max(0, visibleFirst_); row <= std::min(model_.rowCount() - 1, visibleLast_); ++row)
        if (!model_.hasThumbnail(row))
            missing.push_back(row);
    const auto [first, last] = band();
    job_->queue->setBand(first, last);
    if (missing.empty())
        return;
    job_->queue->setUrgent(std::move(missing));
    startWorkers();
    if (!timer_.isActive())
        timer_.start();
}

void ThumbnailLoader::startWorkers() {
    const int more = job_->queue->claimWorkers(threadCount());
    for (int i = 0; i < more; ++i) {
        pool_.start([job = job_, maker = &maker_] {
            lowerThreadPriority();
            while (const auto task = job->queue->take())
                job->queue->finish(maker->make(task->row, job->folder, (*job->files)[std::size_t(task->row)],
                                               task->wantImage));
        });
    }
}

void ThumbnailLoader::finish() {
    loading_ = false;
    Q_EMIT footNoteChanged(QString());
    Q_EMIT finished();
}

} // namespace zantrel
