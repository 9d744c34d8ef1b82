#include "settings/alerts_page.h"

#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "health/alert_delivery.h"
#include "health/desktop_notice.h"
#include "secrets/background_saves.h"
#include "settings/page_widgets.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QUrl>
#include <QVariantMap>

namespace zantrel {

namespace {

enum { Hook, Mail, Desktop };

HealthEvent testEvent() {
    const QDateTime now = QDateTime::currentDateTime();
    return {QStringLiteral("test"),
            QStringLiteral("test"),
            {},
            now,
            now,
            QStringLiteral("A test alert: alerts reach you this way")};
}

QWidget* withButton(QWidget* parent, QWidget* field, QPushButton* button) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    layout->addWidget(button);
    return row;
}

} // namespace

AlertsPage::AlertsPage(QWidget* parent)
    : QWidget(parent), after_(page::number(this, "AlertAfter",
                                           QStringLiteral("Alert after failed updates in a row"), 1, 1000)),
      stale_(page::number(this, "AlertStale", QStringLiteral("Alert when nothing was published for minutes"),
                          0, 100000)),
      url_(page::field(
          this, "AlertUrl", QStringLiteral("Hook address"),
          QStringLiteral("http:// or https://; receives a JSON POST (ntfy, Home Assistant, chat hooks)"))),
      mailTo_(page::field(this, "AlertMailTo", QStringLiteral("Mail to"))),
      smtp_(page::field(this, "AlertSmtp", QStringLiteral("Mail server"),
                        QStringLiteral("smtps://host:465, or smtp://host:587 with STARTTLS"))),
      login_(page::field(this, "AlertSmtpLogin", QStringLiteral("Mail login"))),
      password_(page::field(this, "AlertSmtpPassword", QStringLiteral("Mail password"))),
      pin_(page::field(this, "AlertSmtpPin", QStringLiteral("Mail server pin"),
                       QStringLiteral("sha256//...: trust exactly this key (a self-signed server)"))),
      desktop_(page::check(this, "AlertDesktop", QStringLiteral("Show alerts on the desktop"))),
      outcome_(page::label(this, "AlertOutcome", {}, true)) {
    setObjectName(QStringLiteral("AlertsPage"));
    stale_->setSpecialValueText(QStringLiteral("three update intervals"));
    password_->setEchoMode(QLineEdit::Password);
    const char* names[] = {"AlertTestHook", "AlertTestMail", "AlertTestDesktop"};
    const QString captions[] = {QStringLiteral("Send a test to the hook"), QStringLiteral("Send a test mail"),
                                QStringLiteral("Show a test on the desktop")};
    for (int k = 0; k < 3; ++k) {
        tests_[k] = new QPushButton(QStringLiteral("Send test"), this);
        tests_[k]->setObjectName(QLatin1String(names[k]));
        tests_[k]->setAccessibleName(captions[k]);
        connect(tests_[k], &QPushButton::clicked, this, [this, k] { sendTest(k); });
    }
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Alert after failed updates"), after_);
    form->addRow(QStringLiteral("Or nothing published for (min)"), stale_);
    form->addRow(QStringLiteral("Hook address"), withButton(this, url_, tests_[Hook]));
    form->addRow(QStringLiteral("Mail to"), withButton(this, mailTo_, tests_[Mail]));
    form->addRow(QStringLiteral("Mail server"), smtp_);
    form->addRow(QStringLiteral("Mail login"), login_);
    form->addRow(QStringLiteral("Mail password"), password_);
    form->addRow(QStringLiteral("Mail server pin"), pin_);
    form->addRow(withButton(this, desktop_, tests_[Desktop]));
    form->addRow(outcome_);
    for (QLineEdit* edit : {url_, mailTo_, smtp_, pin_})
        connect(edit, &QLineEdit::textChanged, this, &AlertsPage::showProblem);
}

