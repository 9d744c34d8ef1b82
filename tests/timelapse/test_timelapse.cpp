#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "gallery/gallery.h"
#include "gallery/timelapse_dialog.h"
#include "publish/archive_retention.h"
#include "settings/timelapse_page.h"
#include "support/claiming_jpeg.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "timelapse/daily_timelapse.h"
#include "timelapse/timelapse_command.h"
#include "timelapse/timelapse_encoder.h"
#include "timelapse/timelapse_job.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>
#include <unistd.h>

using namespace zantrel;
using zantrel::test::readFile;
using zantrel::test::writeFile;

namespace {

// Writes a JPEG picture of one colour; returns its path.
QString writePicture(const QString& folder, const QString& name, QSize size, int shade) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(shade % 256, 255 - shade % 256, 128));
    const QString path = folder + QLatin1Char('/') + name;
    image.save(path, "JPG", 80);
    return path;
}

// What a decoder nobody here wrote reads from the file: "codec,width,height,pixels,frames;duration".
QString probe(const QString& file) {
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                   QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=codec_name,width,height,pix_fmt,nb_read_frames:format=duration"),
                   QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0)
        return QStringLiteral("unreadable");
    const QStringList lines =
        QString::fromUtf8(ffprobe.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.join(QLatin1Char(';'));
}

QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestTimelapse : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            QSKIP("ffprobe (ffmpeg) is not installed");
        QVERIFY2(!TimelapseEncoderLaunch().isEmpty(), "no H.264 encoder");
    }

    void encodes_data() {
        QTest::addColumn<QList<QSize>>("sizes"); // an empty size stands for a file that is no picture
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("maxWidth");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<QString>("probed");
        const QSize qvga(160, 120);
        QTest::newRow("twenty frames at 10 fps") << QList<QSize>(20, qvga) << 10 << 1920 << 0
                                                 << QStringLiteral("h264,160,120,yuv420p,20;2.000000");
        QTest::newRow("narrowed, aspect kept, even sides")
            << QList<QSize>(10, qvga) << 25 << 101 << 0 << QStringLiteral("h264,100,74,yuv420p,10;0.400000");
        QTest::newRow("odd picture size made even") << QList<QSize>(5, QSize(161, 121)) << 5 << 1920 << 0
                                                    << QStringLiteral("h264,160,120,yuv420p,5;1.000000");
        QList<QSize> mixed{qvga, qvga, QSize(320, 240), QSize(), qvga, QSize(64, 64), QSize(), qvga};
        QTest::newRow("other sizes scaled, broken files skipped")
            << mixed << 2 << 1920 << 2 << QStringLiteral("h264,160,120,yuv420p,6;3.000000");
    }
    void encodes() {
        QFETCH(QList<QSize>, sizes);
        QFETCH(int, fps);
        QFETCH(int, maxWidth);
        QFETCH(int, skipped);
        QFETCH(QString, probed);
        QTemporaryDir dir;
        TimelapseRequest request;
        for (int i = 0; i < sizes.size(); ++i) {
            const QString name = QStringLiteral("p%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
            const bool half = sizes[i].isEmpty(); // half a JPEG file, as a copy still being written leaves it
            request.pictures << writePicture(dir.path(), name, half ? QSize(160, 120) : sizes[i], i * 20);
            if (half)
                QVERIFY(
                    QFile::resize(request.pictures.last(), QFileInfo(request.pictures.last()).size() / 2));
        }
        request.output = dir.filePath(QStringLiteral("out.mp4"));

        request.fps = fps;
        request.maxWidth = maxWidth;
        int lastDone = 0;
        const TimelapseResult r =
            EncodeTimelapse(request, [&lastDone](const TimelapseProgress& p) { lastDone = p.done; });
        QCOMPARE(int(r.outcome), int(TimelapseResult::Outcome::Written));
        QCOMPARE(r.skipped, skipped);
        QCOMPARE(lastDone, sizes.size());
        QCOMPARE(probe(request.output), probed);
        // Only the pictures and the video remain: no temporary files.
        QCOMPARE(leftovers(dir.path()).size(), sizes.size() + 1);
    }

    void leavesNoFile_data() {
        QTest::addColumn<int>("cancelAfter"); // -1: never
        QTest::addColumn<int>("pictures");
        QTest::addColumn<QString>("output"); // relative to the folder
        QTest::addColumn<int>("outcome");
        QTest::newRow("cancelled") << 4 << 12 << QStringLiteral("out.mp4")
                                   << int(TimelapseResult::Outcome::Cancelled);
        QTest::newRow("no pictures") << -1 << 0 << QStringLiteral("out.mp4")
                                     << int(TimelapseResult::Outcome::NoPictures);
        QTest::newRow("folder missing")
            << -1 << 3 << QStringLiteral("missing/out.mp4") << int(TimelapseResult::Outcome::Failed);
    }
    void leavesNoFile() {
        QFETCH(int, cancelAfter);
        QFETCH(int, pictures);
        QFETCH(QString, output);
        QFETCH(int, outcome);
        QTemporaryDir dir;
        TimelapseRequest request;
        for (int i = 0; i < pictures; ++i)
            request.pictures << writePicture(dir.path(), QStringLiteral("p%1.jpg").arg(i), QSize(160, 120),
                                             i);
        request.output = dir.filePath(output);
        // A video already there stays as it was.
        const QString old = dir.filePath(QStringLiteral("out.mp4"));
        QVERIFY(writeFile(old, "old video"));
        int done = 0;
        const TimelapseResult r = EncodeTimelapse(
            request, [&done](const TimelapseProgress& p) { done = p.done; },
            [&done, cancelAfter] { return cancelAfter >= 0 && done >= cancelAfter; });
        QCOMPARE(int(r.outcome), outcome);
        if (outcome != int(TimelapseResult::Outcome::Cancelled))
            QVERIFY(!r.error.isEmpty());
        QCOMPARE(leftovers(dir.path()).size(), pictures + 1);
        QCOMPARE(readFile(old), QByteArray("old video"));
    }

    // What others can plant in an archive is skipped and counted, the first reason kept: a picture
    // claiming 30000×30000 (decoded, 3.6 GB) is refused from its header; a link, another user's file
    // or a file larger than any allowed picture is not read at all. Memory stays small.
    void skipsWhatCannotBeUsed() {
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        TimelapseRequest request;
        request.output = dir.filePath(QStringLiteral("out.mp4"));
        request.pictures << writePicture(dir.path(), QStringLiteral("p1.jpg"), QSize(160, 120), 0);
        request.pictures << dir.filePath(QStringLiteral("p2.jpg"));
        QVERIFY(writeFile(request.pictures.last(), test::ClaimingJpeg(30000, 30000)));
        const QString secret =
            writePicture(elsewhere.path(), QStringLiteral("secret.jpg"), QSize(160, 120), 9);
        QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
        request.pictures << dir.filePath(QStringLiteral("p3.jpg"));
        QVERIFY(QFile::link(secret, request.pictures.last()));
        int planted = 2;
        if (::geteuid() == 0) { // only root can hand a file to another user
            request.pictures << writePicture(dir.path(), QStringLiteral("p4.jpg"), QSize(160, 120), 7);
            QVERIFY(::chown(QFile::encodeName(request.pictures.last()).constData(), 65534, 65534) == 0);
            ++planted;
        }
        request.pictures << dir.filePath(QStringLiteral("p5.jpg")); // 1 GB of nothing, not read
        QVERIFY(writeFile(request.pictures.last(), "\xff\xd8"));
        QVERIFY(QFile::resize(request.pictures.last(), qint64(1) << 30));
        ++planted;
        request.pictures << writePicture(dir.path(), QStringLiteral("p6.jpg"), QSize(160, 120), 99);
        const TimelapseResult r = EncodeTimelapse(request);
        QCOMPARE(int(r.outcome), int(TimelapseResult::Outcome::Written));
        QCOMPARE(r.skipped, planted);
        QCOMPARE(r.firstSkipped,
                 QStringLiteral("p2.jpg holds a picture of 30000×30000: more than the 40-megapixel limit"));
        QCOMPARE(probe(request.output), QStringLiteral("h264,160,120,yuv420p,2;0.080000"));
        QVERIFY2(test::MemoryMb("VmHWM") < 1000, qPrintable(QString::number(test::MemoryMb("VmHWM"))));
    }

    void archiveDays() {
        QTemporaryDir dir;
        for (const char* name : {"07122026235959.JPG", "08122026000000.JPG", "06122026120000.JPG",
                                 "07122026000001.JPG", "07122026.mp4", "webcam.jpg", "31132026000000.JPG"})
            QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
        const auto names = [](const QStringList& paths) {
            QStringList out;
            for (const QString& p : paths)
                out << QFileInfo(p).fileName();
            return out.join(QLatin1Char(' '));
        };
        QCOMPARE(names(ArchivePicturesOfDays(dir.path(), QDate(2026, 12, 7), QDate(2026, 12, 7))),
                 QStringLiteral("07122026000001.JPG 07122026235959.JPG"));
        QCOMPARE(
            names(ArchivePicturesOfDays(dir.path(), QDate(2026, 12, 6), QDate(2026, 12, 8))),
            QStringLiteral("06122026120000.JPG 07122026000001.JPG 07122026235959.JPG 08122026000000.JPG"));
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("parsed"); // first,last,fps,width,output or the error's first word
        const auto t = [](std::initializer_list<const char*> words) {
            QStringList out{QStringLiteral("--timelapse")};
            for (const char* w : words)
                out << QLatin1String(w);
            return out;
        };
        QTest::newRow("one day, defaults")
            << t({"07122026"}) << QStringLiteral("2026-12-07,2026-12-07,25,1920,07122026.mp4");
        QTest::newRow("range and options")
            << t({"01122026-07122026", "--fps", "10", "--width", "640", "--output", "w.mp4"})
            << QStringLiteral("2026-12-01,2026-12-07,10,640,w.mp4");
        QTest::newRow("no day") << t({}) << QStringLiteral("--timelapse");
        QTest::newRow("reversed range") << t({"07122026-01122026"}) << QStringLiteral("Not");
        QTest::newRow("no such day") << t({"31022026"}) << QStringLiteral("Not");
        QTest::newRow("zero fps") << t({"07122026", "--fps", "0"}) << QStringLiteral("Not");
        QTest::newRow("option without value") << t({"07122026", "--output"}) << QStringLiteral("--output");
        QTest::newRow("unknown option") << t({"07122026", "--size", "3"}) << QStringLiteral("Unknown");
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, parsed);
        test::TempStore store;
        const TimelapseCommand c = ParseTimelapseCommand(args);
        const QString got = c.error.isEmpty()
                                ? QStringLiteral("%1,%2,%3,%4,%5")
                                      .arg(c.first.toString(Qt::ISODate), c.last.toString(Qt::ISODate))
                                      .arg(c.fps)
                                      .arg(c.width)
                                      .arg(c.output)
                                : c.error.section(QLatin1Char(' '), 0, 0);
        QCOMPARE(got, parsed);
    }

    // The archive's limits count the daily videos as copies of the last moment of their day.
    void retentionCountsVideos_data() {
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<int>("keepMb");
        QTest::addColumn<QString>("remaining"); // besides the files that are no copies
        QTest::newRow("age: a video goes with its day")
            << "05122025120000.JPG" << 3 << 0 << "02122025120000.JPG 04122025.mp4 05122025120000.JPG";
        QTest::newRow("size: videos count, oldest first")
            << "05122025120000.JPG" << 0 << 1 << "02122025120000.JPG 04122025.mp4 05122025120000.JPG";
        QTest::newRow("the video just written stays")
            << "01122025.mp4" << 0 << 1 << "01122025.mp4 05122025120000.JPG";
    }
    void retentionCountsVideos() {
        QFETCH(QString, written);
        QFETCH(int, keepDays);
        QFETCH(int, keepMb);
        QFETCH(QString, remaining);
        QTemporaryDir dir;
        const QStringList others{".01122025.mp4.x.part", "0112202.mp4", "01122025.mp4.part", "timelapse.mp4"};
        for (const QString& name : QStringList{"01122025120000.JPG", "01122025.mp4", "02122025120000.JPG",
                                               "04122025.mp4", "05122025120000.JPG"} +
                                       others) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(name.endsWith(QLatin1String(".mp4")) ? 700'000 : 10'000, 'x'));
        }
        ArchiveRetention retention;
        retention.afterCopy(dir.filePath(written), {keepDays, std::int64_t(keepMb) * 1024 * 1024},
                            QDateTime(QDate(2025, 12, 5), QTime(12, 0)));
        QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QString& name : others)
            QVERIFY2(left.removeOne(name), qPrintable(name));
        QCOMPARE(left.join(QLatin1Char(' ')), remaining);
    }

    void dailyDue_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDate>("lastDone");
        QTest::addColumn<QDate>("due"); // invalid: nothing is due
        const QDate today(2026, 12, 7);
        const auto at = [today](int h, int m, int s = 0) { return QDateTime(today, QTime(h, m, s)); };
        QTest::newRow("at the hour: yesterday") << at(0, 10) << today.addDays(-2) << today.addDays(-1);
        QTest::newRow("before the hour: the day before")
            << at(0, 9, 59) << today.addDays(-3) << today.addDays(-2);
        QTest::newRow("before the hour, that day done") << at(0, 9, 59) << today.addDays(-2) << QDate();
        QTest::newRow("yesterday done") << at(23, 0) << today.addDays(-1) << QDate();
        QTest::newRow("clock set back") << at(12, 0) << today.addDays(2) << QDate();
        QTest::newRow("never built, restarted at night") << at(3, 0) << QDate() << today.addDays(-1);
    }
    void dailyDue() {
        QFETCH(QDateTime, now);
        QFETCH(QDate, lastDone);
        QFETCH(QDate, due);
        QCOMPARE(
            DailyTimelapseDue(now, DailyTimelapseTime(QStringLiteral("0:10")), lastDone).value_or(QDate()),
            due);
    }

    // Built once a day into the archive and uploaded, a planted picture skipped and said once; neither a
    // restart nor a removed video builds a day again, a build cut short by closing is made again.
    void dailyRun() {
        test::PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        test::TempStore store;
        ManualClock manual(QDateTime(QDate(2026, 12, 7), QTime(0, 10, 5)));
        const ScopedClock scoped(manual);
        const QString archive = store.dir() + QStringLiteral("/archive");
        QDir().mkpath(archive);
        store.set("IMAGE", QStringLiteral("PATH"), archive);
        store.useFtpServers(QStringLiteral("1"), {server.port()}, server.writableDir());
        for (const char* key : {"DAILY", "UPLOAD"})
            store.set("TIMELAPSE", QLatin1String(key), QStringLiteral("1"));
        store.set("TIMELAPSE", QStringLiteral("NAME"), QStringLiteral("day.mp4"));
        store.set("TIMELAPSE", QStringLiteral("FPS"), QStringLiteral("5"));
        store.set("TIMELAPSE", QStringLiteral("WIDTH"), QStringLiteral("0")); // edited by hand: the default
        for (int i = 0; i < 6; ++i)
            writePicture(archive, QStringLiteral("06122026%1.JPG").arg(100000 + i), QSize(160, 120), i * 40);
        writePicture(archive, QStringLiteral("07122026000100.JPG"), QSize(160, 120), 0);
        // Planted: 220 bytes that ask the decoder for 17 GB.
        QVERIFY(writeFile(archive + QStringLiteral("/06122026120001.JPG"), test::ClaimingJpeg(65500, 65500)));
        const QString video = archive + QStringLiteral("/06122026.mp4");
        const QString sixFrames = QStringLiteral("h264,160,120,yuv420p,6;1.200000");
        test::StatusRecorder status;
        {
            // Cut short by the program closing: not done, so the next start makes it.
            DailyTimelapse cut(status);
            QTRY_VERIFY(cut.running());
        }
        QCOMPARE(GetSetting(keys::TimelapseLastDay), QString());
        {
            DailyTimelapse daily(status);
            QSignalSpy built(&daily, &DailyTimelapse::finished);
            QVERIFY(built.wait(60000));
            QCOMPARE(built.at(0).at(2).toInt(), 1);
            QCOMPARE(probe(video), sixFrames);
            QCOMPARE(status.texts().filter(QStringLiteral("65500")),
                     QStringList{QStringLiteral("Time-lapse written: 06122026.mp4 (6 frames, 1 skipped: "
                                                "06122026120001.JPG holds a picture of 65500×65500: more "
                                                "than the 40-megapixel limit)")});
            QCOMPARE(probe(server.root() + u'/' + server.writableDir() + QStringLiteral("/day.mp4")),
                     sixFrames);
            QCOMPARE(GetSetting(keys::TimelapseLastDay), QStringLiteral("06122026"));
            QVERIFY(QFile::remove(video)); // as the archive's limits may remove it
            daily.check();
            QVERIFY(!daily.running());
        }
        manual.set(QDateTime(QDate(2026, 12, 7), QTime(3, 0)));
        DailyTimelapse restarted(status);
        QSignalSpy built(&restarted, &DailyTimelapse::finished);
        QVERIFY(!built.wait(300));
        QVERIFY(!QFile::exists(video));
        manual.set(QDateTime(QDate(2026, 12, 8), QTime(0, 10)));
        restarted.check();
        QVERIFY(built.wait(60000));
        QCOMPARE(probe(archive + QStringLiteral("/07122026.mp4")),
                 QStringLiteral("h264,160,120,yuv420p,1;0.200000"));
    }

    // From the gallery: the pictures shown become a video off the window's thread, which keeps
    // answering; Cancel leaves no file. The largest width offered is the first picture's.
    void galleryDialog() {
        test::TempStore store;
        QTemporaryDir cache;
        const QString archive = store.dir() + QStringLiteral("/archive");
        QDir().mkpath(archive);
        for (int i = 0; i < 30; ++i)
            writePicture(archive, QStringLiteral("06122026%1.JPG").arg(100000 + i), QSize(320, 240), i * 8);
        Gallery gallery({cache.path(), {}});
        gallery.showFolder(archive);
        QTRY_VERIFY_WITH_TIMEOUT(!gallery.loading(), 30000);
        QTest::mouseClick(gallery.findChild<QToolButton*>(QStringLiteral("MakeTimelapse")), Qt::LeftButton);
        auto* dialog = gallery.findChild<TimelapseDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QComboBox*>(QStringLiteral("TimelapseSource"))->currentText(),
                 QStringLiteral("The 30 pictures shown"));
        QCOMPARE(dialog->findChild<QSpinBox*>(QStringLiteral("TimelapseWidth"))->value(), 320);
        const QString video = archive + QStringLiteral("/timelapse.mp4");
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("TimelapseOutput"))->text(), video);
        QSignalSpy finished(&dialog->job(), &TimelapseJob::finished);
        auto* make = dialog->findChild<QPushButton*>(QStringLiteral("TimelapseMake"));
        auto* state = dialog->findChild<QLabel*>(QStringLiteral("TimelapseState"));

        // Cancelled at once: no file.
        QTest::mouseClick(make, Qt::LeftButton);
        QVERIFY(!make->isEnabled());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("TimelapseCancel")), Qt::LeftButton);
        QVERIFY(finished.wait(30000));
        QCOMPARE(state->text(), QStringLiteral("Cancelled: no video was written."));
        QVERIFY(!QFile::exists(video));

        // The window's thread never waits for the encoder: its longest pause stays short.
        QTest::mouseClick(make, Qt::LeftButton);
        QElapsedTimer sinceTick;
        qint64 longestPause = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longestPause = std::max(longestPause, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        QVERIFY(finished.wait(60000));
        QVERIFY2(longestPause < 1000, qPrintable(QString::number(longestPause)));
        QVERIFY2(state->text().startsWith(QStringLiteral("Written: timelapse.mp4 (30 frames, 320x240")),
                 qPrintable(state->text()));
        QCOMPARE(probe(video), QStringLiteral("h264,320,240,yuv420p,30;1.200000"));
        QVERIFY(make->isEnabled());

        // A first picture that claims more than the pixel bound tells no width.
        const QString planted = archive + QStringLiteral("/planted.jpg");
        QVERIFY(writeFile(planted, test::ClaimingJpeg(65500, 65500)));
        const TimelapseDialog probed({planted}, archive);
        QCOMPARE(probed.findChild<QSpinBox*>(QStringLiteral("TimelapseWidth"))->maximum(), 7680);
    }

    // The dialog counts in words: one picture or many, and, once a video is made, the pictures read so far.
    void dialogCountsInWords() {
        test::TempStore store;
        for (const int n : {1, 143}) {
            TimelapseDialog dialog(QStringList(n, QStringLiteral("/nowhere.jpg")), store.dir());
            auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("TimelapseProgress"));
            QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("TimelapseSource"))->itemText(0),
                     n == 1 ? QStringLiteral("The picture shown") : QStringLiteral("The 143 pictures shown"));
            QVERIFY(!progress->isTextVisible());
            Q_EMIT dialog.job().progress(1, n, -1);
            QVERIFY(progress->isTextVisible());
            QCOMPARE(progress->text(),
                     n == 1 ? QStringLiteral("1 of 1 picture") : QStringLiteral("1 of 143 pictures"));
            TimelapseResult r;
            r.outcome = TimelapseResult::Outcome::Written;
            r.frames = n == 1 ? 1 : n - 2;
            r.size = QSize(320, 240);
            r.skipped = n == 1 ? 0 : 2;
            r.firstSkipped = QStringLiteral("a.jpg");
            Q_EMIT dialog.job().finished(r);
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("TimelapseState"))->text(),
                     n == 1
                         ? QStringLiteral("Written: timelapse.mp4 (1 frame, 320x240)")
                         : QStringLiteral("Written: timelapse.mp4 (141 frames, 320x240, 2 pictures skipped)\n"
                                          "Skipped first: a.jpg"));
        }
    }

    // The settings page shows the stored values and writes back what it shows; a blank name is the default.
    void settingsPage() {
        test::TempStore store;
        store.set("TIMELAPSE", QStringLiteral("AT"), QStringLiteral("7:05"));
        store.set("TIMELAPSE", QStringLiteral("WIDTH"), QStringLiteral("1280"));
        TimelapsePage page;
        QCOMPARE(page.findChild<QTimeEdit*>(QStringLiteral("TimelapseAt"))->time(), QTime(7, 5));
        QCOMPARE(page.findChild<QSpinBox*>(QStringLiteral("TimelapseWidth"))->value(), 1280);
        QCOMPARE(page.findChild<QSpinBox*>(QStringLiteral("TimelapseFps"))->value(), 25);
        page.findChild<QCheckBox*>(QStringLiteral("TimelapseDaily"))->setChecked(true);
        page.findChild<QSpinBox*>(QStringLiteral("TimelapseFps"))->setValue(12);
        page.findChild<QLineEdit*>(QStringLiteral("TimelapseName"))->setText(QStringLiteral(" "));
        page.store();
        QStringList stored;
        for (const auto& key : {keys::TimelapseDaily, keys::TimelapseAt, keys::TimelapseFps,
                                keys::TimelapseWidth, keys::TimelapseUpload, keys::TimelapseName})
            stored << GetSetting(key);
        QCOMPARE(stored.join(QLatin1Char(',')), QStringLiteral("1,07:05,12,1280,0,timelapse.mp4"));
    }

    // The program itself: exit status, and the video where it was asked for; a planted picture is skipped
    // and said.
    void program_data() {
        QTest::addColumn<QString>("days");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("probed");
        QTest::newRow("writes the day's video")
            << QStringLiteral("07122026") << 0 << QStringLiteral("h264,160,120,yuv420p,8;0.320000");
        QTest::newRow("no pictures that day")
            << QStringLiteral("08122026") << 1 << QStringLiteral("unreadable");
    }
    void program() {
        QFETCH(QString, days);
        QFETCH(int, exitCode);
        QFETCH(QString, probed);
        test::ProgramHome home;
        const QString archive = home.path() + QStringLiteral("/archive");
        QDir().mkpath(archive);
        home.writeSettings("[IMAGE]\nPATH=" + archive.toUtf8() + "\n");
        for (int i = 0; i < 8; ++i)
            writePicture(archive, QStringLiteral("07122026%1.JPG").arg(120000 + i), QSize(160, 120), i * 30);
        QVERIFY(writeFile(archive + QStringLiteral("/07122026130000.JPG"), test::ClaimingJpeg(65500, 65500)));
        QProcess process;
        home.prepare(process);
        process.setArguments(
            {QStringLiteral("--timelapse"), days, QStringLiteral("--output"), QStringLiteral("day.mp4")});
        process.start();
        QVERIFY(process.waitForFinished(120000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(exitCode ? QStringLiteral("no pictures")
                                       : QStringLiteral("skipped 07122026130000.JPG holds a picture of "
                                                        "65500×65500: more than the 40-megapixel limit")),
                 qPrintable(err));
        QCOMPARE(probe(home.path() + QStringLiteral("/day.mp4")), probed);
    }
};

QTEST_MAIN(TestTimelapse)
#include "test_timelapse.moc"
