#pragma once

#include <QString>

namespace zantrel {

// webcam-zantrel/HOST/INSTANCE, with every character a topic level cannot hold replaced by "_".
QString DefaultMqttTopic();

struct BrokerAddress {
    QString host;
    int port = 1883;
    bool tls = false;
    friend bool operator==(const BrokerAddress&, const BrokerAddress&) = default;
};

// mqtt://host[:port] or mqtts://host[:port] (1883 and 8883 by default); anything else, a login or a
// path in the address included, is refused with the reason in problem.
BrokerAddress ParseBrokerUrl(const QString& url, QString* problem);
// Why the topic cannot be published under (empty when it can): wildcards, a "$" at its start, control
// characters, an empty or overlong topic.
QString TopicProblem(const QString& topic);

// The [MQTT] settings as stored (the password as the file holds it: maybe a keyring or credential
// reference).
struct MqttSettings {
    QString url;
    QString login;
    QString password;
    QString topic; // as written; "" for the default
    QString caFile;
    bool discovery = true;
    bool image = true;
    bool commands = false;
    bool on() const { return !url.trimmed().isEmpty(); }
    // The topic everything goes under: TOPIC without blanks and trailing "/", or the default.
    QString baseTopic() const;
    friend bool operator==(const MqttSettings&, const MqttSettings&) = default;
};
MqttSettings ReadMqttSettings();
void StoreMqttSettings(const MqttSettings& s);
// Why these settings cannot be used (empty when they can, or when MQTT is off).
QString MqttSettingsProblem(const MqttSettings& s);

// What one connection needs: the broker, the login with its password looked up, the CA file.
struct BrokerLogin {
    BrokerAddress broker;
    QString login;
    QString password;
    QString caFile;
    friend bool operator==(const BrokerLogin&, const BrokerLogin&) = default;
};
// The login of usable settings; refusal says why the password could not be had (then "" is used).
BrokerLogin ResolveBrokerLogin(const MqttSettings& s, QString* refusal);

} // namespace zantrel
