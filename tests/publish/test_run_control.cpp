// Run control over a job finished by hand, then over real jobs on the worker thread.
#include "capture/capture_window.h"
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "publish/job_runner.h"
#include "publish/one_shot.h"
#include "publish/publishing_core.h"
#include "publish/run_control.h"
#include "publish/service_notify.h"
#include "support/ftp_test_servers.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "transfer/ftp_client.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace zantrel;
using namespace zantrel::test;

namespace {

const RunControl::Buttons kIdle{true, true, false, true};
const RunControl::Buttons kBusy{false, false, true, false};

QDateTime at(int h, int m, int s) {
    return QDateTime(QDate(2026, 12, 6), QTime(h, m, s));
}

// A run control on a throwaway settings file with a set clock and a job that the test finishes by
// hand, as a job on another thread would finish later.
struct Rig {
    TempStore store;
    ManualClock clock;
    ScopedClock use{clock};
    StatusRecorder status;
    RunControl rc{status};
    int started = 0;
    int stopped = 0;
    bool refuse = false; // as the job runner refuses while a job runs or the program closes
    std::function<void()> done;

    explicit Rig(const QDateTime& start = at(10, 0, 0)) : clock(start) {
        rc.setJob(
            [this](std::function<void()> d) {
                ++started;
                if (!refuse)
                    done = std::move(d);
                return !refuse;
            },
            [this] { ++stopped, status.setStatus(QStringLiteral("End Transfering")); });
    }
    void finish() { std::exchange(done, nullptr)(); }
    void tickAt(const QDateTime& t) { clock.set(t), rc.tick(); }
};

} // namespace

