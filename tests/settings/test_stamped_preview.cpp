// The stamped-image preview: the picture the JPEG writer would publish, fitted to the screen. The
// preview through the dialog and the job's use of the dialog's values are in test_settings_dialog.
#include "imaging/jpeg_writer.h"
#include "settings/preview_window.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QtTest>

using namespace zantrel;

class TestStampedPreview : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The preview decodes what the JPEG writer writes at quality 100 − compression, in memory.
    void previewQualityFollowsCompression() {
        test::TempStore store;
        QImage frame(320, 240, QImage::Format_RGB32); // fine detail everywhere, so that quality shows
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, ((x ^ y) * 3) % 256));
        for (const int compression : {1, 100}) {
            test::MessageRecorder messages;
            QVERIFY(SavePictureAsJpeg(frame, QStringLiteral("written.jpg"), 100 - compression, messages));
            QCOMPARE(PreparePreview(frame, StampParams{}, compression),
                     QImage(QStringLiteral("written.jpg")).convertToFormat(QImage::Format_RGB32));
        }
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
};

QTEST_MAIN(TestStampedPreview)
#include "test_stamped_preview.moc"
