#include "capture/capture_window.h"

#include "capture/capture_session.h"
#include "capture/capture_view.h"
#include "capture/device_list_p.h"
#include "capture/format_dialog.h"
#include "capture/frame_store.h"
#include "capture/mira.h"
#include "capture/network_source.h"
#include "capture/overlay_sink.h"
#include "capture/preview_rate.h"
#include "capture/source_dialog.h"
#include "capture/video_window.h"
#include "core/clock.h"
#include "core/sinks.h"
#include "core/store.h"

#include <QGuiApplication>
#include <QtDebug>
#include <algorithm>
#include <cmath>

namespace zantrel {

namespace {

// How long a grab waits for the first frame of a camera just started. Publishing starts with a job at
// once, often while the camera is still coming up: the first image must be the camera's, not the test
// card. A camera that is not running costs no wait at all.
constexpr int kGrabWaitMs = 5000;
// The longest settling time taken from the settings: a grab must not wait for ever.
constexpr int kMaxWarmUpMs = 60000;

// How long a newly connected camera delivers before its frames are used.
int warmUpMs() {
    return std::clamp(ReadInt32(keys::VfwWarmUp), 0, kMaxWarmUpMs);
}

// How long a camera may go without a new picture before it counts as lost (two seconds to an hour: a
// preview of one frame a second must not count as lost between its frames).
int stallMs() {
    return std::clamp(ReadInt32(keys::VfwStall), 2, 3600) * 1000;
}

// How often a running camera is checked for pictures.
constexpr int kWatchMs = 250;
// The pauses before each new attempt to connect a lost camera; the last one repeats for ever.
constexpr int kRetrySeconds[] = {1, 2, 5, 10, 30, 60};

int retryPauseMs(int attemptsSoFar) {
    return kRetrySeconds[std::min<std::size_t>(std::size_t(attemptsSoFar), std::size(kRetrySeconds) - 1)] *
           1000;
}

// The busy pointer for the lifetime of the object.
class BusyPointer {
  public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

} // namespace

QString NoCameraText() {
    return QStringLiteral("No camera: publishing the test card");
}

QString CameraLostText(const QDateTime& since) {
    return QStringLiteral("Camera lost since ") + since.toString(QStringLiteral("HH:mm:ss"));
}

CaptureWindow::CaptureWindow(MessageSink& messages, VideoWindow* videoWindow, QObject* parent)
    : QObject(parent), messages_(messages), videoWindow_(videoWindow),
      devices_(std::make_unique<DeviceList>()), frames_(std::make_shared<FrameStore>()) {
    connect(devices_.get(), &DeviceList::changed, this, &CaptureWindow::devicesChanged);
    connect(devices_.get(), &DeviceList::added, this, &CaptureWindow::onDeviceAdded);
    connect(devices_.get(), &DeviceList::removed, this, &CaptureWindow::onDeviceRemoved);
    connect(&watchdog_, &QTimer::timeout, this, &CaptureWindow::watch);
    watchdog_.start(kWatchMs);
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, &CaptureWindow::retry);
}

CaptureWindow::~CaptureWindow() {
    DisconnectAndDestroy();
}

void CaptureWindow::setVideoWindow(VideoWindow* videoWindow) {
    if (videoWindow_ == videoWindow)
        return;
    destroyView();
    videoWindow_ = videoWindow;
}

int CaptureWindow::CountDrivers() const {
    return devices_->count();
}

QString CaptureWindow::GetDriverName(int index) const {
    const QString name = devices_->name(index);
    return name.isEmpty() && (index < 0 || index >= devices_->count()) ? QStringLiteral("Error!") : name;
}

bool CaptureWindow::Init_Video(int index) {
    const BusyPointer busy;
    previewFailureShown_ = false;
    troubleShown_.clear();
    worked_.clear();
    DisconnectAndDestroy();
    ensureView();
    const bool ok = connectDevice(index);
    if (!ok)
        destroyView();
    if (devices_->count() == 0)
        Q_EMIT noCamera();
    updateCaps();
    Resize_Video();
    SaveSetting(keys::VfwIndex, NumberText(index));
    if (const QString identity = devices_->identity(index); !identity.isEmpty())
        SaveSetting(keys::VfwCamera, identity);
    return ok;
}

int CaptureWindow::listStoredCamera() {
    const QString wanted = GetSetting(keys::VfwCamera);
    if (wanted.isEmpty())
        return ReadInt32(keys::VfwIndex);
    const int index = devices_->indexOf(wanted);
    return index < 0 && IsCameraAddress(wanted) ? devices_->addUnlisted(wanted) : index;
}

bool CaptureWindow::connectStoredCamera() {
    const int index = listStoredCamera();
    const QString wanted = GetSetting(keys::VfwCamera);
    if (index >= 0 || wanted.isEmpty())
        return Init_Video(index);
    // A local camera that is not plugged in: wait for it rather than publish another one.
    DisconnectAndDestroy();
    lostIdentity_ = wanted;
    chosen_ = true;
    if (devices_->count() == 0)
        Q_EMIT noCamera();
    return false;
}

bool CaptureWindow::connectDevice(int index) {
    identity_ = devices_->identity(index);
    if (identity_.isEmpty())
        return false;
    chosen_ = true; // from now on its failure is the job's
    if (!openSession(false)) {
        identity_.clear();
        return false;
    }
    return true;
}

bool CaptureWindow::openSession(bool overlay, bool quiet) {
    // A camera opens only once: the old pipeline goes first.
    session_.reset();
    const int index = devices_->indexOf(identity_);
    QString error;
    std::shared_ptr<HttpFeed> feed;
    gst::ElementPtr source =
        index >= 0 ? devices_->internals().createSource(index, &error, &feed) : gst::ElementPtr();
    {
        std::lock_guard lock(feedMutex_);
        feed_ = feed;
    }
    if (source) {
        const QString format = GetSetting(QString::fromLatin1(keys::VfwFormat.section), formatKey(identity_),
                                          QString::fromLatin1(keys::VfwFormat.fallback));
        const auto mode = overlay ? CaptureSession::Mode::Overlay : CaptureSession::Mode::Preview;
        session_ =
            CaptureSession::open(std::move(source), frames_, mode, format, OverlaySinkFactory(), &error);
    }
    if (!session_) {
        if (!quiet)
            qWarning().noquote() << "Camera" << devices_->name(index) << "does not connect:" << error;
        if (devices_->isNetworkCamera(index))
            reportTrouble(error); // once for each reason
        return false;
    }
    const quint64 generation = ++generation_;
    // Marked lost at once, so a grab that ends because the camera stopped already knows why.
    connect(session_.get(), &CaptureSession::failed, this, [this, generation] {
        if (generation == generation_)
            markLost();
    });
    if (devices_->isNetworkCamera(index))
        connect(session_.get(), &CaptureSession::trouble, this, &CaptureWindow::reportTrouble);
    connect(
        session_.get(), &CaptureSession::failed, this,
        [this, generation](const QString& reason) {
            if (generation == generation_)
                onSessionFailed(reason);
        },
        Qt::QueuedConnection);
    return true;
}

bool CaptureWindow::DisconnectAndDestroy() {
    const bool existed = session_ || view_;
    session_.reset();
    frames_->setActive(false);
    identity_.clear();
    lostIdentity_.clear();
    chosen_ = false;
    const bool wasLost = lostSince_.isValid();
    lostSince_ = {};
    frames_->setLostSince({});
    if (wasLost)
        Q_EMIT lostSinceChanged({});
    retries_ = 0;
    retryTimer_.stop();
    destroyView();
    updateCaps();
    return existed;
}

void CaptureWindow::ensureView() {
    if (view_ || !videoWindow_)
        return;
    view_ = new CaptureView(frames_, videoWindow_); // owned by the video area
    view_->setGeometry(0, 0, 160, 120);
    view_->show();
}

void CaptureWindow::destroyView() {
    if (view_)
        delete view_.data();
}

void CaptureWindow::Resize_Video() {
    if (videoWindow_)
        videoWindow_->update();
    QSize ignored;
    GetCaptureStatus(ignored);
    if (videoWindow_)
        PositionCaptureWindow(0, 0, videoWindow_->width(), videoWindow_->height());
    SetPreviewScale(true);
    if (!overlayMode_)
        StartPreview(ReadPreviewRate());
    else if (!StartOverlay() && connected())
        StartPreview(ReadPreviewRate()); // no sink can draw here: keep a live picture all the same
}

bool CaptureWindow::StartPreview(int framesPerSecond) {
    const int interval = PreviewIntervalMs(framesPerSecond);
    if (session_ && session_->mode() != CaptureSession::Mode::Preview && !openSession(false))
        onSessionFailed(QStringLiteral("the camera does not reopen"));
    if (!session_) {
        // While a lost camera is awaited the test card is all there is to show; no message then. Without a
        // camera the window says so once per connect, not at every resize of the main window.
        if (lostIdentity_.isEmpty() && !previewFailureShown_) {
            previewFailureShown_ = true;
            messages_.showMessage(QStringLiteral("Lanthor: Cannot set preview mode."), MessageIcon::Critical);
        }
        return false;
    }
    if (view_)
        view_->hideOverlaySurface();
    session_->setRate(PipelineRate(interval));
    return session_->play();
}

bool CaptureWindow::StartOverlay() {
    if (!session_ || !view_ || OverlaySinkFactory().isEmpty())
        return false;
    if (session_->mode() != CaptureSession::Mode::Overlay && !openSession(true)) {
        onSessionFailed(QStringLiteral("the camera does not reopen"));
        return false;
    }
    session_->setRate(PipelineRate(PreviewIntervalMs(ReadPreviewRate())));
    session_->setOverlayWindow(view_->showOverlaySurface(), view_->size());
    if (session_->play())
        return true;
    view_->hideOverlaySurface();
    return false;
}

bool CaptureWindow::SetPreviewScale(bool on) {
    if (!session_)
        return false;
    if (view_)
        view_->setScaled(on);
    return true;
}

bool CaptureWindow::GetCaptureStatus(QSize& imageSize) const {
    if (!session_)
        return false;
    imageSize = session_->formatSize();
    return true;
}

bool CaptureWindow::PositionCaptureWindow(int left, int top, int width, int height) {
    QSize format;
    if (!GetCaptureStatus(format))
        return false;
    if (view_) {
        if (left + top + width + height == 0)
            view_->resize(format);
        else if (width + height != 0)
            view_->setGeometry(left, top, width, height);
        else
            view_->move(left, top);
        if (session_->mode() == CaptureSession::Mode::Overlay)
            session_->resizeOverlay(view_->size());
    }
    return true;
}

CaptureView* CaptureWindow::captureView() const {
    return view_.data();
}

bool CaptureWindow::connected() const {
    return session_ != nullptr;
}

void CaptureWindow::updateCaps() {
    DriverCaps now;
    if (session_) {
        now.fHasOverlay = videoWindow_ && !OverlaySinkFactory().isEmpty();
        now.fHasDlgVideoFormat = !session_->formats().empty();
        now.fHasDlgVideoSource = !session_->controls().empty();
    }
    if (now == caps_)
        return;
    caps_ = now;
    Q_EMIT driverCapsChanged();
}

void CaptureWindow::markLost() {
    if (lostSince_.isValid())
        return;
    lostSince_ = clock().now();
    {
        std::lock_guard lock(feedMutex_);
        lostName_ = devices_->name(devices_->indexOf(identity_));
    }
    frames_->setLostSince(lostSince_);
    Q_EMIT lostSinceChanged(lostSince_);
}

void CaptureWindow::onSessionFailed(const QString& reason) {
    if (!session_)
        return;
    // A camera tried again and failed again is still the same loss: said once.
    const bool newLoss = lostIdentity_.isEmpty();
    if (newLoss)
        qWarning().noquote() << "Camera" << devices_->name(devices_->indexOf(identity_))
                             << "stopped:" << reason;
    if (devices_->isNetworkCamera(devices_->indexOf(identity_)))
        reportTrouble(reason);
    markLost();
    lostIdentity_ = identity_;
    session_.reset();
    frames_->setActive(false);
    if (view_) {
        view_->hideOverlaySurface();
        view_->update();
    }
    updateCaps();
    retryTimer_.start(retryPauseMs(retries_));
    if (newLoss)
        Q_EMIT cameraLost(reason);
}

void CaptureWindow::watch() {
    // The window shows the live picture only while it is on the screen.
    frames_->setWatched(FrameStore::Watcher::Window,
                        videoWindow_ && videoWindow_->isVisible() && !videoWindow_->window()->isMinimized());
    std::unique_lock feedLock(feedMutex_);
    const std::shared_ptr<HttpFeed> feed = feed_.lock();
    feedLock.unlock();
    if (feed)
        SetFeedDemand(*feed, frames_->decodeWanted(), stallMs() / 3);
    if (!session_ || !session_->playing())
        return;
    if (!frames_->frameSize().isEmpty())
        worked_ = identity_;
    const qint64 idle = frames_->idleMs();
    if (idle > stallMs()) {
        markLost();
        session_->fail(QStringLiteral("no new picture for %1 s").arg(idle / 1000));
    } else if (lostSince_.isValid() && !frames_->frameSize().isEmpty()) {
        restored();
    }
}

void CaptureWindow::retry() {
    if (session_ || lostIdentity_.isEmpty())
        return;
    ++retries_;
    identity_ = lostIdentity_;
    // Until its first picture the camera stays lost; the watchdog tells when it delivers again.
    if (!openSession(false, /*quiet=*/true)) {
        retryTimer_.start(retryPauseMs(retries_));
        return;
    }
    updateCaps();
    Resize_Video();
}

void CaptureWindow::restored() {
    lostIdentity_.clear();
    lostSince_ = {};
    frames_->setLostSince({});
    retries_ = 0;
    retryTimer_.stop();
    updateCaps();
    Q_EMIT lostSinceChanged({});
    Q_EMIT cameraRestored();
}

void CaptureWindow::onDeviceAdded(const QString& identity) {
    if (identity != lostIdentity_ || session_)
        return;
    identity_ = identity;
    if (!openSession(false))
        return;
    ensureView();
    Resize_Video();
    restored();
}

void CaptureWindow::onDeviceRemoved(const QString& identity) {
    if (session_ && identity == identity_)
        onSessionFailed(QStringLiteral("the camera was unplugged"));
}

void CaptureWindow::reportTrouble(const QString& reason) {
    if (!troubleShown_.insert(reason).second)
        return;
    const QString name = devices_->name(devices_->indexOf(identity_));
    if (!worked_.isEmpty() && worked_ == identity_) {
        qWarning().noquote() << "Camera" << name << "has trouble:" << reason;
        return;
    }
    messages_.showMessage(QStringLiteral("Camera %1: %2").arg(name, reason), MessageIcon::Exclamation);
}

QString CaptureWindow::formatKey(const QString& identity) const {
    QString key = QString::fromLatin1(keys::VfwFormat.key) + QLatin1Char('_');
    for (const QChar c : identity)
        key += (c.isLetterOrNumber() && c.unicode() < 128) ? c : QLatin1Char('_');
    return key;
}

std::vector<VideoFormat> CaptureWindow::formats() const {
    return session_ ? session_->formats() : std::vector<VideoFormat>{};
}

QString CaptureWindow::currentFormatCaps() const {
    return session_ ? session_->currentFormatCaps() : QString();
}

bool CaptureWindow::applyFormat(const VideoFormat& format) {
    if (!session_ || !session_->applyFormat(format.capsText()))
        return false;
    SaveSetting(QString::fromLatin1(keys::VfwFormat.section), formatKey(identity_), format.capsText());
    return true;
}

std::vector<SourceControl> CaptureWindow::controls() const {
    return session_ ? session_->controls() : std::vector<SourceControl>{};
}

bool CaptureWindow::setControl(const QString& name, int value) {
    return session_ && session_->setControl(name, value);
}

QDialog* CaptureWindow::ShowFormatDialog(QWidget* parent) {
    auto list = formats();
    if (list.empty()) {
        messages_.showMessage(QStringLiteral("Lanthor: Cannot show Video Format Dialog."),
                              MessageIcon::Critical);
        return nullptr;
    }
    return openDialog(new FormatDialog(
        std::move(list), currentFormatCaps(), [this](const VideoFormat& f) { return applyFormat(f); },
        parent));
}

QDialog* CaptureWindow::ShowSourceDialog(QWidget* parent) {
    const auto list = controls();
    if (list.empty()) {
        messages_.showMessage(QStringLiteral("Lanthor: Cannot show Video Source Dialog."),
                              MessageIcon::Critical);
        return nullptr;
    }
    return openDialog(new SourceDialog(
        list, [this](const QString& name, int value) { return setControl(name, value); }, parent));
}

QDialog* CaptureWindow::ShowDisplayDialog(QWidget*) {
    // Display settings belong to the video sink, which has no dialog of its own.
    messages_.showMessage(QStringLiteral("Lanthor: Cannot show Video Display Dialog."),
                          MessageIcon::Critical);
    return nullptr;
}

QDialog* CaptureWindow::openDialog(QDialog* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

VideoWindow* CaptureWindow::videoWindow() const {
    return videoWindow_;
}

void CaptureWindow::setStreamWatched(bool watching) {
    frames_->setWatched(FrameStore::Watcher::LiveView, watching);
}

QImage CaptureWindow::liveFrame() const {
    return frames_->newest();
}

qint64 CaptureWindow::frameAgeMs() const {
    return frames_->idleMs();
}

bool CaptureWindow::waitForFrame(int timeoutMs) const {
    return frames_->settle(warmUpMs(), timeoutMs, stallMs());
}

void CaptureWindow::GrabFrame(QImage& target) const {
    // A lost camera is not waited for; one tried again counts as back only once it delivers.
    QImage frame =
        frames_->lostSince().isValid() ? QImage() : frames_->settled(warmUpMs(), kGrabWaitMs, stallMs());
    std::shared_ptr<HttpFeed> feed;
    {
        std::lock_guard lock(feedMutex_);
        feed = feed_.lock();
    }
    if (feed && !frame.isNull()) {
        if (QImage fresh = FetchFreshPicture(*feed, kGrabWaitMs); !fresh.isNull())
            frame = std::move(fresh);
    }
    target = frame.isNull() ? MiraTestCard() : frame.copy();
}

bool CaptureWindow::cameraChosen() const {
    return chosen_;
}

QDateTime CaptureWindow::lostSince() const {
    return frames_->lostSince();
}

QString CaptureWindow::lostCameraName() const {
    std::lock_guard lock(feedMutex_);
    return lostName_;
}

} // namespace zantrel
