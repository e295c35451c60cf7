// SPDX-License-Identifier: Apache-2.0
#include "line/discovery.h"

#include <array>

#include <nlohmann/json.hpp>

namespace pj::line {

namespace {

// One entity a projector shows in Home Assistant. Empty texts are left out of the config.
struct Entity {
    std::string_view component;
    std::string_view object;
    std::string_view name;
    std::string_view valueTemplate;  // over the state JSON
    std::string_view unit;           // UTF-8
    std::string_view deviceClass;
    std::string_view stateClass;
    bool commanded;  // takes "ON"/"OFF" on the set topic
};

// A binary sensor's state from a flag of the state JSON that may be null (not known yet).
#define PJ_FLAG(expr) "{{ none if " expr " is none else ('ON' if " expr " else 'OFF') }}"

constexpr std::string_view kCelsius = "\u00B0C";

// clang-format off
constexpr std::array<Entity, 14> kEntities{{
    {"switch", "power", "Power", "{{ 'ON' if value_json.power in ['on', 'warming'] else 'OFF' }}", "", "", "", true},
    {"sensor", "operating_state", "Operating state", "{{ value_json.operating_state }}", "", "", "", false},
    {"sensor", "input", "Input", "{{ value_json.input }}", "", "", "", false},
    {"sensor", "lamp_hours", "Lamp hours", "{{ value_json.lamp_hours }}", "h", "duration", "total_increasing", false},
    {"sensor", "lamp_mode", "Lamp mode", "{{ value_json.lamp_mode }}", "", "", "", false},
    {"binary_sensor", "lamp_1", "Lamp 1", PJ_FLAG("(value_json.lamps or [none])[0]"), "", "light", "", false},
    {"binary_sensor", "lamp_2", "Lamp 2", PJ_FLAG("(value_json.lamps or [none, none])[1]"), "", "light", "", false},
    {"sensor", "temperature_1", "Temperature S1", "{{ value_json.temperatures.s1 }}", kCelsius, "temperature", "measurement", false},
    {"sensor", "temperature_2", "Temperature S2", "{{ value_json.temperatures.s2 }}", kCelsius, "temperature", "measurement", false},
    {"sensor", "temperature_3", "Temperature S3", "{{ value_json.temperatures.s3 }}", kCelsius, "temperature", "measurement", false},
    {"sensor", "temperature_4", "Temperature S4", "{{ value_json.temperatures.s4 }}", kCelsius, "temperature", "measurement", false},
    {"binary_sensor", "video_mute", "Video mute", PJ_FLAG("value_json.video_mute"), "", "", "", false},
    {"binary_sensor", "audio_mute", "Audio mute", PJ_FLAG("value_json.audio_mute"), "", "", "", false},
    {"sensor", "signal", "Signal", "{{ value_json.signal }}", "", "", "", false},
}};
// clang-format on
#undef PJ_FLAG

std::string nodeId(const TopicNames& names) {
    std::string node = names.prefix + "_" + names.name;
    for (char& c : node) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!kept) {
            c = '_';
        }
    }
    return node;
}

// Puts `value` under `key`, unless it is empty.
void field(nlohmann::ordered_json& out, const char* key, std::string_view value) {
    if (!value.empty()) {
        out[key] = value;
    }
}

}  // namespace

std::vector<RetainedMessage> discoveryConfigs(const TopicNames& names, int address) {
    const std::string node = nodeId(names);
    const std::string device = node + "_p" + std::to_string(address);
    const std::string deviceName =
        names.name + " projector" + (address == 0 ? "" : " " + std::to_string(address));
    std::vector<RetainedMessage> configs;
    for (const Entity& entity : kEntities) {
        const std::string object = "p" + std::to_string(address) + "_" + std::string(entity.object);
        nlohmann::ordered_json config = nlohmann::ordered_json::object();
        field(config, "name", entity.name);
        field(config, "unique_id", node + "_" + object);
        field(config, "state_topic", names.state(address));
        field(config, "value_template", entity.valueTemplate);
        field(config, "availability_topic", names.status());
        field(config, "payload_available", "online");
        field(config, "payload_not_available", "offline");
        field(config, "unit_of_measurement", entity.unit);
        field(config, "device_class", entity.deviceClass);
        field(config, "state_class", entity.stateClass);
        if (entity.commanded) {
            field(config, "command_topic", names.set(address));
            field(config, "payload_on", "ON");
            field(config, "payload_off", "OFF");
        }
        config["device"] = {{"identifiers", nlohmann::ordered_json::array({device})},
                            {"name", deviceName}};
        std::string payload = config.dump(-1, ' ', true);
        configs.push_back({"homeassistant/" + std::string(entity.component) + "/" + node + "/" +
                               object + "/config",
                           std::move(payload)});
    }
    return configs;
}

}  // namespace pj::line
