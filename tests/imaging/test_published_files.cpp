// `webcam-zantrel --once` run as a process: the files one job leaves behind.
#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "imaging/jpeg_writer.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace zantrel;
using zantrel::test::ProgramHome;

namespace {

// The first quantisation table of a JPEG file: it depends on the quality only, not on the picture.
QByteArray quantisation(const QString& file) {
    QFile f(file);
    const QByteArray jpeg = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const qsizetype at = jpeg.indexOf("\xFF\xDB");
    return at < 0 ? QByteArray() : jpeg.mid(at + 5, 64);
}

QByteArray quantisationAt(int quality, const QString& folder) {
    zantrel::test::MessageRecorder none;
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    const QString file = folder + QStringLiteral("/reference.jpg");
    return SavePictureAsJpeg(picture, file, quality, none) ? quantisation(file) : QByteArray();
}

} // namespace

class TestPublishedFiles : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The IMAGE settings of one job: the quality the working file was encoded at, and which other files
    // the current folder holds afterwards ("archive": one dated copy).
    void oneJob_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("archive");
        QTest::newRow("defaults: compression 50") << QByteArray() << 50 << false;
        QTest::newRow("compression 0 is held at 1") << QByteArray("COMPRESSION=0\n") << 99 << false;
        QTest::newRow("compression 100") << QByteArray("COMPRESSION=100\n") << 0 << false;
        QTest::newRow("empty archive folder is the current one")
            << QByteArray("SAVEACOPY=1\nPATH=\n") << 50 << true;
    }
    void oneJob() {
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
        QCOMPARE(quantisation(home.path() + QStringLiteral("/webcam.jpg")),
                 quantisationAt(quality, home.path()));
        QCOMPARE(
            QDir(home.path()).entryList({QStringLiteral("*.JPG")}, QDir::Files | QDir::CaseSensitive).size(),
            archive ? 1 : 0);
    }
};

QTEST_MAIN(TestPublishedFiles)
#include "test_published_files.moc"