class TestRunControl : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Run publishes at once, then counts down to the next update; the jobs keep the beat of the first:
    // after one that ran past its interval, or a machine that slept, the next due time on that beat
    // follows, the missed ones left out.
    void runPublishesThenTicksAndRunsThePeriodicJob() {
        Rig rig(at(10, 15, 20));
        QSignalSpy tray(&rig.rc, &RunControl::trayImageChanged);
        rig.rc.FTPRun();
        QVERIFY(rig.rc.buttons() == kBusy && !rig.rc.timerActive());
        QCOMPARE(rig.started, 1);
        rig.finish();
        QVERIFY(rig.rc.timerActive());
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:15:50 (in 00:00:30)"));
        rig.clock.set(at(10, 15, 23));
        for (int i = 0; i < 3; ++i)
            rig.rc.tick();
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 10:15:50 (in 00:00:27)"));
        QCOMPARE(tray.size(), 3); // the tray blinks: 1, 2, 1
        QVERIFY(tray.at(1).at(0).toInt() == 2 && tray.at(2).at(0).toInt() == 1);
        QCOMPARE(rig.started, 1);

        rig.tickAt(at(10, 15, 50));
        rig.clock.set(at(10, 16, 0));
        rig.finish();
        QCOMPARE(rig.rc.nextUpdate(), (NextUpdate{2026, 12, 6, 10, 16, 20}));
        rig.tickAt(at(10, 16, 20));
        rig.clock.set(at(10, 17, 7)); // a job that ran over two intervals
        rig.finish();
        QCOMPARE(rig.rc.nextUpdate(), (NextUpdate{2026, 12, 6, 10, 17, 20}));
        QCOMPARE(rig.started, 3);

        rig.tickAt(at(11, 40, 0)); // long overdue, as after the machine slept
        QCOMPARE(rig.started, 4);
        QVERIFY(!rig.rc.timerActive());
        rig.rc.tick(); // a stray tick during the job starts nothing
        QCOMPARE(rig.started, 4);

        rig.clock.set(at(11, 40, 5));
        rig.status.setStatus(QStringLiteral("End Transfering"));
        rig.finish();
        QVERIFY(rig.rc.timerActive() && rig.rc.buttons() == kBusy);
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 11:40:20 (in 00:00:15)"));

        // While the camera is lost the status line says since when, at every tick; the schedule goes on.
        rig.rc.setCameraLostSince(at(11, 40, 2));
        rig.rc.tick();
        QCOMPARE(rig.status.last(), QStringLiteral("Camera lost since 11:40:02"));
        rig.rc.setCameraLostSince({});
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 11:40:20 (in 00:00:15)"));
    }

    // A fixed date waits for its moment, runs once and leaves publishing on until Stop; the status
    // line then says what is (the job's last words do not stay).
    void fixedDateRunsOnce() {
        Rig rig(at(9, 0, 0));
        for (const auto& [key, value] : {std::pair{keys::UpdateType, "0"},
                                         {keys::UpdateHour, "9"},
                                         {keys::UpdateMinute, "30"},
                                         {keys::UpdateSecond, "0"}})
            SaveSetting(key, QString::fromLatin1(value));
        rig.rc.FTPRun();
        rig.rc.tick();
        QCOMPARE(rig.started, 0);
        rig.tickAt(at(9, 30, 1));
        QCOMPARE(rig.started, 1);
        rig.status.setStatus(QStringLiteral("End Transfering"));
        rig.finish();
        QVERIFY(!rig.rc.timerActive() && rig.rc.buttons() == kBusy);
        QCOMPARE(rig.status.last(), QStringLiteral("Ready"));
        rig.rc.FTPStop();
        QVERIFY(rig.rc.buttons() == kIdle);
        QCOMPARE(rig.status.last(), QStringLiteral("Stopped"));
    }

    // Stop before a job, and during one: a job ending after Stop does not switch publishing on again,
    // and the line says "Stopped" after it. Now runs one job (pressed again meanwhile, nothing) and
    // leaves "Ready"; Stop then Run during it keeps publishing on.
    void stopAndNowAcrossAJob() {
        Rig rig;
        rig.rc.FTPRun();
        rig.finish();
        rig.rc.FTPStop();
        QCOMPARE(rig.status.texts().mid(rig.status.texts().size() - 2),
                 (QStringList{"End Transfering", "Stopped"}));
        rig.rc.FTPRun();
        rig.rc.FTPStop();
        QCOMPARE(rig.stopped, 2);
        rig.status.setStatus(QStringLiteral("End Transfering"));
        rig.finish();
        QVERIFY(!rig.rc.timerActive() && rig.rc.buttons() == kIdle);
        QCOMPARE(rig.status.last(), QStringLiteral("Stopped"));

        rig.rc.FTPNow();
        QVERIFY(rig.rc.buttons() == kBusy);
        rig.rc.FTPNow();
        QCOMPARE(rig.started, 3);
        rig.status.setStatus(QStringLiteral("End Transfering"));
        rig.finish();
        QVERIFY(rig.rc.buttons() == kIdle && !rig.rc.timerActive());
        QCOMPARE(rig.status.last(), QStringLiteral("Ready"));
        rig.rc.FTPNow();
        rig.rc.FTPStop();
        rig.rc.FTPRun(); // the job still running is the first one
        QCOMPARE(rig.started, 4);
        rig.finish();
        QVERIFY(rig.rc.buttons() == kBusy && rig.rc.timerActive());
        rig.tickAt(at(10, 1, 0));
        QCOMPARE(rig.started, 5);
    }

    // Outside the active hours Run publishes nothing and counts down to their start; at the start the
    // job runs, and one planned after their end waits for the next day. Now ignores them.
    void activeHoursHoldThePeriodicJobs() {
        Rig rig(at(6, 0, 0));
        rig.store.set("UPDATE", QStringLiteral("FROM"), QStringLiteral("07:00"));
        rig.store.set("UPDATE", QStringLiteral("TO"), QStringLiteral("7:01"));
        rig.rc.FTPRun();
        QCOMPARE(rig.status.last(), QStringLiteral(" Next Update: 12-06-2026 at 07:00:00 (in 01:00:00)"));
        rig.tickAt(at(7, 0, 0));
        rig.clock.set(at(7, 0, 40));
        rig.finish();
        QVERIFY(rig.started == 1 && rig.rc.nextUpdate() == (NextUpdate{2026, 12, 7, 7, 0, 0}));
        rig.rc.FTPStop(), rig.rc.FTPNow();
        QCOMPARE(rig.started, 2);
    }

    // Under a service manager: ready once told, a watchdog ping at each tick of the running schedule and
    // none once it stopped, the status lines as they change.
    void serviceManagerHearsTheTicks() {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const auto closeSocket = qScopeGuard([fd] { ::close(fd), qunsetenv("NOTIFY_SOCKET"); });
        sockaddr_un address{AF_UNIX, {}}; // in the abstract namespace: "@" and the name
        const QByteArray name = "zantrel-test-" + QByteArray::number(QCoreApplication::applicationPid());
        std::memcpy(address.sun_path + 1, name.constData(), name.size());
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address),
                       socklen_t(sizeof(sa_family_t) + 1 + name.size())) == 0);
        qputenv("NOTIFY_SOCKET", "@" + name);
        const auto receive = [fd] {
            QStringList heard;
            char buffer[512];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
                heard << QString::fromUtf8(buffer, n);
            return heard;
        };
        Rig rig;
        ServiceNotify notify(rig.status);
        notify.watch(rig.rc);
        rig.rc.setJob([](std::function<void()>) { return false; }, {}); // every job ends at once
        rig.rc.FTPRun();
        notify.ready(), notify.setStatus(QStringLiteral("File Transfered."));
        QTest::qWait(1200);
        const QStringList heard = receive();
        QVERIFY2(heard.contains("READY=1") && heard.contains("WATCHDOG=1") &&
                     heard.contains("STATUS=File Transfered."),
                 qPrintable(heard.join(u',')));
        rig.rc.FTPStop(), receive();
        QTest::qWait(1500);
        QCOMPARE(receive(), QStringList{});
        SaveSetting(keys::UpdateType, QStringLiteral("0")); // due now: its one job ends the schedule
        rig.rc.FTPRun(), rig.rc.tick();
        QVERIFY(receive().contains("WATCHDOG_USEC=18446744073709551615"));
    }

    void aRefusedJobDoesNotStall() {
        Rig rig;
        rig.refuse = true;
        rig.rc.FTPNow();
        QVERIFY(!rig.rc.jobRunning() && rig.rc.buttons() == kIdle);
        rig.rc.FTPRun();
        QVERIFY(!rig.rc.jobRunning());
        QVERIFY(rig.rc.timerActive()); // the schedule goes on to the next update
        rig.tickAt(at(10, 0, 30));
        rig.refuse = false;
        rig.tickAt(at(10, 1, 0));
        QCOMPARE(rig.started, 4);
        QVERIFY(rig.rc.jobRunning());
    }

    // A server that takes the connection and never answers, on a one-second schedule: every job ends
    // within its interval and the jobs keep their times; the server, busy and then timed out, is left
    // alone for as long again, its skip said once.
    void aHungServerKeepsTheSchedule() {
        TempStore store;
        PyFtpServer hung({}, QStringLiteral("silent"));
        VERIFY_FTP_SERVER(hung);
        store.useFtpServers(QStringLiteral("1"), {hung.port()});
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
        SaveSetting(keys::UpdatePartI, QStringLiteral("1"));
        StatusRecorder status;
        MessageRecorder messages;
        PublishingCore core(status, messages);
        TransferLimits limits;
        limits.connect = std::chrono::milliseconds(3000);
        core.jobs().setTransferLimits(limits);
        core.capture().Init_Video(0);
        QSignalSpy jobs(&core.runControl(), &RunControl::jobFinished);
        QElapsedTimer elapsed;
        elapsed.start();
        core.runControl().FTPRun();
        QTRY_VERIFY_WITH_TIMEOUT(jobs.size() == 6, 12000);
        QVERIFY2(elapsed.elapsed() < 7000, qPrintable(QString::number(elapsed.elapsed())));
        core.runControl().FTPStop();
        QVERIFY(core.shutdown(std::chrono::seconds(3)));
        const QStringList texts = status.texts();
        QVERIFY2(texts.count(QStringLiteral("Connecting... 127.0.0.1")) == 1 &&
                     texts.filter(QStringLiteral("Skipped 127.0.0.1")).size() == 1,
                 qPrintable(texts.join(u'|')));
    }

    // `--once` ends by the sum of its limits, also with a server that keeps within every single one of
    // them: a header trickled just fast enough, for ever.
    void onceEndsByTheSumOfItsLimits() {
        TempStore store;
        QProcess server;
        server.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(ZANTREL_TEST_DATA_DIR "/hostile_http.py"), QStringLiteral("trickle"),
                      QStringLiteral("--rate"), QStringLiteral("1000"), QStringLiteral("--life"),
                      QStringLiteral("40")});
        QVERIFY(server.waitForReadyRead(10000));
        const QByteArray port = server.readLine().trimmed().mid(5);
        store.useFtpServers(QStringLiteral("1"), {21});
        store.set("FTP", QStringLiteral("ADDRESS00001"), "dav://127.0.0.1:" + QString::fromLatin1(port));
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
        TransferLimits limits{std::chrono::milliseconds(200), std::chrono::seconds(1),
                              std::chrono::milliseconds(200), std::chrono::seconds(1)};
        limits.retryPauses[0] = limits.retryPauses[1] = std::chrono::milliseconds(100);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(RunOnce(limits), 1);
        QVERIFY2(elapsed.elapsed() < OnceDeadline(limits).count() + 3000,
                 qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(server.readAll().contains("request"));
    }

    // The wiring the window, --once and --headless share, with a server that takes the upload and
    // never answers: Run uploads at once, a second job is refused, and Stop ends the job and publishing at
    // once. Closing during an upload cuts the connection, contacts no further server, hangs nobody up and
    // starts no job afterwards.
    void stopOrCloseDuringAHungUpload() {
        TempStore store;
        PyFtpServer server(QStringLiteral("STOR"));
        VERIFY_FTP_SERVER(server);
        store.useFtpServers(QStringLiteral("1"), {server.port()});
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
        ManualClock clock(at(12, 0, 0));
        ScopedClock use(clock);
        StatusRecorder status;
        MessageRecorder messages;
        PublishingCore core(status, messages);
        TransferLimits limits;
        limits.reply = std::chrono::seconds(20); // the stop ends the wait, not a limit
        core.jobs().setTransferLimits(limits);
        RunControl& rc = core.runControl();
        core.capture().Init_Video(0); // no camera here: the status line says what goes out instead
        QCOMPARE(status.last(), NoCameraText());

        rc.FTPRun();
        QVERIFY(server.waitFor(QStringLiteral("STOR"), 1, 10000));
        QVERIFY(!core.jobs().start([](const PublishOutcome&) {}));
        QElapsedTimer stopTime;
        stopTime.start();
        rc.FTPStop();
        QTRY_VERIFY_WITH_TIMEOUT(!rc.jobRunning(), 5000);
        QVERIFY2(stopTime.elapsed() < 2000, qPrintable(QString::number(stopTime.elapsed())));
        QVERIFY(!rc.timerActive() && rc.buttons() == kIdle);
        QTRY_COMPARE(status.last(), QStringLiteral("Stopped"));
        QVERIFY(status.texts().contains(QStringLiteral("End Transfering")));

        store.useFtpServers(QStringLiteral("2"), {server.port(), server.port()});
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("1")); // and FTP/BEEP is on by default
        rc.FTPNow();
        QVERIFY(server.waitFor(QStringLiteral("STOR"), 2, 10000));
        QVERIFY(core.shutdown(std::chrono::seconds(3)));
        QCOMPARE(status.texts().count(QStringLiteral("Connecting... 127.0.0.1")), 2);
        // A beep for each connection, none for a hang-up.
        QCOMPARE(status.events().count(StatusRecorder::kBeep),
                 status.texts().count(QStringLiteral("Connected")));
        QTRY_VERIFY(!rc.jobRunning()); // the job's end reported: only the close refuses a start now
        QVERIFY(!core.jobs().start([](const PublishOutcome&) {}));
    }
};

QTEST_MAIN(TestRunControl)
#include "test_run_control.moc"
