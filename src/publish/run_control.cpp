#include "publish/run_control.h"

#include "capture/capture_window.h"
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"

namespace zantrel {

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
    // as the first); the interval counts from its end. A fixed date waits for its moment.
    if (jobRunning_ || ReadNumber(keys::UpdateType) == 0.0)
        return;
    timer_.stop();
    const quint64 generation = generation_;
    runJob([this, generation] { scheduleAfterJob(generation); });
}

void RunControl::reschedule() {
    ++generation_;
    idleText_ = QStringLiteral("Ready");
    setButtons({false, false, true, false});
    next_ = ComputeNextUpdate();
    timer_.start();
    showState();
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
    if (blinkPhase_ != 1) {
        Q_EMIT trayImageChanged(MasterIcon);
        blinkPhase_ = 1;
    } else {
        Q_EMIT trayImageChanged(NowIcon);
        blinkPhase_ = 2;
    }
    showState();

    if (jobRunning_ || !IsDue(next_, clock().now()))
        return;
    timer_.stop();
    const quint64 generation = generation_;
    runJob([this, generation] {
        if (ReadNumber(keys::UpdateType) != 0.0)
            scheduleAfterJob(generation);
    });
}

void RunControl::scheduleAfterJob(quint64 generation) {
    // Publishing goes on only if nobody pressed stop (or run again) while the job ran.
    if (generation != generation_)
        return;
    next_ = ComputeNextUpdate();
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
