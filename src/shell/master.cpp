#include "shell/master.h"

#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/clock.h"
#include "core/instance.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "health/health_log.h"
#include "health/health_monitor.h"
#include "health/state_document.h"
#include "liveview/live_view.h"
#include "metrics/publish_metrics.h"
#include "mqtt/mqtt_service.h"
#include "publish/job_runner.h"
#include "publish/publishing_core.h"
#include "publish/stamp_inputs.h"
#include "shell/about_box.h"
#include "shell/caption_row.h"
#include "shell/close_application.h"
#include "shell/drag_window.h"
#include "shell/keyring_unlock_prompt.h"
#include "shell/password_prompt.h"
#include "shell/pictures.h"
#include "shell/tray_icon.h"
#include "shell/window_sinks.h"
#include "stampdata/url_values.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cmath>

namespace zantrel {

namespace {

int twipsToPixels(double twips) {
    return int(std::lround(twips / Master::kTwipsPerPixel));
}
QString pixelsToTwips(int pixels) {
    return NumberText(std::int64_t(pixels) * Master::kTwipsPerPixel);
}

// Swallows the tip requests of the widgets it watches.
class NoTip : public QObject {
  public:
    static NoTip* instance() {
        static NoTip filter;
        return &filter;
    }
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

struct Button {
    const char* key;
    const char* caption;
    const char* tip;
};

QToolBar* makeToolbar(const char* name, QWidget* parent) {
    auto* bar = new QToolBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 22));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return bar;
}

QAction* addButton(QToolBar* bar, const Button& b) {
    const QString caption = QString::fromLatin1(b.caption);
    QAction* action = bar->addAction(IconBank(QString::fromLatin1(b.key)), caption);
    // Shown as written: the about button's trailing blanks widen it, and its dots stay.
    action->setIconText(caption);
    action->setObjectName(QString::fromLatin1(b.key));
    action->setToolTip(QString::fromLatin1(b.tip));
    // Without a tip of its own a button would show its caption as one: it shows none.
    if (!*b.tip)
        bar->widgetForAction(action)->installEventFilter(NoTip::instance());
    return action;
}

// Both rows show captions beside their pictures while each has room for all its buttons, below them when
// that fits, and pictures alone (the captions stay as tips and accessible names) in a window too narrow
// even for that: no button folds away into a toolbar's overflow menu.
void fitToolbars(std::initializer_list<QToolBar*> bars, int width) {
    for (const Qt::ToolButtonStyle style :
         {Qt::ToolButtonTextBesideIcon, Qt::ToolButtonTextUnderIcon, Qt::ToolButtonIconOnly}) {
        bool fits = true;
        for (QToolBar* bar : bars) {
            bar->setToolButtonStyle(style);
            bar->layout()->invalidate(); // the hint would still be the old style's
            fits = fits && bar->sizeHint().width() <= width;
        }
        if (fits)
            return;
    }
}

} // namespace

HealthMonitor& AttachServices(PublishingCore& core) {
    auto live = std::make_unique<LiveView>(core.capture(), core.jobs(), core.runControl(), core.status());
    auto health = std::make_unique<HealthMonitor>(core.jobs(), &core.runControl(), core.status());
    HealthMonitor& monitor = *health;
    LogHealthEvents(monitor);
    live->state().setEvents([events = health->activeEvents()] { return events->events(); });
    // The live view's state with the events is the document: it is attached first and so ends last.
    health->keepStateDocument(StateDocumentPath(), [state = &live->state()] {
        return QJsonDocument::fromJson(state->statusJson()).object();
    });
    // The metrics, served by the live view, end after it.
    auto metrics = std::make_unique<PublishMetrics>(
        core.jobs(), ProgramMetricsSources(core.capture(), health->activeEvents()));
    live->state().setMetrics([m = metrics.get()] { return m->text(); });
    core.attach(std::move(metrics));
    // MQTT: the same state document, each alert as it happens.
    auto mqtt = std::make_unique<MqttService>(core.jobs(), core.runControl(), core.status(),
                                              [state = &live->state()] { return state->statusJson(); });
    QObject::connect(health.get(), &HealthMonitor::eventHappened, mqtt.get(), &MqttService::noteEvent);
    core.attach(std::move(live));
    core.attach(std::move(health));
    core.attach(std::move(mqtt));
    core.attach(std::make_unique<StampUrlFetcher>(StampInputs::instance())); // {url:} values for the stamps
    return monitor;
}

