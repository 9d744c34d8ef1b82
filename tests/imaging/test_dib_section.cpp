#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSet>
#include <QStringList>
#include <QtTest>

using namespace zantrel;

namespace {

struct MessageRecorder final : MessageSink {
    QStringList texts;
    void showMessage(const QString& text) override { texts << text; }
};

// A picture whose every pixel differs: (x, y) → red x*20, green y*20, blue 200 - x - y.
QImage pattern(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 20, y * 20, 200 - x - y));
    return image.convertToFormat(format);
}

// Blue, green, red of picture pixel (x, y), counted from the top, in the image's stored rows.
QList<int> storedPixel(const cDIBSection& dib, int x, int y) {
    const int row = dib.Height() - 1 - y;
    return {dib.at(x * 3, row), dib.at(x * 3 + 1, row), dib.at(x * 3 + 2, row)};
}

} // namespace

class TestDibSection : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void layoutFollowsWidth_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("stride");
        QTest::newRow("1x1") << 1 << 1 << 4;
        QTest::newRow("2x3") << 2 << 3 << 8;
        QTest::newRow("3x5") << 3 << 5 << 12;
        QTest::newRow("4x7") << 4 << 7 << 12;
        QTest::newRow("5x3") << 5 << 3 << 16;
    }
    void layoutFollowsWidth() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, stride);
        cDIBSection dib;
        dib.CreateFromPicture(pattern(width, height, QImage::Format_RGB32));
        QVERIFY(dib.hDib());
        QCOMPARE(dib.BytesPerScanLine(), stride);
        QCOMPARE(dib.Header().sizeImage, quint32(stride * height));
        QCOMPARE(dib.Header().bitCount, quint16(24));
        const quint8* bits = dib.DIBSectionBitsPtr();
        for (int y = 0; y < height; ++y) {
            // Picture row y is stored row height-1-y: bottom-up.
            const quint8* row = bits + (height - 1 - y) * stride;
            for (int x = 0; x < width; ++x) {
                QCOMPARE(int(row[x * 3]), 200 - x - y);
                QCOMPARE(int(row[x * 3 + 1]), y * 20);
                QCOMPARE(int(row[x * 3 + 2]), x * 20);
            }
            for (int pad = width * 3; pad < stride; ++pad)
                QCOMPARE(int(row[pad]), 0);
        }
    }

    void clearUpKeepsTheSizeAndCreateRejectsBadSizes() {
        cDIBSection dib;
        dib.ClearUp(); // empty: harmless
        QVERIFY(dib.Create(5, 3));
        dib.ClearUp();
        QVERIFY(!dib.hDib());
        QVERIFY(dib.DIBSectionBitsPtr() == nullptr);
        QCOMPARE(dib.Width(), 5);
        QCOMPARE(dib.Height(), 3);
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(0, 0));
        dib.ClearUp();

        QVERIFY(!dib.Create(0, 4));
        QVERIFY(!dib.Create(4, -1));
        QVERIFY(!dib.Create(70000, 70000)); // more than 4 GB of pixels
        QVERIFY(!dib.hDib());
        dib.CreateFromPicture(QImage());
        QVERIFY(!dib.hDib());

        QVERIFY(dib.Create(2, 2));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(8, 0));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(0, 2));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(-1, 0));
    }

    // Every surface format gives the same bytes, and painting back gives the same picture.
    void blitsConvertSurfaceFormats_data() {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("RGB32") << QImage::Format_RGB32;
        QTest::newRow("ARGB32 premultiplied") << QImage::Format_ARGB32_Premultiplied;
        QTest::newRow("RGB888") << QImage::Format_RGB888;
        QTest::newRow("BGR888") << QImage::Format_BGR888;
        QTest::newRow("RGBX8888 (converted)") << QImage::Format_RGBX8888;
    }
    void blitsConvertSurfaceFormats() {
        QFETCH(QImage::Format, format);
        const QImage source = pattern(7, 5, format);
        cDIBSection dib;
        dib.CreateFromPicture(source);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                QCOMPARE(storedPixel(dib, x, y), (QList<int>{200 - x - y, y * 20, x * 20}));

        QImage target(7, 5, format == QImage::Format_RGBX8888 ? QImage::Format_RGB32 : format);
        target.fill(Qt::black);
        QVERIFY(dib.PaintPicture(target));
        QCOMPARE(target.convertToFormat(QImage::Format_RGB32), source.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(dib.ToImage().convertToFormat(QImage::Format_RGB32),
                 source.convertToFormat(QImage::Format_RGB32));
    }

    void blitsClipOffsetsAndCombine() {
        const QImage source = pattern(4, 4, QImage::Format_RGB32);
        cDIBSection dib;
        QVERIFY(dib.Create(4, 4));
        // Source starting one pixel left of and above its corner: (0,0) has no source and stays black.
        QVERIFY(dib.LoadPictureBlt(source, -1, -1, -1, -1));
        QCOMPARE(storedPixel(dib, 0, 0), (QList<int>{0, 0, 0}));
        QCOMPARE(storedPixel(dib, 1, 0), (QList<int>{0, 0, 0}));
        QCOMPARE(storedPixel(dib, 1, 1), (QList<int>{200, 0, 0}));
        QCOMPARE(storedPixel(dib, 3, 2), (QList<int>{200 - 2 - 1, 20, 40}));

        // A 2x2 block from (2, 1) lands at the corner; the rest is untouched.
        QVERIFY(dib.Create(4, 4));
        QVERIFY(dib.LoadPictureBlt(source, 2, 1, 2, 2));
        QCOMPARE(storedPixel(dib, 1, 1), (QList<int>{200 - 3 - 2, 40, 60}));
        QCOMPARE(storedPixel(dib, 2, 0), (QList<int>{0, 0, 0}));
        QCOMPARE(storedPixel(dib, 0, 2), (QList<int>{0, 0, 0}));

        // Unknown raster operations are refused.
        QVERIFY(!dib.LoadPictureBlt(source, 0, 0, -1, -1, RasterOp(0x00AA0029)));

        // Painting at an offset onto a larger surface.
        QVERIFY(dib.LoadPictureBlt(source));
        QImage target(6, 6, QImage::Format_RGB32);
        target.fill(Qt::black);
        QVERIFY(dib.PaintPicture(target, 3, 4));
        QCOMPARE(target.pixel(3, 4), source.pixel(0, 0));
        QCOMPARE(target.pixel(5, 5), source.pixel(2, 1));
        QCOMPARE(target.pixel(2, 4), qRgb(0, 0, 0));
        QImage indexed(4, 4, QImage::Format_Indexed8);
        QVERIFY(!dib.PaintPicture(indexed));
    }

    // 2x2 to 4x4, blue only. Stored rows: row 0 = [0, 100], row 1 = [200, 40]. Scales are 0.25, so
    // target (x, y) samples (x/4, y/4); each column is interpolated and rounded first, then the row.
    void resampleInterpolatesLikeByHand() {
        cDIBSection dib;
        QVERIFY(dib.Create(2, 2));
        dib.at(3, 0) = 100;
        dib.at(0, 1) = 200;
        dib.at(3, 1) = 40;
        const auto big = dib.Resample(4, 4);
        QVERIFY(big);
        QCOMPARE(big->Width(), 4);
        const int expected[4][4] = {
            {0, 25, 50, 75},
            {50, 59, 68, 76},   // 67.5 → 68
            {100, 92, 85, 78},  // 92.5 → 92, 77.5 → 78
            {150, 126, 102, 79} // 102.5 → 102
        };
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                QCOMPARE(int(big->at(x * 3, y)), expected[y][x]);
                QCOMPARE(int(big->at(x * 3 + 1, y)), 0);
            }
    }

    void resampleRoundsEachColumnFirst() {
        cDIBSection dib;
        QVERIFY(dib.Create(2, 2));
        // Blue: columns 1→2 and 3→4; halfway up they give 2 and 4, so the middle is 3 (not 2.5 → 2).
        dib.at(0, 0) = 1, dib.at(3, 0) = 3, dib.at(0, 1) = 2, dib.at(3, 1) = 4;
        // Green: 2→3 halfway is 2.5, which goes to 2.
        dib.at(1, 0) = 2, dib.at(1, 1) = 3;
        const auto big = dib.Resample(4, 4);
        QVERIFY(big);
        QCOMPARE(int(big->at(2 * 3, 2)), 3);
        QCOMPARE(int(big->at(0 * 3, 2)), 2);
        QCOMPARE(int(big->at(0 * 3 + 1, 2)), 2);
    }

    void resampleSameSizeCopiesAndThinSourcesFail() {
        cDIBSection dib;
        dib.CreateFromPicture(pattern(5, 3, QImage::Format_RGB32));
        const auto same = dib.Resample(3, 5);
        QVERIFY(same);
        QCOMPARE(same->ToImage(), dib.ToImage());

        QVERIFY(!dib.Resample(3, 0)); // target cannot be made

        cDIBSection thin;
        QVERIFY(thin.Create(1, 4));
        QVERIFY_THROWS_EXCEPTION(ImageError, thin.Resample(6, 2));
        QVERIFY(thin.Create(4, 1));
        QVERIFY_THROWS_EXCEPTION(ImageError, thin.Resample(2, 6));
        QVERIFY(thin.Create(1, 1));
        QVERIFY(thin.Resample(1, 1));
    }

    void randomiseBitsFollowsTheChannelRules() {
        ManualClock fixed(QDateTime(QDate(2024, 5, 1), QTime(10, 20, 30)));
        ScopedClock useFixed(fixed);
        cDIBSection dib;
        QVERIFY(dib.Create(33, 17)); // 99 bytes of pixels, one padding byte per row
        for (int y = 0; y < 17; ++y)
            dib.at(99, y) = 0xAB;

        dib.RandomiseBits(false);
        QSet<int> greens;
        for (int y = 0; y < 17; ++y) {
            for (int x = 0; x < 33; ++x) {
                QCOMPARE(int(dib.at(x * 3, y)), 0);
                greens << dib.at(x * 3 + 1, y);
            }
            QCOMPARE(int(dib.at(99, y)), 0xAB);
        }
        QVERIFY(greens.size() > 100);
        const QImage first = dib.ToImage();
        dib.RandomiseBits(false); // same time of day, same noise
        QCOMPARE(dib.ToImage(), first);

        dib.RandomiseBits(true);
        QSet<int> greys;
        for (int y = 0; y < 17; ++y) {
            for (int x = 0; x < 33; ++x) {
                QCOMPARE(dib.at(x * 3, y), dib.at(x * 3 + 1, y));
                QCOMPARE(dib.at(x * 3, y), dib.at(x * 3 + 2, y));
                greys << dib.at(x * 3, y);
            }
            QCOMPARE(int(dib.at(99, y)), 0xAB);
        }
        QVERIFY(greys.size() > 100);
    }

    void copyToClipboard() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("keep"));
        cDIBSection dib;
        dib.CreateFromPicture(pattern(6, 4, QImage::Format_RGB32));
        MessageRecorder messages;

        QVERIFY(!dib.CopyToClipboard(messages, true));
        QCOMPARE(messages.texts,
                 QStringList{"I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"});
        QCOMPARE(clipboard->text(), QStringLiteral("keep"));

        QVERIFY(dib.CopyToClipboard(messages, false));
        QCOMPARE(clipboard->image().convertToFormat(QImage::Format_RGB32),
                 pattern(6, 4, QImage::Format_RGB32));

        cDIBSection empty;
        QVERIFY(!empty.CopyToClipboard(messages));
        QCOMPARE(messages.texts.size(), 1);
    }
};

QTEST_MAIN(TestDibSection)
#include "test_dib_section.moc"
