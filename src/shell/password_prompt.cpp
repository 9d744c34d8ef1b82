#include "shell/password_prompt.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "shell/drag_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

namespace zantrel {

frmPassword::frmPassword(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPassword"));
    setWindowTitle(applicationTitle());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFixedSize(267, 76);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Enter password to continue:"), this);
    label->setObjectName(QStringLiteral("Label1"));
    passw_ = new QLineEdit(this);
    passw_->setObjectName(QStringLiteral("Passw"));
    passw_->setEchoMode(QLineEdit::Password);
    layout->addWidget(label);
    layout->addWidget(passw_);

    WindowDrag::attach(this, this, Qt::AllButtons);

    // Judged at every change: pressing Enter in a box that was never touched is a refusal.
    connect(passw_, &QLineEdit::textChanged, this,
            [this](const QString& text) { accepted_ = text == GetSetting(keys::PrefPassword); });
}

void frmPassword::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!accepted_) {
            // Over the prompt's parent, which stays when the prompt closes.
            auto* box =
                new QMessageBox(QMessageBox::Critical, applicationTitle(),
                                QStringLiteral("Incorrect Password."), QMessageBox::Ok, parentWidget());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        done(accepted_ ? Accepted : Rejected);
        return;
    case Qt::Key_Escape:
        accepted_ = false;
        done(Rejected);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void frmPassword::Ask(QWidget* parent, std::function<void()> onAccepted) {
    auto* prompt = new frmPassword(parent);
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    // Closed any other way than by Enter (the window manager's close, for instance): a refusal.
    connect(prompt, &QDialog::finished, prompt, [prompt, onAccepted = std::move(onAccepted)](int result) {
        if (result == Accepted && prompt->PasswordAccepted())
            onAccepted();
    });
    prompt->open();
}

bool PasswordRequired() {
    return ReadNumber(keys::PrefUsePassword) == 1.0;
}

} // namespace zantrel
