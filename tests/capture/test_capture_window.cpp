#include "capture/capture_view.h"
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "capture/mira.h"
#include "capture/preview_rate.h"
#include "capture/source_dialog.h"
#include "capture/video_formats_p.h"
#include "capture/video_window.h"
#include "core/store.h"
#include "support/message_recorder.h"
#include "support/returns_at_once.h"
#include "support/rtsp_test_server.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QClipboard>
#include <QSlider>
#include <QtTest>
#include <atomic>
#include <gst/gst.h>
#include <thread>

using namespace zantrel;
using zantrel::test::MessageRecorder;
using zantrel::test::ReturnsAtOnce;

namespace {

// A settings file, a shown video area and a capture window over the test camera described (none when
// the description is empty).
struct Rig {
    explicit Rig(const QByteArray& testCamera) {
        if (testCamera.isEmpty())
            qunsetenv(DeviceList::testCameraVariable());
        else
            qputenv(DeviceList::testCameraVariable(), testCamera);
        store.set("VFW", QStringLiteral("WARMUP"), QStringLiteral("0"));
        video.resize(320, 240);
        video.show();
        capture = std::make_unique<CaptureWindow>(messages, &video);
    }
    // The newest grab once the camera delivers (the test card until then).
    QImage waitForFrame(int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!(capture->captureView() && capture->captureView()->framesPainted() > 0)) {
            if (timer.elapsed() > timeoutMs)
                return {};
            QTest::qWait(10);
        }
        QImage frame;
        capture->GrabFrame(frame);
        return frame;
    }
    test::TempStore store;
    MessageRecorder messages;
    VideoWindow video;
    std::unique_ptr<CaptureWindow> capture;
};

bool isColour(QRgb pixel, int r, int g, int b) {
    return std::abs(qRed(pixel) - r) < 16 && std::abs(qGreen(pixel) - g) < 16 &&
           std::abs(qBlue(pixel) - b) < 16;
}

// GstPad objects alive now, as GStreamer's leak tracer (the only tracer) counts them; -1 without it.
int livePads() {
    GList* tracers = gst_tracing_get_active_tracers();
    GstStructure* live = nullptr;
    if (tracers)
        g_signal_emit_by_name(tracers->data, "get-live-objects", &live);
    const int count =
        live ? int(gst_value_list_get_size(gst_structure_get_value(live, "live-objects-list"))) : -1;
    if (count == 0) // with objects in it, the list holds them without a reference of its own
        gst_structure_free(live);
    g_list_free_full(tracers, gst_object_unref);
    return count;
}

const QByteArray kRed = "videotestsrc pattern=red ! video/x-raw,width=320,height=240";

} // namespace

