#include "health/health_events.h"

#include "core/scheduler.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QJsonObject>
#include <algorithm>

namespace zantrel {

namespace {

const QString kFailing = QStringLiteral("failing");
const QString kStale = QStringLiteral("stale");
const QString kCameraLost = QStringLiteral("camera-lost");
const QString kDiskLow = QStringLiteral("disk-low");

QString keyOf(const QString& condition, const QString& target = {}) {
    return target.isEmpty() ? condition : condition + QLatin1Char(' ') + target;
}

} // namespace

HealthLimits ReadHealthLimits(const QDateTime& now) {
    HealthLimits limits;
    limits.after = std::max(1, ReadInt32(keys::AlertAfter));
    const std::int32_t minutes = ReadInt32(keys::AlertStale);
    if (minutes > 0) {
        limits.stale = std::chrono::minutes(minutes);
    } else if (ReadNumber(keys::UpdateType) != 0.0) {
        // Three of the intervals the schedule runs at; a fixed date has none.
        // In whole seconds, as the schedule counts them.
        const QDateTime present = now.addMSecs(-now.time().msec());
        const NextUpdate n = ComputeNextUpdate(present);
        const QDateTime next(QDate(n.year, n.month, n.day), QTime(n.hour, n.minute, n.second));
        const qint64 interval = next.isValid() ? present.secsTo(next) : 0;
        if (interval > 0)
            limits.stale = std::chrono::seconds(3 * interval);
    }
    return limits;
}

void HealthTracker::begin(std::vector<HealthEvent>& out, HealthEvent e) {
    const QString key = keyOf(e.condition, e.target);
    begin(out, key, std::move(e));
}

void HealthTracker::begin(std::vector<HealthEvent>& out, const QString& key, HealthEvent e) {
    if (active_.count(key))
        return;
    e.event = e.condition;
    active_.emplace(key, e);
    out.push_back(std::move(e));
}

void HealthTracker::end(std::vector<HealthEvent>& out, const QString& key, const QDateTime& now,
                        const QString& message) {
    const auto found = active_.find(key);
    if (found == active_.end())
        return;
    HealthEvent e = found->second;
    active_.erase(found);
    e.event = QStringLiteral("recovered");
    e.lastSuccess = now;
    e.message = message;
    out.push_back(std::move(e));
}

std::vector<HealthEvent> HealthTracker::noteOutcome(const PublishOutcome& outcome, const QDateTime& now,
                                                    const HealthLimits& limits) {
    std::vector<HealthEvent> out;
    bool published = outcome.targets.empty() && outcome.workingFileWritten;
    std::map<std::int32_t, Target> seen;
    for (const PublishOutcome::TargetOutcome& t : outcome.targets) {
        // One server entry (address, port, login and folder): two entries on one host fail apart.
        const QString server = t.server.isEmpty() ? t.label : t.server;
        Target state = targets_[t.entry];
        if (state.server != server) {
            // Another server under this number: the count starts again; the old one's failing ends.
            end(out, keyOf(kFailing, state.server), now,
                QStringLiteral("%1 left the server list").arg(state.label));
            state = Target{t.label, server, 0, {}, {}};
        }
        const QString shown =
            t.folder.isEmpty() ? t.label : QStringLiteral("%1 (folder %2)").arg(t.label, t.folder);
        if (t.delivered) {
            published = true;
            state.failures = 0;
            state.lastSuccess = now;
            end(out, keyOf(kFailing, server), now, QStringLiteral("Uploads to %1 work again").arg(shown));
        } else {
            if (state.failures++ == 0)
                state.firstFailure = now;
            if (state.failures >= limits.after)
                begin(out, keyOf(kFailing, server),
                      {{},
                       kFailing,
                       t.label,
                       state.firstFailure,
                       state.lastSuccess,
                       state.failures == 1 ? QStringLiteral("Uploads to %1 failed: %2").arg(shown, t.reason)
                                           : QStringLiteral("Uploads to %1 failed %2 times in a row: %3")
                                                 .arg(shown)
                                                 .arg(state.failures)
                                                 .arg(t.reason)});
        }
        seen[t.entry] = state;
    }
    if (outcome.uploadsOn) {
        // Servers no longer in the list fail no more.
        for (const auto& [entry, state] : targets_)
            if (!seen.count(entry) || seen[entry].server != state.server)
                end(out, keyOf(kFailing, state.server), now,
                    QStringLiteral("%1 left the server list").arg(state.label));
        targets_ = std::move(seen);
    } else {
        for (auto& [entry, state] : seen)
            targets_[entry] = state;
    }

    // The test card standing in for a failing camera shows nothing of the place: publishing is not fresh.
    if (published && !outcome.cameraLostSince.isValid()) {
        lastPublished_ = staleFrom_ = now;
        end(out, kStale, now, QStringLiteral("Images are published again"));
    }
    const QString camera = outcome.cameraName.isEmpty() ? QStringLiteral("The camera")
                                                        : QStringLiteral("Camera ") + outcome.cameraName;
    if (outcome.cameraLostSince.isValid())
        begin(out, {{},
                    kCameraLost,
                    {},
                    outcome.cameraLostSince,
                    lastPublished_,
                    camera + (outcome.testCard ? QStringLiteral(" is lost; the test card is published")
                                               : QStringLiteral(" is lost; nothing is published"))});
    else
        end(out, kCameraLost, now, QStringLiteral("The camera is back"));
    if (outcome.diskLow)
        begin(out, {{},
                    kDiskLow,
                    {},
                    now,
                    lastPublished_,
                    QStringLiteral("The archive's disk is full; archive copies are not written")});
    else if (outcome.workingFileWritten)
        end(out, kDiskLow, now, QStringLiteral("The archive's disk has room again"));
    return out;
}

std::vector<HealthEvent> HealthTracker::check(const QDateTime& now, bool scheduled,
                                              const HealthLimits& limits) {
    std::vector<HealthEvent> out;
    if (scheduled && !scheduled_ && staleFrom_ < now)
        staleFrom_ = now; // the time publishing rested does not count
    scheduled_ = scheduled;
    const qint64 quiet = staleFrom_.secsTo(now);
    if (scheduled && limits.stale.count() > 0 && quiet >= limits.stale.count())
        begin(out, {{},
                    kStale,
                    {},
                    lastPublished_.isValid() ? lastPublished_ : staleFrom_,
                    lastPublished_,
                    quiet < 120 ? QStringLiteral("No image was published for %1 seconds").arg(quiet)
                                : QStringLiteral("No image was published for %1 minutes").arg(quiet / 60)});
    return out;
}

QJsonArray HealthTracker::active() const {
    QJsonArray all;
    for (const auto& [key, e] : active_) {
        QJsonObject o{{QStringLiteral("event"), e.condition},
                      {QStringLiteral("since"), e.since.toUTC().toString(Qt::ISODate)},
                      {QStringLiteral("message"), e.message}};
        if (!e.target.isEmpty())
            o.insert(QStringLiteral("target"), e.target);
        all.append(o);
    }
    return all;
}

QStringList HealthTracker::reasons() const {
    QStringList all;
    for (const auto& [key, e] : active_)
        all << e.message;
    return all;
}

} // namespace zantrel
