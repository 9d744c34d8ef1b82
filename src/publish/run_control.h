#pragma once

#include "core/scheduler.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

namespace zantrel {

class ActiveHours;
class StatusSink;

// The user's switch over publishing: idle, publishing on the schedule, or one job on demand. Owns the
// update timer; keeps the run/now/stop buttons, the upper toolbar and the tray image in step with the
// state through signals, so the window only mirrors it.
class RunControl : public QObject {
    Q_OBJECT
  public:
    struct Buttons {
        bool run = true;
        bool now = true;
        bool stop = false;
        bool masterToolbar = true;
        friend bool operator==(const Buttons&, const Buttons&) = default;
    };
    enum TrayImage { MasterIcon = 1, NowIcon = 2 };

    // Starts one publishing job and calls done() on the UI thread when it has ended. False when the
    // job was refused (one still runs, or the program is closing): done() is then never called.
    using JobStarter = std::function<bool(std::function<void()> done)>;
    // Asks the running job to stop at once (closes its FTP connection).
    using JobStopper = std::function<void()>;

    explicit RunControl(StatusSink& status, QObject* parent = nullptr);

    void setJob(JobStarter start, JobStopper stop);

    // Publishing on the schedule: in periodic mode the first job runs at once, inside the active
    // hours; outside them, the schedule waits for their next start. Now ignores them. Jobs keep the
    // beat of the first: the one after a job that ran past its interval starts at the next due time
    // after it, the ones missed left out.
    void FTPRun();
    void FTPNow();
    void FTPStop();
    // Publishing on the schedule from the next update computed now, with no job at once (the settings
    // changed under a running schedule).
    void reschedule();
    // Whether the status line counts the time left down (on by default; a console that prints every
    // change of the text turns it off).
    void setCountdown(bool on) { countdown_ = on; }
    // What the status line shows between jobs: while the camera is lost, since when; otherwise the next
    // update while publishing, else "Ready" or, after Stop, "Stopped".
    QString stateText() const;
    // When the camera was lost; invalid once it is back. Shown at once.
    void setCameraLostSince(const QDateTime& since);

    // One tick of the update timer; public so tests can drive the schedule with a set clock.
    void tick();

    Buttons buttons() const { return buttons_; }
    bool timerActive() const { return timer_.isActive(); }
    bool jobRunning() const { return jobRunning_; }
    NextUpdate nextUpdate() const { return next_; }
    int trayBlinkPhase() const { return blinkPhase_; }
    QTimer& masterTimer() { return timer_; }

  Q_SIGNALS:
    void buttonsChanged(zantrel::RunControl::Buttons buttons);
    void trayImageChanged(int image);
    void jobFinished();
    // Each tick of the running schedule: the sign that it still runs.
    void ticked();

  private:
    void setButtons(Buttons b);
    void runJob(std::function<void()> after);
    void scheduleAfterJob(quint64 generation);
    void showState();
    // The active hours from the settings now; a refused window is reported once.
    ActiveHours activeHours();
    bool inActiveHours(const QDateTime& moment);
    // The next update of the schedule, on the beat of the last job's due time (due_), moved to the next
    // start of the active hours when it falls outside them.
    NextUpdate scheduledUpdate();

    StatusSink& status_;
    QTimer timer_;
    Buttons buttons_;
    NextUpdate next_;
    QDateTime due_; // when the last job on the schedule was due; invalid before the first
    int blinkPhase_ = 0;
    bool jobRunning_ = false;
    bool countdown_ = true;
    QString idleText_ = QStringLiteral("Ready");
    QString refusal_;
    QDateTime cameraLostSince_;
    // Bumped by every stop and run: a job that ends finds out whether publishing was stopped meanwhile.
    quint64 generation_ = 0;
    JobStarter startJob_;
    JobStopper stopJob_;
};

} // namespace zantrel