class TestCaptureWindow : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        // Before GStreamer starts: every pad is followed, so a reference never given back shows.
        qputenv("GST_TRACERS", "leaks(filters=GstPad)");
    }

    // Nothing connects (no camera, or one whose description does not make a pipeline): grabs give the
    // test card at once, and the failure is told once, not at every refit of the picture.
    void withoutCamerasNothingConnects_data() {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<int>("drivers");
        QTest::newRow("no camera") << QByteArray() << 0;
        QTest::newRow("broken description") << QByteArray("nosuchelement ! video/x-raw") << 1;
    }
    void withoutCamerasNothingConnects() {
        QFETCH(QByteArray, description);
        QFETCH(int, drivers);
        Rig rig(description);
        QImage grab(10, 10, QImage::Format_RGB32);
        QElapsedTimer timer;
        timer.start();
        rig.capture->GrabFrame(grab);
        QVERIFY(timer.elapsed() < 100);
        QCOMPARE(grab, MiraTestCard());
        QCOMPARE(rig.capture->CountDrivers(), drivers);
        QSignalSpy noCamera(rig.capture.get(), &CaptureWindow::noCamera);
        QVERIFY(!rig.capture->Init_Video(0));
        QCOMPARE(noCamera.size(), drivers == 0 ? 1 : 0); // a camera that fails is not "no camera"
        QCOMPARE(rig.capture->driverCaps(), DriverCaps{});
        QCOMPARE(rig.messages.taken(), QStringList{"Lanthor: Cannot set preview mode."});
        rig.capture->Resize_Video();
        rig.capture->setOverlayMode(true); // overlay has no message of its own either
        rig.capture->Resize_Video();
        QVERIFY(rig.messages.taken().isEmpty());
        QSize size;
        QVERIFY(!rig.capture->PositionCaptureWindow(0, 0, 0, 0) && !rig.capture->GetCaptureStatus(size));

        rig.capture->ShowFormatDialog();
        rig.capture->ShowSourceDialog();
        rig.capture->ShowDisplayDialog();
        QCOMPARE(rig.messages.taken(), QStringList({"Lanthor: Cannot show Video Format Dialog.",
                                                    "Lanthor: Cannot show Video Source Dialog.",
                                                    "Lanthor: Cannot show Video Display Dialog."}));
    }

    // Overlay is asked for but cannot be had without a display: preview runs instead, quietly. Grabs from
    // the job's thread, while the picture is painted and resized, are the camera's picture in the
    // caller's own copy, quickly, and never touch the clipboard.
    void testCameraConnectsAndGivesItsPicture() {
        Rig rig(kRed);
        rig.capture->setOverlayMode(true);
        QCOMPARE(rig.capture->GetDriverName(0), QStringLiteral("Test Camera"));
        QCOMPARE(rig.capture->GetDriverName(1), QStringLiteral("Error!"));
        QApplication::clipboard()->setText(QStringLiteral("copied by the user"));
        bool busyWhileConnecting = false;
        connect(rig.capture.get(), &CaptureWindow::driverCapsChanged, this, [&busyWhileConnecting] {
            const QCursor* pointer = QGuiApplication::overrideCursor();
            busyWhileConnecting = pointer && pointer->shape() == Qt::WaitCursor;
        });
        QVERIFY(rig.capture->Init_Video(0));
        QVERIFY(busyWhileConnecting && !QGuiApplication::overrideCursor());
        QVERIFY(!rig.waitForFrame().isNull());
        std::atomic<int> good{0};
        std::atomic<qint64> slowest{0};
        std::thread worker([&] {
            for (int i = 0; i < 40; ++i) {
                QElapsedTimer timer;
                timer.start();
                QImage frame(320, 240, QImage::Format_RGB32);
                frame.fill(Qt::blue);
                rig.capture->GrabFrame(frame);
                slowest = std::max<qint64>(slowest, timer.elapsed());
                good += frame.size() == QSize(320, 240) && isColour(frame.pixel(0, 0), 255, 0, 0) &&
                        isColour(frame.pixel(319, 239), 255, 0, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        for (int i = 0; i < 20 && good < 40; ++i) {
            rig.capture->Resize_Video();
            QTest::qWait(25);
        }
        worker.join();
        QCOMPARE(good.load(), 40);
        QVERIFY2(slowest < 500, qPrintable(QString::number(slowest)));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("copied by the user"));
        QVERIFY(rig.messages.taken().isEmpty());
        // Formats only: overlay needs an X display, and videotestsrc has no picture controls.
        QCOMPARE(rig.capture->driverCaps(), (DriverCaps{false, false, true, false}));

        // Placed and sized, moved only, the format's size, then fitted to the video area again.
        CaptureView* view = rig.capture->captureView();
        QVERIFY(rig.capture->PositionCaptureWindow(5, 6, 100, 50));
        QVERIFY(rig.capture->PositionCaptureWindow(30, 40, 0, 0));
        QCOMPARE(view->geometry(), QRect(30, 40, 100, 50));
        QVERIFY(rig.capture->PositionCaptureWindow(0, 0, 0, 0));
        QCOMPARE(view->geometry(), QRect(30, 40, 320, 240));
        rig.video.resize(200, 150);
        rig.capture->Resize_Video();
        QCOMPARE(view->geometry(), QRect(0, 0, 200, 150));

        // An index past the end (in preview mode): nothing connected, the index is stored anyway.
        rig.capture->setOverlayMode(false);
        QVERIFY(!rig.capture->Init_Video(3));
        QCOMPARE(GetSetting(keys::VfwIndex), QStringLiteral("3"));
        QCOMPARE(rig.messages.taken(), QStringList{"Lanthor: Cannot set preview mode."});
    }

    // A 4:3 picture in a wide area keeps its shape between black bars, whatever format the camera
    // gives: the program's own (drawn as it lies), another (converted as drawn), one of 16 bits only.
    void pictureBetweenBars_data() {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("own") << QByteArray();
        QTest::newRow("I420") << QByteArray(",format=I420");
        QTest::newRow("16 bits") << QByteArray(",format=ARGB64");
    }
    void pictureBetweenBars() {
        QFETCH(QByteArray, format);
        Rig rig(kRed + format);
        QVERIFY(rig.capture->Init_Video(0));
        QVERIFY(isColour(rig.waitForFrame().pixel(160, 120), 255, 0, 0));
        rig.video.resize(218, 101);
        rig.capture->Resize_Video();
        const QImage shown = rig.capture->captureView()->grab().toImage();
        QVERIFY(isColour(shown.pixel(10, 50), 0, 0, 0) && isColour(shown.pixel(109, 50), 255, 0, 0) &&
                isColour(shown.pixel(207, 50), 0, 0, 0));
    }

    // The stored rate, the interval between preview frames and the limit the pipeline gets (0: none).
    void rateFromStoreToPipeline_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("pipelineRate");
        QTest::newRow("missing: twelve") << QString() << 83 << 12;
        QTest::newRow("negative: unlimited") << "-5" << 0 << 0;
        QTest::newRow("one a second stays limited") << "1" << 1000 << 1;
        QTest::newRow("seven") << "7" << 143 << 7;
        QTest::newRow("faster than a millisecond") << "3000" << 0 << 0;
    }
    void rateFromStoreToPipeline() {
        QFETCH(QString, stored);
        QFETCH(int, intervalMs);
        QFETCH(int, pipelineRate);
        test::TempStore store;
        if (!stored.isNull())
            SaveSetting(keys::PrefPreviewRate, stored);
        const int interval = PreviewIntervalMs(ReadPreviewRate());
        QCOMPARE(interval, intervalMs);
        QCOMPARE(PipelineRate(interval), pipelineRate);
    }

    void cameraThatStopsFallsBackToTheTestCard_data() {
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("end of stream")
            << QByteArray("videotestsrc num-buffers=20 ! video/x-raw,width=160,height=120");
        QTest::newRow("error") << QByteArray(
            "videotestsrc ! video/x-raw,width=160,height=120 ! identity error-after=20");
    }
    void cameraThatStopsFallsBackToTheTestCard() {
        QFETCH(QByteArray, description);
        Rig rig(description);
        QSignalSpy lost(rig.capture.get(), &CaptureWindow::cameraLost);
        QSignalSpy restored(rig.capture.get(), &CaptureWindow::cameraRestored);
        QVERIFY(rig.capture->Init_Video(0));
        QVERIFY(lost.wait(5000));
        QVERIFY(!rig.capture->connected());
        QCOMPARE(rig.capture->driverCaps(), DriverCaps{});
        QImage grab;
        rig.capture->GrabFrame(grab);
        QCOMPARE(grab, MiraTestCard());
        // The 320 x 200 card in the 320 x 240 area, between bars.
        const QImage shown = rig.capture->captureView()->grab().toImage();
        QCOMPARE(shown.pixel(300, 230), qRgb(0, 0, 0));
        QCOMPARE(shown.pixel(10, 65), MiraTestCard().pixel(10, 45));
        // Resizing while the camera is away is quiet.
        rig.capture->Resize_Video();
        QVERIFY(rig.messages.taken().isEmpty());

        // The same camera is listed again: it is connected without anyone asking.
        const QString identity = rig.capture->deviceList().identity(0);
        Q_EMIT rig.capture->deviceList().added(QStringLiteral("another camera"));
        QCOMPARE(restored.count(), 0);
        Q_EMIT rig.capture->deviceList().added(identity);
        QCOMPARE(restored.count(), 1);
        QVERIFY(rig.capture->connected());
        QVERIFY(!rig.waitForFrame().isNull());
    }

    // A network camera whose server freezes: lost within VFW/STALL + 2 s and said once; the test card at
    // once in grabs and in the video area while it is tried again; its own picture by itself once it
    // delivers again, after its warm-up.
    void frozenCameraIsLostAndComesBack() {
        test::RtspTestServer server;
        Rig rig(server.description().toUtf8());
        SaveSetting(keys::VfwStall, QStringLiteral("2"));
        QSignalSpy lost(rig.capture.get(), &CaptureWindow::cameraLost);
        QVERIFY(rig.capture->Init_Video(0));
        QVERIFY(isColour(rig.waitForFrame(15000).pixel(10, 10), 255, 0, 0));
        server.signal(SIGSTOP);
        QVERIFY(lost.wait(4000));
        QVERIFY(std::abs(rig.capture->lostSince().secsTo(QDateTime::currentDateTime())) <= 1);
        QImage grab;
        const auto grabMs = [&] {
            QElapsedTimer timer;
            timer.start();
            rig.capture->GrabFrame(grab);
            return timer.elapsed();
        };
        QTest::qWait(1500);
        QVERIFY(grabMs() < 100 && grab == MiraTestCard());
        QCOMPARE(rig.capture->captureView()->grab().toImage().pixel(10, 65), MiraTestCard().pixel(10, 45));
        server.signal(SIGCONT);
        SaveSetting(keys::VfwWarmUp, QStringLiteral("1500"));
        QVERIFY(QSignalSpy(rig.capture.get(), &CaptureWindow::cameraRestored).wait(15000));
        QVERIFY(!rig.capture->lostSince().isValid() && grabMs() >= 1000); // warming up again
        QVERIFY(grab.size() == QSize(320, 240) && lost.count() == 1);
    }

    // What a camera's caps offer: the first and last format and how many. Lists expand, ranges give the
    // common values inside, duplicates and non-video structures are dropped, ANY/EMPTY/none offer nothing.
    void formatsACameraOffers_data() {
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
        QTest::newRow("no caps") << QString() << 0 << QString() << QString();
        QString many;
        for (int i = 0; i < 60; ++i)
            many += QStringLiteral("video/x-raw,format={I420,NV12,YUY2},width=%1,height=%1,"
                                   "framerate={5/1,10/1,30/1};")
                        .arg(100 + i);
        QTest::newRow("capped at 400")
            << many << 400 << "video/x-raw,format=I420,width=100,height=100,framerate=5/1"
            << "video/x-raw,format=NV12,width=144,height=144,framerate=5/1";
    }
    void formatsACameraOffers() {
        QFETCH(QString, caps);
        QFETCH(int, count);
        QFETCH(QString, first);
        QFETCH(QString, last);
        gst::ensureInitialised();
        const gst::CapsPtr offered(caps.isEmpty() ? nullptr
                                                  : gst_caps_from_string(caps.toUtf8().constData()));
        const auto formats = enumerateFormats(offered.get());
        QCOMPARE(int(formats.size()), count);
        QCOMPARE(formats.empty() ? QString() : formats.front().capsText(), first);
        QCOMPARE(formats.empty() ? QString() : formats.back().capsText(), last.isNull() ? first : last);
    }

    void formatChoiceAppliesAndIsRemembered() {
        Rig rig("videotestsrc pattern=red");
        QVERIFY(rig.capture->Init_Video(0));
        const auto formats = rig.capture->formats();
        const auto small = std::find_if(formats.begin(), formats.end(), [](const VideoFormat& f) {
            return f.width == 160 && f.height == 120 && f.rateNumerator == 10;
        });
        QVERIFY(small != formats.end());
        QVERIFY(rig.capture->applyFormat(*small));
        QCOMPARE(rig.waitForFrame().size(), QSize(160, 120));
        QSize status;
        QVERIFY(rig.capture->GetCaptureStatus(status) && status == QSize(160, 120));

        VideoFormat impossible = *small;
        impossible.pixelFormat = QStringLiteral("NOTAFORMAT");
        QVERIFY(!rig.capture->applyFormat(impossible));
        QCOMPARE(rig.capture->currentFormatCaps(), small->capsText());

        // Connecting again uses the remembered format.
        QVERIFY(rig.capture->Init_Video(0));
        QCOMPARE(rig.capture->currentFormatCaps(), small->capsText());
        QCOMPARE(rig.waitForFrame().size(), QSize(160, 120));
        // Every pad looked at on the way went with the camera.
        rig.capture->DisconnectAndDestroy();
        QCOMPARE(livePads(), 0);
    }

    // The live picture follows the settings: the camera's own rate, then one frame a second; the source
    // dialog's brightness at once.
    void livePictureFollowsTheSettings() {
        Rig rig(
            "videotestsrc pattern=white ! video/x-raw,width=160,height=120,framerate=30/1 ! videobalance");
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("0"));
        QVERIFY(rig.capture->Init_Video(0));
        QVERIFY(isColour(rig.waitForFrame().pixel(50, 50), 255, 255, 255));
        CaptureView* view = rig.capture->captureView();
        const auto painted = [view] {
            const int before = view->framesPainted();
            QTest::qWait(2000);
            return view->framesPainted() - before;
        };
        const int fast = painted();
        QVERIFY2(fast > 25, qPrintable(QString::number(fast)));
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("1"));
        rig.capture->Resize_Video();
        const int slow = painted();
        QVERIFY2(slow >= 1 && slow <= 4, qPrintable(QString::number(slow)));

        QVERIFY(rig.capture->fHasDlgVideoSource());
        QDialog* format = nullptr;
        QVERIFY(ReturnsAtOnce([&] { format = rig.capture->ShowFormatDialog(); }));
        QVERIFY(format && format->isVisible());
        format->reject();
        QDialog* source = nullptr;
        QVERIFY(ReturnsAtOnce([&] { source = rig.capture->ShowSourceDialog(); }));
        auto* dialog = qobject_cast<SourceDialog*>(source);
        QVERIFY(dialog && dialog->isVisible());
        QSlider* slider = dialog->slider(QStringLiteral("BRIGHTNESS"));
        QVERIFY(slider);
        slider->setValue(slider->minimum());
        dialog->accept();
        QImage frame;
        QTRY_VERIFY_WITH_TIMEOUT((rig.capture->GrabFrame(frame), qRed(frame.pixel(50, 50)) < 40), 3000);
    }
};

QTEST_MAIN(TestCaptureWindow)
#include "test_capture_window.moc"
