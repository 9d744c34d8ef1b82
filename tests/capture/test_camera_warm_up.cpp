// `webcam-zantrel --once` with a camera whose first second is black, as a real camera's first frames are
// dark until its exposure settles: the published picture waits for the warm-up time.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr const char* kDarkThenBright =
    "concat name=c ! identity "
    "videotestsrc pattern=black num-buffers=10 ! "
    "video/x-raw,width=160,height=120,framerate=10/1 ! c. "
    "videotestsrc pattern=white ! video/x-raw,width=160,height=120,framerate=10/1 ! c.";

} // namespace

class TestCameraWarmUp : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void oncePublishesTheSettledPicture_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("bright");
        QTest::newRow("default warm-up") << QByteArray() << true;
        QTest::newRow("no warm-up: the first frame") << QByteArray("[VFW]\nWARMUP=0\n") << false;
    }
    void oncePublishesTheSettledPicture() {
        QFETCH(QByteArray, settings);
        QFETCH(bool, bright);
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("KALDOR")));
        QFile ini(home.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(settings) == settings.size());
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"), QString::fromLatin1(kDarkThenBright));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QProcess once;
        once.setProcessEnvironment(env);
        once.setWorkingDirectory(home.path());
        once.start(QStringLiteral(ZANTREL_BINARY), {QStringLiteral("--once")});
        QVERIFY(once.waitForFinished(60000));
        QCOMPARE(once.exitCode(), 0);

        const QImage image(home.filePath(QStringLiteral("webcam.jpg")));
        QCOMPARE(image.size(), QSize(160, 120)); // the camera's picture, not the test card
        const int grey =
            qGray(image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
        QVERIFY2(bright ? grey > 200 : grey < 40, qPrintable(QString::number(grey)));
    }
};

QTEST_GUILESS_MAIN(TestCameraWarmUp)
#include "test_camera_warm_up.moc"
