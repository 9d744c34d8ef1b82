#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <turbojpeg.h>

using namespace zantrel;

namespace {

struct MessageRecorder final : MessageSink {
    QStringList texts;
    void showMessage(const QString& text) override { texts << text; }
};

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

// Decodes with the encoder's own library into a top-down RGB32 picture.
QImage decode(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QByteArray jpeg = in.readAll();
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    QImage picture;
    auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    if (tjDecompressHeader3(decoder, data, jpeg.size(), &width, &height, &subsampling, &colourspace) == 0) {
        picture = QImage(width, height, QImage::Format_RGB32);
        if (tjDecompress2(decoder, data, jpeg.size(), picture.bits(), width, int(picture.bytesPerLine()),
                          height, TJPF_BGRX, 0) != 0)
            picture = QImage();
    }
    tjDestroy(decoder);
    return picture;
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

QByteArray contents(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// Sets the largest file this process may write, for the lifetime of the object.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool ok() const { return ok_; }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
    bool ok_ = false;
};

} // namespace

class TestJpegWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

  private Q_SLOTS:
    void roundTripKeepsThePicture() {
        const QImage picture = scene(320, 240);
        MessageRecorder messages;
        const QString file = path(QStringLiteral("round.jpg"));
        QVERIFY(SavePictureAsJpeg(picture, file, 90, messages));
        QVERIFY(messages.texts.isEmpty());
        const QImage back = decode(file);
        QCOMPARE(back.size(), picture.size());
        QVERIFY2(meanError(back, picture) < 3.0, qPrintable(QString::number(meanError(back, picture))));
    }

    // Whatever the filler bytes at the row ends, the file is the one the encoder makes from the same
    // picture packed tightly, top row first.
    void fillerBytesAreSkipped_data() {
        QTest::addColumn<int>("width");
        QTest::newRow("width 1, one filler byte") << 1;
        QTest::newRow("width 2, two filler bytes") << 2;
        QTest::newRow("width 7, three filler bytes") << 7;
        QTest::newRow("width 8, none") << 8;
    }
    void fillerBytesAreSkipped() {
        QFETCH(int, width);
        const QImage picture = scene(width, 11).convertToFormat(QImage::Format_RGB888);
        cDIBSection dib;
        dib.CreateFromPicture(picture);
        for (int column = width * 3; column < dib.BytesPerScanLine(); ++column)
            for (int row = 0; row < dib.Height(); ++row)
                dib.at(column, row) = 0xEE;
        MessageRecorder messages;
        const QString file = path(QStringLiteral("narrow.jpg"));
        QVERIFY(WriteJpegFile(dib, file, 75, messages));

        QByteArray packed;
        for (int y = 0; y < picture.height(); ++y)
            packed.append(reinterpret_cast<const char*>(picture.constScanLine(y)), width * 3);
        tjhandle encoder = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        QCOMPARE(tjCompress2(encoder, reinterpret_cast<const unsigned char*>(packed.constData()), width, 0,
                             11, TJPF_RGB, &jpeg, &size, TJSAMP_420, 75, 0),
                 0);
        const QByteArray expected(reinterpret_cast<const char*>(jpeg), qsizetype(size));
        tjFree(jpeg);
        tjDestroy(encoder);
        QCOMPARE(contents(file), expected);
    }

    // The encoder reads the image's stored rows bottom-up and skips the filler bytes.
    void writesStoredRowsBottomUp() {
        cDIBSection dib;
        QVERIFY(dib.Create(5, 16));
        for (int row = 0; row < 16; ++row) {
            for (int x = 0; x < 5; ++x)
                dib.at(x * 3 + (row < 8 ? 2 : 0), row) = 255; // stored rows 0-7 red, 8-15 blue
            dib.at(15, row) = 0x77;                           // filler byte
        }
        MessageRecorder messages;
        const QString file = path(QStringLiteral("rows.jpg"));
        QVERIFY(WriteJpegFile(dib, file, 95, messages));
        const QImage back = decode(file);
        QCOMPARE(back.size(), QSize(5, 16));
        QVERIFY(qRed(back.pixel(2, 14)) > 200 && qBlue(back.pixel(2, 14)) < 60); // bottom of the picture
        QVERIFY(qBlue(back.pixel(2, 1)) > 200 && qRed(back.pixel(2, 1)) < 60);   // top
    }

