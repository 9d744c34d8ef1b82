#include "health/health_monitor.h"

#include "core/instance.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "core/version.h"
#include "health/desktop_notice.h"
#include "health/state_document.h"
#include "publish/job_runner.h"
#include "publish/run_control.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <unistd.h>

namespace zantrel {

QJsonArray ActiveEvents::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

QStringList ActiveEvents::reasons() const {
    std::lock_guard lock(mutex_);
    return reasons_;
}

void ActiveEvents::set(QJsonArray events, QStringList reasons) {
    std::lock_guard lock(mutex_);
    events_ = std::move(events);
    reasons_ = std::move(reasons);
}

HealthMonitor::HealthMonitor(JobRunner& jobs, RunControl* run, StatusSink& report)
    : HealthMonitor(jobs, run, report, Options()) {}

HealthMonitor::HealthMonitor(JobRunner& jobs, RunControl* run, StatusSink& report, Options options)
    : jobs_(jobs), run_(run), report_(report), options_(std::move(options)) {
    observer_ = jobs.observeOutcomes([this](const PublishOutcome& outcome) {
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(outcome);
        }
        wake_.notify_one();
    });
    if (run_) {
        connect(run_, &RunControl::buttonsChanged, this, &HealthMonitor::pushSchedule, Qt::QueuedConnection);
        connect(run_, &RunControl::jobFinished, this, &HealthMonitor::pushSchedule);
        pushSchedule();
    }
    worker_ = std::thread([this] { work(); });
}

HealthMonitor::~HealthMonitor() {
    jobs_.forgetObserver(observer_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
    if (!statePath_.isEmpty())
        QFile::remove(statePath_);
}

void HealthMonitor::pushSchedule() {
    scheduled_ = run_->timerActive() || run_->jobRunning();
}

void HealthMonitor::keepStateDocument(const QString& path, std::function<QJsonObject()> state) {
    {
        std::lock_guard lock(mutex_);
        statePath_ = path;
        state_ = std::move(state);
    }
    wake_.notify_one();
}

void HealthMonitor::work() {
    using Clock = std::chrono::steady_clock;
    HealthTracker tracker(QDateTime::currentDateTime());
    QByteArray jpeg; // the newest image, for the mails
    bool stateDue = true;
    auto tickDue = Clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto until = tickDue;
        for (const auto& queue : queues_)
            if (!queue.empty())
                until = std::min(until, queue.front().due);
        wake_.wait_until(lock, until, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_)
            break;
        std::deque<PublishOutcome> outcomes;
        outcomes.swap(pending_);
        const bool wantState = !statePath_.isEmpty();
        lock.unlock();

        const QDateTime now = QDateTime::currentDateTime();
        const HealthLimits limits = ReadHealthLimits(now);
        std::vector<HealthEvent> events;
        for (const PublishOutcome& outcome : outcomes) {
            if (!outcome.image.isEmpty())
                jpeg = outcome.image;
            for (HealthEvent& e : tracker.noteOutcome(outcome, now, limits))
                events.push_back(std::move(e));
        }
        if (Clock::now() >= tickDue) {
            tickDue = Clock::now() + options_.tick;
            for (HealthEvent& e : tracker.check(now, scheduled_, limits))
                events.push_back(std::move(e));
            stateDue = true;
        }
        if (!events.empty()) {
            active_->set(tracker.active(), tracker.reasons());
            QMetaObject::invokeMethod(
                this,
                [this, reasons = tracker.reasons(), events] {
                    Q_EMIT conditionsChanged(reasons);
                    for (const HealthEvent& e : events)
                        Q_EMIT eventHappened(e);
                },
                Qt::QueuedConnection);
            handle(events, jpeg);
            stateDue = true;
        }
        if (stateDue && wantState) {
            writeState(tracker.active());
            stateDue = false;
        }
        deliverDue();
        lock.lock();
    }
}

void HealthMonitor::handle(const std::vector<HealthEvent>& events, const QByteArray& jpeg) {
    const bool hook = !GetSetting(keys::AlertUrl).trimmed().isEmpty();
    const bool mail = !GetSetting(keys::AlertMailTo).trimmed().isEmpty();
    const auto now = std::chrono::steady_clock::now();
    for (const HealthEvent& e : events) {
        if (hook)
            queues_[Hook].push_back({e, {}, 0, now});
        if (mail)
            queues_[Mail].push_back({e, jpeg, 0, now});
        if (ReadFlag(keys::AlertDesktop))
            QMetaObject::invokeMethod(
                this, [this, e] { notifyDesktop(e); }, Qt::QueuedConnection);
    }
}

void HealthMonitor::deliverDue() {
    const std::function<bool()> cancelled = [this] { return stopping_.load(); };
    for (int kind = 0; kind < KindCount; ++kind) {
        auto& queue = queues_[kind];
        // One after another, so a "recovered" never arrives before the event it ends.
        while (!queue.empty() && queue.front().due <= std::chrono::steady_clock::now() && !stopping_) {
            Delivery& d = queue.front();
            const QString url = GetSetting(keys::AlertUrl).trimmed();
            MailSettings mail = ReadMailSettings();
            if ((kind == Hook ? url : mail.to).isEmpty()) {
                queue.clear(); // switched off meanwhile
                break;
            }
            DeliveryResult r;
            if (kind == Hook) {
                r = PostAlert(url, AlertJson(d.event), std::chrono::seconds(10), cancelled);
            } else {
                mail.caFile = options_.mailCaFile;
                r = SendAlertMail(mail, d.event, d.jpeg, std::chrono::seconds(60), cancelled);
            }
            if (stopping_)
                return;
            if (r.ok) {
                failureSaid_[kind] = false;
                queue.pop_front();
                continue;
            }
            if (!failureSaid_[kind]) {
                failureSaid_[kind] = true;
                report_.setStatus(QStringLiteral("Error:") +
                                  (kind == Hook ? QStringLiteral("the alert hook failed: ")
                                                : QStringLiteral("the alert mail was not sent: ")) +
                                  r.error);
            }
            const auto tries = static_cast<std::size_t>(++d.tries);
            if (tries > options_.retryPauses.size())
                queue.pop_front(); // given up: the next event is not held back for ever
            else
                d.due = std::chrono::steady_clock::now() + options_.retryPauses[tries - 1];
        }
    }
}

void HealthMonitor::writeState(const QJsonArray& events) {
    QString path;
    std::function<QJsonObject()> state;
    {
        std::lock_guard lock(mutex_);
        path = statePath_;
        state = state_;
    }
    QJsonObject doc = state ? state() : QJsonObject();
    doc.insert(QStringLiteral("events"), events);
    doc.insert(QStringLiteral("pid"), static_cast<qint64>(::getpid()));
    doc.insert(QStringLiteral("program"), InstanceTitle());
    doc.insert(QStringLiteral("instance"), InstanceName());
    const QByteArray content = QJsonDocument(doc).toJson(QJsonDocument::Compact);
    if (content == lastState_)
        return;
    lastState_ = content;
    doc.insert(QStringLiteral("updated"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    WriteStateDocument(path, QJsonDocument(doc).toJson(QJsonDocument::Indented));
}

void HealthMonitor::notifyDesktop(const HealthEvent& e) {
    ShowDesktopNotice(InstanceTitle() + QStringLiteral(": ") + e.event, OneLine(e.message),
                      e.event != QLatin1String("recovered"), this);
}

} // namespace zantrel
