#include "settings/settings_dialog.h"

#include "capture/capture_window.h"
#include "core/scheduler.h"
#include "core/version.h"
#include "publish/live_values.h"
#include "publish/stamp_inputs.h"
#include "settings/alerts_page.h"
#include "settings/autostart.h"
#include "settings/device_page.h"
#include "settings/image_page.h"
#include "settings/live_view_page.h"
#include "settings/mqtt_page.h"
#include "settings/preview_window.h"
#include "settings/small_pages.h"
#include "settings/timelapse_page.h"
#include "settings/timer_page.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QVBoxLayout>

namespace zantrel {

namespace {

// A page in a frameless scroll area, at its own height at the top: the dialog keeps one size for every
// page, and a page taller than the screen allows scrolls instead of pushing OK off the screen.
QScrollArea* scrolled(QWidget* page, QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* holder = new QWidget(area);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(page);
    column->addStretch(1);
    area->setWidget(holder);
    return area;
}

} // namespace

SettingsDialog::SettingsDialog(CaptureWindow& capture, QWidget* parent, OverlaySwitch setOverlay)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), capture_(capture),
      tabs_(new QTabBar(this)), panels_(new QStackedWidget(this)),
      device_(new DevicePage(capture, std::move(setOverlay), panels_)), timer_(new TimerPage(panels_)),
      image_(new ImagePage(panels_)), internet_(new InternetPage(panels_)), modem_(new ModemControls(this)),
      prefs_(new PreferencesPage(panels_)), liveView_(new LiveViewPage(panels_)),
      timelapse_(new TimelapsePage(panels_)), alerts_(new AlertsPage(panels_)), mqtt_(new MqttPage(panels_)) {
    setObjectName(QStringLiteral("frmAllSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);

    tabs_->setObjectName(QStringLiteral("MasterFolder"));
    const struct {
        const char* caption;
        QStyle::StandardPixmap icon;
    } tabs[] = {{"Device", QStyle::SP_ComputerIcon},      {"Timer", QStyle::SP_BrowserReload},
                {"Image", QStyle::SP_FileIcon},           {"Internet", QStyle::SP_DriveNetIcon},
                {"Reserved", QStyle::SP_CustomBase},      {"Preferences", QStyle::SP_FileDialogDetailedView},
                {"Live view", QStyle::SP_MediaPlay},      {"Time-lapse", QStyle::SP_MediaSeekForward},
                {"Alerts", QStyle::SP_MessageBoxWarning}, {"MQTT", QStyle::SP_DriveNetIcon}};
    for (const auto& tab : tabs) {
        if (tab.icon == QStyle::SP_CustomBase)
            tabs_->addTab(QLatin1String(tab.caption));
        else
            tabs_->addTab(style()->standardIcon(tab.icon), QLatin1String(tab.caption));
    }
    tabs_->setTabData(kReservedTab, QStringLiteral("modem"));
    // The switched-off feature's tab would only open an empty page.
    tabs_->setTabVisible(kReservedTab, false);

    // Panel k belongs to tab k (counted from 1); panel 0, and the modem feature's panel 5, stay empty.
    panels_->setObjectName(QStringLiteral("FolderPix"));
    panels_->addWidget(new QWidget(panels_));
    const std::initializer_list<QWidget*> pages{device_, timer_,    image_,     internet_, nullptr,
                                                prefs_,  liveView_, timelapse_, alerts_,   mqtt_};
    for (QWidget* page : pages)
        panels_->addWidget(page ? scrolled(page, panels_) : new QWidget(panels_));

    auto* preview = new QPushButton(QStringLiteral("Image Preview"), this);
    preview->setObjectName(QStringLiteral("Preview_button"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OK_Button"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Cancel_Button"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(preview);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(panels_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(tabs_, &QTabBar::currentChanged, this, &SettingsDialog::switchTab);
    connect(preview, &QPushButton::clicked, this, &SettingsDialog::showPreview);
    connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
    connect(image_, &ImagePage::liveValuesEdited, this,
            [this] { LiveValues::instance().set(LiveValuesOf(image_->values())); });

    // Loading. The server list filled itself when it was made.
    loaded_ = LoadSettingsForm();
    device_->load(loaded_.device);
    timer_->load(loaded_.timer);
    image_->load(loaded_.image);
    internet_->load(loaded_.upload);
    modem_->load(loaded_.modem);
    prefs_->load(loaded_.prefs);
    liveView_->load();
    alerts_->load();
    mqtt_->load();
    shown_ = form();
    fitPages(pages); // as loaded: the server list and the texts are in
    switchTab(tabs_->currentIndex());
}

SettingsDialog::~SettingsDialog() {
    LiveValues::instance().reset();
}

SettingsForm SettingsDialog::form() const {
    SettingsForm f;
    f.device = device_->values();
    f.timer = timer_->values();
    f.image = image_->values();
    f.upload = internet_->upload();
    f.modem = modem_->values();
    f.prefs = prefs_->values();
    return f;
}

void SettingsDialog::fitPages(std::initializer_list<QWidget*> pages) {
    QSize want;
    for (QWidget* page : pages)
        if (page)
            want = want.expandedTo(page->sizeHint());
    // Room for the scroll bar of a page that has to scroll.
    want.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
    panels_->setFixedSize(want);
    const QSize around = layout()->sizeHint() - want; // tabs, buttons, margins
    // Within a laptop's screen (1280x720 and up) with the title bar and a panel, and within this one.
    QSize room = kLargest;
    const QScreen* s = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (s)
        room = room.boundedTo(s->availableGeometry().size() - QSize(16, 48));
    panels_->setFixedSize(want.boundedTo(room - around));
}

void SettingsDialog::switchTab(int index) {
    panels_->setCurrentIndex(index == kReservedTab ? 0 : index + 1);
}

void SettingsDialog::accept() {
    if (!timer_->refusal().isEmpty()) {
        tabs_->setCurrentIndex(1); // the Timer page says why
        return;
    }
    if (!alerts_->problem().isEmpty()) {
        tabs_->setCurrentIndex(8); // the Alerts page says what is wrong
        return;
    }
    if (!mqtt_->problem().isEmpty()) {
        tabs_->setCurrentIndex(9); // the MQTT page says what is wrong
        return;
    }
    const SettingsForm f = KeepUntouched(form(), shown_, loaded_);
    if (ConfirmSettingsForm(f) == ConfirmOutcome::PasswordRefused) {
        QMessageBox::warning(this, applicationTitle(), QStringLiteral("Please enter a valid password."));
        return;
    }
    liveView_->store();
    timelapse_->store();
    alerts_->store();
    mqtt_->store();
    SetAutostart(f.prefs.windowsStart, QCoreApplication::applicationFilePath());
    capture_.Resize_Video();
    LiveValues::instance().reset();
    QDialog::accept();
}

void SettingsDialog::reject() {
    LiveValues::instance().reset();
    QDialog::reject();
}

void SettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void SettingsDialog::showPreview() {
    const ImageValues image = image_->values();
    const LiveValues::Values live = LiveValuesOf(image);
    StampParams stamps = live.stamp;
    stamps.time = image.time;
    stamps.date = image.date;
    stamps.text = image.text;
    stamps.nextUpdate = NextUpdateStampText(ComputeNextUpdate());
    QImage frame;
    capture_.GrabFrame(frame);
    // The same template, values and logo as the job's; fetched addresses show the program's last answers.
    StampInputs inputs([](const QString& address) { return StampInputs::instance().fetched(address); });
    inputs.prepare(stamps, live, frame.height(), QDateTime::currentDateTime());
    auto* preview = new PreviewWindow(PreparePreview(frame, stamps, live.compression), this);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->open();
}

SettingsDialog* ShowSettingsDialog(CaptureWindow& capture, QWidget* parent, OverlaySwitch setOverlay) {
    auto* dialog = new SettingsDialog(capture, parent, std::move(setOverlay));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

} // namespace zantrel
