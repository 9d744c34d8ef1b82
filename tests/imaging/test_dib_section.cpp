#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/dib_section.h"
#include "support/message_recorder.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSet>
#include <QtTest>

using namespace zantrel;
using zantrel::test::MessageRecorder;

namespace {

// A picture whose every pixel differs: (x, y) → red x*20, green y*20, blue 200 - x - y.
QImage pattern(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 20, y * 20, 200 - x - y));
    return image.convertToFormat(format);
}

QImage rgb32(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
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
    // Rows are bottom-up, blue-green-red, padded with zeros to four bytes, whatever the surface format; the
    // picture reads and paints back unchanged. Rows of 3-byte surfaces are padded too.
    void layoutAndSurfaceFormats_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("stride");
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("1x1 RGB32") << 1 << 1 << 4 << QImage::Format_RGB32;
        QTest::newRow("2x3 RGB888") << 2 << 3 << 8 << QImage::Format_RGB888;
        QTest::newRow("3x5 BGR888") << 3 << 5 << 12 << QImage::Format_BGR888;
        QTest::newRow("4x7 ARGB32 premultiplied") << 4 << 7 << 12 << QImage::Format_ARGB32_Premultiplied;
        QTest::newRow("5x3 RGBX8888 (converted)") << 5 << 3 << 16 << QImage::Format_RGBX8888;
    }
    void layoutAndSurfaceFormats() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, stride);
        QFETCH(QImage::Format, format);
        cDIBSection dib;
        dib.CreateFromPicture(pattern(width, height, format));
        QCOMPARE(dib.BytesPerScanLine(), stride);
        QCOMPARE(dib.Header().sizeImage, quint32(stride * height));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                QCOMPARE(storedPixel(dib, x, y), (QList<int>{200 - x - y, y * 20, x * 20}));
            for (int pad = width * 3; pad < stride; ++pad)
                QCOMPARE(int(dib.at(pad, height - 1 - y)), 0);
        }
        QCOMPARE(rgb32(dib.ToImage()), pattern(width, height));
        QImage target(width, height, format == QImage::Format_RGBX8888 ? QImage::Format_RGB32 : format);
        target.fill(Qt::black);
        QVERIFY(dib.PaintPicture(target));
        QCOMPARE(rgb32(target), pattern(width, height));
    }

    void clearUpKeepsTheSizeAndBadSizesFail() {
        cDIBSection dib;
        QVERIFY(dib.Create(5, 3));
        dib.ClearUp();
        QVERIFY(!dib.hDib() && !dib.DIBSectionBitsPtr());
        QCOMPARE(QSize(dib.Width(), dib.Height()), QSize(5, 3));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(0, 0));

        QVERIFY(!dib.Create(0, 4) && !dib.Create(4, -1));
        QVERIFY(!dib.Create(70000, 70000)); // more than 4 GB of pixels

        QVERIFY(dib.Create(2, 2));
        for (const auto& [column, row] :
             {std::pair(8, 0), std::pair(0, 2), std::pair(-1, 0), std::pair(0, -1)})
            QVERIFY_THROWS_EXCEPTION(ImageError, dib.at(column, row));
    }

    void blitsClipOffsetsAndCombine() {
        const QImage source = pattern(4, 4);
        cDIBSection dib;
        QVERIFY(dib.Create(4, 4));
        // Source starting one pixel left of and above its corner: (0,0) has no source and stays black.
        QVERIFY(dib.LoadPictureBlt(source, -1, -1, -1, -1));
        QCOMPARE(storedPixel(dib, 1, 0), (QList<int>{0, 0, 0}));
        QCOMPARE(storedPixel(dib, 1, 1), (QList<int>{200, 0, 0}));
        QCOMPARE(storedPixel(dib, 3, 2), (QList<int>{200 - 2 - 1, 20, 40}));

        // A 2x2 block from (2, 1) lands at the corner; the rest is untouched.
        QVERIFY(dib.Create(4, 4));
        QVERIFY(dib.LoadPictureBlt(source, 2, 1, 2, 2));
        QCOMPARE(storedPixel(dib, 1, 1), (QList<int>{200 - 3 - 2, 40, 60}));
        QCOMPARE(storedPixel(dib, 2, 0), (QList<int>{0, 0, 0}));
        QVERIFY(!dib.LoadPictureBlt(source, 0, 0, -1, -1, RasterOp(0x00AA0029))); // unknown operation

        // Painting at an offset onto a larger surface; surfaces of other formats are refused.
        QVERIFY(dib.LoadPictureBlt(source));
        QImage target(6, 6, QImage::Format_RGB32);
        target.fill(Qt::black);
        QVERIFY(dib.PaintPicture(target, 3, 4));
        QCOMPARE((QList<QRgb>{target.pixel(3, 4), target.pixel(5, 5), target.pixel(2, 4)}),
                 (QList<QRgb>{source.pixel(0, 0), source.pixel(2, 1), qRgb(0, 0, 0)}));
        QImage indexed(4, 4, QImage::Format_Indexed8);
        QVERIFY(!dib.PaintPicture(indexed));
    }

    // 2x2 to 4x4. Scales are 0.25, so target (x, y) samples source (x/4, y/4); each column is
    // interpolated and rounded half to even first, then the row. Stored rows (blue, green, red per pixel):
    // row 0 = (0, 1, 2) (100, 3, 0), row 1 = (200, 2, 3) (40, 4, 0).
    void resampleInterpolatesLikeByHand() {
        const int stored[2][6] = {{0, 1, 2, 100, 3, 0}, {200, 2, 3, 40, 4, 0}};
        cDIBSection dib;
        QVERIFY(dib.Create(2, 2));
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 6; ++column)
                dib.at(column, row) = quint8(stored[row][column]);
        const auto big = dib.Resample(4, 4);
        QVERIFY(big && big->Width() == 4 && big->Height() == 4);
        // Blue, row by row: 67.5 → 68, 92.5 → 92, 77.5 → 78, 102.5 → 102.
        QString blue;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                blue += QString::number(big->at(x * 3, y)) + QLatin1Char(' ');
        QCOMPARE(blue, QStringLiteral("0 25 50 75 50 59 68 76 100 92 85 78 150 126 102 79 "));
        // Green halfway up: the columns give 1.5 → 2 and 3.5 → 4, so the middle is 3 (not 2.5 → 2).
        QCOMPARE(int(big->at(2 * 3 + 1, 2)), 3);
        QCOMPARE(int(big->at(0 * 3 + 2, 2)), 2); // red halfway up the first column: 2.5 → 2

        // The same size copies; a target that cannot be made gives nothing; one-pixel sources cannot be read.
        dib.CreateFromPicture(pattern(5, 3));
        const auto same = dib.Resample(3, 5);
        QVERIFY(same && same->ToImage() == dib.ToImage());
        QVERIFY(!dib.Resample(3, 0)); // target cannot be made
        QVERIFY(dib.Create(1, 4));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.Resample(6, 2));
        QVERIFY(dib.Create(4, 1));
        QVERIFY_THROWS_EXCEPTION(ImageError, dib.Resample(2, 6));
    }

    // Colour noise keeps blue at zero; grey noise sets the three channels alike. Both leave the padding
    // alone and repeat for the same time of day.
    void randomiseBitsFollowsTheChannelRules() {
        ManualClock fixed(QDateTime(QDate(2024, 5, 1), QTime(10, 20, 30)));
        ScopedClock useFixed(fixed);
        cDIBSection dib;
        QVERIFY(dib.Create(33, 17)); // 99 bytes of pixels, one padding byte per row
        for (int y = 0; y < 17; ++y)
            dib.at(99, y) = 0xAB;
        for (const bool grey : {false, true}) {
            dib.RandomiseBits(grey);
            QSet<int> greens;
            for (int y = 0; y < 17; ++y) {
                for (int x = 0; x < 33; ++x) {
                    const int blue = dib.at(x * 3, y), green = dib.at(x * 3 + 1, y),
                              red = dib.at(x * 3 + 2, y);
                    QVERIFY(blue == (grey ? green : 0) && (!grey || red == green));
                    greens << green;
                }
                QCOMPARE(int(dib.at(99, y)), 0xAB);
            }
            QVERIFY(greens.size() > 100);
            const QImage first = dib.ToImage();
            dib.RandomiseBits(grey);
            QCOMPARE(dib.ToImage(), first);
        }
    }

    void copyToClipboard() {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("keep"));
        cDIBSection dib;
        dib.CreateFromPicture(pattern(6, 4));
        MessageRecorder messages;
        QVERIFY(!dib.CopyToClipboard(messages, true)); // as a DIB: refused with a message
        QVERIFY(messages.texts().size() == 1 && clipboard->text() == QStringLiteral("keep"));
        QVERIFY(dib.CopyToClipboard(messages, false));
        QCOMPARE(rgb32(clipboard->image()), pattern(6, 4));
    }
};

QTEST_MAIN(TestDibSection)
#include "test_dib_section.moc"
