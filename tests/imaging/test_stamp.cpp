#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"
#include "support/temp_store.h"

#include <QImage>
#include <QImageReader>
#include <QtTest>
#include <cmath>
#include <thread>

using namespace zantrel;

namespace {

struct Printed {
    QString text;
    float x, y;
    quint32 colour;
};

// A surface with fixed metrics: every character 8 units wide, every line 16 high.
class FakeSurface final : public StampSurface {
  public:
    FakeSurface(float w, float h) : w_(w), h_(h) {}
    float width() const override { return w_; }
    float height() const override { return h_; }
    float textWidth(const QString& text) const override { return 8.0f * float(text.size()); }
    float textHeight(const QString&) const override { return 16.0f; }
    QList<Printed> printed;

  protected:
    void drawText(float x, float y, const QString& text) override {
        printed.append({text, x, y, foreColor()});
    }

  private:
    float w_, h_;
};

const QDateTime kMoment(QDate(2000, 3, 7), QTime(14, 5, 9));

struct NullMessages final : MessageSink {
    void showMessage(const QString&) override {}
};

// The smallest rectangle holding every pixel that is not black.
QRect inkBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
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
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::newRow("top left, slot 2") << 0 << 2 << 320.f << 0.f << 32.f;
        QTest::newRow("top center, slot 1") << 1 << 1 << 320.f << 120.f << 16.f;
        QTest::newRow("top center, odd width") << 1 << 0 << 321.f << 120.5f << 0.f;
        QTest::newRow("top right, slot 0") << 2 << 0 << 320.f << 240.f << 0.f;
        QTest::newRow("center, slot 0") << 3 << 0 << 320.f << 120.f << 112.f;
        QTest::newRow("center, slot 1") << 3 << 1 << 320.f << 120.f << 128.f;
        QTest::newRow("bottom left, slot 0") << 4 << 0 << 320.f << 0.f << 224.f;
        QTest::newRow("bottom center, slot 1") << 5 << 1 << 320.f << 120.f << 208.f;
        QTest::newRow("bottom right, slot 2") << 6 << 2 << 320.f << 240.f << 192.f;
        QTest::newRow("too wide for the surface") << 6 << 0 << 40.f << -40.f << 224.f;
    }
    void positionsFollowTheTable() {
        QFETCH(int, position);
        QFETCH(int, slot);
        QFETCH(float, width);
        QFETCH(float, x);
        QFETCH(float, y);
        FakeSurface surface(width, 240);
        QString text = QStringLiteral("14:05:09");
        DrawStamp(surface, slot, position, 0x0000FF, text);
        QCOMPARE(text, QStringLiteral(" 14:05:09 "));
        QCOMPARE(surface.printed.size(), 1);
        QCOMPARE(surface.printed[0].x, x);
        QCOMPARE(surface.printed[0].y, y);
        QCOMPARE(surface.printed[0].colour, quint32(0x0000FF));
    }

    void itemsStackInTheirSlots() {
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        const auto ys = [](const FakeSurface& s) {
            QList<float> out;
            for (const auto& p : s.printed)
                out << p.y;
            return out;
        };

        StampParams both;
        both.time = both.date = true;
        FakeSurface top(320, 240);
        StampItems(top, both);
        QCOMPARE(top.printed[0].text, QStringLiteral(" 14:05:09 "));
        QCOMPARE(top.printed[1].text, QStringLiteral(" 03-07-2000 "));
        QCOMPARE(ys(top), (QList<float>{32, 16})); // nothing on the first line

        StampParams centre;
        centre.date = centre.text = true;
        centre.datePos = centre.textPos = 3;
        centre.freeText = QStringLiteral("Cam");
        centre.dateColor = 0x00FF00;
        centre.textColor = 0xFF0000;
        FakeSurface middle(320, 240);
        StampItems(middle, centre);
        QCOMPARE(ys(middle), (QList<float>{128, 112}));
        QCOMPARE(middle.printed[1].text, QStringLiteral(" Cam "));
        QCOMPARE(middle.printed[0].colour, quint32(0x00FF00));
        QCOMPARE(middle.printed[1].colour, quint32(0xFF0000));

        // An index outside the list prints where the previous print left off: the left edge, one line
        // lower; on a fresh surface that is the corner. An empty text still prints its two blanks.
        StampParams stray;
        stray.time = stray.date = stray.text = true;
        stray.timePos = 6;
        stray.datePos = 7;
        stray.textPos = -1;
        FakeSurface bottom(320, 240);
        StampItems(bottom, stray);
        QCOMPARE(bottom.printed[1].x, 0.f);
        QCOMPARE(ys(bottom), (QList<float>{192, 208, 224}));
        QCOMPARE(bottom.printed[2].text, QStringLiteral("  "));
        FakeSurface fresh(320, 240);
        stray.time = false;
        StampItems(fresh, stray);
        QCOMPARE(ys(fresh), (QList<float>{0, 16}));
    }

    void expandsPlaceholders_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expanded");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("mixed case date") << "Cam &dAtE"
                                         << "Cam 03-07-2000";
        QTest::newRow("time inside") << "a&TIMEb"
                                     << "a23:59:45b";
        QTest::newRow("at the very end") << "x&time"
                                         << "x23:59:45";
        QTest::newRow("too short") << "&NEX"
                                   << "&NEX";
        QTest::newRow("incomplete") << "&DATx &DA"
                                    << "&DATx &DA";
        QTest::newRow("back to back") << "&&date&TIME"
                                      << "&03-07-200023:59:45";
        QTest::newRow("next update") << "next: &Next!"
                                     << "next: 03-08-2000 at 00:00:15!";
    }
    void expandsPlaceholders() {
        QFETCH(QString, text);
        QFETCH(QString, expanded);
        test::TempStore store;
        store.set("UPDATE", QStringLiteral("TYPE"), QStringLiteral("1"));
        store.set("UPDATE", QStringLiteral("UNITI"), QStringLiteral("3"));
        store.set("UPDATE", QStringLiteral("PARTI"), QStringLiteral("30"));
        ManualClock fixed(QDateTime(QDate(2000, 3, 7), QTime(23, 59, 45)));
        ScopedClock useFixed(fixed);
        QCOMPARE(ExpandStampText(text), expanded);
    }

    // On a real frame the letters land inside the measured box, in the item's colour.
    void stampsAFrame() {
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        QImage frame(320, 240, QImage::Format_BGR888);
        frame.fill(Qt::black);
        StampParams params;
        params.time = true;
        params.timePos = 6;
        params.timeColor = 0x0000FF; // red
        StampFrame(frame, params);

        QImage scratch(320, 240, QImage::Format_BGR888);
        ImageStampSurface metrics(scratch, stampFont(240));
        const float tw = metrics.textWidth(QStringLiteral(" 14:05:09 "));
        const float th = metrics.textHeight(QString());
        QVERIFY(th >= 11);
        const QRectF box(320 - tw, 240 - (2 * th + th), tw, th);
        const QRect ink = inkBounds(frame);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(box.adjusted(-1, -1, 1, 1).contains(QRectF(ink)),
                 qPrintable(QStringLiteral("ink %1,%2 %3x%4")
                                .arg(ink.x())
                                .arg(ink.y())
                                .arg(ink.width())
                                .arg(ink.height())));
        int strongest = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y)
            for (int x = ink.left(); x <= ink.right(); ++x) {
                const QRgb p = frame.pixel(x, y);
                QCOMPARE(qGreen(p), 0);
                QCOMPARE(qBlue(p), 0);
                strongest = qMax(strongest, qRed(p));
            }
        QVERIFY(strongest > 200);
    }

    void opaqueStampsPaintTheBackground() {
        ManualClock fixed(kMoment);
        ScopedClock useFixed(fixed);
        QImage frame(320, 240, QImage::Format_RGB32);
        frame.fill(Qt::black);
        StampParams params;
        params.date = true;
        params.datePos = 0;
        params.transparent = false;
        params.backColor = 0xFF0000; // blue
        StampFrame(frame, params);
        const float line = ImageStampSurface(frame, stampFont(240)).textHeight(QString());
        const int inside = int(std::ceil(line)) + 1;
        QCOMPARE(frame.pixel(1, inside), qRgb(0, 0, 255));                     // the leading blank
        QCOMPARE(frame.pixel(1, int(line) - 2), qRgb(0, 0, 0));                // the line above
        QCOMPARE(frame.pixel(1, int(std::ceil(2 * line)) + 1), qRgb(0, 0, 0)); // the line below

        QImage clear(320, 240, QImage::Format_RGB32);
        clear.fill(Qt::black);
        params.transparent = true;
        StampFrame(clear, params);
        QCOMPARE(clear.pixel(1, inside), qRgb(0, 0, 0));
    }

    // The publishing job stamps and saves on a worker thread.
    void stampsAndSavesOffTheMainThread() {
        test::TempStore store;
        QImage frame(640, 480, QImage::Format_BGR888);
        frame.fill(Qt::black);
        StampParams params;
        params.time = params.date = params.text = true;
        params.timePos = 4;
        params.freeText = QStringLiteral("Hello &TIME");
        bool saved = false;
        std::thread worker([&] {
            NullMessages messages;
            StampFrame(frame, params);
            saved = SavePictureAsJpeg(frame, QStringLiteral("webcam.jpg"), 80, messages);
        });
        worker.join();
        QVERIFY(saved);
        const QImage back(QStringLiteral("webcam.jpg"));
        QCOMPARE(back.size(), QSize(640, 480));
        QVERIFY(!inkBounds(frame).isEmpty());
        QVERIFY(inkBounds(frame).top() < 80);     // text and date at the top
        QVERIFY(inkBounds(frame).bottom() > 400); // time at the bottom
    }
};

QTEST_MAIN(TestStamp)
#include "test_stamp.moc"
