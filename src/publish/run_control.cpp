#include "publish/run_control.h"

#include "capture/capture_window.h"
#include "core/active_hours.h"
#include "core/clock.h"
#include "core/log_line.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"

#include <algorithm>
#include <cstdio>

namespace zantrel {

namespace {

bool periodic() {
    return ReadNumber(keys::UpdateType) != 0.0;
}

NextUpdate fieldsOf(const QDateTime& t) {
    const QDate d = t.date();
    const QTime c = t.time();
    return {std::int16_t(d.year()), std::int16_t(d.month()),  std::int16_t(d.day()),
            std::int16_t(c.hour()), std::int16_t(c.minute()), std::int16_t(c.second())};
}

QDateTime momentOf(const NextUpdate& n) {
    return QDateTime(QDate(n.year, n.month, n.day), QTime(n.hour, n.minute, n.second));
}

QDateTime wholeSecond(const QDateTime& t) {
    return t.addMSecs(-t.time().msec());
}

// The first due time of the schedule that was due at `due` not before now: one interval after it, or
// after a job that ran long (or a machine that slept) the next one on the same beat, the ones missed
// left out. Without a known due time, or when the clock went back, one interval from now.
NextUpdate nextOnTheBeat(const QDateTime& due) {
    const QDateTime now = wholeSecond(clock().now());
    const NextUpdate fromNow = ComputeNextUpdate(now);
    if (!due.isValid() || due > now)
        return fromNow;
    const QDateTime after = momentOf(ComputeNextUpdate(due));
    const qint64 interval = after.isValid() ? due.secsTo(after) : 0;
    if (interval <= 0)
        return fromNow;
    const qint64 beats = std::max<qint64>(1, (due.secsTo(now) + interval - 1) / interval);
    const QDateTime next = due.addSecs(beats * interval);
    const QDateTime latest = momentOf(fromNow);
    return latest.isValid() && next > latest ? fromNow : fieldsOf(next);
}

} // namespace

RunControl::RunControl(StatusSink& status, QObject* parent) : QObject(parent), status_(status) {
    timer_.setObjectName(QStringLiteral("MasterTimer"));
    timer_.setInterval(500);
    connect(&timer_, &QTimer::timeout, this, &RunControl::tick);
}

void RunControl::setJob(JobStarter start, JobStopper stop) {
    startJob_ = std::move(start);
    stopJob_ = std::move(stop);
}

void RunControl::setButtons(Buttons b) {
    buttons_ = b;
    Q_EMIT buttonsChanged(b);
}

void RunControl::FTPRun() {
    reschedule();
    // The first image goes out at once in periodic mode (unless a job already runs, which then counts
    // as the first); the schedule beats from its start. A fixed date waits for its moment.
    if (jobRunning_ || !periodic() || !inActiveHours(clock().now()))
        return;
    timer_.stop();
    due_ = wholeSecond(clock().now());
    const quint64 generation = generation_;
    runJob([this, generation] { scheduleAfterJob(generation); });
}

void RunControl::reschedule() {
    ++generation_;
    idleText_ = QStringLiteral("Ready");
    setButtons({false, false, true, false});
    due_ = {};
    next_ = scheduledUpdate();
    timer_.start();
    showState();
}

ActiveHours RunControl::activeHours() {
    QString refusal;
    ActiveHours hours = ActiveHours::FromSettings(&refusal);
    // A hand-edited window that makes no sense is said once, not at every tick.
    if (refusal != refusal_ && !refusal.isEmpty())
        LogLine(LogPriority::Warning,
                QStringLiteral("webcam-zantrel: %1: publishing at all hours").arg(refusal));
    refusal_ = refusal;
    return hours;
}

bool RunControl::inActiveHours(const QDateTime& moment) {
    return activeHours().contains(moment);
}

NextUpdate RunControl::scheduledUpdate() {
    const NextUpdate next = nextOnTheBeat(due_);
    if (!periodic())
        return next;
    // An update that falls outside the active hours waits for their next start.
    const QDateTime due(QDate(next.year, next.month, next.day), QTime(next.hour, next.minute, next.second));
    const QDateTime start = activeHours().nextStart(due);
    return start.isValid() ? fieldsOf(start) : next;
}

void RunControl::FTPNow() {
    if (jobRunning_)
        return;
    setButtons({false, false, true, false});
    idleText_ = QStringLiteral("Ready");
    Q_EMIT trayImageChanged(NowIcon);
    const quint64 generation = generation_;
    runJob([this, generation] {
        Q_EMIT trayImageChanged(MasterIcon);
        // A stop during the job already put the buttons back; a run started meanwhile keeps its own.
        if (generation == generation_)
            setButtons({true, true, false, true});
    });
}

void RunControl::FTPStop() {
    ++generation_;
    setButtons({true, true, false, true});
    timer_.stop();
    Q_EMIT trayImageChanged(MasterIcon);
    if (stopJob_)
        stopJob_();
    // The closed connection says so first; what stays is that publishing stopped.
    idleText_ = QStringLiteral("Stopped");
    showState();
}

void RunControl::tick() {
    Q_EMIT ticked();
    if (blinkPhase_ != 1) {
        Q_EMIT trayImageChanged(MasterIcon);
        blinkPhase_ = 1;
    } else {
        Q_EMIT trayImageChanged(NowIcon);
        blinkPhase_ = 2;
    }
    showState();

    const QDateTime now = clock().now();
    if (jobRunning_ || !IsDue(next_, now))
        return;
    if (periodic() && !inActiveHours(now)) {
        // The window closed (or changed) since the update was planned: on to its next start.
        next_ = scheduledUpdate();
        return;
    }
    timer_.stop();
    due_ = momentOf(next_);
    const quint64 generation = generation_;
    runJob([this, generation] {
        if (periodic())
            scheduleAfterJob(generation);
    });
}

void RunControl::scheduleAfterJob(quint64 generation) {
    // Publishing goes on only if nobody pressed stop (or run again) while the job ran.
    if (generation != generation_)
        return;
    next_ = scheduledUpdate();
    timer_.start();
}

void RunControl::setCameraLostSince(const QDateTime& since) {
    cameraLostSince_ = since;
    showState();
}

QString RunControl::stateText() const {
    if (cameraLostSince_.isValid())
        return CameraLostText(cameraLostSince_);
    if (!timer_.isActive())
        return idleText_;
    return countdown_ ? NextUpdateStatusText(next_, clock().now()) : NextUpdateStatusText(next_);
}

void RunControl::showState() {
    status_.setStatus(stateText());
}

void RunControl::runJob(std::function<void()> after) {
    jobRunning_ = true;
    auto finish = [this, after = std::move(after)] {
        jobRunning_ = false;
        after();
        // The job's last words (the closed connection) give way to what publishing does now.
        showState();
        Q_EMIT jobFinished();
    };
    // A refused job ends at once, so the buttons and the schedule never wait for a job that never runs.
    if (!startJob_ || !startJob_(finish))
        finish();
}

} // namespace zantrel