    void fileSizeFollowsQuality() {
        const QImage picture = scene(160, 120);
        MessageRecorder messages;
        qint64 previous = 0;
        for (int quality : {0, 10, 50, 90, 100}) {
            const QString file = path(QStringLiteral("q%1.jpg").arg(quality));
            QVERIFY(SavePictureAsJpeg(picture, file, quality, messages));
            const qint64 size = QFileInfo(file).size();
            QVERIFY2(size > previous,
                     qPrintable(QStringLiteral("quality %1: %2 bytes").arg(quality).arg(size)));
            QCOMPARE(decode(file).size(), picture.size());
            previous = size;
        }
        // Qualities beyond the range are held at its ends.
        QVERIFY(SavePictureAsJpeg(picture, path(QStringLiteral("q150.jpg")), 150, messages));
        QCOMPARE(contents(path(QStringLiteral("q150.jpg"))), contents(path(QStringLiteral("q100.jpg"))));
        QVERIFY(messages.texts.isEmpty());
    }

    void replacesAnExistingFile() {
        const QString file = path(QStringLiteral("webcam.jpg"));
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(old.setPermissions(mode));
        const QString link = path(QStringLiteral("link.jpg"));
        QVERIFY(QFile::link(file, link));
        MessageRecorder messages;
        QVERIFY(SavePictureAsJpeg(scene(64, 48), link, 50, messages));
        QCOMPARE(decode(file).size(), QSize(64, 48));
        QVERIFY(QFileInfo(file).size() < 100000);
        QCOMPARE(QFileInfo(file).permissions() & ~QFileDevice::Permissions(0x0F00),
                 mode); // without the "user" bits
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral(".*tmp")}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void failuresTellTheUserAndKeepThePreviousFile_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing folder") << QStringLiteral("missing/webcam.jpg");
        QTest::newRow("folder is a file") << QStringLiteral("plain/webcam.jpg");
        QTest::newRow("name is a folder") << QStringLiteral("folder");
        QTest::newRow("empty name") << QString();
    }
    void failuresTellTheUserAndKeepThePreviousFile() {
        QFETCH(QString, name);
        QTemporaryDir work;
        QDir here(work.path());
        QVERIFY(here.mkdir(QStringLiteral("folder")));
        QFile plain(here.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("previous");
        plain.close();
        const QStringList before = here.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

        const QString file = name.isEmpty() ? name : here.filePath(name);
        MessageRecorder messages;
        QVERIFY(!SavePictureAsJpeg(scene(32, 24), file, 50, messages));
        QCOMPARE(messages.texts, (QStringList{QStringLiteral("Failed to save to JPG"),
                                              "Error writing " + file + "JPEG File."}));
        QCOMPARE(here.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
        QCOMPARE(contents(here.filePath(QStringLiteral("plain"))), QByteArray("previous"));
        QVERIFY(QFileInfo(here.filePath(QStringLiteral("folder"))).isDir());
    }

    // A write that runs out of room (here: the process's file size limit) leaves the old file whole.
    void diskFullKeepsThePreviousFile() {
        QTemporaryDir work;
        QDir here(work.path());
        const QString file = here.filePath(QStringLiteral("webcam.jpg"));
        MessageRecorder messages;
        QVERIFY(SavePictureAsJpeg(scene(8, 8), file, 50, messages));
        const QByteArray previous = contents(file);
        QVERIFY(previous.size() < 2000);
        {
            FileSizeLimit limit(2000);
            QVERIFY(limit.ok());
            QVERIFY(!SavePictureAsJpeg(scene(640, 480), file, 100, messages));
        }
        QCOMPARE(messages.texts, (QStringList{QStringLiteral("Failed to save to JPG"),
                                              "Error writing " + file + "JPEG File."}));
        QCOMPARE(contents(file), previous);
        QCOMPARE(here.entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("webcam.jpg")});
    }

    void emptyImageIsNotWritten() {
        MessageRecorder messages;
        const QString file = path(QStringLiteral("empty.jpg"));
        QVERIFY(!SavePictureAsJpeg(QImage(), file, 50, messages));
        QCOMPARE(messages.texts, (QStringList{QStringLiteral("Failed to save to JPG"),
                                              "Error writing " + file + "JPEG File."}));
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_MAIN(TestJpegWriter)
#include "test_jpeg_writer.moc"
