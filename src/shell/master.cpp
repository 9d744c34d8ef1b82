#include "shell/master.h"

#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "publish/publishing_core.h"
#include "shell/password_prompt.h"
#include "shell/window_sinks.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

namespace zantrel {

namespace {

int twipsToPixels(double twips) {
    return int(std::lround(twips / Master::kTwipsPerPixel));
}
QString pixelsToTwips(int pixels) {
    return NumberText(std::int64_t(pixels) * Master::kTwipsPerPixel);
}

} // namespace

Master::Master(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Master"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(349, 319);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(2);

    auto* controls = new QWidget(this);
    controls->setObjectName(QStringLiteral("MasterControls"));
    controlsLayout_ = new QVBoxLayout(controls);
    controlsLayout_->setContentsMargins(0, 0, 0, 0);
    controlsLayout_->setSpacing(2);

    masterToolbar_ = new QToolBar(controls);
    masterToolbar_->setObjectName(QStringLiteral("MasterToolbar"));
    masterToolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    controlsLayout_->addWidget(masterToolbar_);
    videoWindow_ = new VideoWindow(controls);
    controlsLayout_->addWidget(videoWindow_, 1);

    otherToolbar_ = new QToolBar(controls);
    otherToolbar_->setObjectName(QStringLiteral("OtherToolbar"));
    otherToolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    struct Button {
        const char* key;
        const char* caption;
        const char* tip;
    };
    for (const Button& b : {Button{"run", "Run", "Run"}, Button{"now", "Now", "FTP Now"},
                            Button{"stop", "Stop", "Stop"}, Button{"call", "Call...", ""}}) {
        QAction* action = otherToolbar_->addAction(QString::fromLatin1(b.caption));
        action->setObjectName(QString::fromLatin1(b.key));
        action->setToolTip(QString::fromLatin1(b.tip));
        const QString key = QString::fromLatin1(b.key);
        connect(action, &QAction::triggered, this, [this, key] { otherToolbarClicked(key); });
    }
    // The modem feature is switched off: its button never shows.
    otherToolbarAction(QStringLiteral("call"))->setVisible(false);
    controlsLayout_->addWidget(otherToolbar_);
    outer->addWidget(controls, 1);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("MasterStatus"));
    status_->setTextFormat(Qt::PlainText);
    outer->addWidget(status_);

    statusSink_ = std::make_unique<LabelStatusSink>(status_);
    messageSink_ = std::make_unique<WindowMessageSink>(this, *statusSink_);
    core_ = std::make_unique<PublishingCore>(*statusSink_, *messageSink_, videoWindow_);
    // The picture follows the video area; before the camera is set up there is nothing to fit.
    connect(videoWindow_, &VideoWindow::resized, this, [this] {
        if (loaded_)
            captureWindow().Resize_Video();
    });
    connect(&runControl(), &RunControl::buttonsChanged, this, &Master::applyButtons);
    applyButtons(runControl().buttons());
}

Master::~Master() = default;

RunControl& Master::runControl() {
    return core_->runControl();
}
CaptureWindow& Master::captureWindow() {
    return core_->capture();
}

StatusSink& Master::statusSink() {
    return *statusSink_;
}
MessageSink& Master::messageSink() {
    return *messageSink_;
}

QAction* Master::otherToolbarAction(const QString& key) const {
    return otherToolbar_->findChild<QAction*>(key, Qt::FindDirectChildrenOnly);
}

void Master::applyButtons(RunControl::Buttons b) {
    otherToolbarAction(QStringLiteral("run"))->setEnabled(b.run);
    otherToolbarAction(QStringLiteral("now"))->setEnabled(b.now);
    otherToolbarAction(QStringLiteral("stop"))->setEnabled(b.stop);
    masterToolbar_->setEnabled(b.masterToolbar);
}

void Master::load() {
    setWindowTitle(applicationTitle());

    captureWindow().Init_Video(ReadInt32(keys::VfwIndex));

    // Stored geometry is in twips; the minimum size applies to whatever comes back.
    const int width = twipsToPixels(ReadNumber(keys::LoadWidth));
    const int height = twipsToPixels(ReadNumber(keys::LoadHeight));
    resize(std::max(width, kMinimumWidth), std::max(height, kMinimumHeight));
    move(twipsToPixels(ReadNumber(keys::LoadLeft)), twipsToPixels(ReadNumber(keys::LoadTop)));

    overlayMode_ = GetSetting(keys::LoadOverlay) == QLatin1String("YES");
    captureWindow().setOverlayMode(overlayMode_);
    loaded_ = true;
    captureWindow().Resize_Video();

    if (ReadNumber(keys::PrefAutoRun) == 1.0)
        runControl().FTPRun();
}

void Master::setOverlayMode(bool on) {
    overlayMode_ = on;
    captureWindow().setOverlayMode(on);
    captureWindow().Resize_Video();
}

void Master::otherToolbarClicked(const QString& key) {
    // Every command, stop included, is guarded when the user has set a password.
    if (PasswordRequired() && !frmPassword::Ask(*messageSink_, this))
        return;
    if (key == QLatin1String("run"))
        runControl().FTPRun();
    else if (key == QLatin1String("now"))
        runControl().FTPNow();
    else if (key == QLatin1String("stop"))
        runControl().FTPStop();
}

void Master::saveWindowState() {
    if (stateSaved_)
        return;
    stateSaved_ = true;
    const QRect frame = frameGeometry();
    SaveSetting(keys::LoadHeight, pixelsToTwips(height()));
    SaveSetting(keys::LoadWidth, pixelsToTwips(width()));
    SaveSetting(keys::LoadTop, pixelsToTwips(frame.top()));
    SaveSetting(keys::LoadLeft, pixelsToTwips(frame.left()));
    SaveSetting(keys::LoadOverlay, overlayMode_ ? QStringLiteral("YES") : QStringLiteral("NO"));
}

void Master::closeEvent(QCloseEvent* event) {
    saveWindowState();
    // A job still uploading is cut short: its connection is closed and no further server is contacted.
    core_->shutdown(std::chrono::milliseconds(0));
    event->accept();
}

} // namespace zantrel
