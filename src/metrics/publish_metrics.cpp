#include "metrics/publish_metrics.h"

#include "capture/capture_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "health/health_monitor.h"
#include "metrics/exposition.h"
#include "publish/archive_retention.h"
#include "publish/job_runner.h"

#include <QDir>
#include <QJsonObject>
#include <algorithm>

namespace zantrel {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the archive's free space is asked for, and its listing looked at.
constexpr auto kArchiveTick = std::chrono::seconds(5);
// The archive is listed again after a copy was written, but no sooner than this many times the
// listing's own cost (a few seconds for a folder of a hundred thousand copies), and at least this often
// for copies added or removed by others.
constexpr int kListingCostFactor = 50;
constexpr auto kListingAtLeast = std::chrono::minutes(10);

// The conditions an alert is raised for.
constexpr const char* kConditions[] = {"failing", "stale", "camera-lost", "disk-low"};

double epochSeconds(const QDateTime& t) {
    return static_cast<double>(t.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

MetricsSources ProgramMetricsSources(const CaptureWindow& capture,
                                     std::shared_ptr<const ActiveEvents> alerts) {
    MetricsSources s;
    s.frameAgeMs = [&capture] { return capture.frameAgeMs(); };
    s.cameraLost = [&capture] { return capture.lostSince().isValid(); };
    s.alerts = std::move(alerts);
    s.archiveFolder = [] {
        return ReadFlag(keys::ImageSaveCopy) ? GetSetting(keys::ImagePath, QDir::currentPath()) : QString();
    };
    return s;
}

const std::vector<double>& PublishMetrics::deliveryBounds() {
    static const std::vector<double> bounds{0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
    return bounds;
}

PublishMetrics::PublishMetrics(JobRunner& jobs, MetricsSources sources, QObject* parent)
    : QObject(parent), jobs_(jobs), sources_(std::move(sources)) {
    observer_ = jobs.observeOutcomes(
        [this](const PublishOutcome& outcome) { note(outcome, QDateTime::currentDateTimeUtc()); });
    measurer_ = std::thread([this] { measure(); });
}

PublishMetrics::~PublishMetrics() {
    jobs_.forgetObserver(observer_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    measurer_.join();
}

void PublishMetrics::note(const PublishOutcome& outcome, const QDateTime& now) {
    std::lock_guard lock(mutex_);
    if (outcome.complete()) {
        ++jobsSucceeded_;
        lastSuccess_ = now;
    } else {
        ++jobsFailed_;
    }
    archiveWritten_ = archiveWritten_ || outcome.archiveWritten;
    for (const PublishOutcome::TargetOutcome& t : outcome.targets) {
        Target& target = targets_[{t.entry, t.label}];
        ++(t.delivered ? target.delivered : target.failed);
        if (t.delivered)
            target.lastSuccess = now;
        if (!t.seconds)
            continue; // it never ran, or was still at work when the job stopped waiting for it
        const std::vector<double>& bounds = deliveryBounds();
        target.buckets.resize(bounds.size() + 1);
        ++target.buckets[static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), *t.seconds) -
                                                  bounds.begin())];
        target.seconds += *t.seconds;
    }
}

void PublishMetrics::measure() {
    QString listed; // the folder last listed
    SteadyClock::time_point listedAt;
    SteadyClock::duration listingCost{};
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        const QString folder = sources_.archiveFolder ? sources_.archiveFolder() : QString();
        Archive found;
        if (!folder.isEmpty())
            found.freeBytes = ArchiveRetention::freeBytes(folder);
        lock.lock();
        const auto now = SteadyClock::now();
        const bool due = folder != listed || now - listedAt >= kListingAtLeast ||
                         (archiveWritten_ && now - listedAt >= kListingCostFactor * listingCost);
        if (folder.isEmpty()) {
            archive_ = {};
            listed.clear();
        } else if (due) {
            archiveWritten_ = false;
            lock.unlock();
            std::int64_t bytes = 0;
            const std::vector<ArchiveRetention::Entry> files = ArchiveRetention::listFolder(folder);
            for (const ArchiveRetention::Entry& file : files)
                bytes += file.size;
            listed = folder;
            listedAt = SteadyClock::now();
            listingCost = listedAt - now;
            lock.lock();
            found.bytes = bytes;
            found.files = static_cast<std::int64_t>(files.size());
            archive_ = found;
        } else {
            archive_.freeBytes = found.freeBytes;
        }
        wake_.wait_for(lock, kArchiveTick, [this] { return stopping_; });
    }
}

QByteArray PublishMetrics::text() const {
    // A copy taken at once: the formatting holds up no job.
    std::unique_lock lock(mutex_);
    const quint64 succeeded = jobsSucceeded_, failed = jobsFailed_;
    const std::optional<QDateTime> lastSuccess = lastSuccess_;
    const auto targets = targets_;
    const Archive archive = archive_;
    lock.unlock();

    Exposition out;
    using Labels = Exposition::Labels;
    out.family("webcam_zantrel_build_info", "gauge", "The program's version and source revision");
    out.sample("webcam_zantrel_build_info",
               {{"version", QStringLiteral("%1.%2").arg(kVersionMajor).arg(kVersionMinor)},
                {"revision", QString::number(BuildRevision())}},
               1);

    out.family("webcam_zantrel_jobs_total", "counter",
               "Publishing jobs by result: success when the camera's picture reached the working file and "
               "every server tried");
    out.sample("webcam_zantrel_jobs_total", {{"result", QStringLiteral("success")}}, double(succeeded));
    out.sample("webcam_zantrel_jobs_total", {{"result", QStringLiteral("failure")}}, double(failed));
    out.family("webcam_zantrel_last_success_timestamp_seconds", "gauge",
               "When the last successful job ended (seconds since 1970)");
    if (lastSuccess)
        out.sample("webcam_zantrel_last_success_timestamp_seconds", {}, epochSeconds(*lastSuccess));

    const auto targetLabels = [](const std::pair<std::int32_t, QString>& key) {
        return Labels{{"entry", QString::number(key.first)}, {"target", key.second}};
    };
    out.family("webcam_zantrel_deliveries_total", "counter",
               "Images sent to each server of the list, by result (delivered or failed)");
    for (const auto& [key, t] : targets) {
        for (const auto& [result, count] : {std::pair{"delivered", t.delivered}, {"failed", t.failed}}) {
            Labels labels = targetLabels(key);
            labels.emplace_back("result", QString::fromLatin1(result));
            out.sample("webcam_zantrel_deliveries_total", labels, double(count));
        }
    }
    out.family("webcam_zantrel_delivery_seconds", "histogram",
               "How long each delivery took, delivered or failed, from its start to its end");
    for (const auto& [key, t] : targets)
        if (!t.buckets.empty())
            out.histogram("webcam_zantrel_delivery_seconds", targetLabels(key), deliveryBounds(), t.buckets,
                          t.seconds);
    out.family("webcam_zantrel_target_last_success_timestamp_seconds", "gauge",
               "When each server last received an image (seconds since 1970)");
    for (const auto& [key, t] : targets)
        if (t.lastSuccess)
            out.sample("webcam_zantrel_target_last_success_timestamp_seconds", targetLabels(key),
                       epochSeconds(*t.lastSuccess));

    const qint64 frameAge = sources_.frameAgeMs ? sources_.frameAgeMs() : -1;
    const bool lost = sources_.cameraLost && sources_.cameraLost();
    out.family("webcam_zantrel_camera_up", "gauge", "1 while a camera runs and is not lost");
    out.sample("webcam_zantrel_camera_up", {}, frameAge >= 0 && !lost ? 1 : 0);
    out.family("webcam_zantrel_camera_frame_age_seconds", "gauge",
               "Seconds since the camera's newest frame (since it started, before the first)");
    if (frameAge >= 0)
        out.sample("webcam_zantrel_camera_frame_age_seconds", {}, double(frameAge) / 1000.0);

    out.family("webcam_zantrel_archive_bytes", "gauge", "The size of the archive's copies");
    if (archive.bytes)
        out.sample("webcam_zantrel_archive_bytes", {}, double(*archive.bytes));
    out.family("webcam_zantrel_archive_files", "gauge", "The number of the archive's copies");
    if (archive.files)
        out.sample("webcam_zantrel_archive_files", {}, double(*archive.files));
    out.family("webcam_zantrel_archive_free_bytes", "gauge",
               "Free space for this program on the archive's file system");
    if (archive.freeBytes)
        out.sample("webcam_zantrel_archive_free_bytes", {}, double(*archive.freeBytes));

    out.family("webcam_zantrel_alert_active", "gauge", "1 while an alert of the condition is under way");
    const QJsonArray events = sources_.alerts ? sources_.alerts->events() : QJsonArray();
    for (const char* condition : kConditions) {
        bool active = false;
        for (const QJsonValue& e : events)
            active = active || e[QStringLiteral("event")].toString() == QLatin1String(condition);
        out.sample("webcam_zantrel_alert_active", {{"condition", QString::fromLatin1(condition)}}, active);
    }
    return out.text();
}

} // namespace zantrel
