// SPDX-License-Identifier: Apache-2.0
#include "line/discovery.h"

#include <array>
#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

namespace pj::line {

namespace {

// How an entity reads its field of the state JSON, or what it sends.
enum class Kind {
    Flag,    // binary: the field's truth
    Among,   // binary: whether the field is one of the choices' words
    Number,  // a number
    Enum,    // one of the choices' words
    Select,  // one of the choices, shown by label, sent by command name
    Button,  // sends its command; reads nothing
};

// One value a field can take, how people read it, and the command that asks for it.
struct Choice {
    std::string_view reported;  // as the state JSON writes it (a number unquoted)
    std::string_view label;
    std::string_view command;  // a command name of projector/commands.h
};

// One entity a projector shows in Home Assistant. Empty texts are left out of the config.
struct Entity {
    std::string_view component;
    std::string_view object;
    std::string_view name;  // relative to the device
    Kind kind;
    std::string_view field;  // after value_json., or the command name of a button
    std::string_view known;  // what is null while the field is unknown: `field` when empty
    std::span<const Choice> choices;
    std::string_view unit;  // UTF-8
    std::string_view deviceClass;
    std::string_view stateClass;
    std::string_view category;
};

constexpr std::string_view kCelsius = "\u00B0C";

constexpr auto kPoweredOn = std::to_array<Choice>({{"on", "", ""}, {"warming", "", ""}});

// The operating states that mean something needs looking at: temperature warnings, lamp
// failures and a power failure.
constexpr auto kProblems = std::to_array<Choice>({
    {"power_failure", "", ""},
    {"temperature_warning", "", ""},
    {"temperature_warning_cooling", "", ""},
    {"power_management_temperature_warning", "", ""},
    {"lamp_failure_cooling", "", ""},
    {"lamp_failure_standby", "", ""},
});

constexpr auto kOperatingStates = std::to_array<Choice>({
    {"on", "", ""},
    {"standby", "", ""},
    {"warming", "", ""},
    {"cooling", "", ""},
    {"power_failure", "", ""},
    {"temperature_warning", "", ""},
    {"no_key_input", "", ""},
    {"power_management_lamp_off", "", ""},
    {"temperature_warning_cooling", "", ""},
    {"power_management_temperature_warning", "", ""},
    {"temperature_warning_recovered", "", ""},
    {"lamp_failure_cooling", "", ""},
    {"lamp_failure_standby", "", ""},
});

constexpr auto kSignals =
    std::to_array<Choice>({{"present", "", ""}, {"none", "", ""}, {"standby", "", ""}});

constexpr auto kInputs = std::to_array<Choice>({
    {"1", "Input 1", "input.1"},
    {"2", "Input 2", "input.2"},
    {"3", "Input 3", "input.3"},
    {"4", "Input 4", "input.4"},
});

constexpr auto kLampModes = std::to_array<Choice>({
    {"dual", "Both lamps", "lamp-mode.full"},
    {"lamp1", "Lamp 1", "lamp-mode.lamp1"},
    {"lamp2", "Lamp 2", "lamp-mode.lamp2"},
});

constexpr std::span<const Choice> kNone{};

// The projector's entities. Settings the projector reports are read back (the input and the
// lamp mode as selects); those it has no query for (picture mode, fan, freeze, no show,
// shutter) are buttons, one a command, so that nothing shows a state nobody read.
// clang-format off
constexpr auto kEntities = std::to_array<Entity>({
    {"switch",        "power",           "Power",           Kind::Among,  "power",            "", kPoweredOn,       "",       "",            "",                 ""},
    {"select",        "input",           "Input",           Kind::Select, "input",            "", kInputs,          "",       "",            "",                 ""},
    {"select",        "lamp_mode",       "Lamp mode",       Kind::Select, "lamp_mode",        "", kLampModes,       "",       "",            "",                 ""},
    {"sensor",        "operating_state", "Operating state", Kind::Enum,   "operating_state",  "", kOperatingStates, "",       "enum",        "",                 ""},
    {"binary_sensor", "problem",         "Problem",         Kind::Among,  "operating_state",  "", kProblems,        "",       "problem",     "",                 ""},
    {"sensor",        "lamp_hours",      "Lamp hours",      Kind::Number, "lamp_hours",       "", kNone,            "h",      "duration",    "total_increasing", ""},
    {"binary_sensor", "lamp_1",          "Lamp 1",          Kind::Flag,   "lamps[0]",   "lamps", kNone,            "",       "light",       "",                 ""},
    {"binary_sensor", "lamp_2",          "Lamp 2",          Kind::Flag,   "lamps[1]",   "lamps", kNone,            "",       "light",       "",                 ""},
    {"sensor",        "temperature_1",   "Temperature S1",  Kind::Number, "temperatures.s1",  "", kNone,            kCelsius, "temperature", "measurement",      "diagnostic"},
    {"sensor",        "temperature_2",   "Temperature S2",  Kind::Number, "temperatures.s2",  "", kNone,            kCelsius, "temperature", "measurement",      "diagnostic"},
    {"sensor",        "temperature_3",   "Temperature S3",  Kind::Number, "temperatures.s3",  "", kNone,            kCelsius, "temperature", "measurement",      "diagnostic"},
    {"sensor",        "temperature_4",   "Temperature S4",  Kind::Number, "temperatures.s4",  "", kNone,            kCelsius, "temperature", "measurement",      "diagnostic"},
    {"binary_sensor", "video_mute",      "Video mute",      Kind::Flag,   "video_mute",       "", kNone,            "",       "",            "",                 ""},
    {"binary_sensor", "audio_mute",      "Audio mute",      Kind::Flag,   "audio_mute",       "", kNone,            "",       "",            "",                 ""},
    {"sensor",        "signal",          "Signal",          Kind::Enum,   "signal",           "", kSignals,         "",       "enum",        "",                 ""},
    {"button",        "picture_standard","Picture standard",Kind::Button, "picture.standard", "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_real",    "Picture real",    Kind::Button, "picture.real",     "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_cinema",  "Picture cinema",  Kind::Button, "picture.cinema",   "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_custom1", "Picture custom 1",Kind::Button, "picture.custom1",  "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_custom2", "Picture custom 2",Kind::Button, "picture.custom2",  "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_custom3", "Picture custom 3",Kind::Button, "picture.custom3",  "", kNone,            "",       "",            "",                 ""},
    {"button",        "picture_custom4", "Picture custom 4",Kind::Button, "picture.custom4",  "", kNone,            "",       "",            "",                 ""},
    {"button",        "fan_max",         "Fan max",         Kind::Button, "fan.max",          "", kNone,            "",       "",            "",                 "config"},
    {"button",        "fan_normal",      "Fan normal",      Kind::Button, "fan.normal",       "", kNone,            "",       "",            "",                 "config"},
    {"button",        "freeze_on",       "Freeze on",       Kind::Button, "freeze.on",        "", kNone,            "",       "",            "",                 ""},
    {"button",        "freeze_off",      "Freeze off",      Kind::Button, "freeze.off",       "", kNone,            "",       "",            "",                 ""},
    {"button",        "no_show_on",      "No show on",      Kind::Button, "no-show.on",       "", kNone,            "",       "",            "",                 ""},
    {"button",        "no_show_off",     "No show off",     Kind::Button, "no-show.off",      "", kNone,            "",       "",            "",                 ""},
    {"button",        "shutter_close",   "Shutter close",   Kind::Button, "shutter.close",    "", kNone,            "",       "",            "",                 ""},
    {"button",        "shutter_open",    "Shutter open",    Kind::Button, "shutter.open",     "", kNone,            "",       "",            "",                 ""},
});
// clang-format on

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

bool numeric(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The value template of `entity` over the state JSON. The few forms written here are all
// there are (tests/line/discovery_test.cpp renders each); a null field renders "None", which
// Home Assistant takes as unknown on switches, binary sensors, selects and numeric sensors.
std::string valueTemplate(const Entity& entity) {
    const std::string value = "value_json." + std::string(entity.field);
    const std::string known =
        "value_json." + std::string(entity.known.empty() ? entity.field : entity.known);
    const std::string unknown = "'None' if " + known + " is none else ";
    switch (entity.kind) {
        case Kind::Flag:
            return "{{ " + unknown + "('ON' if " + value + " else 'OFF') }}";
        case Kind::Among: {
            std::string words;
            for (const Choice& choice : entity.choices) {
                words += (words.empty() ? "" : ", ") + quoted(choice.reported);
            }
            return "{{ " + unknown + "('ON' if " + value + " in [" + words + "] else 'OFF') }}";
        }
        case Kind::Number:
            return "{{ " + unknown + value + " }}";
        case Kind::Enum:
            return "{{ " + value + " }}";
        case Kind::Select: {
            std::string map;
            for (const Choice& choice : entity.choices) {
                map += (map.empty() ? "" : ", ") +
                       (numeric(choice.reported) ? std::string(choice.reported)
                                                 : quoted(choice.reported)) +
                       ": " + quoted(choice.label);
            }
            return "{{ {" + map + "}.get(" + value + ", 'None') }}";
        }
        case Kind::Button:
            break;
    }
    return {};
}

// A select's command template: from the option chosen to the command's name.
std::string commandTemplate(const Entity& entity) {
    std::string map;
    for (const Choice& choice : entity.choices) {
        map += (map.empty() ? "" : ", ") + quoted(choice.label) + ": " + quoted(choice.command);
    }
    return "{{ {" + map + "}[value] }}";
}

void hexByte(std::string& out, unsigned char c) {
    std::array<char, 4> hex{};
    std::snprintf(hex.data(), hex.size(), "%02x", c);
    out += '_';
    out += hex.data();
}

std::string encoded(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool kept =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (kept) {
            out += c;
        } else {
            hexByte(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

// Puts `value` under `key`, unless it is empty.
void field(nlohmann::ordered_json& out, const char* key, std::string_view value) {
    if (!value.empty()) {
        out[key] = value;
    }
}

std::string lineDeviceId(const TopicNames& names) {
    return nodeId(names) + "_line";
}

std::string objectOf(int address, std::string_view object) {
    return "p" + std::to_string(address) + "_" + std::string(object);
}

std::string configTopic(const TopicNames& names, const DiscoveryOptions& options,
                        std::string_view component, std::string_view object) {
    return options.prefix + "/" + std::string(component) + "/" + nodeId(names) + "/" +
           std::string(object) + "/config";
}

}  // namespace

std::string nodeId(const TopicNames& names) {
    return encoded(names.prefix) + "__" + encoded(names.name);
}

std::vector<RetainedMessage> lineConfigs(const TopicNames& names, const DiscoveryOptions& options) {
    nlohmann::ordered_json config = nlohmann::ordered_json::object();
    config["name"] = "Line";
    config["unique_id"] = lineDeviceId(names) + "_connected";
    config["state_topic"] = names.line();
    config["payload_on"] = "up";
    config["payload_off"] = "down";
    config["device_class"] = "connectivity";
    config["entity_category"] = "diagnostic";
    config["availability_topic"] = names.status();
    nlohmann::ordered_json device = {{"identifiers", {lineDeviceId(names)}},
                                     {"name", names.name + " line"},
                                     {"manufacturer", "pjpanel"},
                                     {"model", "pjline"}};
    field(device, "sw_version", options.swVersion);
    config["device"] = std::move(device);
    return {{configTopic(names, options, "binary_sensor", "line_connected"), config.dump()}};
}

std::vector<RetainedMessage> projectorConfigs(const TopicNames& names,
                                              const DiscoveryOptions& options,
                                              const ProjectorDevice& projector) {
    const int address = projector.address;
    const std::string node = nodeId(names);
    nlohmann::ordered_json device = {
        {"identifiers", {node + "_p" + std::to_string(address)}},
        {"name", names.name + " projector" + (address == 0 ? "" : " " + std::to_string(address))}};
    field(device, "manufacturer", projector.manufacturer);
    field(device, "model", projector.model);
    field(device, "sw_version", options.swVersion);
    device["via_device"] = lineDeviceId(names);

    std::vector<RetainedMessage> configs;
    for (const Entity& entity : kEntities) {
        const std::string object = objectOf(address, entity.object);
        nlohmann::ordered_json config = nlohmann::ordered_json::object();
        config["name"] = entity.name;
        config["unique_id"] = node + "_" + object;
        nlohmann::ordered_json availability = nlohmann::ordered_json::array();
        availability.push_back({{"topic", names.status()}});
        availability.push_back({{"topic", names.availability(address)}});
        if (entity.kind == Kind::Enum) {
            const std::string known =
                "value_json." + std::string(entity.known.empty() ? entity.field : entity.known);
            availability.push_back(
                {{"topic", names.state(address)},
                 {"value_template", "{{ 'online' if " + known + " is not none else 'offline' }}"}});
        }
        config["availability"] = std::move(availability);
        config["availability_mode"] = "all";
        if (entity.kind == Kind::Button) {
            config["command_topic"] = names.set(address);
            config["payload_press"] = entity.field;
        } else {
            config["state_topic"] = names.state(address);
            config["value_template"] = valueTemplate(entity);
        }
        if (entity.component == "switch") {
            config["command_topic"] = names.set(address);
            config["payload_on"] = "ON";
            config["payload_off"] = "OFF";
        }
        if (entity.kind == Kind::Select || entity.kind == Kind::Enum) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const Choice& choice : entity.choices) {
                list.push_back(entity.kind == Kind::Select ? choice.label : choice.reported);
            }
            config["options"] = std::move(list);
        }
        if (entity.kind == Kind::Select) {
            config["command_topic"] = names.set(address);
            config["command_template"] = commandTemplate(entity);
        }
        field(config, "unit_of_measurement", entity.unit);
        field(config, "device_class", entity.deviceClass);
        field(config, "state_class", entity.stateClass);
        field(config, "entity_category", entity.category);
        config["device"] = device;
        configs.push_back(
            {configTopic(names, options, entity.component, object), config.dump(-1, ' ', true)});
    }
    return configs;
}

std::vector<std::string> configTopics(const TopicNames& names, const DiscoveryOptions& options,
                                      std::span<const int> addresses) {
    std::vector<std::string> topics;
    for (const RetainedMessage& config : lineConfigs(names, options)) {
        topics.push_back(config.topic);
    }
    for (const int address : addresses) {
        for (const Entity& entity : kEntities) {
            topics.push_back(
                configTopic(names, options, entity.component, objectOf(address, entity.object)));
        }
    }
    return topics;
}

std::optional<std::string> earlierNodeId(const TopicNames& names) {
    std::string node = names.prefix + "_" + names.name;
    for (char& c : node) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-';
        c = kept ? c : '_';
    }
    if (node.find("__") != std::string::npos) {
        return std::nullopt;
    }
    return node;
}

bool ownConfigTopic(const TopicNames& names, const DiscoveryOptions& options,
                    std::string_view topic) {
    const std::string lead = options.prefix + "/";
    if (!topic.starts_with(lead) || !topic.ends_with("/config")) {
        return false;
    }
    const std::string_view rest = topic.substr(lead.size());
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return false;
    }
    const auto earlier = earlierNodeId(names);
    return rest.substr(slash).starts_with("/" + nodeId(names) + "/") ||
           (earlier && rest.substr(slash).starts_with("/" + *earlier + "/"));
}

}  // namespace pj::line
