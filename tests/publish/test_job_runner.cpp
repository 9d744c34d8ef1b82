// Run control driving real jobs on the worker thread: the window's view of a job that uploads.
#include "core/clock.h"
#include "publish/job_runner.h"
#include "publish/live_values.h"
#include "publish/run_control.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "ftp/ftp_client.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTest>

using namespace zantrel;
using namespace zantrel::test;

namespace {

struct NoMessages : MessageSink {
    void showMessage(const QString&) override {}
};

// The pieces the main window wires together, without the window.
struct Rig {
    StatusRecorder status;
    NoMessages messages;
    LiveValues live;
    FtpClient ftp{status};
    std::unique_ptr<JobRunner> jobs;
    RunControl control{status};
    int jobsEnded = 0;

    Rig() {
        FtpLimits limits;
        limits.reply = std::chrono::seconds(20); // a hung server is ended by the stop, not by a limit
        ftp.setLimits(limits);
        PublishServices s;
        s.grabFrame = [](QImage& target) {
            target = QImage(320, 240, QImage::Format_RGB32);
            target.fill(Qt::darkGreen);
        };
        s.ftp = &ftp;
        s.status = &status;
        s.messages = &messages;
        s.live = &live;
        s.hangUp = [] {};
        jobs = std::make_unique<JobRunner>(s);
        control.setJob(
            [this](std::function<void()> done) {
                jobs->start([this, done](const PublishOutcome&) {
                    ++jobsEnded;
                    done();
                });
            },
            [this] { jobs->stopUpload(); });
    }
};

void useServer(const FtpServerFixture& server) {
    SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
    SaveSetting(keys::FtpServers, QStringLiteral("1"));
    SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryAddress, 1), QStringLiteral("127.0.0.1"));
    SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryPort, 1), QString::number(server.port()));
    SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryLogin, 1), server.user());
    SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryPassword, 1), server.password());
}

} // namespace

class TestJobRunner : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void stopDuringASlowUploadEndsPublishingAtOnce() {
        TempStore store;
        PyFtpServer server(QStringLiteral("STOR")); // takes the upload and never answers
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        useServer(server);
        ManualClock clock(QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0)));
        ScopedClock use(clock);
        Rig rig;

        rig.control.FTPRun();
        clock.set(QDateTime(QDate(2026, 12, 6), QTime(12, 0, 30)));
        rig.control.tick();
        QVERIFY(rig.control.jobRunning());
        QVERIFY(server.waitFor(QStringLiteral("STOR"), 1, 10000));

        // The window stays live while the job waits on the server: events are processed meanwhile.
        QElapsedTimer stopTime;
        stopTime.start();
        rig.control.FTPStop();
        QVERIFY(rig.control.buttons() == (RunControl::Buttons{true, true, false, true}));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.control.jobRunning(), 5000);
        QVERIFY2(stopTime.elapsed() < 2000, qPrintable(QString::number(stopTime.elapsed())));
        QCOMPARE(rig.jobsEnded, 1);
        // Publishing stays stopped after the job's end.
        QVERIFY(!rig.control.timerActive());
        QTRY_COMPARE(rig.status.last(), QStringLiteral("End Transfering"));
        const QStringList texts = rig.status.texts();
        QVERIFY(texts.contains(QStringLiteral("Stopped")));
        QVERIFY(std::any_of(texts.begin(), texts.end(),
                            [](const QString& t) { return t.startsWith(QStringLiteral("Error:")); }));
    }
};

QTEST_MAIN(TestJobRunner)
#include "test_job_runner.moc"
