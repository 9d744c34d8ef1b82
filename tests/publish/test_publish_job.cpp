// Whole publishing jobs against real FTP servers started here, with real JPEG files on disk.
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "ftp/ftp_client.h"
#include "imaging/jpeg_writer.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>

using namespace zantrel;
using namespace zantrel::test;

namespace {

QImage testFrame() {
    QImage image(160, 120, QImage::Format_RGB888);
    QPainter p(&image);
    p.fillRect(0, 0, 80, 120, QColor(200, 30, 30));
    p.fillRect(80, 0, 80, 120, QColor(30, 30, 200));
    return image;
}

// A job with a fixed frame, a fresh FTP client and a hang-up counter.
struct Job {
    StatusRecorder status;
    MessageRecorder messages;
    FtpClient ftp{status};
    LiveValues live;
    int hangUps = 0;
    int grabs = 0;

    Job() {
        FtpLimits limits;
        limits.connect = std::chrono::milliseconds(3000);
        limits.reply = std::chrono::seconds(3);
        limits.accept = std::chrono::milliseconds(3000);
        limits.stall = std::chrono::seconds(3);
        ftp.setLimits(limits);
    }
    PublishOutcome run() {
        PublishServices s;
        s.grabFrame = [this](QImage& target) {
            ++grabs;
            target = testFrame();
        };
        s.ftp = &ftp;
        s.status = &status;
        s.messages = &messages;
        s.live = &live;
        s.hangUp = [this] { ++hangUps; };
        return RunPublishJob(s);
    }
};

void addServer(int n, const QString& address, quint16 port, const QString& user, const QString& password,
               const QString& dir = {}) {
    const auto key = [n](const keys::SettingKey& k) { return serverEntryKey(k, n); };
    SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryAddress), address);
    SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryPort), QString::number(port));
    SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryLogin), user);
    SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryPassword), password);
    SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryUrl), dir);
}

