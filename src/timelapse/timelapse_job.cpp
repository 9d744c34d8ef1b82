#include "timelapse/timelapse_job.h"

#include <QElapsedTimer>
#include <QPointer>

namespace zantrel {

namespace {

constexpr qint64 kProgressEveryMs = 100; // a few updates a second are enough for a progress bar

} // namespace

TimelapseJob::TimelapseJob(QObject* parent) : QObject(parent) {}

TimelapseJob::~TimelapseJob() {
    cancelled_ = true;
    if (worker_.joinable())
        worker_.join();
}

bool TimelapseJob::start(TimelapseRequest request, std::function<QStringList()> listPictures) {
    if (running_)
        return false;
    if (worker_.joinable())
        worker_.join(); // the previous encode has ended: finished() came
    running_ = true;
    cancelled_ = false;
    worker_ =
        std::thread([this, request = std::move(request), listPictures = std::move(listPictures)]() mutable {
            if (listPictures)
                request.pictures = listPictures();
            QElapsedTimer clock;
            clock.start();
            qint64 shownAt = -kProgressEveryMs;
            const auto report = [this, &clock, &shownAt](const TimelapseProgress& p) {
                const qint64 now = clock.elapsed();
                if (now - shownAt < kProgressEveryMs && p.done < p.total)
                    return;
                shownAt = now;
                const int left = p.done > 0 ? int(now * (p.total - p.done) / p.done / 1000) : -1;
                QMetaObject::invokeMethod(
                    this, [this, p, left] { Q_EMIT progress(p.done, p.total, left); }, Qt::QueuedConnection);
            };
            const TimelapseResult result =
                EncodeTimelapse(request, report, [this] { return cancelled_.load(); });
            QMetaObject::invokeMethod(
                this,
                [this, result] {
                    running_ = false;
                    Q_EMIT finished(result);
                },
                Qt::QueuedConnection);
        });
    return true;
}

} // namespace zantrel
