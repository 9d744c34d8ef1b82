#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zantrel {

// One published image as the live view serves it: the JPEG bytes, when it was published and its tag.
struct PublishedImage {
    QByteArray jpeg;
    QDateTime time;  // UTC
    QByteArray etag; // quoted, from the content
};

// What the live view knows of the program, shared between the thread that feeds it and the server's
// threads. Every member is safe on any thread.
class LiveViewState {
  public:
    void setImage(QByteArray jpeg, const QDateTime& time);
    // Null until the first image.
    std::shared_ptr<const PublishedImage> image() const;

    // The server entries (from 1) that received an image at time; their addresses are read now.
    void noteUploads(const std::vector<std::int32_t>& entries, const QDateTime& time);
    // Publishing on the schedule, with the next update (local time), or not.
    void setSchedule(std::optional<QDateTime> nextUpdate);
    // "connected", "lost" or "none", and the camera's name.
    void setCamera(const QString& state, const QString& name);

    // Where the events under way come from (any thread); none: no events.
    void setEvents(std::function<QJsonArray()> events);
    // What is wrong beside the events (the live view itself not running).
    void setWarnings(QStringList warnings);
    // Where the metrics come from, in Prometheus' text format (any thread); none: no /metrics.
    void setMetrics(std::function<QByteArray()> metrics);
    // The metrics text; nothing when there is no source.
    std::optional<QByteArray> metricsText() const;

    // The state as JSON: camera, image, targets with their last success (named without a login written
    // into their address), next update, events and warnings.
    QByteArray statusJson() const;

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const PublishedImage> image_;
    struct Success {
        QString address;
        QDateTime time;
    };
    std::map<std::int32_t, Success> lastSuccess_;
    std::optional<QDateTime> nextUpdate_;
    QString cameraState_ = QStringLiteral("none");
    QString cameraName_;
    std::function<QJsonArray()> events_;
    std::function<QByteArray()> metrics_;
    QStringList warnings_;
};

} // namespace zantrel
