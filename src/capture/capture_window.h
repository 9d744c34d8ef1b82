#pragma once

#include "capture/driver_caps.h"
#include "capture/video_format.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>

class QDialog;
class QWidget;

namespace zantrel {

class CaptureSession;
class CaptureView;
class DeviceList;
class FrameStore;
class HttpFeed;
class MessageSink;
class VideoWindow;

// What the program says when it has no camera at all.
QString NoCameraText();
// What the program says while its camera is lost: "Camera lost since HH:MM:SS".
QString CameraLostText(const QDateTime& since);

// The live camera of the main window: connects a camera by its place in the device list, shows its
// picture in the video area in preview or overlay mode, opens the camera's format and source dialogs
// and hands out frames for publishing. Lives on the UI thread; only GrabFrame may be called from other
// threads. A camera that fails, is unplugged or delivers no new picture for VFW/STALL seconds is lost: it
// leaves the test card in the video area and in grabs, and is connected again by itself when it comes
// back: at once when the device monitor lists it again, and otherwise tried again after 1, 2, 5, 10 and
// 30 seconds, then every minute.
class CaptureWindow : public QObject {
    Q_OBJECT
  public:
    explicit CaptureWindow(MessageSink& messages, VideoWindow* videoWindow = nullptr,
                           QObject* parent = nullptr);
    ~CaptureWindow() override;

    void setVideoWindow(VideoWindow* videoWindow);
    VideoWindow* videoWindow() const;
    void setOverlayMode(bool overlay) { overlayMode_ = overlay; }
    bool overlayMode() const { return overlayMode_; }

    // Cameras: the number listed and the name at index ("Error!" past the end).
    int CountDrivers() const;
    QString GetDriverName(int index) const;

    // Connects the camera at index, reads what it offers, fits it to the video area and starts the
    // live picture; stores the index in VFW/INDEX and the camera's identity in VFW/CAMERA. True when
    // the camera connected. With no camera listed at all it says so through noCamera().
    bool Init_Video(int index);
    // Connects the camera the settings name: VFW/CAMERA when set (an address not in the list is listed
    // for this run), else VFW/INDEX. A local camera named there that is not plugged in is connected
    // when it comes, and no other camera meanwhile.
    bool connectStoredCamera();
    // The index of that camera, listing an address that is not in the list; -1 for a local camera
    // that is not plugged in.
    int listStoredCamera();
    // Fits the picture to the video area and (re)starts preview or overlay as OverlayMode says.
    void Resize_Video();
    // Stops the camera and removes its picture from the video area. True when there was one to remove.
    bool DisconnectAndDestroy();

    // The steps Resize_Video is made of, usable on their own.
    bool StartPreview(int framesPerSecond);
    bool StartOverlay();
    bool SetPreviewScale(bool on);
    // All four 0: size the picture to the camera's format; width and height 0: move only; otherwise
    // move and size. False, changing nothing, when no camera is connected.
    bool PositionCaptureWindow(int left, int top, int width, int height);
    // The size of the camera's pictures; false when no camera is connected.
    bool GetCaptureStatus(QSize& imageSize) const;

    bool connected() const;
    const DriverCaps& driverCaps() const { return caps_; }
    bool fHasOverlay() const { return caps_.fHasOverlay; }
    bool fHasDlgVideoFormat() const { return caps_.fHasDlgVideoFormat; }
    bool fHasDlgVideoSource() const { return caps_.fHasDlgVideoSource; }
    bool fHasDlgVideoDisplay() const { return caps_.fHasDlgVideoDisplay; }

    // The camera's own dialogs, opened modal to parent: each returns at once with the dialog, which
    // deletes itself when it closes, or shows its failure message and returns null.
    QDialog* ShowFormatDialog(QWidget* parent = nullptr);
    QDialog* ShowSourceDialog(QWidget* parent = nullptr);
    QDialog* ShowDisplayDialog(QWidget* parent = nullptr);

    // What the dialogs work on.
    std::vector<VideoFormat> formats() const;
    QString currentFormatCaps() const;
    // Applies the format at once and remembers it for this camera (VFW). False when refused.
    bool applyFormat(const VideoFormat& format);
    std::vector<SourceControl> controls() const;
    bool setControl(const QString& name, int value);

