#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"
#include "support/message_recorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace zantrel;
using zantrel::test::MessageRecorder;

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

void write(const QString& file, const QByteArray& data) {
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
}

QByteArray contents(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// Decodes with Qt's own reader into a top-down RGB32 picture.
QImage decode(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_RGB32);
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

// Sets the largest file this process may write, for the lifetime of the object.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{bytes, previous.rlim_max};
        ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
    }
    rlimit previous{};
    void (*handler)(int);
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
        qint64 previous = 0;
        for (int quality : {0, 10, 50, 90, 100}) {
            const QString file = path(QStringLiteral("q%1.jpg").arg(quality));
            bool saved = false;
            std::thread([&] { saved = SavePictureAsJpeg(picture, file, quality, messages); }).join();
            QVERIFY(saved);
            const QImage back = decode(file);
            QCOMPARE(back.size(), picture.size());
            QVERIFY(quality != 90 || meanError(back, picture) < 3.0);
            QVERIFY(QFileInfo(file).size() > previous);
            previous = QFileInfo(file).size();
        }
        QVERIFY(SavePictureAsJpeg(picture, path(QStringLiteral("q150.jpg")), 150, messages));
        QCOMPARE(contents(path(QStringLiteral("q150.jpg"))), contents(path(QStringLiteral("q100.jpg"))));
        QVERIFY(messages.texts().isEmpty());
    }

    // The filler bytes at the end of each stored row never reach the file, whatever they hold.
    void fillerBytesAreSkipped_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("width 1, one filler byte") << 1;
        QTest::newRow("width 7, three filler bytes") << 7;
    }
    void fillerBytesAreSkipped() {
        QFETCH(int, width);
        const QImage picture = scene(width, 11);
        cDIBSection dib;
        dib.CreateFromPicture(picture);
        for (int column = width * 3; column < dib.BytesPerScanLine(); ++column)
            for (int row = 0; row < dib.Height(); ++row)
                dib.at(column, row) = 0xEE;
        MessageRecorder messages;
        QVERIFY(WriteJpegFile(dib, path(QStringLiteral("filled.jpg")), 75, messages));
        QVERIFY(SavePictureAsJpeg(picture, path(QStringLiteral("plain.jpg")), 75, messages));
        QCOMPARE(contents(path(QStringLiteral("filled.jpg"))), contents(path(QStringLiteral("plain.jpg"))));
    }

    // Replacing goes through our own link to the file it points at and keeps the file's permissions; a new
    // file gets 0666 less the umask. No temporary file is left.
    void replacesAnExistingFile() {
        const QString file = path(QStringLiteral("webcam.jpg"));
        write(file, QByteArray(100000, 'x'));
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
        const QString link = path(QStringLiteral("link.jpg"));
        QVERIFY(QFile::link(file, link));
        MessageRecorder messages;
        QVERIFY(SavePictureAsJpeg(scene(64, 48), link, 50, messages));
        QCOMPARE(decode(file).size(), QSize(64, 48));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(modeOf(file), mode_t(0640));
        const mode_t previous = ::umask(022);
        QVERIFY(SavePictureAsJpeg(scene(8, 8), path(QStringLiteral("new.jpg")), 50, messages));
        ::umask(previous);
        QCOMPARE(modeOf(path(QStringLiteral("new.jpg"))), mode_t(0644));
        QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral(".*tmp")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // Every failure gives two messages, the reason and "Error writing …", leaves the folder as it was (no
    // temporary file) and every file there as it was: "plain" holds "previous", "fifo" is a FIFO (never
    // opened: that would hang), "shared" is a sticky folder open to all where another user's link points
    // at "plain". A size limit stands for a full disk.
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
        write(here.filePath(QStringLiteral("plain")), "previous");
        const QByteArray fifo = QFile::encodeName(here.filePath(QStringLiteral("fifo")));
        QVERIFY(::mkfifo(fifo.constData(), 0644) == 0);
        const QByteArray shared = QFile::encodeName(here.filePath(QStringLiteral("shared")));
        QVERIFY(::chmod(shared.constData(), 01777) == 0);
        const QByteArray link = shared + "/webcam.jpg";
        QVERIFY(::symlink("../plain", link.constData()) == 0 &&
                ::lchown(link.constData(), 65534, 65534) == 0);
        const auto entries = [&] {
            return here.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        };
        const QStringList before = entries();

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
        QCOMPARE(entries(), before);
        QCOMPARE(contents(here.filePath(QStringLiteral("plain"))), QByteArray("previous"));
        struct stat st {};
        QVERIFY(QFileInfo(here.filePath(QStringLiteral("folder"))).isDir());
        QVERIFY(::lstat(fifo.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QVERIFY(::lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode));
        QCOMPARE(QDir(QString::fromLocal8Bit(shared))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                     .size(),
                 1);
    }
};

QTEST_MAIN(TestJpegWriter)
#include "test_jpeg_writer.moc"
