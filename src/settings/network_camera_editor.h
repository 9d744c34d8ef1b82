#pragma once

#include "capture/network_camera.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;

namespace zantrel {

// The dialog for one network camera: name, address, login and password. OK hands the camera to done
// once its address is usable; otherwise the dialog stays open and says why.
class NetworkCameraEditor : public QDialog {
    Q_OBJECT
  public:
    NetworkCameraEditor(const NetworkCamera& camera, std::function<void(const NetworkCamera&)> done,
                        QWidget* parent = nullptr);

    void accept() override;

  private:
    std::function<void(const NetworkCamera&)> done_;
    QLineEdit* name_;
    QLineEdit* url_;
    QLineEdit* login_;
    QLineEdit* password_;
    QLabel* problem_;
};

} // namespace zantrel
