#include "capture/video_formats_p.h"

#include <QtTest>

using namespace zantrel;

namespace {

std::vector<VideoFormat> formatsOf(const char* capsText) {
    gst::ensureInitialised();
    gst::CapsPtr caps(gst_caps_from_string(capsText));
    return enumerateFormats(caps.get());
}

} // namespace

class TestVideoFormats : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // What a camera's caps offer: the first and last format and how many. Lists expand, ranges give the
    // common values inside, duplicates and non-video structures are dropped, ANY/EMPTY offer nothing.
    void formats_data() {
        QTest::addColumn<QString>("caps");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last"); // null: the first again
        QTest::newRow("lists expand")
            << "video/x-raw,format={YUY2,RGB},width=640,height=480,framerate={30/1,15/1};"
               "image/jpeg,width=1280,height=720,framerate=30/1"
            << 5 << "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
            << "image/jpeg,width=1280,height=720,framerate=30/1";
        // Sizes 160x120, 320x240, 352x288, 640x360, 640x480; rates 5, 10, 15.
        QTest::newRow("ranges")
            << "video/x-raw,format=I420,width=[100,700],height=[100,500],framerate=[1/1,20/1]" << 15
            << "video/x-raw,format=I420,width=160,height=120,framerate=5/1"
            << "video/x-raw,format=I420,width=640,height=480,framerate=15/1";
        QTest::newRow("odd rate range keeps its upper end")
            << "video/x-raw,format=GRAY8,width=320,height=240,framerate=[1/2,3/1]" << 1
            << "video/x-raw,format=GRAY8,width=320,height=240,framerate=3/1" << QString();
        QTest::newRow("duplicates and audio dropped")
            << "video/x-raw,format=NV12,width=320,height=240,framerate=10/1;"
               "video/x-raw,format=NV12,width=320,height=240,framerate=10/1;audio/x-raw,rate=44100"
            << 1 << "video/x-raw,format=NV12,width=320,height=240,framerate=10/1" << QString();
        QTest::newRow("ANY") << "ANY" << 0 << QString() << QString();
        QTest::newRow("EMPTY") << "EMPTY" << 0 << QString() << QString();
        QString many;
        for (int i = 0; i < 60; ++i)
            many += QStringLiteral("video/x-raw,format={I420,NV12,YUY2},width=%1,height=%1,"
                                   "framerate={5/1,10/1,30/1};")
                        .arg(100 + i);
        QTest::newRow("capped at 400")
            << many << 400 << "video/x-raw,format=I420,width=100,height=100,framerate=5/1"
            << "video/x-raw,format=NV12,width=144,height=144,framerate=5/1";
    }
    void formats() {
        QFETCH(QString, caps);
        QFETCH(int, count);
        QFETCH(QString, first);
        QFETCH(QString, last);
        const auto formats = formatsOf(caps.toUtf8().constData());
        QCOMPARE(int(formats.size()), count);
        QCOMPARE(formats.empty() ? QString() : formats.front().capsText(), first);
        QCOMPARE(formats.empty() ? QString() : formats.back().capsText(), last.isNull() ? first : last);
    }

    void labelAndNoCaps() {
        const auto formats = formatsOf("image/jpeg,width=1280,height=720,framerate=30/1");
        QCOMPARE(formats.back().label(), QString::fromUtf8("1280 × 720  image/jpeg  30 fps"));
        QVERIFY(enumerateFormats(nullptr).empty());
    }
};

QTEST_GUILESS_MAIN(TestVideoFormats)
#include "test_video_formats.moc"
