#include "settings/live_view_page.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "liveview/live_view.h"
#include "settings/page_widgets.h"

#include <QFormLayout>
#include <QHostAddress>
#include <QSpinBox>

namespace zantrel {

LiveViewPage::LiveViewPage(QWidget* parent)
    : QWidget(parent),
      enable_(page::check(this, "HttpEnable", QStringLiteral("Serve a live view over HTTP"))),
      bind_(page::field(this, "HttpBind", QStringLiteral("Address"),
                        QStringLiteral("127.0.0.1: this computer only; 0.0.0.0: every network it is on"))),
      port_(page::number(this, "HttpPort", QStringLiteral("Port"), 1, 65535)),
      clients_(page::number(this, "HttpClients", QStringLiteral("Live viewers at most"), 0, 100)),
      user_(page::field(this, "HttpUser", QStringLiteral("User"))),
      password_(page::field(this, "HttpPassword", QStringLiteral("Password"))),
      cert_(page::field(this, "HttpCert", QStringLiteral("Certificate file"),
                        QStringLiteral("PEM; with a key file the live view uses HTTPS"))),
      key_(page::field(this, "HttpKey", QStringLiteral("Key file"))),
      addresses_(page::label(this, "HttpAddresses", {}, true)),
      warning_(page::label(this, "HttpOpenWarning",
                           QStringLiteral("Anyone on the network can watch: set a user and a password."),
                           true)) {
    password_->setEchoMode(QLineEdit::Password);
    addresses_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* form = new QFormLayout(this);
    form->addRow(enable_);
    form->addRow(QStringLiteral("Address"), bind_);
    form->addRow(QStringLiteral("Port"), port_);
    form->addRow(QStringLiteral("Live viewers at most"), clients_);
    form->addRow(QStringLiteral("User"), user_);
    form->addRow(QStringLiteral("Password"), password_);
    form->addRow(QStringLiteral("Certificate file"), cert_);
    form->addRow(QStringLiteral("Key file"), key_);
    form->addRow(addresses_);
    form->addRow(warning_);
    for (QLineEdit* edit : {bind_, user_, password_, cert_, key_})
        connect(edit, &QLineEdit::textChanged, this, &LiveViewPage::showAddresses);
    connect(port_, &QSpinBox::valueChanged, this, &LiveViewPage::showAddresses);
    connect(enable_, &QCheckBox::toggled, this, &LiveViewPage::showAddresses);
}

void LiveViewPage::load() {
    enable_->setChecked(ReadFlag(keys::HttpEnable));
    bind_->setText(GetSetting(keys::HttpBind));
    port_->setValue(ReadInt32(keys::HttpPort));
    clients_->setValue(ReadInt32(keys::HttpClients));
    user_->setText(GetSetting(keys::HttpUser));
    password_->setText(GetSetting(keys::HttpPassword));
    cert_->setText(GetSetting(keys::HttpCert));
    key_->setText(GetSetting(keys::HttpKey));
    showAddresses();
}

void LiveViewPage::store() const {
    SaveSetting(keys::HttpEnable, enable_->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    SaveSetting(keys::HttpBind, bind_->text().trimmed());
    SaveSetting(keys::HttpPort, QString::number(port_->value()));
    SaveSetting(keys::HttpClients, QString::number(clients_->value()));
    SaveSetting(keys::HttpUser, user_->text());
    SaveSetting(keys::HttpPassword, password_->text());
    SaveSetting(keys::HttpCert, cert_->text().trimmed());
    SaveSetting(keys::HttpKey, key_->text().trimmed());
}

void LiveViewPage::showAddresses() {
    const bool tls = !cert_->text().trimmed().isEmpty() && !key_->text().trimmed().isEmpty();
    const QStringList urls = LiveViewAddresses(bind_->text(), port_->value(), tls);
    addresses_->setText(QStringLiteral("Open: ") + urls.join(QStringLiteral("  ")));
    addresses_->setVisible(enable_->isChecked());
    const QHostAddress bind(bind_->text().trimmed());
    const bool loopback = bind.isLoopback() || bind_->text().trimmed() == QStringLiteral("localhost");
    warning_->setVisible(enable_->isChecked() && !loopback && user_->text().isEmpty() &&
                         password_->text().isEmpty());
}

} // namespace zantrel
