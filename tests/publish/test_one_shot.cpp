// `webcam-zantrel --once` as a process: what it prints, what it writes, how it exits.
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace zantrel::test;

namespace {

struct Once {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QByteArray out, err;
    int exitCode = -1;

    Once() {
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        // No display of any kind.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"));
        QDir().mkpath(home.filePath(QStringLiteral("KALDOR")));
    }
    void settings(const QByteArray& ini) {
        QFile f(home.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(ini);
    }
    // False when the program did not end normally within a minute (it is killed then).
    [[nodiscard]] bool run() {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(home.path());
        p.start(QStringLiteral(ZANTREL_BINARY), {QStringLiteral("--once")});
        const bool ended = p.waitForFinished(60000);
        if (!ended)
            p.kill();
        out = p.readAllStandardOutput();
        err = p.readAllStandardError();
        exitCode = p.exitCode();
        return ended && p.exitStatus() == QProcess::NormalExit;
    }
    QStringList lines() const {
        return QString::fromLocal8Bit(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString file(const QString& name) const { return home.filePath(name); }
};

QByteArray serverIni(quint16 port, const QString& user, const QString& password) {
    return QStringLiteral("[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=127.0.0.1\nPORT00001=%1\nLOGIN00001=%2\n"
                          "PASSWORD00001=%3\n")
        .arg(port)
        .arg(user, password)
        .toUtf8();
}

} // namespace

class TestOneShot : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void withoutCameraOrDisplayPublishesTheTestCard() {
        Once once;
        QVERIFY(once.run());
        QCOMPARE(once.exitCode, 0);
        QVERIFY2(once.out.isEmpty(), once.out.constData()); // nothing uploaded: no status texts
        const QImage image(once.file(QStringLiteral("webcam.jpg")));
        QCOMPARE(image.size(), QSize(320, 200));
    }

    void uploadsTheCameraPictureAndPrintsEachStatus() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        Once once;
        once.env.insert(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"),
                        QStringLiteral("videotestsrc pattern=red ! video/x-raw,width=640,height=480"));
        once.settings(serverIni(server.port(), server.user(), server.password()) + "[PREF]\nAHANGUP=0\n");
        QVERIFY(once.run());
        QCOMPARE(once.exitCode, 0);
        const QStringList lines = once.lines();
        QCOMPARE(lines.value(0), QStringLiteral("Connecting... 127.0.0.1"));
        QVERIFY(lines.contains(QStringLiteral("Connected")));
        QVERIFY(lines.contains(QStringLiteral("File Transfered.")));
        QCOMPARE(lines.value(lines.size() - 1), QStringLiteral("End Transfering"));
        const QByteArray local = readFile(once.file(QStringLiteral("webcam.jpg")));
        QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("webcam.jpg"))), local);
        const QImage image = QImage::fromData(local);
        QCOMPARE(image.size(), QSize(640, 480));
        const QColor centre = image.pixelColor(320, 240);
        QVERIFY2(centre.red() > 200 && centre.green() < 60 && centre.blue() < 60, qPrintable(centre.name()));
    }

    void failedUploadExitsWithOne() {
        Once once;
        once.settings(serverIni(closedPort(), QStringLiteral("cam"), QStringLiteral("secret")) +
                      "[PREF]\nAHANGUP=0\n");
        QVERIFY(once.run());
        QCOMPARE(once.exitCode, 1);
        QVERIFY(once.lines().contains(QStringLiteral("Cannot connect to FTP Server")));
        QVERIFY(QFile::exists(once.file(QStringLiteral("webcam.jpg"))));
    }

    // A name with a line break and an escape in it: every status and every message stays one line.
    void unwritableImageExitsWithOneAndSaysWhyOnOneLine() {
        Once once;
        once.settings("[IMAGE]\nFILENAME=\"no/such\\n\\x1b[2Jfolder/cam.jpg\"\n" +
                      serverIni(closedPort(), QStringLiteral("cam"), QStringLiteral("secret")) +
                      "[PREF]\nAHANGUP=0\n");
        QVERIFY(once.run());
        QCOMPARE(once.exitCode, 1);
        QVERIFY2(once.err.split('\n').contains("Error writing no/such  [2Jfolder/cam.jpgJPEG File."),
                 once.err.constData());
        QVERIFY2(once.out.contains("no/such  [2Jfolder/cam.jpg") && !once.out.contains('\x1b') &&
                     !once.out.contains('\r'),
                 once.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestOneShot)
#include "test_one_shot.moc"
