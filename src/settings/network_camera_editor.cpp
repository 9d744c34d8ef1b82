#include "settings/network_camera_editor.h"

#include "settings/page_widgets.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

namespace zantrel {

NetworkCameraEditor::NetworkCameraEditor(const NetworkCamera& camera,
                                         std::function<void(const NetworkCamera&)> done, QWidget* parent)
    : QDialog(parent), done_(std::move(done)), name_(page::field(this, "CameraName", QStringLiteral("Name"))),
      url_(page::field(this, "CameraUrl", QStringLiteral("Address"),
                       QStringLiteral("rtsp://host/path, or an http(s):// address of an MJPEG stream or a "
                                      "JPEG snapshot"))),
      login_(page::field(this, "CameraLogin", QStringLiteral("Login"))),
      password_(page::field(this, "CameraPassword", QStringLiteral("Password"))),
      problem_(page::label(this, "CameraProblem", {}, true)) {
    setObjectName(QStringLiteral("NetworkCameraEditor"));
    setWindowTitle(QStringLiteral("Network Camera"));
    setWindowModality(Qt::WindowModal);
    name_->setText(camera.name);
    url_->setText(camera.url);
    login_->setText(camera.login);
    password_->setText(camera.password);
    password_->setEchoMode(QLineEdit::Password);
    // Wide enough for a camera's whole address, and so for the title.
    url_->setMinimumWidth(url_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 46);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true); // Return in any field presses it
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Name:"), name_);
    form->addRow(QStringLiteral("Address:"), url_);
    form->addRow(QStringLiteral("Login:"), login_);
    form->addRow(QStringLiteral("Password:"), password_);
    form->addRow(problem_);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkCameraEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetworkCameraEditor::reject);
}

void NetworkCameraEditor::accept() {
    const NetworkCamera camera{name_->text().trimmed(), url_->text().trimmed(), login_->text(),
                               password_->text()};
    // The address is checked without the password, which may be in the keyring: that is looked up
    // when the camera opens.
    const QString error = ParseCameraAddress({camera.name, camera.url, camera.login, {}}).error;
    if (!error.isEmpty()) {
        problem_->setText(error.left(1).toUpper() + error.mid(1) + QLatin1Char('.'));
        return;
    }
    if (done_)
        done_(camera);
    QDialog::accept();
}

} // namespace zantrel
