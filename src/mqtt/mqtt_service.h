#pragma once

#include "health/health_events.h"
#include "mqtt/discovery.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_settings.h"
#include "publish/publish_job.h"

#include <QByteArray>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace zantrel {

class JobRunner;
class RunControl;
class StatusSink;

// The MQTT service: while MQTT/URL is set, keeps the broker told of the program: availability (the will
// says "offline" for a program that died), the state document, each alert, each published picture, each
// server's last result and the last success, and the Home Assistant discovery configs; with COMMANDS
// takes "now", "run" and "stop" from TOPIC/set. Its own thread does all the talking: a job only hands its
// outcome over. What waits for a broker that is down or slow is bounded (the newest state, picture and
// results, the last 100 alerts); the connection is tried again after growing pauses, its loss and its
// return each said once on the status line. Settings changes apply within a second; a setting that
// cannot be used is said and changes nothing. Lives on the UI thread; the pieces given must outlive it.
class MqttService : public QObject {
    Q_OBJECT
  public:
    struct Options {
        std::chrono::milliseconds stateEvery{std::chrono::seconds(2)}; // at most one state a period
        std::chrono::milliseconds connectLimit{std::chrono::seconds(10)};
        std::chrono::milliseconds firstPause{std::chrono::seconds(1)}; // before the first retry, doubling
        std::chrono::milliseconds longestPause{std::chrono::seconds(60)};
    };
    // state gives the state document (the live view's /status.json), on the service's thread.
    MqttService(JobRunner& jobs, RunControl& run, StatusSink& status, std::function<QByteArray()> state,
                Options options);
    MqttService(JobRunner& jobs, RunControl& run, StatusSink& status, std::function<QByteArray()> state);
    ~MqttService() override; // says "offline" and disconnects, waiting a second at most

    // Publishes the alert (any thread).
    void noteEvent(const HealthEvent& e);

  private:
    enum class Phase { Off, Waiting, Connecting, Connected };
    // What waits to be published: shared with the job's and the UI thread.
    struct Outbox {
        std::deque<QByteArray> events;
        QByteArray image, lastSuccess;
        std::map<int, QByteArray> targets;
        bool imageDue = false, lastSuccessDue = false;
        std::set<int> targetsDue;
    };

    void work();
    void readSettings();
    void connect();
    void lose(QString reason);
    void connected();
    void flush();
    bool send(const QByteArray& topic, const QByteArray& payload, bool retain, bool event = false);
    void drain(std::chrono::milliseconds bound);
    void publishConfigs(const std::vector<MqttMessage>& wanted);
    void checkCommandTopic();
    void command(const mosquitto_message& m);
    void runCommand(const QString& command);
    void say(const QString& text);
    QByteArray topic(const char* leaf) const;

    static void onConnect(mosquitto*, void* obj, int rc, int, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* obj, int rc, const mosquitto_property*);
    static void onPublish(mosquitto*, void* obj, int mid, int reason, const mosquitto_property*);
    static void onSubscribe(mosquitto*, void* obj, int mid, int count, const int* granted,
                            const mosquitto_property*);
    static void onMessage(mosquitto*, void* obj, const mosquitto_message* m, const mosquitto_property*);

    JobRunner& jobs_;
    RunControl& run_;
    StatusSink& status_;
    std::function<QByteArray()> state_;
    Options options_;
    int observer_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    Outbox outbox_;

    // The worker's own.
    using Clock = std::chrono::steady_clock;
    MqttSettings asked_;   // as last read
    MqttSettings running_; // the usable settings in force
    BrokerLogin login_;
    int targets_ = -1;
    QString problemSaid_;
    MosquittoHandle client_;
    Phase phase_ = Phase::Off;
    QString failure_; // set by the callbacks: the connection ended
    Clock::time_point connectStarted_, retryAt_, stateDue_;
    std::chrono::milliseconds pause_{};
    bool lostSaid_ = false;
    bool refusalSaid_ = false;
    std::set<QByteArray> configs_;       // discovery configs published on this connection's broker
    std::map<int, QByteArray> inflight_; // message id: the alert it carries (empty for the rest)
    QByteArray stateSent_;
    // Commands: taken once the broker is known to keep clients without the login out of TOPIC/set.
    enum class Gate { Unchecked, Probing, Open, Shut } gate_ = Gate::Unchecked;
    QString shutReason_;
    bool subscribed_ = false;
    QByteArray probe_;
    Clock::time_point probeUntil_;
    std::thread worker_; // last: started once everything above is made
};

} // namespace zantrel
