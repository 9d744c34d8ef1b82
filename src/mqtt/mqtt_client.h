#pragma once

#include "mqtt/mqtt_settings.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <memory>

struct mosquitto;

namespace zantrel {

struct MosquittoFree {
    void operator()(mosquitto* m) const;
};
using MosquittoHandle = std::unique_ptr<mosquitto, MosquittoFree>;

// What the broker publishes for a client that goes away without a word.
struct LastWill {
    QByteArray topic;
    QByteArray payload;
};

// A client (MQTT 5) for one connection to the broker, not yet connected: the login, the will, TLS that
// verifies the broker's certificate and name (against caFile, or the system's store). obj is what the
// callbacks get. Null, with the reason in problem, when the library refuses the settings.
MosquittoHandle MakeMqttClient(const BrokerLogin& login, const QByteArray& clientId, void* obj,
                               const LastWill* will, QString* problem);

// The reason of a library error code in plain words (the system's for an errno failure).
QString MqttErrorText(int rc);

struct MqttSendResult {
    bool ok = false;      // the broker took the message
    bool refused = false; // the broker answered no: to the login or to the message
    QString error;        // why not, in plain words
};
// Connects, publishes payload at topic (QoS 1) and disconnects, at most bound in all. Blocks: call it off
// the UI thread.
MqttSendResult MqttSendOnce(const BrokerLogin& login, const QByteArray& topic, const QByteArray& payload,
                            std::chrono::milliseconds bound = std::chrono::seconds(10));

} // namespace zantrel
