// Whole publishing jobs against real FTP servers started here, with real JPEG files on disk, and what
// they delete from the archive folder.
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "ftp/ftp_client.h"
#include "imaging/jpeg_writer.h"
#include "publish/archive_retention.h"
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
        using namespace std::chrono;
        ftp.setLimits({milliseconds(3000), seconds(3), milliseconds(3000), seconds(3)});
    }
    PublishOutcome run() {
        return RunPublishJob({[this](QImage& target) { ++grabs, target = testFrame(); },
                              &ftp,
                              &status,
                              &messages,
                              &live,
                              [this] { ++hangUps; },
                              {}});
    }
};

void writeFile(const QString& path, qint64 size, const QDateTime& fileTime) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
    QVERIFY(file.setFileTime(fileTime, QFileDevice::FileModificationTime));
}

const QDateTime kNow(QDate(2026, 1, 5), QTime(12, 0));
// By age: 1 Dec (100 KB), 20 Dec, 31 Dec, 4 Jan (400 KB each). By name the order is 01.., 04.., 20.., 31..
const QStringList kCopies{"01122025120000.JPG", "20122025120000.JPG", "31122025120000.JPG",
                          "04012026120000.JPG"};
// Old, and looking much like archive copies, but not theirs to delete.
const QStringList kForeign{"notes.txt", "01011990000000.jpg", "0101199000000.JPG", "32011990000000.JPG",
                           "01011990000000.JPG.part"};

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestPublishJob : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // By default a job writes the working file alone and says nothing. The dialog's unconfirmed
    // compression wins over the stored one; without edits the stored value is read at each job, so a
    // hand edit takes effect at once.
    void qualityComesFromTheUnconfirmedCompression() {
        TempStore store;
        Job job;
        QVERIFY(job.run().complete());
        QCOMPARE(filesIn(store.dir()), QStringList{QStringLiteral("webcam.jpg")});
        QVERIFY(job.grabs == 1 && job.hangUps == 0);
        QVERIFY(job.status.texts().isEmpty() && job.messages.texts().isEmpty());
        SaveSetting(keys::ImageCompression, QStringLiteral("90"));
        for (int compression : {0, 50, 1, 0}) {
            LiveValues::Values v = job.live.snapshot();
            v.compression = compression;
            if (compression)
                job.live.set(v);
            else
                job.live.reset();
            job.run();
            MessageRecorder none;
            const int quality = compression ? 100 - compression : 10;
            QVERIFY(SavePictureAsJpeg(testFrame(), QStringLiteral("reference.jpg"), quality, none));
            QVERIFY2(readFile(QStringLiteral("webcam.jpg")) == readFile(QStringLiteral("reference.jpg")),
                     qPrintable(QString::number(quality)));
        }
    }

    // The archive copy: one slash between folder and name, a second encoding of the job's frame, and
    // a job in the same second replaces it.
    void archiveNameHasOneSlashAndTheSameSecondReplaces() {
        TempStore store;
        ManualClock clock(QDateTime(QDate(2026, 12, 5), QTime(17, 3, 9)));
        ScopedClock use(clock);
        QCOMPARE(ArchiveFileName(QStringLiteral("/srv/cam/"), clock.now()),
                 QStringLiteral("/srv/cam/05122026170309.JPG"));
        QCOMPARE(ArchiveFileName(QString(), clock.now()), QDir::currentPath() + "/05122026170309.JPG");
        SaveSetting(keys::ImageSaveCopy, QStringLiteral("1"));
        SaveSetting(keys::ImagePath, store.dir() + QLatin1Char('/'));
        QVERIFY(Job().run().archiveWritten && Job().run().archiveWritten);
        QCOMPARE(filesIn(store.dir()), (QStringList{"05122026170309.JPG", "webcam.jpg"}));
        QCOMPARE(readFile(QStringLiteral("05122026170309.JPG")), readFile(QStringLiteral("webcam.jpg")));
    }

    // The middle server is unreachable and the working file sits in a folder: the others get it under
    // its own name, in the login directory where the remote one is missing (which counts as a failure).
    void serversAfterAFailureStillGetTheFile() {
        TempStore store;
        PyFtpServer first, third;
        VERIFY_FTP_SERVER(first);
        VERIFY_FTP_SERVER(third);
        QVERIFY(QDir().mkpath(QStringLiteral("out")));
        SaveSetting(keys::ImageFileName, QStringLiteral("out/cam.jpg"));
        store.useFtpServers(QStringLiteral("3"), {first.port(), closedPort(), third.port()},
                            QStringLiteral("no/such"));

        Job job;
        const PublishOutcome outcome = job.run();
        QCOMPARE(outcome.serversTried, 3);
        QCOMPARE(outcome.serversUploaded, 0); // in the login folder, not where they belong
        const QByteArray local = readFile(QStringLiteral("out/cam.jpg"));
        QVERIFY(!local.isEmpty());
        for (const FtpServerFixture* server : {&first, &third})
            QCOMPARE(readFile(QDir(server->root()).filePath(QStringLiteral("cam.jpg"))), local);
        const QStringList texts = job.status.texts();
        QVERIFY(texts.contains(QStringLiteral("Cannot connect to FTP Server")));
        const auto cant = texts.indexOf(QStringLiteral("Can't change directory."));
        QVERIFY(cant >= 0 && cant < texts.indexOf(QStringLiteral("File Transfered.")));
        QCOMPARE(texts.count(QStringLiteral("File Transfered.")), 2);
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QCOMPARE(job.hangUps, 1); // the hang-up defaults to on
    }

    // The hang-up belongs to the upload step, servers or not; a count that is no positive number
    // contacts nobody.
    void serverCountsThatContactNobody_data() {
        QTest::addColumn<QString>("servers");
        QTest::addColumn<bool>("autoHangUp");
        QTest::newRow("zero") << "0" << true;
        QTest::newRow("negative") << "-1" << true;
        QTest::newRow("no number, hang-up off") << "abc" << false;
    }
    void serverCountsThatContactNobody() {
        QFETCH(QString, servers);
        QFETCH(bool, autoHangUp);
        TempStore store;
        store.useFtpServers(servers, {closedPort()});
        SaveSetting(keys::PrefAutoHangUp, QString::number(int(autoHangUp)));
        Job job;
        QCOMPARE(job.run().serversTried, 0);
        QVERIFY(job.status.texts().isEmpty()); // not even "Connecting..."
        QCOMPARE(job.hangUps, int(autoHangUp));
    }

    // A job with an archive copy, over a folder the test fills; the working file is in the same folder.
    void jobDeletesTheOldestCopiesBeyondTheLimits_data() {
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<int>("keepMb");
        QTest::addColumn<int>("deleted"); // the oldest n of kCopies
        QTest::newRow("no limits") << 0 << 0 << 0;
        QTest::newRow("age") << 20 << 0 << 1;
        QTest::newRow("size") << 0 << 1 << 2;
        QTest::newRow("both, age the stricter") << 3 << 1 << 3;
        QTest::newRow("both, size the stricter") << 20 << 1 << 2;
    }
    void jobDeletesTheOldestCopiesBeyondTheLimits() {
        QFETCH(int, keepDays);
        QFETCH(int, keepMb);
        QFETCH(int, deleted);
        TempStore store;
        const QDir dir(store.dir());
        for (int i = 0; i < kCopies.size(); ++i) // file times in the reverse order of the names' times
            writeFile(dir.filePath(kCopies[i]), i == 0 ? 100'000 : 400'000, kNow.addDays(-i));
        for (const QString& name : kForeign)
            writeFile(dir.filePath(name), 10, kNow.addYears(-30));
        QVERIFY(dir.mkdir(QStringLiteral("01011990000001.JPG")));
        for (const auto& [key, value] : {std::pair{"SAVEACOPY", QStringLiteral("1")},
                                         {"PATH", store.dir()},
                                         {"KEEPDAYS", QString::number(keepDays)},
                                         {"KEEPMB", QString::number(keepMb)}})
            store.set("IMAGE", QString::fromLatin1(key), value);

        ManualClock at(kNow);
        ScopedClock clockSet(at);
        QVERIFY(Job().run().archiveWritten);

        for (int i = 0; i < kCopies.size(); ++i)
            QVERIFY2(dir.exists(kCopies[i]) == (i >= deleted), qPrintable(kCopies[i]));
        for (const QString& name :
             kForeign + QStringList{"01011990000001.JPG", "webcam.jpg", "05012026120000.JPG"})
            QVERIFY2(dir.exists(name), qPrintable(name));
    }

    // A folder of 100,000 copies is read once; later jobs follow it copy by copy. The folder is read
    // again when a copy proves to have been removed by someone else, and when the folder changes.
    void largeFolderIsReadOnce() {
        QTemporaryDir dir;
        constexpr int kStored = 100'000;
        constexpr int kJobs = 50;
        const auto nameAt = [](const QDateTime& t) {
            return t.toString(QStringLiteral("ddMMyyyyHHmmss")) + QStringLiteral(".JPG");
        };
        // One copy every 30 s, the newest first, the oldest ~20 beyond the 35 days kept. Only the oldest,
        // which the jobs below delete, are on disk; the lister reports the rest without reading anything.
        const ArchiveRetention::Limits keep{35, 0};
        std::vector<ArchiveRetention::Entry> listed;
        int due = 0; // at the first job
        for (int i = 0; i < kStored; ++i) {
            const QDateTime t = kNow.addSecs(-24'600 - 30 * i);
            listed.push_back({nameAt(t), 1000});
            due += t < kNow.addDays(-keep.keepDays);
        }
        const int onDisk = due + kJobs + 5;
        for (int i = kStored - onDisk; i < kStored; ++i)
            writeFile(dir.filePath(listed[std::size_t(i)].name), 1000, kNow);
        int reads = 0;
        ArchiveRetention retention([&](const QString&) {
            ++reads;
            std::vector<ArchiveRetention::Entry> present(listed.begin(), listed.end() - onDisk);
            std::copy_if(listed.end() - onDisk, listed.end(), std::back_inserter(present),
                         [&](const auto& e) { return QFile::exists(dir.filePath(e.name)); });
            return present;
        });
        int deleted = 0;
        const auto job = [&](int n) {
            const QDateTime now = kNow.addSecs(30 * n);
            const QString copy = dir.filePath(nameAt(now));
            writeFile(copy, 1000, now);
            deleted += int(retention.afterCopy(copy, keep, now).size());
        };
        for (int n = 0; n < kJobs; ++n)
            job(n);
        QCOMPARE(reads, 1);
        QCOMPARE(deleted, due + kJobs - 1);
        for (int i = 0; i < onDisk; ++i) // oldest first
            QCOMPARE(QFile::exists(dir.filePath(listed[std::size_t(kStored - 1 - i)].name)), i >= deleted);

        QVERIFY(QFile::remove(dir.filePath(listed[std::size_t(kStored - 1 - deleted)].name)));
        job(kJobs);
        QCOMPARE(reads, 1);
        job(kJobs + 1), job(kJobs + 2);
        QCOMPARE(reads, 2);
        QCOMPARE(deleted, due + kJobs + 1);
        QTemporaryDir other;
        retention.afterCopy(other.filePath(nameAt(kNow)), keep, kNow);
        QCOMPARE(reads, 3);
    }
};

QTEST_MAIN(TestPublishJob)
#include "test_publish_job.moc"
