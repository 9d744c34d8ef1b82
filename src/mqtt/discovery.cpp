#include "mqtt/discovery.h"

#include "core/version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zantrel {

namespace {

// The node's name in discovery topics and unique ids: the base topic in letters, digits, "_" and "-".
QString nodeId(const QString& base) {
    QString id;
    for (const QChar c : base)
        id += (c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('-') ? c : QLatin1Char('_');
    return id;
}

} // namespace

std::vector<MqttMessage> DiscoveryConfigs(const MqttSettings& s, int targets) {
    std::vector<MqttMessage> out;
    if (!s.on() || !s.discovery)
        return out;
    const QString base = s.baseTopic();
    const QString node = nodeId(base);
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("webcam-zantrel_") + node}},
        {QStringLiteral("name"), QStringLiteral("Webcam Zantrel ") + base.section(QLatin1Char('/'), -2)},
        {QStringLiteral("model"), QStringLiteral("Webcam Zantrel")},
        {QStringLiteral("sw_version"), applicationTitle().section(QLatin1Char(' '), -1)}};
    const auto add = [&](const char* component, const QString& object, QJsonObject config) {
        config.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + object);
        config.insert(QStringLiteral("object_id"), node + QLatin1Char('_') + object);
        config.insert(QStringLiteral("availability_topic"), base + QLatin1String(mqtt_topic::kAvailability));
        config.insert(QStringLiteral("device"), device);
        out.push_back({QStringLiteral("homeassistant/%1/%2/%3/config")
                           .arg(QLatin1String(component), node, object)
                           .toUtf8(),
                       QJsonDocument(config).toJson(QJsonDocument::Compact)});
    };
    const QString state = base + QLatin1String(mqtt_topic::kState);
    if (s.image)
        add("image", QStringLiteral("picture"),
            {{QStringLiteral("name"), QStringLiteral("Picture")},
             {QStringLiteral("image_topic"), base + QLatin1String(mqtt_topic::kImage)},
             {QStringLiteral("content_type"), QStringLiteral("image/jpeg")}});
    add("binary_sensor", QStringLiteral("problem"),
        {{QStringLiteral("name"), QStringLiteral("Problem")},
         {QStringLiteral("device_class"), QStringLiteral("problem")},
         {QStringLiteral("state_topic"), state},
         {QStringLiteral("value_template"),
          QStringLiteral("{{ 'ON' if value_json.events or value_json.warnings else 'OFF' }}")},
         {QStringLiteral("json_attributes_topic"), state},
         {QStringLiteral("json_attributes_template"),
          QStringLiteral("{{ {'events': value_json.events, 'warnings': value_json.warnings} | tojson }}")}});
    add("sensor", QStringLiteral("last_success"),
        {{QStringLiteral("name"), QStringLiteral("Last published")},
         {QStringLiteral("device_class"), QStringLiteral("timestamp")},
         {QStringLiteral("state_topic"), base + QLatin1String(mqtt_topic::kLastSuccess)}});
    for (int n = 1; n <= targets; ++n) {
        const QString topic = base + QLatin1String(mqtt_topic::kTarget) + QString::number(n);
        add("sensor", QStringLiteral("target_%1").arg(n),
            {{QStringLiteral("name"), QStringLiteral("Server %1").arg(n)},
             {QStringLiteral("state_topic"), topic},
             {QStringLiteral("value_template"), QStringLiteral("{{ value_json.result }}")},
             {QStringLiteral("json_attributes_topic"), topic}});
    }
    if (s.commands) {
        const QString set = base + QLatin1String(mqtt_topic::kSet);
        add("button", QStringLiteral("publish_now"),
            {{QStringLiteral("name"), QStringLiteral("Publish now")},
             {QStringLiteral("command_topic"), set},
             {QStringLiteral("payload_press"), QStringLiteral("now")}});
        add("switch", QStringLiteral("run"),
            {{QStringLiteral("name"), QStringLiteral("Run")},
             {QStringLiteral("command_topic"), set},
             {QStringLiteral("payload_on"), QStringLiteral("run")},
             {QStringLiteral("payload_off"), QStringLiteral("stop")},
             {QStringLiteral("state_topic"), state},
             {QStringLiteral("value_template"),
              QStringLiteral("{{ 'run' if value_json.publishing else 'stop' }}")},
             {QStringLiteral("state_on"), QStringLiteral("run")},
             {QStringLiteral("state_off"), QStringLiteral("stop")}});
    }
    return out;
}

} // namespace zantrel
