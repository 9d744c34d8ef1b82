#pragma once

#include "publish/publish_job.h"

#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

namespace zantrel {

// Something wrong with publishing that began or ended. event is "failing", "stale", "camera-lost" or
// "disk-low" when it begins and "recovered" when it ends; condition always names what began or ended.
struct HealthEvent {
    QString event;
    QString condition;
    QString target;        // the server's address for "failing", else empty
    QDateTime since;       // when the condition began
    QDateTime lastSuccess; // the last image published (to this server, for "failing"); invalid: none yet
    QString message;
};

// When a server counts as failing and publishing as stale.
struct HealthLimits {
    int after = 3;                // failed jobs in a row
    std::chrono::seconds stale{}; // without any image published; zero: never
};
// From ALERT/AFTER and ALERT/STALE as they are stored now; STALE 0 is three update intervals.
HealthLimits ReadHealthLimits(const QDateTime& now);

// Turns what the jobs report into events, each once when its condition begins and once when it ends.
// Plain state: one thread at a time.
class HealthTracker {
  public:
    explicit HealthTracker(const QDateTime& start) : staleFrom_(start) {}

    std::vector<HealthEvent> noteOutcome(const PublishOutcome& outcome, const QDateTime& now,
                                         const HealthLimits& limits);
    // Publishing on a schedule or not: time without a schedule never makes publishing stale.
    std::vector<HealthEvent> check(const QDateTime& now, bool scheduled, const HealthLimits& limits);

    // The conditions under way, as the state document lists them: event, target, since, message.
    QJsonArray active() const;
    QStringList reasons() const; // their messages

  private:
    void begin(std::vector<HealthEvent>& out, HealthEvent e);
    void begin(std::vector<HealthEvent>& out, const QString& key, HealthEvent e);
    void end(std::vector<HealthEvent>& out, const QString& key, const QDateTime& now, const QString& message);

    struct Target {
        QString label;
        QString server; // the entry's address, port, login and folder
        int failures = 0;
        QDateTime firstFailure;
        QDateTime lastSuccess;
    };
    std::map<std::int32_t, Target> targets_;
    std::map<QString, HealthEvent> active_; // by condition and server entry
    QDateTime lastPublished_;
    QDateTime staleFrom_; // the last image published, or when watching on a schedule began
    bool scheduled_ = true;
};

} // namespace zantrel
