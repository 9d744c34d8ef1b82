#include "shell/password_prompt.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "secrets/lock_password.h"
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

    // Pressing Enter in a box that was never touched is a refusal.
    connect(passw_, &QLineEdit::textChanged, this, [this] { touched_ = true; });
}

void frmPassword::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // The stored value is a slow hash: judged once, at Enter.
        const LockCheck check = touched_ ? CheckStoredLockPassword(passw_->text()) : LockCheck::Refused;
        accepted_ = check == LockCheck::Accepted;
        if (!accepted_) {
            // Over the prompt's parent, which stays when the prompt closes.
            auto* box = new QMessageBox(QMessageBox::Critical, applicationTitle(),
                                        check == LockCheck::Damaged ? DamagedLockPasswordText()
                                                                    : QStringLiteral("Incorrect Password."),
                                        QMessageBox::Ok, parentWidget());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        done(accepted_ ? Accepted : Rejected);
        return;
    }
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