    // Any thread: the newest frame into target (Format_RGB32, the camera's size), or the test card
    // when the camera gives none. A camera just started (or connected again) is given a few seconds for
    // a first frame and then runs for its warm-up time (VFW/WARMUP) before its frames are used. A frame
    // older than VFW/STALL seconds is never used; a lost camera gives the test card at once. A snapshot
    // camera is asked for a fresh picture. Never touches the clipboard.
    void GrabFrame(QImage& target) const;
    // Any thread: when the camera was lost; invalid while it is not (and without a camera).
    QDateTime lostSince() const;
    // Any thread: a camera was chosen (connected, awaited or failing to open): a test card grabbed
    // then stands in for a camera that fails.
    bool cameraChosen() const;
    // Any thread: the name of the camera that was lost last.
    QString lostCameraName() const;
    // Any thread: waits up to timeoutMs for the connected camera's first frame, then for the rest of
    // its warm-up time; false without a frame.
    bool waitForFrame(int timeoutMs) const;
    // Any thread: the live picture as it is now, unstamped and without waiting; null without a camera.
    QImage liveFrame() const;
    // Any thread: milliseconds since the camera's newest frame (since it started, before the first);
    // -1 while no camera runs.
    qint64 frameAgeMs() const;
    // Any thread: someone reads the live picture as a stream (or nobody does any more). While nobody
    // watches, neither there nor in the window, a camera's compressed frames are decoded only for a grab.
    void setStreamWatched(bool watching);

    // The cameras listed; it tells of cameras plugged in or out.
    DeviceList& deviceList() const { return *devices_; }
    // The picture inside the video area while a camera is connected (null otherwise).
    CaptureView* captureView() const;

  Q_SIGNALS:
    // Init_Video found no camera at all: grabs give the test card.
    void noCamera();
    // The four flags changed (connect, disconnect, camera lost or back).
    void driverCapsChanged();
    // The device list changed (a camera plugged in or out).
    void devicesChanged();
    // The connected camera stopped; reason for the log. Once per loss, however often it is tried again.
    void cameraLost(const QString& reason);
    // A lost camera came back and was connected again.
    void cameraRestored();
    // lostSince() changed: the camera was lost, came back, or is no longer awaited (disconnected).
    void lostSinceChanged(const QDateTime& since);

  private:
    static QDialog* openDialog(QDialog* dialog);
    bool connectDevice(int index);
    // Quiet: a failure is not logged (a lost camera tried again).
    bool openSession(bool overlay, bool quiet = false);
    void updateCaps();
    void ensureView();
    void destroyView();
    void markLost();
    void onSessionFailed(const QString& reason);
    // Looks for a camera that stopped delivering and for a lost one that delivers again.
    void watch();
    void retry();
    void restored();
    void onDeviceAdded(const QString& identity);
    void onDeviceRemoved(const QString& identity);
    QString formatKey(const QString& identity) const;
    // A network camera's trouble, told once per text until another camera is connected.
    void reportTrouble(const QString& reason);

    MessageSink& messages_;
    QPointer<VideoWindow> videoWindow_;
    std::unique_ptr<DeviceList> devices_;
    std::shared_ptr<FrameStore> frames_;
    std::unique_ptr<CaptureSession> session_;
    QPointer<CaptureView> view_;
    QString identity_;       // the connected camera
    quint64 generation_ = 0; // of the current session, so a late failure of an old one is ignored
    QString lostIdentity_;   // a camera that failed and is connected again when it comes back
    QDateTime lostSince_;    // when it was lost
    std::atomic<bool> chosen_{false};
    int retries_ = 0; // connection attempts since
    QTimer watchdog_;
    QTimer retryTimer_;
    bool overlayMode_ = false;
    bool previewFailureShown_ = false; // since the last Init_Video
    std::set<QString> troubleShown_;   // since the last Init_Video
    // A network camera that gave pictures since the last Init_Video: its trouble is a loss, which the
    // status line and the alerts tell, not a box that waits on an unattended screen.
    QString worked_;
    mutable std::mutex feedMutex_;
    QString lostName_;             // under feedMutex_
    std::weak_ptr<HttpFeed> feed_; // the connected http camera's, which its pipeline owns
    DriverCaps caps_;
};

} // namespace zantrel