Master::Master(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Master"));
    // No platform title bar. With a notification area to come back from, no task bar entry either;
    // without one the task bar is the way back after "minimize".
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | (SysTray::available() ? Qt::Tool : Qt::Widget));
    setWindowIcon(ApplicationIcon());
    setAccessibleName(InstanceTitle());

    caption_ = new CaptionRow(this, MasterLayout::kCaptionToolbarTop);
    caption_->setPictureLeft(MasterLayout::kControlsLeft);
    caption_->setTitle(InstanceTitle());
    auto* onTopPair = new QButtonGroup(this);
    for (const Button& b : {Button{"notontop", "", "Not On Top"}, Button{"ontop", "", "On Top"},
                            Button{"minimize", "", "Minimize"}, Button{"close", "", "Close"}}) {
        const QString key = QString::fromLatin1(b.key);
        QToolButton* button = caption_->addButton(key, Bank16x16(key), QString::fromLatin1(b.tip));
        if (key.contains(QLatin1String("ontop"))) {
            button->setCheckable(true);
            onTopPair->addButton(button);
        }
    }
    connect(caption_, &CaptionRow::buttonClicked, this, &Master::captionToolbarClicked);

    controls_ = new QWidget(this);
    controls_->setObjectName(QStringLiteral("MasterControls"));
    controls_->setAutoFillBackground(true);
    buildToolbars(controls_);
    videoWindow_ = new VideoWindow(controls_);

    status_ = new StatusLabel(this);
    status_->setObjectName(QStringLiteral("MasterStatus"));
    status_->setTextFormat(Qt::PlainText);
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8.25);
    status_->setFont(small);
    QPalette light = status_->palette();
    light.setColor(QPalette::WindowText, Qt::white);
    status_->setPalette(light);
    caption_->picture()->setPalette(light);
    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("MasterWarning"));
    warning_->setAccessibleName(QStringLiteral("Warning"));
    warning_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(kWarningSize));
    warning_->hide();

    // The background and the container move the window; its edges size it.
    WindowDrag::attach(this);
    WindowDrag::attach(controls_);
    FrameResizer::attach(this);

    tray_ = std::make_unique<SysTray>();
    connect(tray_.get(), &SysTray::aboutRequested, this, &Master::showAbout);
    connect(tray_.get(), &SysTray::exitRequested, this, [] { CloseApplication(); });

    statusSink_ = std::make_unique<LabelStatusSink>([this](const QString& line) {
        // Made before the core, whose run control tells what is the state between jobs.
        const bool state = core_ && !runControl().jobRunning() && line == OneLine(runControl().stateText());
        line_.said(line, state);
        showStatus();
    });
    messageSink_ = std::make_unique<WindowMessageSink>(this, *statusSink_);
    core_ = std::make_unique<PublishingCore>(*statusSink_, *messageSink_, videoWindow_);
    HealthMonitor& health = AttachServices(*core_);
    unlockPrompt_ = std::make_unique<KeyringUnlockPrompt>(this, *statusSink_);
    // How each job went, for a few seconds after it.
    outcomeObserver_ = core_->jobs().observeOutcomes([this](const PublishOutcome& outcome) {
        const QDateTime at = clock().now();
        QStringList failures; // a password in the locked keyring among them has the window ask once
        for (const auto& target : outcome.targets)
            if (!target.delivered)
                failures << target.reason;
        QMetaObject::invokeMethod(
            this,
            [this, at, summary = JobSummaryText(outcome, at), failures] {
                unlockPrompt_->jobEnded(failures);
                line_.jobEnded(summary, at);
                showStatus();
                // Precise: a coarse timer may fire early, when the summary is still due.
                QTimer::singleShot(StatusLineText::kSummaryMs, Qt::PreciseTimer, this, &Master::showStatus);
            },
            Qt::QueuedConnection);
    });
    // While anything is wrong the window's mark and the tray icon warn, their tips and the status line
    // between jobs say why: not every desktop has a notification area.
    connect(&health, &HealthMonitor::conditionsChanged, this, [this](const QStringList& reasons) {
        alerts_ = reasons;
        line_.setReasons(reasons);
        warning_->setToolTip(reasons.join(QLatin1Char('\n')));
        warning_->setAccessibleDescription(warning_->toolTip());
        warning_->setVisible(!reasons.isEmpty());
        layoutWindow();
        showStatus();
        tray_->SetTrayIcon(alerts_.isEmpty() ? TrayIcon(QStringLiteral("mastericon"))
                                             : style()->standardIcon(QStyle::SP_MessageBoxWarning));
        tray_->SetTrayTip(
            MakeTrayTip(alerts_.isEmpty() ? QStringLiteral("Ready") : alerts_.join(QStringLiteral("; "))));
    });
    // The picture follows the video area; before the camera is set up there is nothing to fit.
    connect(videoWindow_, &VideoWindow::resized, this, [this] {
        if (loaded_)
            captureWindow().Resize_Video();
    });
    connect(&runControl(), &RunControl::buttonsChanged, this, &Master::applyButtons);
    connect(&runControl(), &RunControl::trayImageChanged, this, [this](int image) {
        if (image != RunControl::NowIcon && !alerts_.isEmpty())
            tray_->SetTrayIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        else
            tray_->SetTrayIcon(TrayIcon(image == RunControl::NowIcon ? QStringLiteral("now")
                                                                     : QStringLiteral("mastericon")));
    });
    applyButtons(runControl().buttons());
    // Also given to the window manager, which otherwise lets an edge drag shrink the window to nothing.
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(349, 319);
}

