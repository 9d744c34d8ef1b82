#include "settings/device_page.h"

#include "capture/camera_probe.h"
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "capture/network_camera.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "secrets/background_saves.h"
#include "secrets/secret_resolver.h"
#include "settings/control_rules.h"
#include "settings/network_camera_editor.h"
#include "settings/page_widgets.h"

#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zantrel {

DevicePage::DevicePage(CaptureWindow& capture, OverlaySwitch setOverlay, QWidget* parent)
    : QWidget(parent), capture_(capture), setOverlay_(std::move(setOverlay)), devices_(new QTreeWidget(this)),
      viewMode_(new QToolBar(this)), videoSettings_(new QToolBar(this)),
      rate_(page::slider(this, "PFR", QStringLiteral("Preview Rate"), 0, 30)),
      rateLabel_(page::label(this, "PFRDISP", QStringLiteral("Preview Rate"))), warmUp_(new QSpinBox(this)),
      stall_(page::number(this, "Stall", QStringLiteral("Camera lost after"), 2, 3600)),
      maxPixels_(page::number(this, "MaxPixels", QStringLiteral("Largest picture"), 1, 1000)),
      whenLost_(page::list(this, "WhenLost", QStringLiteral("While the camera is lost, publish"),
                           {QStringLiteral("the test card"), QStringLiteral("nothing")})),
      add_(new QPushButton(QStringLiteral("Add..."), this)),
      edit_(new QPushButton(QStringLiteral("Edit..."), this)),
      remove_(new QPushButton(QStringLiteral("Remove"), this)),
      test_(new QPushButton(QStringLiteral("Test"), this)),
      testPicture_(page::label(this, "TestPicture", {})),
      testResult_(page::label(this, "TestResult", {}, true)), probe_(new CameraProbe(this)) {
    devices_->setObjectName(QStringLiteral("DeviceList"));
    devices_->setAccessibleName(QStringLiteral("Device"));
    devices_->setHeaderLabels({QStringLiteral("Device")});
    devices_->header()->setStretchLastSection(true);
    devices_->setRootIsDecorated(false);

    viewMode_->setObjectName(QStringLiteral("ViewMode"));
    viewMode_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button(viewMode_, "overlay", QStringLiteral("Overlay Mode"), QStyle::SP_DesktopIcon);
    button(viewMode_, "preview", QStringLiteral("Preview Mode"), QStyle::SP_ComputerIcon);
    videoSettings_->setObjectName(QStringLiteral("VideoSettings"));
    videoSettings_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button(videoSettings_, "videosource", QStringLiteral("Video Source"), QStyle::SP_DriveCDIcon);
    button(videoSettings_, "videodisplay", QStringLiteral("Video Display"), QStyle::SP_DesktopIcon);
    button(videoSettings_, "videoformat", QStringLiteral("Video Format"), QStyle::SP_FileDialogDetailedView);

    rate_->setTickPosition(QSlider::TicksBelow);
    warmUp_->setObjectName(QStringLiteral("WarmUp"));
    warmUp_->setAccessibleName(QStringLiteral("Camera warm-up"));
    warmUp_->setRange(0, 60000);
    warmUp_->setSingleStep(100);
    warmUp_->setSuffix(QStringLiteral(" ms"));
    warmUp_->setToolTip(
        QStringLiteral("How long a camera runs after connecting before its pictures are used, so "
                       "that exposure and colour can settle"));
    stall_->setSuffix(QStringLiteral(" s"));
    stall_->setToolTip(QStringLiteral("How long a camera may go without a new picture before it counts as "
                                      "lost and is connected again"));
    maxPixels_->setSuffix(QStringLiteral(" megapixels"));
    maxPixels_->setToolTip(QStringLiteral("Pictures larger than this, from a camera or in the archive, are "
                                          "refused before they are decoded"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(devices_);
    layout->addWidget(
        page::label(this, "Labels", QStringLiteral("Double-Click to Activate the selected device.")));
    auto* cameras = new QHBoxLayout;
    const std::pair<QPushButton*, const char*> cameraButtons[] = {
        {add_, "AddCamera"}, {edit_, "EditCamera"}, {remove_, "RemoveCamera"}, {test_, "TestCamera"}};
    for (const auto& [b, name] : cameraButtons) {
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(b->text().remove(QStringLiteral("...")) + QStringLiteral(" network camera"));
        cameras->addWidget(b);
    }
    test_->setAccessibleName(QStringLiteral("Test camera"));
    cameras->addStretch();
    layout->addLayout(cameras);
    testPicture_->setAccessibleName(QStringLiteral("Test picture"));
    testResult_->setAccessibleName(QStringLiteral("Test result"));
    auto* tried = new QHBoxLayout;
    tried->addWidget(testPicture_);
    tried->addWidget(testResult_, 1);
    layout->addLayout(tried);
    auto* bars = new QHBoxLayout;
    bars->addWidget(viewMode_);
    bars->addStretch();
    bars->addWidget(videoSettings_);
    layout->addLayout(bars);
    layout->addWidget(rateLabel_);
    layout->addWidget(rate_);
    auto* warm = new QHBoxLayout;
    warm->addWidget(page::label(this, nullptr, QStringLiteral("Camera warm-up:")));
    warm->addWidget(warmUp_);
    warm->addSpacing(12);
    warm->addWidget(page::label(this, nullptr, QStringLiteral("Camera lost after:")));
    warm->addWidget(stall_);
    warm->addStretch();
    layout->addLayout(warm);
    auto* largest = new QHBoxLayout;
    largest->addWidget(page::label(this, nullptr, QStringLiteral("Largest picture:")));
    largest->addWidget(maxPixels_);
    largest->addStretch();
    layout->addLayout(largest);
    whenLost_->setToolTip(QStringLiteral("Nothing: the servers keep the last good picture"));
    auto* lost = new QHBoxLayout;
    lost->addWidget(page::label(this, nullptr, QStringLiteral("While the camera is lost, publish:")));
    lost->addWidget(whenLost_);
    lost->addStretch();
    layout->addLayout(lost);

    connect(devices_, &QTreeWidget::itemDoubleClicked, this, &DevicePage::connectDevice);
    connect(devices_, &QTreeWidget::currentItemChanged, this, &DevicePage::updateCameraButtons);
    connect(add_, &QPushButton::clicked, this, [this] { editCamera(true); });
    connect(edit_, &QPushButton::clicked, this, [this] { editCamera(false); });
    connect(remove_, &QPushButton::clicked, this, &DevicePage::removeCamera);
    connect(test_, &QPushButton::clicked, this, &DevicePage::testCamera);
    connect(probe_, &CameraProbe::finished, this, &DevicePage::showTest);
    connect(rate_, &QSlider::valueChanged, this, [this](int v) { rateLabel_->setText(PreviewRateText(v)); });
    connect(&capture_, &CaptureWindow::driverCapsChanged, this, &DevicePage::applyCaps);
    connect(&capture_, &CaptureWindow::lostSinceChanged, this, &DevicePage::markCameraInUse);
    connect(&capture_, &CaptureWindow::devicesChanged, this, &DevicePage::fillDevices);
    fillDevices();
    applyCaps();
}

QAction* DevicePage::button(QToolBar* bar, const char* key, const QString& text, int icon) {
    QAction* action = bar->addAction(style()->standardIcon(QStyle::StandardPixmap(icon)), text);
    action->setObjectName(QLatin1String(key));
    const QString name = action->objectName();
    connect(action, &QAction::triggered, this, [this, bar, name] {
        if (bar == viewMode_)
            chooseMode(name == QLatin1String("overlay"));
        else
            openDriverDialog(name);
    });
    return action;
}

void DevicePage::load(const DeviceValues& values) {
    rate_->setValue(values.previewRate);
    rateLabel_->setText(PreviewRateText(rate_->value()));
    warmUp_->setValue(values.warmUpMs);
    stall_->setValue(values.stallSeconds);
    maxPixels_->setValue(values.maxMegapixels);
    whenLost_->setCurrentIndex(values.whenLost == 1 ? 1 : 0);
}

DeviceValues DevicePage::values() const {
    return {rate_->value(), warmUp_->value(), stall_->value(), maxPixels_->value(),
            whenLost_->currentIndex()};
}

void DevicePage::fillDevices() {
    devices_->clear();
    for (int i = 0; i < capture_.CountDrivers(); ++i)
        devices_->addTopLevelItem(new QTreeWidgetItem(QStringList{capture_.GetDriverName(i)}));
    markCameraInUse();
    updateCameraButtons();
}

void DevicePage::markCameraInUse() {
    const QString inUse = capture_.connected() ? GetSetting(keys::VfwCamera) : QString();
    for (int i = 0; i < devices_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = devices_->topLevelItem(i);
        const bool used = !inUse.isEmpty() && capture_.deviceList().identity(i) == inUse;
        QFont font = devices_->font();
        font.setBold(used);
        item->setFont(0, font);
        item->setIcon(0, used ? style()->standardIcon(QStyle::SP_DialogApplyButton) : QIcon());
        item->setToolTip(0, used ? QStringLiteral("The camera in use") : QString());
        item->setData(0, Qt::AccessibleDescriptionRole, used ? QStringLiteral("in use") : QString());
    }
}

void DevicePage::updateCameraButtons() {
    const int index = devices_->currentItem() ? devices_->indexOfTopLevelItem(devices_->currentItem()) : -1;
    const bool saved = savedCameraIndex() >= 0;
    edit_->setEnabled(saved);
    remove_->setEnabled(saved);
    test_->setEnabled(capture_.deviceList().isNetworkCamera(index));
}

int DevicePage::savedCameraIndex() const {
    const DeviceList& list = capture_.deviceList();
    const int index = devices_->currentItem() ? devices_->indexOfTopLevelItem(devices_->currentItem()) : -1;
    if (!list.isNetworkCamera(index))
        return -1;
    const auto saved = ReadNetworkCameras();
    const auto found = std::find_if(saved.begin(), saved.end(),
                                    [&](const NetworkCamera& c) { return c.url == list.identity(index); });
    return found == saved.end() ? -1 : int(found - saved.begin());
}

void DevicePage::editCamera(bool add) {
    const int at = add ? -1 : savedCameraIndex();
    if (!add && at < 0)
        return;
    const NetworkCamera before = add ? NetworkCamera{} : ReadNetworkCameras()[std::size_t(at)];
    auto* editor = new NetworkCameraEditor(
        before,
        [this, at, before](const NetworkCamera& camera) {
            // Its password may go to the keyring: saved in the background, the list reloaded after.
            SaveInBackground(
                {},
                [at, before, camera] {
                    auto cameras = ReadNetworkCameras();
                    if (at >= 0 && at < int(cameras.size()))
                        cameras[std::size_t(at)] = camera;
                    else
                        cameras.push_back(camera);
                    SaveNetworkCameras(cameras);
                    // The chosen camera stays chosen under its new address.
                    if (at >= 0 && !before.url.isEmpty() && GetSetting(keys::VfwCamera) == before.url)
                        SaveSetting(keys::VfwCamera, camera.url);
                },
                this, [this] { capture_.deviceList().reloadNetworkCameras(); });
        },
        window());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
}

void DevicePage::removeCamera() {
    const int at = savedCameraIndex();
    if (at < 0)
        return;
    const NetworkCamera camera = ReadNetworkCameras()[std::size_t(at)];
    auto* ask = new QMessageBox(QMessageBox::Question, QStringLiteral("Remove Network Camera"),
                                QStringLiteral("Remove the network camera \"%1\" from the list?")
                                    .arg(camera.name.isEmpty() ? PrintableAddress(camera.url) : camera.name),
                                QMessageBox::Yes | QMessageBox::No, window());
    ask->setObjectName(QStringLiteral("RemoveCameraQuestion"));
    ask->setDefaultButton(QMessageBox::No);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    // Removed by its address: the list may have changed while the question was open.
    connect(ask, &QMessageBox::buttonClicked, this, [this, ask, url = camera.url](QAbstractButton* b) {
        if (ask->standardButton(b) != QMessageBox::Yes)
            return;
        // After any save of the list still under way.
        SaveInBackground(
            {},
            [url] {
                auto cameras = ReadNetworkCameras();
                QStringList passwords;
                for (const NetworkCamera& c : cameras)
                    if (c.url == url)
                        passwords << c.password;
                std::erase_if(cameras, [&url](const NetworkCamera& c) { return c.url == url; });
                SaveNetworkCameras(cameras);
                for (const QString& password : passwords) // out of the keyring too, unless still named
                    ForgetUnusedKeyringItem(password);
            },
            this, [this] { capture_.deviceList().reloadNetworkCameras(); });
    });
    ask->open();
}

void DevicePage::testCamera() {
    const int index = devices_->currentItem() ? devices_->indexOfTopLevelItem(devices_->currentItem()) : -1;
    if (!capture_.deviceList().isNetworkCamera(index))
        return;
    testPicture_->clear();
    testResult_->setText(QStringLiteral("Testing %1...").arg(capture_.GetDriverName(index)));
    probe_->start(capture_.deviceList(), index);
}

void DevicePage::showTest(const QImage& picture, const QString& error) {
    if (picture.isNull()) {
        testPicture_->clear();
        testResult_->setText(QStringLiteral("No picture: %1").arg(error));
        return;
    }
    testPicture_->setPixmap(QPixmap::fromImage(picture.scaled(QSize(160, 120), Qt::KeepAspectRatio)));
    testResult_->setText(QStringLiteral("%1 x %2").arg(picture.width()).arg(picture.height()));
}

void DevicePage::applyCaps() {
    const auto enable = [](QToolBar* bar, const char* key, bool on) {
        if (auto* action = bar->findChild<QAction*>(QLatin1String(key)))
            action->setEnabled(on);
    };
    enable(videoSettings_, "videosource", capture_.fHasDlgVideoSource());
    enable(videoSettings_, "videodisplay", capture_.fHasDlgVideoDisplay());
    enable(videoSettings_, "videoformat", capture_.fHasDlgVideoFormat());
    enable(viewMode_, "overlay", capture_.fHasOverlay());
}

void DevicePage::connectDevice() {
    QTreeWidgetItem* item = devices_->currentItem();
    if (!item)
        return;
    capture_.Init_Video(devices_->indexOfTopLevelItem(item));
    markCameraInUse();
}

void DevicePage::chooseMode(bool overlay) {
    if (setOverlay_)
        return setOverlay_(overlay);
    capture_.setOverlayMode(overlay);
    capture_.Resize_Video();
}

void DevicePage::openDriverDialog(const QString& key) {
    QDialog* dialog = nullptr;
    if (key == QLatin1String("videosource"))
        dialog = capture_.ShowSourceDialog(window());
    else if (key == QLatin1String("videodisplay"))
        dialog = capture_.ShowDisplayDialog(window());
    else if (key == QLatin1String("videoformat"))
        dialog = capture_.ShowFormatDialog(window());
    // The picture is refitted to what the dialog changed once it closes.
    if (dialog)
        connect(dialog, &QDialog::finished, this, [this] { capture_.Resize_Video(); });
    else
        capture_.Resize_Video();
}

} // namespace zantrel
