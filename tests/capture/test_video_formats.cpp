#include "capture/video_formats_p.h"

#include <QtTest>

using namespace zantrel;

namespace {

std::vector<VideoFormat> formatsOf(const char* capsText) {
    gst::ensureInitialised();
    gst::CapsPtr caps(gst_caps_from_string(capsText));
    return enumerateFormats(caps.get());
}

QStringList labels(const std::vector<VideoFormat>& formats) {
    QStringList out;
    for (const auto& f : formats)
        out << f.capsText();
    return out;
}

} // namespace

class TestVideoFormats : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void fixedValuesAndListsExpand() {
        const auto formats =
            formatsOf("video/x-raw,format={YUY2,RGB},width=640,height=480,framerate={30/1,15/1};"
                      "image/jpeg,width=1280,height=720,framerate=30/1");
        QCOMPARE(labels(formats), QStringList({
                                      "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
                                      "video/x-raw,format=YUY2,width=640,height=480,framerate=15/1",
                                      "video/x-raw,format=RGB,width=640,height=480,framerate=30/1",
                                      "video/x-raw,format=RGB,width=640,height=480,framerate=15/1",
                                      "image/jpeg,width=1280,height=720,framerate=30/1",
                                  }));
        QCOMPARE(formats.back().label(), QString::fromUtf8("1280 × 720  image/jpeg  30 fps"));
    }

    void rangesGiveTheCommonValuesInside() {
        const auto formats =
            formatsOf("video/x-raw,format=I420,width=[100,700],height=[100,500],framerate=[1/1,20/1]");
        // Sizes 160x120, 320x240, 352x288, 640x360, 640x480; rates 5, 10, 15.
        QCOMPARE(formats.size(), std::size_t(15));
        QCOMPARE(formats.front().capsText(),
                 QStringLiteral("video/x-raw,format=I420,width=160,height=120,framerate=5/1"));
        QCOMPARE(formats.back().capsText(),
                 QStringLiteral("video/x-raw,format=I420,width=640,height=480,framerate=15/1"));
    }

    void oddRateRangeKeepsItsUpperEnd() {
        const auto formats = formatsOf("video/x-raw,format=GRAY8,width=320,height=240,framerate=[1/2,3/1]");
        QCOMPARE(labels(formats),
                 QStringList({"video/x-raw,format=GRAY8,width=320,height=240,framerate=3/1"}));
    }

    // Duplicates and non-video structures are dropped; ANY or EMPTY caps offer nothing.
    void duplicatesAndNonVideoAreDropped() {
        const auto formats = formatsOf("video/x-raw,format=NV12,width=320,height=240,framerate=10/1;"
                                       "video/x-raw,format=NV12,width=320,height=240,framerate=10/1;"
                                       "audio/x-raw,rate=44100");
        QCOMPARE(formats.size(), std::size_t(1));
        QVERIFY(formatsOf("ANY").empty());
        QVERIFY(formatsOf("EMPTY").empty());
        QVERIFY(enumerateFormats(nullptr).empty());
    }

    void unlimitedFormatsAreCapped() {
        QString caps;
        for (int i = 0; i < 60; ++i)
            caps += QStringLiteral(
                        "video/x-raw,format={I420,NV12,YUY2},width=%1,height=%1,framerate={5/1,10/1,30/1};")
                        .arg(100 + i);
        const auto formats = formatsOf(caps.toUtf8().constData());
        QCOMPARE(formats.size(), std::size_t(400));
    }
};

QTEST_GUILESS_MAIN(TestVideoFormats)
#include "test_video_formats.moc"
