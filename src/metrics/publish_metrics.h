#pragma once

#include "publish/publish_job.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zantrel {

class ActiveEvents;
class CaptureWindow;
class JobRunner;

// What the metrics read of the rest of the program when they are asked for, on any thread.
struct MetricsSources {
    // Milliseconds since the camera's newest frame (since it started when none has come yet); negative
    // while no camera runs.
    std::function<qint64()> frameAgeMs;
    std::function<bool()> cameraLost;
    std::shared_ptr<const ActiveEvents> alerts; // none: no alerts watched
    // The archive's folder, or empty while no archive copies are kept. Read on the metrics' own thread.
    std::function<QString()> archiveFolder;
};

// The program's sources: its camera, the alerts given, and the archive as the IMAGE settings say now.
MetricsSources ProgramMetricsSources(const CaptureWindow& capture,
                                     std::shared_ptr<const ActiveEvents> alerts);

// The program's metrics for Prometheus: jobs by result, deliveries by target and result with their
// durations, the last success, the camera, the archive's size and free space, the alerts under way and
// the build. Counts what every job reports (the counting takes a lock for a moment; a job never waits
// for anything else), and measures the archive on a thread of its own, at most as often as the listing's
// cost allows, so that a scrape only formats what is known. text() may be called on any thread.
class PublishMetrics : public QObject {
  public:
    PublishMetrics(JobRunner& jobs, MetricsSources sources, QObject* parent = nullptr);
    ~PublishMetrics() override;

    // Counts one job's outcome, ended at now.
    void note(const PublishOutcome& outcome, const QDateTime& now);
    // Everything in the text exposition format.
    QByteArray text() const;

    // The upper bounds of the delivery time buckets, in seconds.
    static const std::vector<double>& deliveryBounds();

  private:
    struct Target {
        quint64 delivered = 0;
        quint64 failed = 0;
        std::vector<quint64> buckets; // per deliveryBounds(), and one for the slower ones
        double seconds = 0;           // the sum of the durations counted in buckets
        std::optional<QDateTime> lastSuccess;
    };
    struct Archive {
        std::optional<std::int64_t> bytes, files, freeBytes;
    };
    void measure(); // the thread that measures the archive

    JobRunner& jobs_;
    int observer_ = 0;
    MetricsSources sources_;

    mutable std::mutex mutex_;
    quint64 jobsSucceeded_ = 0;
    quint64 jobsFailed_ = 0;
    std::optional<QDateTime> lastSuccess_;
    std::map<std::pair<std::int32_t, QString>, Target> targets_; // by entry and address shown
    Archive archive_;
    bool archiveWritten_ = false; // a job wrote an archive copy since the folder was last listed
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread measurer_;
};

} // namespace zantrel
