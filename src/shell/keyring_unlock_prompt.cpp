#include "shell/keyring_unlock_prompt.h"

#include "core/sinks.h"
#include "core/version.h"
#include "secrets/keyring.h"
#include "secrets/secret_resolver.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

namespace zantrel {

QString KeyringUnlockOffer::jobEnded(const QStringList& reasons) {
    QStringList locked;
    for (const QString& reason : reasons)
        if (IsLockedKeyringRefusal(reason))
            locked << reason;
    if (locked.isEmpty()) {
        asked_ = false;
        return {};
    }
    if (asked_)
        return {};
    asked_ = true;
    locked.front()[0] = locked.front()[0].toUpper();
    return locked.join(QStringLiteral(";\n")) +
           QStringLiteral(".\n\nUnlock the keyring? Until then the servers that need it fail.");
}

KeyringUnlockPrompt::KeyringUnlockPrompt(QWidget* window, StatusSink& status)
    : window_(window), status_(status) {}

KeyringUnlockPrompt::~KeyringUnlockPrompt() {
    if (running_)
        running_->cancel();
}

void KeyringUnlockPrompt::jobEnded(const QStringList& reasons) {
    const QString question = offer_.jobEnded(reasons);
    if (question.isEmpty())
        return;
    auto* box =
        new QMessageBox(QMessageBox::Question, applicationTitle(), question, QMessageBox::NoButton, window_);
    box->setObjectName(QStringLiteral("UnlockKeyringQuestion"));
    box->setAccessibleName(QStringLiteral("Unlock the keyring"));
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* yes = box->addButton(QStringLiteral("Unlock..."), QMessageBox::AcceptRole);
    yes->setObjectName(QStringLiteral("UnlockKeyring"));
    yes->setAccessibleName(QStringLiteral("Unlock the keyring"));
    QPushButton* no = box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    no->setObjectName(QStringLiteral("KeepKeyringLocked"));
    no->setAccessibleName(QStringLiteral("Not now"));
    box->setDefaultButton(yes);
    connect(yes, &QPushButton::clicked, this, &KeyringUnlockPrompt::unlock);
    box->show();
}

void KeyringUnlockPrompt::unlock() {
    if (running_)
        return; // its prompt is open
    running_ = std::make_shared<KeyringUnlock>();
    status_.setStatus(QStringLiteral("Unlocking the keyring..."));
    QThreadPool::globalInstance()->start([attempt = running_, self = QPointer<KeyringUnlockPrompt>(this)] {
        const KeyringAnswer answer = attempt->run();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, answer] {
                if (!self)
                    return;
                self->running_.reset();
                const bool done = answer.state == KeyringAnswer::State::Done;
                self->status_.setStatus(done ? QStringLiteral("Keyring unlocked.")
                                        : answer.state == KeyringAnswer::State::Locked
                                            ? QStringLiteral("Error:The keyring stays locked")
                                            : QStringLiteral("Error:The keyring was not unlocked: ") +
                                                  answer.error);
                Q_EMIT self->unlockEnded(done);
            },
            Qt::QueuedConnection);
    });
}

} // namespace zantrel
