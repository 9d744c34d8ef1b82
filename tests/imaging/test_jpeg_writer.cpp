#include "imaging/jpeg_writer.h"
#include "support/ftp_test_files.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace zantrel;
using zantrel::test::MessageRecorder;
using zantrel::test::ProgramHome;
using zantrel::test::readFile;
using zantrel::test::writeFile;

namespace {

// Smooth content with a red top half and a blue bottom half, so a flipped or shifted picture shows.
QImage scene(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int shade = width > 1 ? 40 + 100 * x / (width - 1) : 90;
            image.setPixel(x, y, y < height / 2 ? qRgb(220, shade, 30) : qRgb(30, shade, 220));
        }
    return image;
}

mode_t modeOf(const QString& file) {
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

double meanError(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

// The first quantisation table of a JPEG file: it depends on the quality only, not on the picture.
QByteArray quantisation(const QString& file) {
    const QByteArray jpeg = readFile(file);
    const qsizetype at = jpeg.indexOf("\xFF\xDB");
    return at < 0 ? QByteArray() : jpeg.mid(at + 5, 64);
}

// Every entry under the folder with its kind and, for a regular file, what it holds.
QStringList snapshot(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        struct stat st {};
        ::lstat(QFile::encodeName(entry).constData(), &st);
        entries << entry + QString::number(st.st_mode & S_IFMT, 8) +
                       (S_ISREG(st.st_mode) ? readFile(entry) : "");
    }
    entries.sort();
    return entries;
}

// Stands for a full disk: no file grows beyond `bytes` while this lives. The write past the limit raises
// SIGXFSZ in the writing thread before the writer can clean up; the handler notes the mode of the file
// that is exactly that long.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
        size = off_t(bytes);
        std::signal(SIGXFSZ, [](int) {
            for (int fd = 0; fd < 1024; ++fd) {
                struct stat st {};
                if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size)
                    mode = st.st_mode & 07777;
            }
        });
        getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{bytes, previous.rlim_max};
        ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous); }
    static inline off_t size = 0;
    static inline mode_t mode = 0;
    rlimit previous{};
    bool ok = false;
};

} // namespace

class TestJpegWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

  private Q_SLOTS:
    // Every quality decodes to the picture's size, the file grows with quality, and at 90 the picture
    // comes back close (rows padded to four bytes, stored bottom-up). Qualities beyond the range are held at
    // its ends. Saved on a worker thread, as the publishing job does.
    void roundTripAtEachQuality() {
        const QImage picture = scene(319, 240);
        MessageRecorder messages;
        FrameJpegEncoder frames; // the live stream's encoder gives the file's bytes, from the frame itself
        qint64 previous = 0;
        for (int quality : {0, 10, 50, 90, 100}) {
            const QString file = path(QStringLiteral("q%1.jpg").arg(quality));
            bool saved = false;
            std::thread([&] { saved = SavePictureAsJpeg(picture, file, quality, messages); }).join();
            QVERIFY(saved);
            const QImage back = QImage(file).convertToFormat(QImage::Format_RGB32);
            QCOMPARE(back.size(), picture.size());
            QVERIFY(quality != 90 || meanError(back, picture) < 3.0);
            QVERIFY(QFileInfo(file).size() > previous);
            previous = QFileInfo(file).size();
            QCOMPARE(frames.encode(picture, quality), readFile(file));
        }
        QVERIFY(SavePictureAsJpeg(picture, path(QStringLiteral("q150.jpg")), 150, messages));
        QCOMPARE(readFile(path(QStringLiteral("q150.jpg"))), readFile(path(QStringLiteral("q100.jpg"))));
        QVERIFY(messages.texts().isEmpty());
    }

    // Replacing goes through our own link to the file it points at and keeps the file's permissions; a new
    // file gets 0666 less the umask.
    void replacesAnExistingFile() {
        const QString file = path(QStringLiteral("webcam.jpg"));
        QVERIFY(writeFile(file, QByteArray(100000, 'x')));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
        const QString link = path(QStringLiteral("link.jpg"));
        QVERIFY(QFile::link(file, link));
        MessageRecorder messages;
        QVERIFY(SavePictureAsJpeg(scene(64, 48), link, 50, messages));
        QCOMPARE(QImage(file).size(), QSize(64, 48));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(modeOf(file), mode_t(0640));
        const mode_t previous = ::umask(027);
        QVERIFY(SavePictureAsJpeg(scene(8, 8), path(QStringLiteral("new.jpg")), 50, messages));
        ::umask(previous);
        QCOMPARE(modeOf(path(QStringLiteral("new.jpg"))), mode_t(0640));
    }

    // Every failure gives two messages, the reason and "Error writing …", and leaves everything in the folder
    // as it was (no temporary file): "plain" holds "previous", "fifo" is a FIFO (never opened: that would
    // hang), "shared" is a sticky folder open to all where another user's link points at "plain".
    void failuresTellTheUserAndKeepThePreviousFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("emptyPicture");
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("reason"); // the first message after the file's path
        const QString failed = QStringLiteral("Failed to save to JPG");
        const QString notRegular = QStringLiteral(" is not a regular file; it was left as it is.");
        QTest::newRow("missing folder") << QStringLiteral("missing/webcam.jpg") << false << 0 << failed;
        QTest::newRow("empty name") << QString() << false << 0 << failed;
        QTest::newRow("empty picture") << QStringLiteral("plain") << true << 0 << failed;
        QTest::newRow("disk full") << QStringLiteral("plain") << false << 2000 << failed;
        QTest::newRow("name is a folder") << QStringLiteral("folder") << false << 0 << notRegular;
        QTest::newRow("FIFO") << QStringLiteral("fifo") << false << 0 << notRegular;
        QTest::newRow("another user's link in a shared folder")
            << QStringLiteral("shared/webcam.jpg") << false << 0
            << QStringLiteral(" is a symbolic link of another user; it was not followed.");
    }
    void failuresTellTheUserAndKeepThePreviousFile() {
        QFETCH(QString, name);
        QFETCH(bool, emptyPicture);
        QFETCH(int, sizeLimit);
        QFETCH(QString, reason);
        QTemporaryDir work;
        QDir here(work.path());
        QVERIFY(here.mkdir(QStringLiteral("folder")) && here.mkdir(QStringLiteral("shared")));
        QVERIFY(writeFile(here.filePath(QStringLiteral("plain")), "previous"));
        const QByteArray shared = QFile::encodeName(here.filePath(QStringLiteral("shared")));
        const QByteArray link = shared + "/webcam.jpg";
        QVERIFY(::mkfifo(QFile::encodeName(here.filePath(QStringLiteral("fifo"))).constData(), 0644) == 0 &&
                ::chmod(shared.constData(), 01777) == 0 && ::symlink("../plain", link.constData()) == 0 &&
                ::lchown(link.constData(), 65534, 65534) == 0);
        const QStringList before = snapshot(work.path());

        const QString file = name.isEmpty() ? name : here.filePath(name);
        MessageRecorder messages;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0)
                QVERIFY(limit.emplace(rlim_t(sizeLimit)).ok);
            QVERIFY(!SavePictureAsJpeg(emptyPicture ? QImage() : scene(640, 480), file, 100, messages));
        }
        const QString first = reason.startsWith(QLatin1Char(' ')) ? file + reason : reason;
        QCOMPARE(messages.texts(), (QStringList{first, "Error writing " + file + "JPEG File."}));
        QCOMPARE(snapshot(work.path()), before);
        if (sizeLimit > 0) // the temporary file, caught at the limit, was the owner's alone
            QCOMPARE(FileSizeLimit::mode, mode_t(0600));
    }

    // `webcam-zantrel --once` run as a process with the IMAGE settings given: the quality the working file
    // was encoded at, and which other files the current folder holds afterwards ("archive": a dated copy).
    void oneJobOfTheProgram_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("archive");
        QTest::newRow("compression 50 by default; an empty archive folder is the current one")
            << QByteArray("SAVEACOPY=1\nPATH=\n") << 50 << true;
        QTest::newRow("compression 0 is held at 1, no copy by default")
            << QByteArray("COMPRESSION=0\n") << 99 << false;
        QTest::newRow("compression 100") << QByteArray("COMPRESSION=100\n") << 0 << false;
    }
    void oneJobOfTheProgram() {
        QFETCH(QByteArray, image);
        QFETCH(int, quality);
        QFETCH(bool, archive);
        ProgramHome home(QString{});
        // A count far beyond the entries the file holds must not walk two billion empty entries.
        home.writeSettings("[IMAGE]\n" + image + "[FTP]\nUPLOAD=1\nSERVERS=2147483647\n[PREF]\nAHANGUP=0\n");
        QProcess p;
        home.prepare(p);
        p.setArguments({QStringLiteral("--once")});
        p.start();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        MessageRecorder none;
        const QString reference = path(QStringLiteral("reference.jpg"));
        QVERIFY(SavePictureAsJpeg(scene(16, 16), reference, quality, none));
        QCOMPARE(quantisation(home.path() + QStringLiteral("/webcam.jpg")), quantisation(reference));
        QCOMPARE(
            QDir(home.path()).entryList({QStringLiteral("*.JPG")}, QDir::Files | QDir::CaseSensitive).size(),
            archive ? 1 : 0);
    }
};

QTEST_MAIN(TestJpegWriter)
#include "test_jpeg_writer.moc"
