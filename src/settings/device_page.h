#pragma once

#include "settings/settings_form.h"

#include <QWidget>
#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolBar;
class QTreeWidget;

namespace zantrel {

class CameraProbe;
class CaptureWindow;
struct NetworkCamera;

// Switches the live video mode (overlay when true) and applies it at once.
using OverlaySwitch = std::function<void(bool overlay)>;

// The "Device" page: the camera list (double click connects one), the saved network cameras added,
// edited, removed and tried there, the live video mode, the camera's own dialogs and the preview frame
// rate, and what a job publishes while the camera is lost. Mode, camera, format and the network cameras
// change at once, not at OK. Without an overlay switch the mode is set on the capture window itself.
class DevicePage : public QWidget {
    Q_OBJECT
  public:
    DevicePage(CaptureWindow& capture, OverlaySwitch setOverlay, QWidget* parent = nullptr);

    void load(const DeviceValues& values);
    DeviceValues values() const;

  private:
    void fillDevices();
    void updateCameraButtons();
    // The camera in use stands out in the list: bold, ticked, with a tip that says so.
    void markCameraInUse();
    // The saved network camera of the current item, -1 for another item.
    int savedCameraIndex() const;
    void editCamera(bool add);
    void removeCamera();
    void testCamera();
    void showTest(const QImage& picture, const QString& error);
    void applyCaps();
    void connectDevice();
    void chooseMode(bool overlay);
    void openDriverDialog(const QString& key);
    QAction* button(QToolBar* bar, const char* key, const QString& text, int icon);

    CaptureWindow& capture_;
    OverlaySwitch setOverlay_;
    QTreeWidget* devices_;
    QToolBar* viewMode_;
    QToolBar* videoSettings_;
    QSlider* rate_;
    QLabel* rateLabel_;
    QSpinBox* warmUp_;
    QSpinBox* stall_;
    QSpinBox* maxPixels_;
    QComboBox* whenLost_;
    QPushButton* add_;
    QPushButton* edit_;
    QPushButton* remove_;
    QPushButton* test_;
    QLabel* testPicture_;
    QLabel* testResult_;
    CameraProbe* probe_;
};

} // namespace zantrel
