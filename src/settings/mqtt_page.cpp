#include "settings/mqtt_page.h"

#include "core/version.h"
#include "health/alert_delivery.h"
#include "mqtt/discovery.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_settings.h"
#include "settings/page_widgets.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

namespace zantrel {

MqttPage::MqttPage(QWidget* parent)
    : QWidget(parent),
      url_(page::field(this, "MqttUrl", QStringLiteral("Broker address"),
                       QStringLiteral("mqtt://host[:1883] or mqtts://host[:8883]; empty: MQTT off"))),
      login_(page::field(this, "MqttLogin", QStringLiteral("Broker login"))),
      password_(page::field(this, "MqttPassword", QStringLiteral("Broker password"))),
      topic_(page::field(this, "MqttTopic", QStringLiteral("Topic"),
                         QStringLiteral("Everything goes under it; no # or +"))),
      caFile_(page::field(this, "MqttCaFile", QStringLiteral("CA file"),
                          QStringLiteral("PEM: the broker's certificate is checked against it (mqtts://); "
                                         "empty: the system's store"))),
      discovery_(page::check(this, "MqttDiscovery", QStringLiteral("Home Assistant discovery"))),
      image_(page::check(this, "MqttImage", QStringLiteral("Publish each picture"))),
      commands_(page::check(this, "MqttCommands", QStringLiteral("Take commands (Publish now, Run, Stop)"),
                            QStringLiteral("From TOPIC/set, sent with the broker login only"))),
      test_(new QPushButton(QStringLiteral("Send test"), this)),
      outcome_(page::label(this, "MqttOutcome", {}, true)) {
    setObjectName(QStringLiteral("MqttPage"));
    password_->setEchoMode(QLineEdit::Password);
    topic_->setPlaceholderText(DefaultMqttTopic());
    test_->setObjectName(QStringLiteral("MqttTest"));
    test_->setAccessibleName(QStringLiteral("Send a test to the broker"));
    outcome_->setAccessibleName(QStringLiteral("MQTT outcome"));
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->addWidget(url_, 1);
    rowLayout->addWidget(test_);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Broker address"), row);
    form->addRow(QStringLiteral("Login"), login_);
    form->addRow(QStringLiteral("Password"), password_);
    form->addRow(QStringLiteral("CA file"), caFile_);
    form->addRow(QStringLiteral("Topic"), topic_);
    form->addRow(discovery_);
    form->addRow(image_);
    form->addRow(commands_);
    form->addRow(outcome_);
    for (QLineEdit* edit : {url_, topic_, login_})
        connect(edit, &QLineEdit::textChanged, this, &MqttPage::showProblem);
    connect(test_, &QPushButton::clicked, this, &MqttPage::sendTest);
}

MqttSettings MqttPage::values() const {
    MqttSettings s;
    s.url = url_->text().trimmed();
    s.login = login_->text();
    s.password = password_->text();
    s.topic = topic_->text().trimmed();
    s.caFile = caFile_->text().trimmed();
    s.discovery = discovery_->isChecked();
    s.image = image_->isChecked();
    s.commands = commands_->isChecked();
    return s;
}

void MqttPage::load() {
    const MqttSettings s = ReadMqttSettings();
    url_->setText(s.url);
    login_->setText(s.login);
    password_->setText(s.password);
    topic_->setText(s.topic);
    caFile_->setText(s.caFile);
    discovery_->setChecked(s.discovery);
    image_->setChecked(s.image);
    commands_->setChecked(s.commands);
    showProblem();
}

void MqttPage::store() const {
    StoreMqttSettings(values());
}

QString MqttPage::problem() const {
    return MqttSettingsProblem(values());
}

void MqttPage::showProblem() {
    outcome_->setText(problem());
}

void MqttPage::sendTest() {
    const MqttSettings s = values();
    QString problem = s.on() ? MqttSettingsProblem(s) : QStringLiteral("No broker address");
    if (!problem.isEmpty()) {
        outcome_->setText(QStringLiteral("Not sent: ") + problem);
        return Q_EMIT testFinished();
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray body = AlertJson({QStringLiteral("test"),
                                       QStringLiteral("test"),
                                       {},
                                       now,
                                       now,
                                       QStringLiteral("A test: the broker gets what the program publishes")});
    outcome_->setText(QStringLiteral("Sending..."));
    test_->setEnabled(false);
    // On the pool, which the application waits for at exit: closing the dialog never waits for a broker.
    QThreadPool::globalInstance()->start([s, body, self = QPointer<MqttPage>(this)]() mutable {
        QString refusal;
        const BrokerLogin login = ResolveBrokerLogin(s, &refusal);
        const MqttSendResult r =
            MqttSendOnce(login, (s.baseTopic() + QLatin1String(mqtt_topic::kEvent)).toUtf8(), body);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = std::move(self), r, refusal] {
                if (!self)
                    return;
                self->outcome_->setText(r.ok ? QStringLiteral("Test sent")
                                             : QStringLiteral("Not sent: ") + r.error +
                                                   (refusal.isEmpty()
                                                        ? QString()
                                                        : QStringLiteral(" (") + refusal + QLatin1Char(')')));
                self->test_->setEnabled(true);
                Q_EMIT self->testFinished();
            },
            Qt::QueuedConnection);
    });
}

} // namespace zantrel
