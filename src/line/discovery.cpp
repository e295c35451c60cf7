// SPDX-License-Identifier: Apache-2.0
#include "line/discovery.h"

#include <array>

#include "link/line_log.h"

namespace pj::line {

namespace {

// One entity a projector shows in Home Assistant. Empty texts are left out of the config.
struct Entity {
    std::string_view component;
    std::string_view object;
    std::string_view name;
    std::string_view valueTemplate;  // over the state JSON
    std::string_view unit;           // jsonString writes each byte as its Latin-1 code point
    std::string_view deviceClass;
    std::string_view stateClass;
    bool commanded;  // takes "ON"/"OFF" on the set topic
};

constexpr std::array<Entity, 10> kEntities{{
    {"switch", "power", "Power", "{{ 'ON' if value_json.power in ['on', 'warming'] else 'OFF' }}",
     "", "", "", true},
    {"sensor", "operating_state", "Operating state", "{{ value_json.operating_state }}", "", "", "",
     false},
    {"sensor", "input", "Input", "{{ value_json.input }}", "", "", "", false},
    {"sensor", "lamp_hours", "Lamp hours", "{{ value_json.lamp_hours }}", "h", "duration",
     "total_increasing", false},
    {"sensor", "lamp_mode", "Lamp mode", "{{ value_json.lamp_mode }}", "", "", "", false},
    {"sensor", "temperature_1", "Temperature S1", "{{ value_json.temperatures.s1 }}",
     "\xB0"
     "C",
     "temperature", "measurement", false},
    {"sensor", "temperature_2", "Temperature S2", "{{ value_json.temperatures.s2 }}",
     "\xB0"
     "C",
     "temperature", "measurement", false},
    {"sensor", "temperature_3", "Temperature S3", "{{ value_json.temperatures.s3 }}",
     "\xB0"
     "C",
     "temperature", "measurement", false},
    {"sensor", "temperature_4", "Temperature S4", "{{ value_json.temperatures.s4 }}",
     "\xB0"
     "C",
     "temperature", "measurement", false},
    {"sensor", "mute", "Mute", "{{ value_json.mute }}", "", "", "", false},
}};

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

void field(std::string& out, std::string_view key, std::string_view value) {
    if (value.empty()) {
        return;
    }
    out += out.size() > 1 ? "," : "";
    out += jsonString(key) + ":" + jsonString(value);
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
        std::string payload = "{";
        field(payload, "name", entity.name);
        field(payload, "unique_id", node + "_" + object);
        field(payload, "state_topic", names.state(address));
        field(payload, "value_template", entity.valueTemplate);
        field(payload, "availability_topic", names.status());
        field(payload, "payload_available", "online");
        field(payload, "payload_not_available", "offline");
        field(payload, "unit_of_measurement", entity.unit);
        field(payload, "device_class", entity.deviceClass);
        field(payload, "state_class", entity.stateClass);
        if (entity.commanded) {
            field(payload, "command_topic", names.set(address));
            field(payload, "payload_on", "ON");
            field(payload, "payload_off", "OFF");
        }
        payload += ",\"device\":{\"identifiers\":[" + jsonString(device) +
                   "],\"name\":" + jsonString(deviceName) + "}}";
        configs.push_back({"homeassistant/" + std::string(entity.component) + "/" + node + "/" +
                               object + "/config",
                           std::move(payload)});
    }
    return configs;
}

}  // namespace pj::line
