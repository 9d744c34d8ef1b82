#pragma once

#include "health/alert_delivery.h"
#include "health/health_events.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zantrel {

class JobRunner;
class RunControl;
class StatusSink;

// The conditions under way, for anyone on any thread (the live view's server, the state document).
class ActiveEvents {
  public:
    QJsonArray events() const;
    QStringList reasons() const;
    void set(QJsonArray events, QStringList reasons);

  private:
    mutable std::mutex mutex_;
    QJsonArray events_;
    QStringList reasons_;
};

// Watches what the jobs report and tells someone when publishing goes wrong and when it is right again:
// the hook, the mail and the desktop, as the ALERT settings ask. Its own thread takes each job's outcome
// (a job never waits for it), computes the events, delivers them one after another per kind, a failed
// delivery again after growing pauses, and keeps the state document. Lives on the UI thread; the pieces
// given must outlive it.
class HealthMonitor : public QObject {
    Q_OBJECT
  public:
    struct Options {
        // The pauses before the second, third... try of a delivery; after the last the event is dropped.
        std::vector<std::chrono::milliseconds> retryPauses{std::chrono::seconds(30), std::chrono::minutes(2),
                                                           std::chrono::minutes(10),
                                                           std::chrono::minutes(30)};
        std::chrono::milliseconds tick{std::chrono::seconds(1)};
        QString mailCaFile; // tests: the CA file the mail server's certificate is checked against
    };
    // run: whether publishing runs on a schedule (none: always). report takes delivery failures, each
    // said once until that delivery works again.
    HealthMonitor(JobRunner& jobs, RunControl* run, StatusSink& report, Options options);
    HealthMonitor(JobRunner& jobs, RunControl* run, StatusSink& report);
    ~HealthMonitor() override; // cuts a delivery under way short

    std::shared_ptr<const ActiveEvents> activeEvents() const { return active_; }
    // Keeps the state document at path (written when it changes, removed at the end): what state()
    // gives (any thread) with the events, the process id and the time it was written.
    void keepStateDocument(const QString& path, std::function<QJsonObject()> state);

  Q_SIGNALS:
    // The messages of the conditions under way; empty once all ended. On this object's thread.
    void conditionsChanged(const QStringList& reasons);
    // Each event as it begins or ends (after conditionsChanged). On this object's thread.
    void eventHappened(const zantrel::HealthEvent& event);

  private:
    enum Kind { Hook, Mail, KindCount };
    struct Delivery {
        HealthEvent event;
        QByteArray jpeg;
        int tries = 0;
        std::chrono::steady_clock::time_point due;
    };
    void work();
    void handle(const std::vector<HealthEvent>& events, const QByteArray& jpeg);
    void deliverDue();
    void writeState(const QJsonArray& events);
    void notifyDesktop(const HealthEvent& e);
    void pushSchedule();

    JobRunner& jobs_;
    RunControl* run_;
    StatusSink& report_;
    Options options_;
    int observer_ = 0;
    std::shared_ptr<ActiveEvents> active_ = std::make_shared<ActiveEvents>();
    std::atomic<bool> scheduled_{true};
    std::atomic<bool> stopping_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<PublishOutcome> pending_;
    QString statePath_;
    std::function<QJsonObject()> state_;

    // The worker's own.
    std::deque<Delivery> queues_[KindCount];
    bool failureSaid_[KindCount] = {};
    QByteArray lastState_;
    std::thread worker_;
};

} // namespace zantrel
