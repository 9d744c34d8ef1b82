// The stamped-image preview and the published file agree: same stamps, background and JPEG quality,
// and a job that runs while the dialog is open uses the dialog's unconfirmed values.
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "imaging/jpeg_round_trip.h"
#include "imaging/jpeg_writer.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "settings/preview_window.h"
#include "settings/settings_dialog.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace zantrel;

namespace {

struct NoMessages final : MessageSink {
    void showMessage(const QString&) override {}
};

// Fine detail everywhere, so that JPEG quality shows.
QImage testFrame() {
    QImage image(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, ((x ^ y) * 3) % 256));
    return image;
}

double meanError(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGreen(a.pixel(x, y)) - qGreen(b.pixel(x, y)));
    return sum / (a.width() * a.height());
}

// The share of pixels of a corner region (a quarter of the width, a fifth of the height) that are red.
double redShare(const QImage& image, bool bottomRight) {
    const QSize size(image.width() / 4, image.height() / 5);
    const QRect r = bottomRight
                        ? QRect(QPoint(image.width() - size.width(), image.height() - size.height()), size)
                        : QRect(QPoint(0, 0), size);
    int red = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            red += qRed(p) > 150 && qRed(p) - qGreen(p) > 80;
        }
    return double(red) / (r.width() * r.height());
}

// Runs one publishing job on a grey frame with fine detail and reads back the working file.
QImage publishOnce() {
    NoMessages messages;
    PublishServices s;
    s.grabFrame = [](QImage& target) {
        target = testFrame().convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    };
    s.messages = &messages;
    s.live = &LiveValues::instance();
    RunPublishJob(s);
    return QImage(QStringLiteral("webcam.jpg"));
}

QStringList filesUnder(const QString& dir) {
    QStringList files;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next();
    return files;
}

} // namespace

class TestStampedPreview : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The preview decodes what the JPEG writer would write at quality 100 − compression.
    void previewQualityFollowsCompression_data() {
        QTest::addColumn<int>("compression");
        QTest::newRow("1 is quality 99") << 1;
        QTest::newRow("50") << 50;
        QTest::newRow("100 is quality 0") << 100;
    }
    void previewQualityFollowsCompression() {
        QFETCH(int, compression);
        test::TempStore store;
        const QImage frame = testFrame();
        NoMessages messages;
        QVERIFY(SavePictureAsJpeg(frame, QStringLiteral("written.jpg"), 100 - compression, messages));
        const QImage preview = PreparePreview(frame, StampParams{}, compression);
        QCOMPARE(preview, QImage(QStringLiteral("written.jpg")).convertToFormat(QImage::Format_RGB32));
        if (compression == 100)
            QVERIFY(meanError(preview, frame) > 4 * meanError(PreparePreview(frame, {}, 1), frame));
    }

    // Through the dialog's button: the stamps as the dialog shows them, nothing written anywhere, any key
    // closes the window.
    void previewButtonWritesNoFile() {
        test::TempStore store;
        store.set("IMAGE", QStringLiteral("TIME"), QStringLiteral("0"));
        store.set("IMAGE", QStringLiteral("BACK"), QStringLiteral("255")); // red
        qunsetenv(DeviceList::testCameraVariable());
        NoMessages messages;
        CaptureWindow capture(messages);
        SettingsDialog dialog(capture);
        dialog.show();
        dialog.findChild<QCheckBox*>(QStringLiteral("InsertTime"))->setChecked(true);
        dialog.findChild<QCheckBox*>(QStringLiteral("Transparent"))->setChecked(false);
        const QStringList before = filesUnder(store.dir());
        QImage shown;
        QTimer::singleShot(0, [&shown] {
            auto* preview = qobject_cast<PreviewWindow*>(QApplication::activeModalWidget());
            QVERIFY(preview);
            QCOMPARE(preview->objectName(), QStringLiteral("frmPreview"));
            shown = preview->picture()->pixmap().toImage();
            QTest::keyClick(preview, Qt::Key_Space);
            QVERIFY(!preview->isVisible());
        });
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("Preview_button")), Qt::LeftButton);
        QVERIFY(!shown.isNull());
        QVERIFY(redShare(shown, false) > 0.05); // the time on its red box, top left
        QCOMPARE(filesUnder(store.dir()), before);
    }

    void largePictureIsScaledToTheScreen_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("fits") << QSize(640, 480) << QSize(1024, 768) << QSize(640, 480);
        QTest::newRow("too wide") << QSize(2000, 500) << QSize(1040, 760) << QSize(1000, 250);
        QTest::newRow("too high") << QSize(800, 1600) << QSize(1040, 760) << QSize(350, 700);
        QTest::newRow("margins count") << QSize(1000, 700) << QSize(1020, 760) << QSize(980, 686);
    }
    void largePictureIsScaledToTheScreen() {
        QFETCH(QSize, picture);
        QFETCH(QSize, available);
        QTEST(PreviewPictureSize(picture, available), "shown");
    }

    // The published file shows the stamp's background exactly when the dialog or the settings say so;
    // unconfirmed dialog values apply while it is open, the stored ones after Cancel.
    void jobPublishesTheBackgroundTheDialogShows() {
        test::TempStore store;
        store.set("IMAGE", QStringLiteral("TIME"), QStringLiteral("1"));
        store.set("IMAGE", QStringLiteral("BACK"), QStringLiteral("255"));
        store.set("IMAGE", QStringLiteral("TRANS"), QStringLiteral("0"));
        QImage published = publishOnce();
        QVERIFY(redShare(published, false) > 0.05);
        store.set("IMAGE", QStringLiteral("TRANS"), QStringLiteral("1"));
        published = publishOnce();
        QVERIFY(redShare(published, false) < 0.01);

        qunsetenv(DeviceList::testCameraVariable());
        NoMessages messages;
        CaptureWindow capture(messages);
        SettingsDialog dialog(capture);
        dialog.show();
        dialog.findChild<QCheckBox*>(QStringLiteral("Transparent"))->setChecked(false);
        dialog.findChild<QComboBox*>(QStringLiteral("TimePosition"))->setCurrentIndex(6);
        dialog.findChild<QSlider*>(QStringLiteral("Compression"))->setValue(100);
        const qint64 sizeAtStored = QFileInfo(QStringLiteral("webcam.jpg")).size();
        published = publishOnce();
        QVERIFY(redShare(published, true) > 0.05);
        const qint64 sizeAtEdited = QFileInfo(QStringLiteral("webcam.jpg")).size();
        QVERIFY(sizeAtEdited < sizeAtStored / 2);

        dialog.reject();
        published = publishOnce();
        QVERIFY(redShare(published, true) < 0.01);
        QVERIFY(QFileInfo(QStringLiteral("webcam.jpg")).size() > sizeAtEdited * 2);
    }
};

QTEST_MAIN(TestStampedPreview)
#include "test_stamped_preview.moc"
