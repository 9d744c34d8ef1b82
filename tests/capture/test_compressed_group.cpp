// A camera's compressed frames kept while nobody watches: whatever the stream does, the picture decoded
// from them is the newest frame that decodes whole, or none, and what is kept stays bounded.
#include "capture/compressed_group.h"
#include "support/camera_servers.h"

#include <QtTest>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

using namespace zantrel;

namespace {

struct Stream {
    gst::CapsPtr caps;
    std::vector<BufferPtr> frames;
};

// count pictures showing from, from + 1, ... (as the counting test camera draws them), encoded by
// encoder ("x264enc ..." or "jpegenc").
Stream encode(int from, int count, QSize size, const QString& encoder) {
    const QString description =
        QStringLiteral("appsrc name=in format=time caps=video/x-raw,format=I420,width=%1,height=%2,"
                       "framerate=10/1 ! %3 ! appsink name=out sync=false")
            .arg(size.width())
            .arg(size.height())
            .arg(encoder);
    gst::ElementPtr pipeline = gst::adopt(gst_parse_launch(description.toUtf8().constData(), nullptr));
    gst::ObjectPtr<GstElement> in(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    gst::ObjectPtr<GstElement> out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const int block = size.width() / 16, chroma = (size.width() / 2) * (size.height() / 2) * 2;
    for (int n = from; n < from + count; ++n) {
        QByteArray row;
        for (int i = 0; i < 16; ++i)
            row += QByteArray(block, (n >> (15 - i) & 1) ? char(0xeb) : char(0x10));
        row += QByteArray(size.width() - row.size(), char(0x10));
        const QByteArray picture = row.repeated(size.height()) + QByteArray(chroma, char(0x80));
        GstBuffer* buffer = gst_buffer_new_memdup(picture.constData(), gsize(picture.size()));
        GST_BUFFER_PTS(buffer) = GstClockTime(n - from) * GST_SECOND / 10;
        GST_BUFFER_DURATION(buffer) = GST_SECOND / 10;
        gst_app_src_push_buffer(GST_APP_SRC(in.get()), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(in.get()));
    Stream stream;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out.get()), 10 * GST_SECOND)) {
        if (!stream.caps)
            stream.caps.reset(gst_caps_ref(gst_sample_get_caps(sample)));
        stream.frames.emplace_back(gst_buffer_ref(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return stream;
}

const QString kH264 = QStringLiteral("x264enc tune=zerolatency speed-preset=ultrafast key-int-max=1000 ! "
                                     "h264parse ! video/x-h264,stream-format=avc,alignment=au");

// A copy of the frame cut off in the middle, or with all but its first bytes replaced by garbage.
BufferPtr damaged(GstBuffer* frame, bool cut) {
    BufferPtr copy(gst_buffer_copy_deep(frame));
    const gsize size = gst_buffer_get_size(copy.get());
    if (cut)
        gst_buffer_resize(copy.get(), 0, gssize(size / 2));
    for (gsize i = 8; !cut && i < size; ++i)
        gst_buffer_memset(copy.get(), i, guint8(i * 37), 1);
    return copy;
}

} // namespace

class TestCompressedGroup : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() { QVERIFY(gst::ensureInitialised()); }

    // Each stream is fed to a group frame by frame; shown is the number the decoded picture must show
    // (-1: no picture at all), kept how many frames the group holds at the end.
    void newestDecodablePicture_data() {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QSize>("size");
        QTest::newRow("a key frame and its deltas") << "whole" << 9 << 10 << QSize(320, 240);
        QTest::newRow("no key frame ever") << "no key" << -1 << 0 << QSize(0, 0);
        QTest::newRow("a key frame only at the start, past the bound")
            << "past bound" << 0 << 1 << QSize(128, 32);
        QTest::newRow("a damaged delta frame") << "damaged delta" << 5 << 10 << QSize(320, 240);
        QTest::newRow("the size changes mid-stream") << "resize" << 103 << 4 << QSize(160, 120);
        QTest::newRow("an MJPEG frame cut off") << "cut jpeg" << 8 << 1 << QSize(320, 240);
    }
    void newestDecodablePicture() {
        QFETCH(QString, stream);
        QFETCH(int, shown);
        QFETCH(int, kept);
        QFETCH(QSize, size);
        CompressedGroup group;
        const auto feed = [&group](const Stream& s, std::size_t first = 0) {
            for (std::size_t i = first; i < s.frames.size(); ++i)
                group.pass(s.frames[i].get(), s.caps.get());
        };
        if (stream == QLatin1String("past bound")) {
            feed(encode(0, int(CompressedGroup::kMaxFrames) + 5, QSize(128, 32), kH264));
        } else if (stream == QLatin1String("cut jpeg")) {
            Stream jpeg = encode(7, 3, QSize(320, 240), QStringLiteral("jpegenc"));
            jpeg.frames[2] = damaged(jpeg.frames[2].get(), true);
            feed(jpeg);
        } else {
            Stream h264 = encode(0, 10, QSize(320, 240), kH264);
            if (stream == QLatin1String("damaged delta"))
                h264.frames[6] = damaged(h264.frames[6].get(), false);
            feed(h264, stream == QLatin1String("no key") ? 1 : 0);
            if (stream == QLatin1String("resize"))
                feed(encode(100, 4, QSize(160, 120), kH264));
        }
        QCOMPARE(int(group.count()), kept);
        QVERIFY(group.bytes() <= CompressedGroup::kMaxBytes);
        const QImage picture = DecodeNewestPicture(group.frames(), 20000);
        QCOMPARE(picture.size(), size);
        if (shown >= 0)
            QCOMPARE(test::CounterShown(picture), shown);
    }
};

QTEST_MAIN(TestCompressedGroup)
#include "test_compressed_group.moc"