Master::~Master() {
    core_->jobs().forgetObserver(outcomeObserver_); // a job still running reports to a window gone
    core_.reset();                                  // what it says while it ends finds no run control to ask
}

void Master::showStatus() {
    status_->setText(line_.shown(clock().now(), core_ && runControl().jobRunning()));
}

void Master::buildToolbars(QWidget* controls) {
    masterToolbar_ = makeToolbar("MasterToolbar", controls);
    for (const Button& b :
         {Button{"gallery", "Image Gallery", "Captured Image Gallery"},
          Button{"settings", "Configuration", "Internet Server, Update Time, Image Effects..."},
          Button{"about", "About...        ", ""}}) {
        const QString key = QString::fromLatin1(b.key);
        connect(addButton(masterToolbar_, b), &QAction::triggered, this,
                [this, key] { masterToolbarClicked(key); });
    }

    otherToolbar_ = makeToolbar("OtherToolbar", controls);
    for (const Button& b : {Button{"run", "Run", "Run"}, Button{"now", "Now", "FTP Now"},
                            Button{"stop", "Stop", "Stop"}, Button{"call", "Call...", ""}}) {
        const QString key = QString::fromLatin1(b.key);
        connect(addButton(otherToolbar_, b), &QAction::triggered, this,
                [this, key] { otherToolbarClicked(key); });
    }
    // The modem feature is switched off: its button never shows.
    otherToolbarAction(QStringLiteral("call"))->setVisible(false);
}

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

QAction* Master::masterToolbarAction(const QString& key) const {
    return masterToolbar_->findChild<QAction*>(key, Qt::FindDirectChildrenOnly);
}

void Master::applyButtons(RunControl::Buttons b) {
    otherToolbarAction(QStringLiteral("run"))->setEnabled(b.run);
    otherToolbarAction(QStringLiteral("now"))->setEnabled(b.now);
    otherToolbarAction(QStringLiteral("stop"))->setEnabled(b.stop);
    masterToolbar_->setEnabled(b.masterToolbar);
}

void Master::load() {
    setWindowTitle(InstanceTitle());
    caption_->setTitle(InstanceTitle());
    // The on-top state is never stored: every run starts not on top.
    caption_->button(QStringLiteral("ontop"))->setChecked(false);
    caption_->button(QStringLiteral("notontop"))->setChecked(true);

    tray_->AddTrayIcon(this);
    tray_->SetTrayTip(MakeTrayTip(QStringLiteral("Ready")));

    captureWindow().connectStoredCamera();

    // Stored geometry is in twips; the minimum size applies to whatever comes back.
    resize(SnappedOuterSize(
        QSize(twipsToPixels(ReadNumber(keys::LoadWidth)), twipsToPixels(ReadNumber(keys::LoadHeight)))));
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
    if (PasswordRequired())
        return frmPassword::Ask(this, [this, key] { runCommand(key); });
    runCommand(key);
}