void AlertsPage::load() {
    after_->setValue(ReadInt32(keys::AlertAfter));
    stale_->setValue(ReadInt32(keys::AlertStale));
    url_->setText(GetSetting(keys::AlertUrl));
    mailTo_->setText(GetSetting(keys::AlertMailTo));
    smtp_->setText(GetSetting(keys::AlertSmtp));
    login_->setText(GetSetting(keys::AlertSmtpLogin));
    password_->setText(GetSetting(keys::AlertSmtpPassword));
    pin_->setText(GetSetting(keys::AlertSmtpPin));
    desktop_->setChecked(ReadFlag(keys::AlertDesktop));
    showProblem();
}

void AlertsPage::store() const {
    SaveSetting(keys::AlertAfter, QString::number(after_->value()));
    SaveSetting(keys::AlertStale, QString::number(stale_->value()));
    SaveSetting(keys::AlertUrl, url_->text().trimmed());
    SaveSetting(keys::AlertMailTo, mailTo_->text().trimmed());
    SaveSetting(keys::AlertSmtp, smtp_->text().trimmed());
    SaveSetting(keys::AlertSmtpLogin, login_->text());
    if (password_->text() != GetSetting(keys::AlertSmtpPassword)) // may go to the keyring: not waited for
        SavePasswordInBackground(QString::fromLatin1(keys::AlertSmtpPassword.section),
                                 QString::fromLatin1(keys::AlertSmtpPassword.key), password_->text());
    SaveSetting(keys::AlertSmtpPin, pin_->text().trimmed());
    SaveSetting(keys::AlertDesktop, desktop_->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

QString AlertsPage::problem() const {
    if (!url_->text().trimmed().isEmpty())
        if (const QString p = WebhookProblem(url_->text()); !p.isEmpty())
            return p;
    if (!mailTo_->text().trimmed().isEmpty() || !smtp_->text().trimmed().isEmpty())
        return MailProblem(
            {mailTo_->text().trimmed(), smtp_->text().trimmed(), {}, {}, {}, pin_->text().trimmed()});
    return {};
}

void AlertsPage::showProblem() {
    outcome_->setText(problem());
}

void AlertsPage::sendTest(int kind) {
    const HealthEvent event = testEvent();
    if (kind == Desktop) {
        outcome_->setText(QStringLiteral("Showing..."));
        ShowDesktopNotice(applicationTitle(), event.message, false, this, [this](const QString& error) {
            outcome_->setText(error.isEmpty() ? QStringLiteral("Test shown")
                                              : QStringLiteral("Not shown: ") + error);
            Q_EMIT testFinished();
        });
        return;
    }
    const QString url = url_->text();
    MailSettings mail{
        mailTo_->text().trimmed(), smtp_->text().trimmed(), login_->text(), password_->text(), {},
        pin_->text().trimmed()};
    // The field shows a stored password as stored (a keyring marker, say): the test uses the password.
    const SecretPlace place{QString::fromLatin1(keys::AlertSmtpPassword.section),
                            QString::fromLatin1(keys::AlertSmtpPassword.key), QUrl(mail.server).host(),
                            mail.login};
    outcome_->setText(QStringLiteral("Sending..."));
    tests_[kind]->setEnabled(false);
    // On the pool, which the application waits for at exit: closing the dialog never waits for a server.
    QThreadPool::globalInstance()->start(
        [kind, url, mail, place, event, self = QPointer<AlertsPage>(this)]() mutable {
            if (kind != Hook) {
                const SecretLookup password = ResolveSecret(mail.password, place);
                mail.password = password.value;
                mail.passwordRefusal = password.refusal;
            }
            const DeliveryResult r =
                kind == Hook ? PostAlert(url, AlertJson(event)) : SendAlertMail(mail, event, QByteArray());
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self = std::move(self), kind, r] {
                    if (!self)
                        return;
                    self->outcome_->setText(r.ok ? QStringLiteral("Test sent")
                                                 : QStringLiteral("Not sent: ") + r.error);
                    self->tests_[kind]->setEnabled(true);
                    Q_EMIT self->testFinished();
                },
                Qt::QueuedConnection);
        });
}

} // namespace zantrel
