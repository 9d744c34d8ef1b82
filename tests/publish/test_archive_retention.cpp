// Archive retention: what a job deletes from the archive folder, and how often it reads the folder.
#include "core/clock.h"
#include "core/store.h"
#include "publish/archive_retention.h"
#include "publish/publish_job.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace zantrel;

namespace {

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

} // namespace

class TestArchiveRetention : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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
        test::TempStore store;
        const QDir dir(store.dir());
        for (int i = 0; i < kCopies.size(); ++i) // file times in the reverse order of the names' times
            writeFile(dir.filePath(kCopies[i]), i == 0 ? 100'000 : 400'000, kNow.addDays(-i));
        for (const QString& name : kForeign)
            writeFile(dir.filePath(name), 10, kNow.addYears(-30));
        QVERIFY(dir.mkdir(QStringLiteral("01011990000001.JPG")));
        store.set("IMAGE", QStringLiteral("SAVEACOPY"), QStringLiteral("1"));
        store.set("IMAGE", QStringLiteral("PATH"), store.dir());
        store.set("IMAGE", QStringLiteral("KEEPDAYS"), QString::number(keepDays));
        store.set("IMAGE", QStringLiteral("KEEPMB"), QString::number(keepMb));

        ManualClock at(kNow);
        ScopedClock clockSet(at);
        test::MessageRecorder messages;
        LiveValues live;
        PublishServices s;
        s.grabFrame = [](QImage& target) { target = QImage(160, 120, QImage::Format_RGB32); };
        s.messages = &messages;
        s.live = &live;
        QVERIFY(RunPublishJob(s).archiveWritten);

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
        job(kJobs + 1);
        job(kJobs + 2);
        QCOMPARE(reads, 2);
        QCOMPARE(deleted, due + kJobs + 1);
        QTemporaryDir other;
        retention.afterCopy(other.filePath(nameAt(kNow)), keep, kNow);
        QCOMPARE(reads, 3);
    }
};

QTEST_GUILESS_MAIN(TestArchiveRetention)
#include "test_archive_retention.moc"