void Master::runCommand(const QString& key) {
    if (key == QLatin1String("run"))
        runControl().FTPRun();
    else if (key == QLatin1String("now"))
        runControl().FTPNow();
    else if (key == QLatin1String("stop"))
        runControl().FTPStop();
}

void Master::masterToolbarClicked(const QString& key) {
    // The about box is open to everyone; the gallery and the settings only past the password.
    if (key == QLatin1String("about"))
        return showAbout();
    if (PasswordRequired())
        return frmPassword::Ask(this, [this, key] { openWindow(key); });
    openWindow(key);
}

void Master::openWindow(const QString& key) {
    if (key == QLatin1String("gallery"))
        Q_EMIT galleryRequested();
    else if (key == QLatin1String("settings"))
        Q_EMIT settingsRequested();
}

void Master::captionToolbarClicked(const QString& key) {
    if (key == QLatin1String("close")) {
        CloseApplication();
    } else if (key == QLatin1String("minimize")) {
        // Hidden, the tray icon is the way back; without a notification area the window only minimizes.
        if (tray_->present())
            hide();
        else
            showMinimized();
        tray_->SetTrayTip(MakeTrayTip(QStringLiteral("Minimized - Click to restore window")));
    } else if (key == QLatin1String("notontop") || key == QLatin1String("ontop")) {
        setOnTop(key == QLatin1String("ontop"));
    }
}

void Master::setOnTop(bool onTop) {
    caption_->button(QStringLiteral("ontop"))->setChecked(onTop);
    caption_->button(QStringLiteral("notontop"))->setChecked(!onTop);
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    show();
}

void Master::showAbout() {
    auto* about = new frmAbout(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void Master::resizeEvent(QResizeEvent*) {
    layoutWindow();
}

// The skin geometry follows the window's size at every change; a maximized window is left as it is.
void Master::layoutWindow() {
    if (isMaximized())
        return;
    const QSize snapped = SnappedOuterSize(size());
    if (snapped != size())
        resize(snapped);

    MasterLayoutInput in;
    in.outer = size();
    in.captionButtonHeight = CaptionRow::kButtonSize.height();
    in.statusHeight = status_->sizeHint().height();
    // The toolbars' width does not depend on their heights: fit their style to it first.
    fitToolbars({masterToolbar_, otherToolbar_}, ComputeMasterLayout(in).masterToolbar.width());
    in.masterToolbarHeight = masterToolbar_->sizeHint().height();
    in.otherToolbarHeight = otherToolbar_->sizeHint().height();
    const MasterLayout l = ComputeMasterLayout(in);
    caption_->setGeometry(l.captionRow);
    controls_->setGeometry(l.controls);
    masterToolbar_->setGeometry(l.masterToolbar);
    videoWindow_->setGeometry(l.video);
    otherToolbar_->setGeometry(l.otherToolbar);
    // The warning mark, while shown, takes the status line's start.
    QRect status = l.status;
    if (!warning_->isHidden()) {
        warning_->setGeometry(status.left(), status.center().y() - kWarningSize / 2, kWarningSize,
                              kWarningSize);
        status.setLeft(status.left() + kWarningSize + 4);
    }
    status_->setGeometry(status);
}

void Master::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient skin(0, 0, 0, height());
    skin.setColorAt(0, QColor(58, 90, 128));
    skin.setColorAt(1, QColor(25, 45, 72));
    p.fillRect(rect(), skin);
    p.setPen(QColor(12, 22, 36));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
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
    tray_->RemoveTrayIcon();
    // A job still uploading is cut short: its connection is closed and no further server is contacted.
    core_->shutdown(std::chrono::milliseconds(0));
    event->accept();
    // Closed some other way than through the program (the window manager, a signal): the rest follows.
    CloseApplication();
}

} // namespace zantrel
