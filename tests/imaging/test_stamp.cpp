#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

using namespace zantrel;

namespace {

// A surface with fixed metrics, every character 8 units wide and every line 16 high, that logs each
// print as "text@x,y#colour".
class FakeSurface final : public StampSurface {
  public:
    FakeSurface(float w, float h) : w_(w), h_(h) {}
    float width() const override { return w_; }
    float height() const override { return h_; }
    float textWidth(const QString& text) const override { return 8.0f * float(text.size()); }
    float textHeight(const QString&) const override { return 16.0f; }
    QStringList printed;

  protected:
    void drawText(float x, float y, const QString& text) override {
        printed << QStringLiteral("%1@%2,%3#%4").arg(text).arg(x).arg(y).arg(foreColor(), 6, 16, QChar('0'));
    }

  private:
    float w_, h_;
};

const QDateTime kMoment(QDate(2000, 3, 7), QTime(14, 5, 9));

// What the items print on a fresh 320 x 240 surface.
QStringList printedItems(const StampParams& params) {
    FakeSurface surface(320, 240);
    StampItems(surface, params);
    return surface.printed;
}

} // namespace

class TestStamp : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // The eight-character time padded to ten: Tw = 80, Th = L = 16, on 320 x 240.
    void positionsFollowTheTable_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("slot");
        QTest::addColumn<float>("width");
        QTest::addColumn<QString>("printed");
        QTest::newRow("top left, slot 2") << 0 << 2 << 320.f << " 14:05:09 @0,32#0000ff";
        QTest::newRow("top center, slot 1") << 1 << 1 << 320.f << " 14:05:09 @120,16#0000ff";
        QTest::newRow("top center, odd width") << 1 << 0 << 321.f << " 14:05:09 @120.5,0#0000ff";
        QTest::newRow("top right, slot 0") << 2 << 0 << 320.f << " 14:05:09 @240,0#0000ff";
        QTest::newRow("center, slot 1") << 3 << 1 << 320.f << " 14:05:09 @120,128#0000ff";
        QTest::newRow("bottom left, slot 0") << 4 << 0 << 320.f << " 14:05:09 @0,224#0000ff";
        QTest::newRow("bottom center, slot 1") << 5 << 1 << 320.f << " 14:05:09 @120,208#0000ff";
        QTest::newRow("bottom right, slot 2") << 6 << 2 << 320.f << " 14:05:09 @240,192#0000ff";
        QTest::newRow("too wide for the surface") << 6 << 0 << 40.f << " 14:05:09 @-40,224#0000ff";
    }
    void positionsFollowTheTable() {
        QFETCH(int, position);
        QFETCH(int, slot);
        QFETCH(float, width);
        QFETCH(QString, printed);
        FakeSurface surface(width, 240);
        QString text = QStringLiteral("14:05:09");
        DrawStamp(surface, slot, position, 0x0000FF, text);
        QCOMPARE(text, QStringLiteral(" 14:05:09 "));
        QCOMPARE(surface.printed, QStringList{printed});
    }

    // Items sharing a position stack in their slots (time 2, date 1, text 0). An index outside the list
    // prints where the previous print left off: the left edge, one line lower; on a fresh surface that is
    // the corner. An empty text still prints its two blanks.
    void itemsStackInTheirSlots() {
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        StampParams items;
        items.time = items.date = items.text = true;
        items.timePos = 6;
        items.datePos = items.textPos = 3;
        items.freeText = QStringLiteral("Cam");
        items.dateColor = 0x00FF00;
        items.textColor = 0xFF0000;
        const QString time = QStringLiteral(" 14:05:09 @240,192#ffffff");
        QCOMPARE(printedItems(items),
                 (QStringList{time, " 03-07-2000 @112,128#00ff00", " Cam @140,112#ff0000"}));
        items.datePos = 7;
        items.textPos = -1;
        items.freeText.clear();
        QCOMPARE(printedItems(items), (QStringList{time, " 03-07-2000 @0,208#00ff00", "  @0,224#ff0000"}));
        items.time = false;
        QCOMPARE(printedItems(items), (QStringList{" 03-07-2000 @0,0#00ff00", "  @0,16#ff0000"}));
        // None covers another: the time continuing from the corner takes the text's slot, so the text
        // moves below the date; at the bottom an item moves up, staying on the frame.
        items.time = true;
        items.timePos = 7;
        items.datePos = items.textPos = 0;
        QCOMPARE(printedItems(items),
                 (QStringList{" 14:05:09 @0,0#ffffff", " 03-07-2000 @0,16#00ff00", "  @0,32#ff0000"}));
        items.timePos = 0;
        items.datePos = 7;
        items.textPos = 4;
        FakeSurface fourLines(320, 64);
        StampItems(fourLines, items);
        QCOMPARE(fourLines.printed,
                 (QStringList{" 14:05:09 @0,32#ffffff", " 03-07-2000 @0,48#00ff00", "  @0,16#ff0000"}));
    }

    // Letters without a box read on a picture of their own colour, thanks to a rim of the other kind;
    // the letters grow with the frame.
    void stampReadsOnAnyPicture_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<quint32>("colour"); // of the frame and of the letters alike
        QTest::addColumn<int>("lineAtLeast");
        QTest::newRow("white on white, 1080p") << QSize(1920, 1080) << quint32(0xFFFFFF) << 34;
        QTest::newRow("white on white, 320x200") << QSize(320, 200) << quint32(0xFFFFFF) << 12;
        QTest::newRow("black on black") << QSize(320, 240) << quint32(0) << 12;
    }
    void stampReadsOnAnyPicture() {
        QFETCH(QSize, size);
        QFETCH(quint32, colour);
        QFETCH(int, lineAtLeast);
        QImage frame(size, QImage::Format_RGB32);
        frame.fill(colourFromBgr(colour));
        StampParams params;
        params.time = true;
        params.timeColor = colour;
        StampFrame(frame, params);
        const float line = ImageStampSurface(frame, stampFont(size.height())).textHeight(QString());
        QVERIFY2(line >= float(lineAtLeast), qPrintable(QString::number(line)));
        int contrast = 0; // the largest difference from the frame's colour on the time's line
        for (int y = int(2 * line); y < int(3 * line); ++y)
            for (int x = 0; x < size.width(); ++x)
                contrast =
                    qMax(contrast, qAbs(qGray(frame.pixel(x, y)) - qGray(colourFromBgr(colour).rgb())));
        QVERIFY2(contrast > 128, qPrintable(QString::number(contrast)));
    }

    void expandsPlaceholders_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expanded");
        const auto row = [](const char* name, const char* text, const char* expanded) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(expanded);
        };
        row("mixed case date", "Cam &dAtE", "Cam 03-07-2000");
        row("time inside", "a&TIMEb", "a23:59:45b");
        row("at the very end", "x&time", "x23:59:45");
        row("incomplete", "&DATx &DA", "&DATx &DA");
        row("back to back", "&&date&TIME", "&03-07-200023:59:45");
        row("next update", "next: &Next!", "next: 03-08-2000 at 00:00:15!");
    }
    void expandsPlaceholders() {
        QFETCH(QString, text);
        QFETCH(QString, expanded);
        ManualClock fixed(QDateTime(QDate(2000, 3, 7), QTime(23, 59, 45)));
        ScopedClock useFixed(fixed);
        QCOMPARE(ExpandStampText(text, QStringLiteral("03-08-2000 at 00:00:15")), expanded);
    }

    // On a real frame the time (red, bottom right, slot 2) lands inside its measured box. Opaque, its box
    // is filled with the background colour (blue) and nothing outside; transparent, only letters show.
    void stampsAFrame_data() {
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("transparent") << true << QImage::Format_BGR888;
        QTest::newRow("opaque") << false << QImage::Format_RGB32;
    }
    void stampsAFrame() {
        QFETCH(bool, transparent);
        QFETCH(QImage::Format, format);
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        QImage frame(320, 240, format);
        frame.fill(Qt::black);
        StampParams params;
        params.time = true;
        params.timePos = 6;
        params.timeColor = 0x0000FF;
        params.transparent = transparent;
        params.backColor = 0xFF0000;
        std::thread([&] { StampFrame(frame, params); }).join(); // the publishing job stamps off the UI thread

        QImage scratch(320, 240, format);
        ImageStampSurface metrics(scratch, stampFont(240));
        const float tw = metrics.textWidth(QStringLiteral(" 14:05:09 ")), th = metrics.textHeight(QString());
        QVERIFY(th >= 11);
        const QRectF box(320 - tw, 240 - 3 * th, tw, th);
        QRect ink; // every pixel that is not black
        int strongest = 0;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                const QRgb p = frame.pixel(x, y);
                if ((p & 0xFFFFFF) == 0)
                    continue;
                ink |= QRect(x, y, 1, 1);
                QVERIFY(qGreen(p) == 0 && (!transparent || qBlue(p) == 0));
                strongest = qMax(strongest, qRed(p));
            }
        QVERIFY(box.adjusted(-1, -1, 1, 1).contains(QRectF(ink)) && strongest > 200);
        const int blank = int(box.left()) + 2; // inside the leading blank
        QCOMPARE(frame.pixel(blank, int(box.center().y())), transparent ? qRgb(0, 0, 0) : qRgb(0, 0, 255));
        QVERIFY(frame.pixel(blank, int(box.top()) - 2) == qRgb(0, 0, 0) &&
                frame.pixel(blank, int(box.bottom()) + 2) == qRgb(0, 0, 0));
    }

    // A template's lines print one under another (upwards from a bottom edge), each cut to the frame.
    void templateLinesStackAndAreCut() {
        StampParams items;
        items.text = true;
        items.context = StampTemplateContext{};
        items.freeText = QStringLiteral("a\\nb");
        QCOMPARE(printedItems(items), (QStringList{" a @0,0#ffffff", " b @0,16#ffffff"}));
        items.textPos = 4;
        QCOMPARE(printedItems(items), (QStringList{" a @0,208#ffffff", " b @0,224#ffffff"}));
        items.freeText = QString(60, 'w') + QStringLiteral("\\nz");
        QCOMPARE(printedItems(items),
                 (QStringList{' ' + QString(38, 'w') + " @0,208#ffffff", " z @0,224#ffffff"}));
        items.freeText = QStringLiteral("x\\n").repeated(40); // 41 lines on a frame 15 lines high
        QCOMPARE(printedItems(items).size(), 15);
    }

    // The letters and their rim are blended straight into the camera's formats, from what was kept of
    // each line: every format gets the same picture as the painter draws (give or take its rounding),
    // and nothing beside the stamps changes. The logo keeps its transparency and takes
    // its opacity, in its corner of the published JPEG.
    void stampsEveryFormatAlike_data() {
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("BGR 24-bit") << QImage::Format_BGR888 << 0;
        QTest::newRow("RGB 24-bit") << QImage::Format_RGB888 << 0;
        QTest::newRow("32-bit") << QImage::Format_RGB32 << 0;
        QTest::newRow("through the painter") << QImage::Format_ARGB32 << 2;
    }
    void stampsEveryFormatAlike() {
        QFETCH(QImage::Format, format);
        QFETCH(int, tolerance);
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        QImage frame(640, 360, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
        StampParams params;
        params.time = params.date = params.text = true;
        params.timePos = 6;
        params.datePos = 0;
        params.textPos = 6;
        params.timeColor = 0x2080FF;
        params.context = StampTemplateContext{};
        params.freeText = QStringLiteral("Hill &TIME\\nsecond line");
        QImage reference = frame;
        StampFrame(reference, params);
        QImage stamped = frame.convertToFormat(format);
        StampFrame(stamped, params);
        int worst = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb a = stamped.pixel(x, y), b = reference.pixel(x, y);
                worst = std::max(
                    {worst, qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))});
            }
        QVERIFY2(worst <= tolerance, qPrintable(QString::number(worst)));
        QCOMPARE(reference.copy(0, 60, 640, 200), frame.copy(0, 60, 640, 200)); // between the stamps
        QVERIFY(reference.copy(0, 300, 640, 60) != frame.copy(0, 300, 640, 60));
        const auto solid = [](const QImage& image, QRgb colour) { // inside the time's letters
            int count = 0;
            for (int y = 300; y < 360; ++y)
                for (int x = 320; x < 640; ++x)
                    count += image.pixel(x, y) == colour;
            return count;
        };
        QVERIFY(solid(reference, qRgb(0xFF, 0x80, 0x20)) > 20); // the colour as it is
        params.timeColor = 0x00FF00; // the same line in another colour is not the one kept
        stamped = frame.convertToFormat(format);
        StampFrame(stamped, params);
        QVERIFY(solid(stamped, qRgb(0, 0xFF, 0)) > 20);

        QImage logo(40, 40, QImage::Format_ARGB32);
        logo.fill(Qt::transparent);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 20; ++x)
                logo.setPixel(x, y, qRgba(255, 0, 0, 255)); // left half red, right half clear
        QImage grey(640, 360, format);
        grey.fill(QColor(128, 128, 128));
        StampParams onlyLogo;
        onlyLogo.logo = logo;
        onlyLogo.logoPos = 2;
        onlyLogo.logoOpacity = 50;
        StampFrame(grey, onlyLogo);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("published.jpg"));
        struct : MessageSink {
            void showMessage(const QString& text) override { qWarning("%s", qPrintable(text)); }
        } quiet;
        QVERIFY(SavePictureAsJpeg(grey, file, 90, quiet));
        const QImage published(file);
        const auto near = [](QRgb p, int r, int g, int b) {
            return qAbs(qRed(p) - r) < 12 && qAbs(qGreen(p) - g) < 12 && qAbs(qBlue(p) - b) < 12;
        };
        QVERIFY(near(published.pixel(640 - 30, 20), 191, 64, 64));   // half red over grey
        QVERIFY(near(published.pixel(640 - 10, 20), 128, 128, 128)); // clear: the picture shows
        QVERIFY(near(published.pixel(20, 20), 128, 128, 128));
        QVERIFY(near(published.pixel(640 - 30, 60), 128, 128, 128));
        onlyLogo.logoOpacity = 100; // nor is the logo at another opacity
        grey.fill(QColor(128, 128, 128));
        StampFrame(grey, onlyLogo);
        QCOMPARE(grey.pixel(640 - 30, 20), qRgb(255, 0, 0));
    }
};

QTEST_MAIN(TestStamp)
#include "test_stamp.moc"
