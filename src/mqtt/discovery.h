#pragma once

#include "mqtt/mqtt_settings.h"

#include <QByteArray>
#include <vector>

namespace zantrel {

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    friend bool operator==(const MqttMessage&, const MqttMessage&) = default;
};

// The topics under the base topic.
namespace mqtt_topic {
inline constexpr const char* kAvailability = "/availability"; // online / offline, retained
inline constexpr const char* kState = "/state";               // the state document, retained
inline constexpr const char* kEvent = "/event";               // each alert as it happens
inline constexpr const char* kImage = "/image";               // the latest published JPEG, retained
inline constexpr const char* kLastSuccess = "/last_success";  // when an image was last published, retained
inline constexpr const char* kTarget = "/target/";            // + server entry: its last result, retained
inline constexpr const char* kSet = "/set";                   // commands: now, run, stop
} // namespace mqtt_topic

// The Home Assistant discovery configs (retained, under homeassistant/) the settings ask for, with
// targets server entries: the picture (with IMAGE), a problem sensor, the time of the last published
// image, each server's last result and, with COMMANDS, a "Publish now" button and a Run switch. None
// without DISCOVERY.
std::vector<MqttMessage> DiscoveryConfigs(const MqttSettings& s, int targets);

} // namespace zantrel
