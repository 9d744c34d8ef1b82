#include "mqtt/mqtt_client.h"

#include <QUuid>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <mutex>

namespace zantrel {

namespace {

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

void MosquittoFree::operator()(mosquitto* m) const {
    mosquitto_destroy(m);
}

QString MqttErrorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

MosquittoHandle MakeMqttClient(const BrokerLogin& login, const QByteArray& clientId, void* obj,
                               const LastWill* will, QString* problem) {
    initLibrary();
    MosquittoHandle m(mosquitto_new(clientId.constData(), true, obj));
    const auto fail = [&](const QString& why) {
        if (problem)
            *problem = why;
        return MosquittoHandle();
    };
    if (!m)
        return fail(QStringLiteral("the MQTT client could not be made"));
    mosquitto_int_option(m.get(), MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!login.login.isEmpty() && mosquitto_username_pw_set(m.get(), login.login.toUtf8().constData(),
                                                            login.password.toUtf8().constData()))
        return fail(QStringLiteral("the MQTT login cannot be used"));
    if (will && mosquitto_will_set(m.get(), will->topic.constData(), int(will->payload.size()),
                                   will->payload.constData(), 1, true))
        return fail(QStringLiteral("the MQTT topic cannot be used"));
    if (login.broker.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (login.caFile.isEmpty())
            rc = mosquitto_int_option(m.get(), MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(m.get(), login.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                                   nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("the CA file %1 cannot be read").arg(login.caFile));
        // The broker's certificate and its name are checked; never switched off.
        mosquitto_tls_opts_set(m.get(), 1, nullptr, nullptr);
        mosquitto_tls_insecure_set(m.get(), false);
    }
    return m;
}

MqttSendResult MqttSendOnce(const BrokerLogin& login, const QByteArray& topic, const QByteArray& payload,
                            std::chrono::milliseconds bound) {
    struct State {
        int connectReason = -1;
        int mid = -1;
        int publishReason = -1;
    } state;
    QString problem;
    const auto failed = [](const QString& why, bool refused = false) {
        return MqttSendResult{false, refused, why};
    };
    const QByteArray id = "webcam-zantrel-test-" + QUuid::createUuid().toByteArray(QUuid::Id128).left(12);
    MosquittoHandle m = MakeMqttClient(login, id, &state, nullptr, &problem);
    if (!m)
        return failed(problem);
    mosquitto_connect_v5_callback_set(m.get(),
                                      [](mosquitto*, void* obj, int rc, int, const mosquitto_property*) {
                                          static_cast<State*>(obj)->connectReason = rc;
                                      });
    mosquitto_publish_v5_callback_set(
        m.get(), [](mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
            auto* s = static_cast<State*>(obj);
            if (mid == s->mid)
                s->publishReason = reason;
        });
    int rc = mosquitto_connect_async(m.get(), login.broker.host.toUtf8().constData(), login.broker.port, 30);
    if (rc != MOSQ_ERR_SUCCESS)
        return failed(QStringLiteral("the broker cannot be reached: ") + MqttErrorText(rc));
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        rc = mosquitto_loop(m.get(), 100, 1);
        if (state.connectReason > 0)
            return failed(QStringLiteral("the broker refused the connection: ") +
                              QString::fromUtf8(mosquitto_reason_string(state.connectReason)),
                          true);
        if (rc != MOSQ_ERR_SUCCESS)
            return failed(QStringLiteral("the broker cannot be reached: ") + MqttErrorText(rc));
        if (state.connectReason == 0 && state.mid < 0) {
            rc = mosquitto_publish(m.get(), &state.mid, topic.constData(), int(payload.size()),
                                   payload.constData(), 1, false);
            if (rc != MOSQ_ERR_SUCCESS)
                return failed(QStringLiteral("the message was not sent: ") + MqttErrorText(rc));
        }
        if (state.publishReason >= 0) {
            mosquitto_disconnect(m.get());
            mosquitto_loop(m.get(), 100, 1);
            if (state.publishReason >= 128)
                return failed(QStringLiteral("the broker refused the message: ") +
                                  QString::fromUtf8(mosquitto_reason_string(state.publishReason)),
                              true);
            return {true, false, {}};
        }
    }
    return failed(QStringLiteral("the broker did not answer in time"));
}

} // namespace zantrel