void addServer(int n, const FtpServerFixture& server, const QString& dir = {}) {
    addServer(n, QStringLiteral("127.0.0.1"), server.port(), server.user(), server.password(), dir);
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestPublishJob : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void defaultsWriteOnlyTheWorkingFile() {
        TempStore store;
        Job job;
        const PublishOutcome outcome = job.run();
        QVERIFY(outcome.workingFileWritten);
        QVERIFY(outcome.complete());
        QCOMPARE(job.grabs, 1);
        QCOMPARE(job.hangUps, 0);
        QVERIFY(job.status.texts().isEmpty());
        QVERIFY(job.messages.texts().isEmpty());
        QStringList files = filesIn(store.dir());
        QCOMPARE(files, QStringList{QStringLiteral("webcam.jpg")});
        const QImage written(QDir(store.dir()).filePath(QStringLiteral("webcam.jpg")));
        QCOMPARE(written.size(), QSize(160, 120));
    }

    void qualityComesFromTheUnconfirmedCompression() {
        TempStore store;
        const auto jobWritesQuality = [](Job& job, int quality) {
            job.run();
            MessageRecorder none;
            QVERIFY(SavePictureAsJpeg(testFrame(), QStringLiteral("reference.jpg"), quality, none));
            QCOMPARE(readFile(QStringLiteral("webcam.jpg")), readFile(QStringLiteral("reference.jpg")));
        };
        Job job;
        // Without edits the stored value is read at each job, so a hand edit takes effect at once.
        SaveSetting(keys::ImageCompression, QStringLiteral("90"));
        jobWritesQuality(job, 10);
        // The dialog's unconfirmed edits win over the stored value: 50 writes quality 50, 1 writes 99.
        for (int compression : {50, 1}) {
            LiveValues::Values v = job.live.snapshot();
            v.compression = compression;
            job.live.set(v);
            jobWritesQuality(job, 100 - compression);
        }
        job.live.reset();
        jobWritesQuality(job, 10);
    }

    void archiveNameHasOneSlashAndTheSameSecondReplaces() {
        TempStore store;
        ManualClock clock(QDateTime(QDate(2026, 12, 5), QTime(17, 3, 9)));
        ScopedClock use(clock);
        QCOMPARE(ArchiveFileName(QStringLiteral("/srv/cam"), clock.now()),
                 QStringLiteral("/srv/cam/05122026170309.JPG"));
        QCOMPARE(ArchiveFileName(QStringLiteral("/srv/cam/"), clock.now()),
                 QStringLiteral("/srv/cam/05122026170309.JPG"));
        QCOMPARE(ArchiveFileName(QString(), clock.now()), QStringLiteral("/05122026170309.JPG"));

        const QString archive = QDir(store.dir()).filePath(QStringLiteral("archive"));
        QVERIFY(QDir().mkpath(archive));
        SaveSetting(keys::ImageSaveCopy, QStringLiteral("1"));
        for (const QString& folder : {archive, archive + QLatin1Char('/')}) {
            SaveSetting(keys::ImagePath, folder);
            Job job;
            QVERIFY(job.run().archiveWritten);
        }
        QCOMPARE(filesIn(archive), QStringList{QStringLiteral("05122026170309.JPG")});
        // A second encoding of the same frame, not a copy of some other file.
        QCOMPARE(readFile(archive + QStringLiteral("/05122026170309.JPG")),
                 readFile(QStringLiteral("webcam.jpg")));

        clock.advance(1000);
        Job later;
        later.run();
        QCOMPARE(filesIn(archive).size(), 2);
    }

    void threeServersWithTheMiddleOneUnreachable() {
        TempStore store;
        PyFtpServer first, third;
        QVERIFY2(first.isRunning(), qPrintable(first.failure()));
        QVERIFY2(third.isRunning(), qPrintable(third.failure()));
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::FtpServers, QStringLiteral("3"));
        addServer(1, first);
        addServer(2, QStringLiteral("127.0.0.1"), closedPort(), QStringLiteral("cam"),
                  QStringLiteral("secret"));
        addServer(3, third);

        Job job;
        const PublishOutcome outcome = job.run();
        QCOMPARE(outcome.serversTried, 3);
        QCOMPARE(outcome.serversUploaded, 2);
        QVERIFY(!outcome.complete());
        const QByteArray local = readFile(QStringLiteral("webcam.jpg"));
        QVERIFY(!local.isEmpty());
        QCOMPARE(readFile(QDir(first.root()).filePath(QStringLiteral("webcam.jpg"))), local);
        QCOMPARE(readFile(QDir(third.root()).filePath(QStringLiteral("webcam.jpg"))), local);
        const QStringList texts = job.status.texts();
        QVERIFY(texts.contains(QStringLiteral("Cannot connect to FTP Server")));
        QCOMPARE(texts.count(QStringLiteral("File Transfered.")), 2);
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QCOMPARE(job.hangUps, 1); // the hang-up defaults to on
    }

    void missingRemoteDirectoryUploadsToTheLoginDirectory() {
        TempStore store;
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::FtpServers, QStringLiteral("1"));
        addServer(1, server, QStringLiteral("no/such/dir"));
        Job job;
        job.run();
        const QStringList texts = job.status.texts();
        const auto cant = texts.indexOf(QStringLiteral("Can't change directory."));
        QVERIFY(cant >= 0);
        QVERIFY(cant < texts.indexOf(QStringLiteral("File Transfered.")));
        QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("webcam.jpg"))),
                 readFile(QStringLiteral("webcam.jpg")));
    }

    void workingFileInAFolderIsUploadedUnderItsName() {
        TempStore store;
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(QDir().mkpath(QStringLiteral("out")));
        SaveSetting(keys::ImageFileName, QStringLiteral("out/cam.jpg"));
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::FtpServers, QStringLiteral("1"));
        addServer(1, server);
        Job job;
        QVERIFY(job.run().complete());
        QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("cam.jpg"))),
                 readFile(QStringLiteral("out/cam.jpg")));
    }

    void serverCountsThatContactNobody_data() {
        QTest::addColumn<QString>("servers");
        QTest::newRow("zero") << "0";
        QTest::newRow("negative") << "-1";
        QTest::newRow("no number") << "abc";
    }
    void serverCountsThatContactNobody() {
        QFETCH(QString, servers);
        TempStore store;
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::FtpServers, servers);
        addServer(1, server);
        Job job;
        const PublishOutcome outcome = job.run();
        QCOMPARE(outcome.serversTried, 0);
        QVERIFY(job.status.texts().isEmpty());
        QCOMPARE(server.count(QStringLiteral("USER")), 0);
        QCOMPARE(job.hangUps, 1); // the hang-up belongs to the upload step, servers or not
    }

    void hangUpCanBeSwitchedOff() {
        TempStore store;
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
        Job off;
        off.run();
        QCOMPARE(off.hangUps, 0);
    }

    void workingFileThatWasNeverWrittenSkipsTheServers() {
        TempStore store;
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        SaveSetting(keys::ImageFileName, QStringLiteral("missing-folder/webcam.jpg"));
        SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
        SaveSetting(keys::FtpServers, QStringLiteral("1"));
        addServer(1, server);
        Job job;
        const PublishOutcome outcome = job.run();
        QVERIFY(!outcome.workingFileWritten);
        QVERIFY(!outcome.complete());
        QCOMPARE(job.messages.texts().size(),
                 2); // the writer's two messages, confirmed, then the job goes on
        QVERIFY(job.status.last().startsWith(QStringLiteral("Error:")));
        QVERIFY(job.status.last().contains(QStringLiteral("missing-folder/webcam.jpg")));
        QCOMPARE(server.count(QStringLiteral("USER")), 0);
        QVERIFY(filesIn(server.root()).isEmpty());
    }
};

QTEST_MAIN(TestPublishJob)
#include "test_publish_job.moc"
