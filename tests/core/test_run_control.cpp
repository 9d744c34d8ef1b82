#include "core/clock.h"
#include "core/run_control.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"

#include <QSignalSpy>
#include <QTest>

using namespace zantrel;
using zantrel::test::StatusRecorder;
using zantrel::test::TempStore;

namespace {

using Buttons = RunControl::Buttons;
const Buttons kIdle{true, true, false, true};
const Buttons kBusy{false, false, true, false};

// A job that the test finishes by hand, as a job on another thread would finish later.
struct ManualJob {
    int started = 0;
    int stopped = 0;
    std::function<void()> done;
    void attach(RunControl& rc, StatusRecorder& status) {
        rc.setJob([this](std::function<void()> d) { ++started, done = std::move(d); },
                  [this, &status] {
                      ++stopped;
                      status.setStatus(QStringLiteral("End Transfering"));
                  });
    }
    void finish() {
        auto d = std::move(done);
        done = nullptr;
        d();
    }
};

QDateTime at(int h, int m, int s) {
    return QDateTime(QDate(2026, 12, 6), QTime(h, m, s));
}

} // namespace

class TestRunControl : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void runTicksAndRunsThePeriodicJob() {
        TempStore store;
        ManualClock clock(at(10, 15, 20));
        ScopedClock use(clock);
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        QSignalSpy tray(&rc, &RunControl::trayImageChanged);

        rc.FTPRun();
        QVERIFY(rc.buttons() == kBusy);
        QVERIFY(rc.timerActive());
        QCOMPARE(rc.masterTimer().interval(), 500);

        rc.tick();
        rc.tick();
        rc.tick();
        QCOMPARE(status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:15:50"));
        QCOMPARE(tray.size(), 3);
        QCOMPARE(tray.at(0).at(0).toInt(), 1);
        QCOMPARE(tray.at(1).at(0).toInt(), 2);
        QCOMPARE(tray.at(2).at(0).toInt(), 1);
        QCOMPARE(job.started, 0);

        clock.set(at(10, 15, 50));
        rc.tick();
        QCOMPARE(job.started, 1);
        QVERIFY(!rc.timerActive());
        rc.tick(); // a stray tick during the job starts nothing
        QCOMPARE(job.started, 1);

        // The next interval counts from the end of the job.
        clock.set(at(10, 16, 5));
        job.finish();
        QVERIFY(rc.timerActive());
        QVERIFY(rc.buttons() == kBusy);
        rc.tick();
        QCOMPARE(status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:16:35"));
    }

    void aMissedMinuteStillRunsTheJob() {
        TempStore store;
        ManualClock clock(at(10, 15, 20));
        ScopedClock use(clock);
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        rc.FTPRun();
        clock.set(at(11, 40, 0)); // the machine slept past the due minute
        rc.tick();
        QCOMPARE(job.started, 1);
    }

    void fixedDateRunsOnceAndKeepsTheButtons() {
        TempStore store;
        ManualClock clock(at(9, 0, 0));
        ScopedClock use(clock);
        SaveSetting(keys::UpdateType, QStringLiteral("0"));
        SaveSetting(keys::UpdateHour, QStringLiteral("9"));
        SaveSetting(keys::UpdateMinute, QStringLiteral("30"));
        SaveSetting(keys::UpdateSecond, QStringLiteral("0"));
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        rc.FTPRun();
        rc.tick();
        QCOMPARE(job.started, 0);
        clock.set(at(9, 30, 1));
        rc.tick();
        QCOMPARE(job.started, 1);
        job.finish();
        QVERIFY(!rc.timerActive());
        QVERIFY(rc.buttons() == kBusy);
        rc.FTPStop();
        QVERIFY(rc.buttons() == kIdle);
    }

    void fixedDateInThePastRunsAtTheFirstTick() {
        TempStore store;
        ManualClock clock(at(9, 0, 0));
        ScopedClock use(clock);
        SaveSetting(keys::UpdateType, QStringLiteral("0"));
        SaveSetting(keys::UpdateYear, QStringLiteral("2020"));
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        rc.FTPRun();
        rc.tick();
        QCOMPARE(job.started, 1);
    }

    void stopBeforeTheFirstDueTime() {
        TempStore store;
        StatusRecorder status;
        RunControl rc(status);
        rc.FTPRun();
        rc.FTPStop();
        QVERIFY(!rc.timerActive());
        QVERIFY(rc.buttons() == kIdle);
        QCOMPARE(status.texts(), (QStringList{QStringLiteral("Stopped"), QStringLiteral("End Transfering")}));
    }

    void stopDuringAPeriodicJobEndsPublishing() {
        TempStore store;
        ManualClock clock(at(10, 0, 0));
        ScopedClock use(clock);
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        rc.FTPRun();
        clock.set(at(10, 0, 30));
        rc.tick();
        QCOMPARE(job.started, 1);
        rc.FTPStop();
        QCOMPARE(job.stopped, 1);
        QVERIFY(rc.buttons() == kIdle);
        job.finish();
        QVERIFY(!rc.timerActive());
        QVERIFY(rc.buttons() == kIdle);
        QCOMPARE(status.last(), QStringLiteral("End Transfering"));
    }

    void nowRunsOneJobAndReturnsToIdle() {
        TempStore store;
        StatusRecorder status;
        RunControl rc(status);
        ManualJob job;
        job.attach(rc, status);
        QSignalSpy tray(&rc, &RunControl::trayImageChanged);
        rc.FTPNow();
        QCOMPARE(job.started, 1);
        QVERIFY(rc.buttons() == kBusy);
        QCOMPARE(tray.size(), 1);
        QCOMPARE(tray.at(0).at(0).toInt(), 2);
        rc.FTPNow(); // ignored while the job runs
        QCOMPARE(job.started, 1);
        job.finish();
        QVERIFY(rc.buttons() == kIdle);
        QVERIFY(!rc.timerActive());
        QCOMPARE(tray.last().at(0).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRunControl)
#include "test_run_control.moc"
