#include "core/clock.h"
#include "publish/run_control.h"
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

// A run control on a throwaway settings file with a set clock and a job finished by hand.
struct Rig {
    TempStore store;
    ManualClock clock;
    ScopedClock use{clock};
    StatusRecorder status;
    RunControl rc{status};
    ManualJob job;
    explicit Rig(const QDateTime& start = at(10, 0, 0)) : clock(start) { job.attach(rc, status); }
};

} // namespace

class TestRunControl : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void runTicksAndRunsThePeriodicJob() {
        Rig rig(at(10, 15, 20));
        QSignalSpy tray(&rig.rc, &RunControl::trayImageChanged);

        rig.rc.FTPRun();
        QVERIFY(rig.rc.buttons() == kBusy);
        QVERIFY(rig.rc.timerActive());
        QCOMPARE(rig.rc.masterTimer().interval(), 500);

        rig.rc.tick();
        rig.rc.tick();
        rig.rc.tick();
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:15:50"));
        QCOMPARE(tray.size(), 3);
        QCOMPARE(tray.at(0).at(0).toInt(), 1);
        QCOMPARE(tray.at(1).at(0).toInt(), 2);
        QCOMPARE(tray.at(2).at(0).toInt(), 1);
        QCOMPARE(rig.job.started, 0);

        rig.clock.set(at(10, 15, 50));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 1);
        QVERIFY(!rig.rc.timerActive());
        rig.rc.tick(); // a stray tick during the job starts nothing
        QCOMPARE(rig.job.started, 1);

        // The next interval counts from the end of the rig.job.
        rig.clock.set(at(10, 16, 5));
        rig.job.finish();
        QVERIFY(rig.rc.timerActive());
        QVERIFY(rig.rc.buttons() == kBusy);
        rig.rc.tick();
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:16:35"));
    }

    void aMissedMinuteStillRunsTheJob() {
        Rig rig(at(10, 15, 20));
        rig.rc.FTPRun();
        rig.clock.set(at(11, 40, 0)); // the machine slept past the due minute
        rig.rc.tick();
        QCOMPARE(rig.job.started, 1);
    }

    void fixedDateRunsOnceAndKeepsTheButtons() {
        Rig rig(at(9, 0, 0));
        SaveSetting(keys::UpdateType, QStringLiteral("0"));
        SaveSetting(keys::UpdateHour, QStringLiteral("9"));
        SaveSetting(keys::UpdateMinute, QStringLiteral("30"));
        SaveSetting(keys::UpdateSecond, QStringLiteral("0"));
        rig.rc.FTPRun();
        rig.rc.tick();
        QCOMPARE(rig.job.started, 0);
        rig.clock.set(at(9, 30, 1));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 1);
        rig.job.finish();
        QVERIFY(!rig.rc.timerActive());
        QVERIFY(rig.rc.buttons() == kBusy);
        rig.rc.FTPStop();
        QVERIFY(rig.rc.buttons() == kIdle);
    }

    void fixedDateInThePastRunsAtTheFirstTick() {
        Rig rig(at(9, 0, 0));
        SaveSetting(keys::UpdateType, QStringLiteral("0"));
        SaveSetting(keys::UpdateYear, QStringLiteral("2020"));
        rig.rc.FTPRun();
        rig.rc.tick();
        QCOMPARE(rig.job.started, 1);
    }

    void stopBeforeTheFirstDueTime() {
        Rig rig;
        rig.rc.FTPRun();
        rig.rc.FTPStop();
        QVERIFY(!rig.rc.timerActive());
        QVERIFY(rig.rc.buttons() == kIdle);
        QCOMPARE(rig.status.texts(),
                 (QStringList{QStringLiteral("Stopped"), QStringLiteral("End Transfering")}));
    }

    void stopDuringAPeriodicJobEndsPublishing() {
        Rig rig(at(10, 0, 0));
        rig.rc.FTPRun();
        rig.clock.set(at(10, 0, 30));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 1);
        rig.rc.FTPStop();
        QCOMPARE(rig.job.stopped, 1);
        QVERIFY(rig.rc.buttons() == kIdle);
        rig.job.finish();
        QVERIFY(!rig.rc.timerActive());
        QVERIFY(rig.rc.buttons() == kIdle);
        QCOMPARE(rig.status.last(), QStringLiteral("End Transfering"));
    }

    void nowRunsOneJobAndReturnsToIdle() {
        Rig rig;
        QSignalSpy tray(&rig.rc, &RunControl::trayImageChanged);
        rig.rc.FTPNow();
        QCOMPARE(rig.job.started, 1);
        QVERIFY(rig.rc.buttons() == kBusy);
        QCOMPARE(tray.size(), 1);
        QCOMPARE(tray.at(0).at(0).toInt(), 2);
        rig.rc.FTPNow(); // ignored while the job runs
        QCOMPARE(rig.job.started, 1);
        rig.job.finish();
        QVERIFY(rig.rc.buttons() == kIdle);
        QVERIFY(!rig.rc.timerActive());
        QCOMPARE(tray.last().at(0).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRunControl)
#include "test_run_control.moc"
