#include "mqtt/mqtt_settings.h"

#include "core/instance.h"
#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QSysInfo>
#include <QUrl>

namespace zantrel {

namespace {

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

bool hasControl(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control)
            return true;
    return false;
}

// One topic level from a name: no separators, wildcards or controls.
QString level(const QString& name) {
    QString out;
    for (const QChar c : name)
        out += c == QLatin1Char('/') || c == QLatin1Char('#') || c == QLatin1Char('+') ||
                       c.category() == QChar::Other_Control || c.isSpace()
                   ? QLatin1Char('_')
                   : c;
    return out.isEmpty() ? QStringLiteral("_") : out;
}

} // namespace

QString DefaultMqttTopic() {
    return QStringLiteral("webcam-zantrel/") + level(QSysInfo::machineHostName()) + QLatin1Char('/') +
           level(InstanceName().isEmpty() ? QStringLiteral("default") : InstanceName());
}

BrokerAddress ParseBrokerUrl(const QString& url, QString* problem) {
    const QString text = url.trimmed();
    const QUrl u(text, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    BrokerAddress b;
    b.tls = scheme == QLatin1String("mqtts");
    const auto refuse = [&](const QString& why) {
        if (problem)
            *problem = why;
        return BrokerAddress{};
    };
    if (!u.isValid() || (scheme != QLatin1String("mqtt") && !b.tls) || hasControl(text))
        return refuse(
            QStringLiteral("The MQTT broker's address must be mqtt://host[:port] or mqtts://host[:port]"));
    if (u.host().isEmpty())
        return refuse(QStringLiteral("The MQTT broker's address names no host"));
    if (!u.userInfo().isEmpty())
        return refuse(QStringLiteral("The MQTT broker's address must not hold a login: use the login and "
                                     "password fields"));
    if ((!u.path().isEmpty() && u.path() != QLatin1String("/")) || u.hasQuery() || u.hasFragment())
        return refuse(QStringLiteral("The MQTT broker's address must end after the port"));
    b.host = u.host();
    b.port = u.port(b.tls ? 8883 : 1883);
    if (b.port < 1 || b.port > 65535)
        return refuse(QStringLiteral("The MQTT broker's port must be 1 to 65535"));
    if (problem)
        problem->clear();
    return b;
}

QString TopicProblem(const QString& topic) {
    if (topic.contains(QLatin1Char('#')) || topic.contains(QLatin1Char('+')))
        return QStringLiteral("The MQTT topic must not hold the wildcards # or +");
    if (topic.startsWith(QLatin1Char('$')))
        return QStringLiteral("The MQTT topic must not start with $ (the broker's own topics)");
    if (hasControl(topic) || topic.contains(QChar(0xfffd)))
        return QStringLiteral("The MQTT topic must not hold control characters");
    if (topic.isEmpty() || topic.toUtf8().size() > 200)
        return QStringLiteral("The MQTT topic must be 1 to 200 bytes long");
    return {};
}

QString MqttSettings::baseTopic() const {
    QString t = topic.trimmed();
    while (t.endsWith(QLatin1Char('/')))
        t.chop(1);
    return t.isEmpty() ? DefaultMqttTopic() : t;
}

MqttSettings ReadMqttSettings() {
    MqttSettings s;
    s.url = GetSetting(keys::MqttUrl);
    s.login = GetSetting(keys::MqttLogin);
    s.password = GetSetting(keys::MqttPassword);
    s.topic = GetSetting(keys::MqttTopic);
    s.caFile = GetSetting(keys::MqttCaFile).trimmed();
    s.discovery = ReadFlag(keys::MqttDiscovery);
    s.image = ReadFlag(keys::MqttImage);
    s.commands = ReadFlag(keys::MqttCommands);
    return s;
}

void StoreMqttSettings(const MqttSettings& s) {
    SaveSetting(keys::MqttUrl, s.url.trimmed());
    SaveSetting(keys::MqttLogin, s.login);
    SaveSetting(keys::MqttPassword, s.password);
    SaveSetting(keys::MqttTopic, s.topic.trimmed());
    SaveSetting(keys::MqttCaFile, s.caFile.trimmed());
    SaveSetting(keys::MqttDiscovery, flag(s.discovery));
    SaveSetting(keys::MqttImage, flag(s.image));
    SaveSetting(keys::MqttCommands, flag(s.commands));
}

QString MqttSettingsProblem(const MqttSettings& s) {
    if (!s.on())
        return {};
    QString problem;
    ParseBrokerUrl(s.url, &problem);
    if (problem.isEmpty())
        problem = TopicProblem(s.baseTopic());
    if (problem.isEmpty() && hasControl(s.login))
        problem = QStringLiteral("The MQTT login must not hold control characters");
    return problem;
}

BrokerLogin ResolveBrokerLogin(const MqttSettings& s, QString* refusal) {
    BrokerLogin b;
    b.broker = ParseBrokerUrl(s.url, nullptr);
    b.login = s.login;
    b.caFile = s.caFile;
    const SecretLookup password =
        ResolveSecret(s.password, {QString::fromLatin1(keys::MqttPassword.section),
                                   QString::fromLatin1(keys::MqttPassword.key), b.broker.host, s.login});
    b.password = password.value;
    if (refusal)
        *refusal = password.refusal;
    return b;
}

} // namespace zantrel
