#include "publish/run_control.h"

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
    ++generation_;
    setButtons({false, false, true, false});
    next_ = ComputeNextUpdate();
    timer_.start();
}

void RunControl::FTPNow() {
    if (jobRunning_)
        return;
    setButtons({false, false, true, false});
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
    status_.setStatus(QStringLiteral("Stopped"));
    Q_EMIT trayImageChanged(MasterIcon);
    if (stopJob_)
        stopJob_();
    else
        status_.setStatus(QStringLiteral("End Transfering"));
}

void RunControl::tick() {
    if (blinkPhase_ != 1) {
        Q_EMIT trayImageChanged(MasterIcon);
        blinkPhase_ = 1;
    } else {
        Q_EMIT trayImageChanged(NowIcon);
        blinkPhase_ = 2;
    }
    status_.setStatus(NextUpdateStatusText(next_));

    if (jobRunning_ || !IsDue(next_, clock().now()))
        return;
    timer_.stop();
    const quint64 generation = generation_;
    runJob([this, generation] {
        // Publishing goes on only if nobody pressed stop (or run again) while the job ran.
        if (generation != generation_)
            return;
        if (ReadNumber(keys::UpdateType) != 0.0) {
            next_ = ComputeNextUpdate();
            timer_.start();
        }
    });
}

void RunControl::runJob(std::function<void()> after) {
    jobRunning_ = true;
    auto finish = [this, after = std::move(after)] {
        jobRunning_ = false;
        after();
        Q_EMIT jobFinished();
    };
    // A refused job ends at once, so the buttons and the schedule never wait for a job that never runs.
    if (!startJob_ || !startJob_(finish))
        finish();
}

} // namespace zantrel
