// Run control over a job finished by hand, then over real jobs on the worker thread.
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "ftp/ftp_client.h"
#include "publish/job_runner.h"
#include "publish/publishing_core.h"
#include "publish/run_control.h"
#include "support/ftp_test_servers.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <optional>

using namespace zantrel;
using namespace zantrel::test;

namespace {

using Buttons = RunControl::Buttons;
const Buttons kIdle{true, true, false, true};
const Buttons kBusy{false, false, true, false};

// A job that the test finishes by hand, as a job on another thread would finish later.
struct ManualJob {
    int started = 0;
    int stopped = 0;
    bool refuse = false; // as the job runner refuses while a job runs or the program closes
    std::function<void()> done;
    void attach(RunControl& rc, StatusRecorder& status) {
        rc.setJob(
            [this](std::function<void()> d) {
                ++started;
                if (!refuse)
                    done = std::move(d);
                return !refuse;
            },
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

void useServer(int n, quint16 port) {
    SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
    SaveSetting(keys::FtpServers, QString::number(n));
    SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
    for (int i = 1; i <= n; ++i) {
        SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryAddress, i),
                    QStringLiteral("127.0.0.1"));
        SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryPort, i), QString::number(port));
        SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryLogin, i), QStringLiteral("cam"));
        SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryPassword, i),
                    QStringLiteral("secret"));
    }
}

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

    void stopThenRunDuringANowJobKeepsPublishing() {
        Rig rig(at(10, 0, 0));
        rig.rc.FTPNow();
        rig.rc.FTPStop();
        QVERIFY(rig.rc.buttons() == kIdle);
        rig.rc.FTPRun();
        rig.job.finish(); // the on-demand job ends after publishing was switched on again
        QVERIFY(rig.rc.buttons() == kBusy);
        QVERIFY(rig.rc.timerActive());
        rig.clock.set(at(10, 0, 30));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 2);
    }

    void aRefusedJobDoesNotStall() {
        Rig rig(at(10, 0, 0));
        rig.job.refuse = true;
        rig.rc.FTPNow();
        QVERIFY(!rig.rc.jobRunning());
        QVERIFY(rig.rc.buttons() == kIdle);

        rig.rc.FTPRun();
        rig.clock.set(at(10, 0, 30));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 2);
        QVERIFY(!rig.rc.jobRunning());
        QVERIFY(rig.rc.timerActive()); // the schedule goes on to the next update
        rig.job.refuse = false;
        rig.clock.set(at(10, 1, 0));
        rig.rc.tick();
        QCOMPARE(rig.job.started, 3);
        QVERIFY(rig.rc.jobRunning());
    }

    // The wiring the window, --once and --headless share, with a server that takes the upload and
    // never answers.
    void stopDuringAHungUploadEndsPublishingAtOnce() {
        TempStore store;
        PyFtpServer server(QStringLiteral("STOR"));
        VERIFY_FTP_SERVER(server);
        useServer(1, server.port());
        ManualClock clock(at(12, 0, 0));
        ScopedClock use(clock);
        StatusRecorder status;
        MessageRecorder messages;
        PublishingCore core(status, messages);
        FtpLimits limits;
        limits.reply = std::chrono::seconds(20); // the stop ends the wait, not a limit
        core.ftp().setLimits(limits);
        RunControl& rc = core.runControl();
        QSignalSpy ended(&rc, &RunControl::jobFinished);

        rc.FTPRun();
        clock.set(at(12, 0, 30));
        rc.tick();
        QVERIFY(rc.jobRunning());
        QVERIFY(server.waitFor(QStringLiteral("STOR"), 1, 10000));
        QVERIFY(!core.jobs().start([](const PublishOutcome&) {})); // one job at a time

        QElapsedTimer stopTime;
        stopTime.start();
        rc.FTPStop();
        QVERIFY(rc.buttons() == kIdle);
        QTRY_VERIFY_WITH_TIMEOUT(!rc.jobRunning(), 5000);
        QVERIFY2(stopTime.elapsed() < 2000, qPrintable(QString::number(stopTime.elapsed())));
        QCOMPARE(ended.size(), 1);
        QVERIFY(!rc.timerActive());
        QTRY_COMPARE(status.last(), QStringLiteral("End Transfering"));
        const QStringList texts = status.texts();
        QVERIFY(texts.contains(QStringLiteral("Stopped")));
        QVERIFY(std::any_of(texts.begin(), texts.end(),
                            [](const QString& t) { return t.startsWith(QStringLiteral("Error:")); }));
    }

    // Closing during an upload: the connection is cut, no further server is contacted, nobody is hung
    // up, and no job starts afterwards.
    void aCancelledJobEndsWithoutHangingUp() {
        TempStore store;
        PyFtpServer server(QStringLiteral("STOR"));
        VERIFY_FTP_SERVER(server);
        useServer(2, server.port());
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("1"));
        StatusRecorder status;
        MessageRecorder messages;
        FtpClient ftp(status);
        LiveValues live;
        std::atomic<int> hangUps = 0;
        PublishServices s;
        s.grabFrame = [](QImage& target) {
            target = QImage(160, 120, QImage::Format_RGB32);
            target.fill(Qt::darkGreen);
        };
        s.ftp = &ftp;
        s.status = &status;
        s.messages = &messages;
        s.live = &live;
        s.hangUp = [&hangUps] { ++hangUps; };
        JobRunner jobs(s);
        std::optional<PublishOutcome> outcome;
        QVERIFY(jobs.start([&outcome](const PublishOutcome& o) { outcome = o; }));
        QVERIFY(server.waitFor(QStringLiteral("STOR"), 1, 10000));

        jobs.cancel();
        QVERIFY(jobs.waitForEnd(std::chrono::seconds(3)));
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(outcome->serversTried, 1);
        QCOMPARE(hangUps.load(), 0);
        QVERIFY(!outcome->complete());
        QVERIFY(!jobs.start([](const PublishOutcome&) {}));
    }
};

QTEST_MAIN(TestRunControl)
#include "test_run_control.moc"
