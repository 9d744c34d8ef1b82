#include "settings/live_view_page.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "liveview/live_view.h"
#include "liveview/tls_files.h"
#include "secrets/background_saves.h"
#include "settings/page_widgets.h"

#include <QFormLayout>
#include <QHostAddress>
#include <QPromise>
#include <QSpinBox>
#include <QThreadPool>
#include <memory>

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
      key_(page::field(this, "HttpKey", QStringLiteral("Key file"),
                       QStringLiteral("PEM; readable by you alone (chmod 600)"))),
      hosts_(
          page::field(this, "HttpHosts", QStringLiteral("Host names"),
                      QStringLiteral("Without a login, names the live view answers besides its addresses and "
                                     "this computer's names (commas between them)"))),
      addresses_(page::label(this, "HttpAddresses", {}, true)),
      warning_(page::label(this, "HttpOpenWarning",
                           QStringLiteral("Anyone on the network can watch: set a user and a password."),
                           true)),
      problem_(page::label(this, "HttpProblem", {}, true)) {
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
    form->addRow(QStringLiteral("Host names"), hosts_);
    form->addRow(addresses_);
    form->addRow(warning_);
    form->addRow(problem_);
    problem_->setAccessibleName(QStringLiteral("Why the live view does not run"));
    problem_->setStyleSheet(QStringLiteral("color: #b00000"));
    problem_->hide();
    for (QLineEdit* edit : {bind_, user_, password_, cert_, key_})
        connect(edit, &QLineEdit::textChanged, this, &LiveViewPage::showAddresses);
    for (QLineEdit* edit : {cert_, key_})
        connect(edit, &QLineEdit::textChanged, this, &LiveViewPage::checkFiles);
    connect(port_, &QSpinBox::valueChanged, this, &LiveViewPage::showAddresses);
    connect(enable_, &QCheckBox::toggled, this, &LiveViewPage::showAddresses);
    connect(enable_, &QCheckBox::toggled, this, &LiveViewPage::showProblem);
    connect(&filesCheck_, &QFutureWatcher<QString>::finished, this, [this] {
        if (filesCheck_.future().resultCount() > 0) {
            filesProblem_ = filesCheck_.result();
            showProblem();
        }
    });
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
    hosts_->setText(GetSetting(keys::HttpHosts));
    showAddresses();
    checkFiles();
}

void LiveViewPage::store() const {
    SaveSetting(keys::HttpEnable, enable_->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    SaveSetting(keys::HttpBind, bind_->text().trimmed());
    SaveSetting(keys::HttpPort, QString::number(port_->value()));
    SaveSetting(keys::HttpClients, QString::number(clients_->value()));
    SaveSetting(keys::HttpUser, user_->text());
    if (password_->text() != GetSetting(keys::HttpPassword)) // may go to the keyring: not waited for here
        SavePasswordInBackground(QString::fromLatin1(keys::HttpPassword.section),
                                 QString::fromLatin1(keys::HttpPassword.key), password_->text());
    SaveSetting(keys::HttpCert, cert_->text().trimmed());
    SaveSetting(keys::HttpKey, key_->text().trimmed());
    SaveSetting(keys::HttpHosts, hosts_->text().trimmed());
}

void LiveViewPage::checkFiles() {
    const QString cert = cert_->text().trimmed(), key = key_->text().trimmed();
    if (cert.isEmpty() && key.isEmpty()) {
        filesCheck_.setFuture(QFuture<QString>()); // an answer still on its way is dropped
        filesProblem_.clear();
        showProblem();
        return;
    }
    // Read away from the UI thread: a file may sit on a slow disk or a hung network mount.
    auto promise = std::make_shared<QPromise<QString>>();
    filesCheck_.setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, cert, key] {
        promise->addResult(ReadTlsFiles(cert, key).problem);
        promise->finish();
    });
}

void LiveViewPage::showProblem() {
    // What the files as written now would do first; else why the running live view does not run.
    const QString problem = filesProblem_.isEmpty() ? LiveViewProblem() : filesProblem_;
    problem_->setText(problem);
    problem_->setVisible(enable_->isChecked() && !problem.isEmpty());
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
