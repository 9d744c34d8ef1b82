#include "mqtt/mqtt_service.h"

#include "core/sinks.h"
#include "core/store.h"
#include "health/alert_delivery.h"
#include "publish/job_runner.h"
#include "publish/run_control.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

namespace zantrel {

namespace {

constexpr std::size_t kEventsKept = 100; // alerts waiting for the broker; the oldest give way
constexpr std::size_t kInflight = 16;    // messages handed to the connection and not yet acknowledged
constexpr auto kSettingsCheck = std::chrono::seconds(1);
constexpr auto kProbeWait = std::chrono::seconds(2); // for a probe the broker let through to come back

const QString kNow = QStringLiteral("now");
const QString kRun = QStringLiteral("run");
const QString kStop = QStringLiteral("stop");

QString isoNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QString brokerName(const BrokerAddress& b) {
    return b.host + QLatin1Char(':') + QString::number(b.port);
}

} // namespace

MqttService::MqttService(JobRunner& jobs, RunControl& run, StatusSink& status,
                         std::function<QByteArray()> state)
    : MqttService(jobs, run, status, std::move(state), Options()) {}

MqttService::MqttService(JobRunner& jobs, RunControl& run, StatusSink& status,
                         std::function<QByteArray()> state, Options options)
    : jobs_(jobs), run_(run), status_(status), state_(std::move(state)), options_(options) {
    observer_ = jobs.observeOutcomes([this](const PublishOutcome& outcome) {
        const QString now = isoNow();
        std::lock_guard lock(mutex_);
        if (!outcome.image.isEmpty()) {
            outbox_.image = outcome.image;
            outbox_.imageDue = true;
        }
        bool published = outcome.targets.empty() && outcome.workingFileWritten;
        for (const PublishOutcome::TargetOutcome& t : outcome.targets) {
            published = published || t.delivered;
            outbox_.targets[t.entry] =
                QJsonDocument(QJsonObject{{QStringLiteral("result"),
                                           t.delivered ? QStringLiteral("ok") : QStringLiteral("failed")},
                                          {QStringLiteral("server"), t.label},
                                          {QStringLiteral("reason"), t.reason},
                                          {QStringLiteral("time"), now}})
                    .toJson(QJsonDocument::Compact);
            outbox_.targetsDue.insert(t.entry);
        }
        if (published) {
            outbox_.lastSuccess = now.toUtf8();
            outbox_.lastSuccessDue = true;
        }
    });
    worker_ = std::thread([this] { work(); });
}

MqttService::~MqttService() {
    jobs_.forgetObserver(observer_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void MqttService::noteEvent(const HealthEvent& e) {
    const QByteArray json = AlertJson(e);
    std::lock_guard lock(mutex_);
    outbox_.events.push_back(json);
    while (outbox_.events.size() > kEventsKept)
        outbox_.events.pop_front();
}

void MqttService::say(const QString& text) {
    status_.setStatus(text);
}

QByteArray MqttService::topic(const char* leaf) const {
    return (running_.baseTopic() + QLatin1String(leaf)).toUtf8();
}

void MqttService::work() {
    auto settingsDue = Clock::now();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (stopping_)
                break;
            // Without a connection to serve there is only the settings to watch.
            if (!client_)
                wake_.wait_until(lock,
                                 std::min(settingsDue, phase_ == Phase::Waiting ? retryAt_ : settingsDue),
                                 [this] { return stopping_; });
            if (stopping_)
                break;
        }
        const auto now = Clock::now();
        if (now >= settingsDue) {
            settingsDue = now + kSettingsCheck;
            readSettings();
        }
        if (phase_ == Phase::Waiting && Clock::now() >= retryAt_)
            connect();
        if (phase_ == Phase::Connecting && Clock::now() - connectStarted_ > options_.connectLimit)
            lose(QStringLiteral("the broker did not answer in time"));
        if (client_) {
            const int rc = mosquitto_loop(client_.get(), 100, 1);
            if (!failure_.isEmpty())
                lose(failure_);
            else if (rc != MOSQ_ERR_SUCCESS)
                lose(MqttErrorText(rc));
        }
        if (phase_ == Phase::Connected) {
            checkCommandTopic();
            flush();
        }
    }
    if (phase_ == Phase::Connected) {
        send(topic(mqtt_topic::kAvailability), "offline", true);
        drain(std::chrono::seconds(1));
        mosquitto_disconnect(client_.get());
        mosquitto_loop(client_.get(), 100, 1);
    }
    client_.reset();
}

void MqttService::readSettings() {
    const MqttSettings wanted = ReadMqttSettings();
    const int targets = std::clamp(ServerEntryCount(), 0, 100);
    if (wanted == asked_ && targets == targets_)
        return;
    asked_ = wanted;
    if (const QString problem = MqttSettingsProblem(wanted); !problem.isEmpty()) {
        // Refused as a whole: what runs now goes on as it is.
        if (problem != problemSaid_)
            say(QStringLiteral("Error:") + problem + QStringLiteral(" (the MQTT settings are not used)"));
        problemSaid_ = problem;
        return;
    }
    problemSaid_.clear();
    refusalSaid_ = false;
    targets_ = targets;
    QString refusal;
    const BrokerLogin login = wanted.on() ? ResolveBrokerLogin(wanted, &refusal) : BrokerLogin();
    if (!refusal.isEmpty())
        say(QStringLiteral("Error:") + refusal);
    const bool sameLink = client_ && wanted.on() && login == login_ &&
                          wanted.baseTopic() == running_.baseTopic() && wanted.commands == running_.commands;
    if (sameLink) {
        // Entities the settings no longer ask for go, new ones come.
        running_ = wanted;
        if (phase_ == Phase::Connected)
            publishConfigs(DiscoveryConfigs(running_, targets_));
        return;
    }
    if (phase_ == Phase::Connected) {
        // Another broker, topic or login, or none: this broker's entities and availability go first.
        publishConfigs({});
        send(topic(mqtt_topic::kAvailability), "offline", true);
        drain(std::chrono::seconds(1));
        mosquitto_disconnect(client_.get());
        mosquitto_loop(client_.get(), 100, 1);
    }
    client_.reset();
    configs_.clear();
    inflight_.clear();
    running_ = wanted;
    login_ = login;
    lostSaid_ = false;
    phase_ = running_.on() ? Phase::Waiting : Phase::Off;
    retryAt_ = Clock::now();
    pause_ = options_.firstPause;
}

void MqttService::connect() {
    const LastWill will{topic(mqtt_topic::kAvailability), "offline"};
    const QByteArray id = "webcam-zantrel-" + QByteArray::number(::getpid()) + '-' +
                          QUuid::createUuid().toByteArray(QUuid::Id128).left(8);
    QString problem;
    client_ = MakeMqttClient(login_, id, this, &will, &problem);
    if (!client_)
        return lose(problem);
    mosquitto_connect_v5_callback_set(client_.get(), &MqttService::onConnect);
    mosquitto_disconnect_v5_callback_set(client_.get(), &MqttService::onDisconnect);
    mosquitto_publish_v5_callback_set(client_.get(), &MqttService::onPublish);
    mosquitto_subscribe_v5_callback_set(client_.get(), &MqttService::onSubscribe);
    mosquitto_message_v5_callback_set(client_.get(), &MqttService::onMessage);
    failure_.clear();
    phase_ = Phase::Connecting;
    connectStarted_ = Clock::now();
    const int rc = mosquitto_connect_async(client_.get(), login_.broker.host.toUtf8().constData(),
                                           login_.broker.port, 30);
    if (rc != MOSQ_ERR_SUCCESS)
        lose(MqttErrorText(rc));
}

void MqttService::lose(QString reason) {
    const bool wasConnected = phase_ == Phase::Connected;
    client_.reset();
    failure_.clear();
    // Alerts not acknowledged go again; the rest is sent afresh on the next connection.
    {
        std::lock_guard lock(mutex_);
        for (auto it = inflight_.rbegin(); it != inflight_.rend(); ++it)
            if (!it->second.isEmpty())
                outbox_.events.push_front(it->second);
        while (outbox_.events.size() > kEventsKept)
            outbox_.events.pop_front();
    }
    inflight_.clear();
    subscribed_ = false;
    phase_ = Phase::Waiting;
    retryAt_ = Clock::now() + pause_;
    pause_ = std::min(pause_ * 2, options_.longestPause);
    if (!lostSaid_) {
        lostSaid_ = true;
        say(QStringLiteral("Error:") + (wasConnected
                                            ? QStringLiteral("Lost the MQTT broker %1: %2")
                                            : QStringLiteral("Cannot connect to the MQTT broker %1: %2"))
                                           .arg(brokerName(login_.broker), reason));
    }
}

void MqttService::connected() {
    phase_ = Phase::Connected;
    pause_ = options_.firstPause;
    if (lostSaid_) {
        lostSaid_ = false;
        say(QStringLiteral("Connected to the MQTT broker %1 again").arg(brokerName(login_.broker)));
    }
    send(topic(mqtt_topic::kAvailability), "online", true);
    gate_ = Gate::Unchecked;
    if (running_.commands) {
        // No-local: the probe below is this program's own; nothing retained: a command is taken when sent.
        mosquitto_subscribe_v5(client_.get(), nullptr, topic(mqtt_topic::kSet).constData(), 1,
                               MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_SEND_RETAIN_NEVER, nullptr);
    }
    configs_.clear();
    publishConfigs(DiscoveryConfigs(running_, targets_));
    // The broker may have lost what it kept: everything known goes again.
    stateSent_.clear();
    stateDue_ = Clock::now();
    std::lock_guard lock(mutex_);
    outbox_.imageDue = !outbox_.image.isEmpty();
    outbox_.lastSuccessDue = !outbox_.lastSuccess.isEmpty();
    for (const auto& [entry, result] : outbox_.targets)
        outbox_.targetsDue.insert(entry);
}

void MqttService::publishConfigs(const std::vector<MqttMessage>& wanted) {
    std::set<QByteArray> topics;
    for (const MqttMessage& m : wanted)
        topics.insert(m.topic);
    for (auto it = configs_.begin(); it != configs_.end();) {
        if (topics.count(*it)) {
            ++it;
            continue;
        }
        send(*it, {}, true); // an empty retained config removes the entity
        it = configs_.erase(it);
    }
    for (const MqttMessage& m : wanted)
        if (configs_.insert(m.topic).second)
            send(m.topic, m.payload, true);
}

bool MqttService::send(const QByteArray& topic, const QByteArray& payload, bool retain, bool event) {
    int mid = 0;
    const int rc = mosquitto_publish(client_.get(), &mid, topic.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    inflight_[mid] = event ? payload : QByteArray();
    return true;
}

void MqttService::drain(std::chrono::milliseconds bound) {
    const auto until = Clock::now() + bound;
    while (client_ && !inflight_.empty() && Clock::now() < until && failure_.isEmpty())
        if (mosquitto_loop(client_.get(), 50, 1) != MOSQ_ERR_SUCCESS)
            break;
}

void MqttService::flush() {
    const auto now = Clock::now();
    if (now >= stateDue_ && inflight_.size() < kInflight) {
        stateDue_ = now + options_.stateEvery;
        const QByteArray state = state_ ? state_() : QByteArray();
        if (!state.isEmpty() && state != stateSent_ && send(topic(mqtt_topic::kState), state, true))
            stateSent_ = state;
    }
    std::unique_lock lock(mutex_);
    while (inflight_.size() < kInflight) {
        QByteArray t, payload;
        bool retain = true, event = false;
        if (!outbox_.events.empty()) {
            t = topic(mqtt_topic::kEvent);
            payload = outbox_.events.front();
            outbox_.events.pop_front();
            retain = false;
            event = true;
        } else if (outbox_.lastSuccessDue) {
            outbox_.lastSuccessDue = false;
            t = topic(mqtt_topic::kLastSuccess);
            payload = outbox_.lastSuccess;
        } else if (!outbox_.targetsDue.empty()) {
            const int entry = *outbox_.targetsDue.begin();
            outbox_.targetsDue.erase(outbox_.targetsDue.begin());
            t = topic(mqtt_topic::kTarget) + QByteArray::number(entry);
            payload = outbox_.targets[entry];
        } else if (outbox_.imageDue) {
            outbox_.imageDue = false;
            if (!running_.image)
                continue;
            t = topic(mqtt_topic::kImage);
            payload = outbox_.image;
        } else {
            break;
        }
        lock.unlock();
        send(t, payload, retain, event);
        lock.lock();
    }
}

void MqttService::checkCommandTopic() {
    if (!running_.commands || !subscribed_ || gate_ == Gate::Open || gate_ == Gate::Shut)
        return;
    if (running_.login.isEmpty()) {
        gate_ = Gate::Shut;
        shutReason_ = QStringLiteral("without a broker login (LOGIN) the broker cannot tell who sends them");
        return say(QStringLiteral("Error:MQTT commands are not taken: ") + shutReason_);
    }
    if (gate_ == Gate::Unchecked) {
        // A client without the login tries to send a command. The broker must refuse it or drop it; one
        // that passes it on lets anybody command the program.
        probe_ = "probe-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        BrokerLogin anonymous = login_;
        anonymous.login.clear();
        anonymous.password.clear();
        const MqttSendResult r =
            MqttSendOnce(anonymous, topic(mqtt_topic::kSet), probe_, std::chrono::seconds(5));
        if (r.refused) {
            gate_ = Gate::Open;
        } else if (r.ok) {
            gate_ = Gate::Probing;
            probeUntil_ = Clock::now() + kProbeWait;
        } else {
            gate_ = Gate::Shut;
            shutReason_ = QStringLiteral("the broker's access rules could not be checked (%1)").arg(r.error);
            say(QStringLiteral("Error:MQTT commands are not taken: ") + shutReason_);
        }
    } else if (Clock::now() >= probeUntil_) {
        gate_ = Gate::Open; // dropped by the broker
    }
}

void MqttService::command(const mosquitto_message& m) {
    const QByteArray payload(static_cast<const char*>(m.payload), m.payloadlen);
    if (!probe_.isEmpty() && payload == probe_) {
        gate_ = Gate::Shut;
        shutReason_ =
            QStringLiteral("clients without the login can publish to %1 (limit it to %2 in the broker's ACL)")
                .arg(QString::fromUtf8(topic(mqtt_topic::kSet)), running_.login);
        return say(QStringLiteral("Error:MQTT commands are not taken: ") + shutReason_);
    }
    const QString text = QString::fromUtf8(payload).trimmed();
    QString refusal;
    if (text != kNow && text != kRun && text != kStop)
        refusal = QStringLiteral("\"%1\" is not now, run or stop").arg(OneLine(text.left(40)));
    else if (m.retain)
        refusal = QStringLiteral("a retained command is never taken");
    else if (gate_ == Gate::Shut)
        refusal = shutReason_;
    else if (gate_ != Gate::Open)
        refusal = QStringLiteral("the broker's access rules are still being checked");
    if (!refusal.isEmpty())
        return say(QStringLiteral("Error:MQTT command refused: ") + refusal);
    QMetaObject::invokeMethod(
        this, [this, text] { runCommand(text); }, Qt::QueuedConnection);
}

void MqttService::runCommand(const QString& command) {
    const RunControl::Buttons b = run_.buttons();
    if (command == kNow) {
        if (!b.now)
            return say(
                QStringLiteral("Error:MQTT command refused: \"now\" while publishing runs (stop it first)"));
        run_.FTPNow();
    } else if (command == kRun) {
        if (b.run)
            run_.FTPRun();
    } else if (b.stop) {
        run_.FTPStop();
    }
}

void MqttService::onConnect(mosquitto*, void* obj, int rc, int, const mosquitto_property*) {
    auto* self = static_cast<MqttService*>(obj);
    if (rc == 0)
        self->connected();
    else
        self->failure_ = QStringLiteral("the broker refused the connection: ") +
                         QString::fromUtf8(mosquitto_reason_string(rc));
}

void MqttService::onDisconnect(mosquitto*, void* obj, int rc, const mosquitto_property*) {
    auto* self = static_cast<MqttService*>(obj);
    if (self->failure_.isEmpty())
        self->failure_ =
            rc == 0 ? QStringLiteral("the connection ended") : QStringLiteral("the connection was lost");
}

void MqttService::onPublish(mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
    auto* self = static_cast<MqttService*>(obj);
    self->inflight_.erase(mid);
    if (reason >= 128 && !self->refusalSaid_) {
        self->refusalSaid_ = true;
        self->say(QStringLiteral("Error:The MQTT broker refuses what the program publishes: %1 (see its ACL)")
                      .arg(QString::fromUtf8(mosquitto_reason_string(reason))));
    }
}

void MqttService::onSubscribe(mosquitto*, void* obj, int, int count, const int* granted,
                              const mosquitto_property*) {
    auto* self = static_cast<MqttService*>(obj);
    if (count > 0 && granted[0] >= 128)
        return self->say(
            QStringLiteral("Error:MQTT commands are not taken: the broker refused the subscription to %1")
                .arg(QString::fromUtf8(self->topic(mqtt_topic::kSet))));
    self->subscribed_ = true;
}

void MqttService::onMessage(mosquitto*, void* obj, const mosquitto_message* m, const mosquitto_property*) {
    auto* self = static_cast<MqttService*>(obj);
    if (m && self->running_.commands && self->topic(mqtt_topic::kSet) == m->topic)
        self->command(*m);
}

} // namespace zantrel
