// SPDX-License-Identifier: Apache-2.0
// The Home Assistant discovery configs against the rules Home Assistant's MQTT schema applies
// to them, and their templates rendered over state JSON, known, unknown and partly known.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "line/discovery.h"
#include "line/jinja_subset.h"
#include "line/projector_state.h"
#include "projector/commands.h"

namespace pj::line {
namespace {

using nlohmann::json;
using test::JinjaSubset;

// The keys Home Assistant's MQTT discovery takes, for every component and per component.
const std::set<std::string> kCommonKeys{"name",
                                        "unique_id",
                                        "availability",
                                        "availability_mode",
                                        "device",
                                        "entity_category",
                                        "icon",
                                        "object_id",
                                        "qos",
                                        "enabled_by_default",
                                        "availability_topic",
                                        "payload_available",
                                        "payload_not_available"};
const std::map<std::string, std::set<std::string>> kComponentKeys{
    {"sensor",
     {"state_topic", "value_template", "unit_of_measurement", "device_class", "state_class",
      "options", "expire_after", "force_update", "suggested_display_precision"}},
    {"binary_sensor",
     {"state_topic", "value_template", "device_class", "payload_on", "payload_off", "expire_after",
      "force_update", "off_delay"}},
    {"switch",
     {"state_topic", "value_template", "command_topic", "payload_on", "payload_off", "state_on",
      "state_off", "device_class", "optimistic", "retain"}},
    {"select",
     {"state_topic", "value_template", "command_topic", "command_template", "options", "optimistic",
      "retain"}},
    {"button", {"command_topic", "command_template", "payload_press", "device_class", "retain"}},
};
const std::set<std::string> kDeviceKeys{
    "identifiers", "connections", "name",       "manufacturer",   "model",
    "sw_version",  "hw_version",  "via_device", "suggested_area", "configuration_url"};
// Units each sensor device class takes; a class not here is refused.
const std::map<std::string, std::set<std::string>> kSensorUnits{
    {"duration", {"d", "h", "min", "s", "ms"}},
    {"temperature",
     {"\xC2\xB0"
      "C",
      "\xC2\xB0"
      "F",
      "K"}},
    {"enum", {}},
};
const std::set<std::string> kBinaryClasses{"light", "problem", "connectivity"};
const std::set<std::string> kCategories{"config", "diagnostic"};

std::string componentOf(const std::string& topic) {
    const auto first = topic.find('/') + 1;
    return topic.substr(first, topic.find('/', first) - first);
}

// Every rendered value of `config` over `state` is one its platform takes: ON/OFF/None for
// switches and binary sensors, an option or None for selects, a number or None for numeric
// sensors, an option for enum sensors while their availability template says online.
void checkRendering(const std::string& component, const json& config, const json& state) {
    const std::string rendered =
        JinjaSubset::render(config["value_template"].get<std::string>(), state);
    if (component == "switch" || component == "binary_sensor") {
        EXPECT_TRUE(rendered == "ON" || rendered == "OFF" || rendered == "None") << rendered;
    } else if (component == "select") {
        const auto& options = config["options"];
        EXPECT_TRUE(rendered == "None" ||
                    std::find(options.begin(), options.end(), rendered) != options.end())
            << rendered;
    } else if (config.contains("options")) {
        const json& last = config["availability"].back();
        const bool online =
            JinjaSubset::render(last["value_template"].get<std::string>(), state) == "online";
        const auto& options = config["options"];
        EXPECT_EQ(online, std::find(options.begin(), options.end(), rendered) != options.end())
            << rendered;
    } else {
        EXPECT_TRUE(rendered == "None" || json::parse(rendered, nullptr, false).is_number())
            << rendered;
    }
}

ProjectorState fullState() {
    ProjectorState s;
    s.operatingState = OperatingState::TemperatureWarning;
    s.input = InputMode{2};
    s.lampHours = LampHours{1234};
    s.temperatures = Temperatures{{25.0, std::nullopt, 40.5, 35.0}};
    s.lamps = Lamps{{true, false}, LampMode::Lamp1};
    s.mute = MuteAndSignal{true, std::nullopt, Signal::Present};
    s.responding = true;
    return s;
}

TEST(Discovery, EveryConfigKeepsHomeAssistantsSchemaRulesOverKnownUnknownAndPartlyKnownStates) {
    const TopicNames names{"pjline", "booth"};
    const DiscoveryOptions options{"homeassistant", "1.2.3"};
    const std::vector<RetainedMessage> configs =
        projectorConfigs(names, options, {1, "Maker", "PJ-1"});
    const json states[] = {json::parse(stateJson(ProjectorState{})),
                           json::parse(stateJson(fullState()))};
    std::set<std::string> uniqueIds;
    for (const RetainedMessage& message : configs) {
        SCOPED_TRACE(message.topic);
        const std::string component = componentOf(message.topic);
        ASSERT_TRUE(kComponentKeys.contains(component));
        const json config = json::parse(message.payload);
        for (const auto& [key, value] : config.items()) {
            EXPECT_TRUE(kCommonKeys.contains(key) || kComponentKeys.at(component).contains(key))
                << key;
        }
        for (const auto& [key, value] : config["device"].items()) {
            EXPECT_TRUE(kDeviceKeys.contains(key)) << key;
        }
        EXPECT_EQ(config["device"]["identifiers"], json::array({"pjline__booth_p1"}));
        EXPECT_EQ(config["device"]["manufacturer"], "Maker");
        EXPECT_EQ(config["device"]["model"], "PJ-1");
        EXPECT_EQ(config["device"]["sw_version"], "1.2.3");
        EXPECT_EQ(config["device"]["via_device"], "pjline__booth_line");
        EXPECT_TRUE(uniqueIds.insert(config["unique_id"].get<std::string>()).second);
        if (config.contains("entity_category")) {
            EXPECT_TRUE(kCategories.contains(config["entity_category"])) << config;
        }

        // Available only while the bridge is online and the projector answers.
        EXPECT_EQ(config["availability_mode"], "all");
        const json& availability = config["availability"];
        ASSERT_GE(availability.size(), 2U);
        EXPECT_EQ(availability[0]["topic"], "pjline/booth/status");
        EXPECT_EQ(availability[1]["topic"], "pjline/booth/1/availability");

        if (component == "sensor") {
            const std::string deviceClass = config.value("device_class", "");
            ASSERT_TRUE(deviceClass.empty() || kSensorUnits.contains(deviceClass)) << deviceClass;
            if (deviceClass == "enum") {
                EXPECT_FALSE(config.contains("unit_of_measurement"));
                EXPECT_FALSE(config.contains("state_class"));
                EXPECT_FALSE(config["options"].empty());
            } else if (!deviceClass.empty()) {
                EXPECT_TRUE(kSensorUnits.at(deviceClass).contains(config["unit_of_measurement"]));
                EXPECT_TRUE(config.contains("state_class"));
            }
            if (config.value("state_class", "") == "total_increasing") {
                EXPECT_EQ(deviceClass, "duration");
            }
        }
        if (component == "binary_sensor" && config.contains("device_class")) {
            EXPECT_TRUE(kBinaryClasses.contains(config["device_class"]));
        }
        if (component == "button") {
            EXPECT_EQ(config["command_topic"], "pjline/booth/1/set");
            EXPECT_NE(findCommand(config["payload_press"].get<std::string>()), nullptr);
            continue;
        }
        if (component == "select") {
            // Each option sends a command by its name; the command template is total.
            for (const auto& option : config["options"]) {
                const std::string sent = JinjaSubset::render(
                    config["command_template"].get<std::string>(), json{}, option);
                EXPECT_NE(findCommand(sent), nullptr) << sent;
            }
        }
        EXPECT_EQ(config["state_topic"], "pjline/booth/1/state");
        for (const json& state : states) {
            SCOPED_TRACE(state.dump());
            checkRendering(component, config, state);
        }
    }
}

TEST(Discovery, TemplatesShowWhatTheStateSaysAndUnknownWhereItIsNull) {
    struct Row {
        const char* object;
        const char* known;  // over fullState()
        const char* empty;  // over a state with nothing known
    };
    const Row rows[] = {
        {"power", "ON", "None"},           {"input", "Input 2", "None"},
        {"lamp_mode", "Lamp 1", "None"},   {"operating_state", "temperature_warning", "None"},
        {"problem", "ON", "None"},         {"lamp_hours", "1234", "None"},
        {"lamp_1", "ON", "None"},          {"lamp_2", "OFF", "None"},
        {"temperature_1", "25.0", "None"}, {"temperature_2", "None", "None"},
        {"temperature_3", "40.5", "None"}, {"video_mute", "ON", "None"},
        {"audio_mute", "None", "None"},    {"signal", "present", "None"},
    };
    const TopicNames names{"pjline", "booth"};
    std::map<std::string, json> byObject;
    for (const RetainedMessage& m : projectorConfigs(names, {}, {1, "", ""})) {
        const auto end = m.topic.rfind('/');
        const auto start = m.topic.rfind('/', end - 1) + 1;
        byObject[m.topic.substr(start + 3, end - start - 3)] = json::parse(m.payload);
    }
    const json known = json::parse(stateJson(fullState()));
    const json empty = json::parse(stateJson(ProjectorState{}));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.object);
        ASSERT_TRUE(byObject.contains(row.object));
        const std::string value = byObject[row.object]["value_template"];
        EXPECT_EQ(JinjaSubset::render(value, known), row.known) << value;
        EXPECT_EQ(JinjaSubset::render(value, empty), row.empty) << value;
    }
    // Power off, and a projector warming up, as the switch shows them.
    ProjectorState off;
    off.operatingState = OperatingState::Standby;
    const std::string power = byObject["power"]["value_template"];
    EXPECT_EQ(JinjaSubset::render(power, json::parse(stateJson(off))), "OFF");
    off.operatingState = OperatingState::Warming;
    EXPECT_EQ(JinjaSubset::render(power, json::parse(stateJson(off))), "ON");
    // Nothing to show a manufacturer or model not given.
    EXPECT_FALSE(byObject["power"]["device"].contains("manufacturer"));
    EXPECT_FALSE(byObject["power"]["device"].contains("model"));
}

TEST(Discovery, NodeIdsOfDifferentLinesNeverMeetAndTopicsFollowThePrefixes) {
    const TopicNames lines[] = {{"a/b", "c"}, {"a_b", "c"}, {"a", "b_c"},    {"a_2fb", "c"},
                                {"a", "_c"},  {"a_", "c"},  {"pjline", "x"}, {"pj line", "x"}};
    std::set<std::string> nodes;
    for (const TopicNames& names : lines) {
        const std::string node = nodeId(names);
        SCOPED_TRACE(node);
        EXPECT_TRUE(nodes.insert(node).second);
        EXPECT_EQ(node.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_-"),
                  std::string::npos);
    }
    const TopicNames names{"site/av", "hall"};
    const DiscoveryOptions options{"ha", ""};
    const auto configs = projectorConfigs(names, options, {0, "", ""});
    EXPECT_EQ(configs.front().topic, "ha/switch/site_2fav__hall/p0_power/config");
    EXPECT_EQ(json::parse(configs.front().payload)["device"]["name"], "hall projector");
    const int addresses[] = {0, 3};
    const auto topics = configTopics(names, options, addresses);
    EXPECT_EQ(topics.size(), 1 + 2 * configs.size());
    for (const std::string& topic : topics) {
        EXPECT_TRUE(ownConfigTopic(names, options, topic)) << topic;
    }
    EXPECT_FALSE(ownConfigTopic(names, options, "ha/switch/site_2fav__hall2/p0_power/config"));
    EXPECT_FALSE(ownConfigTopic(names, options, "homeassistant/switch/site_2fav__hall/p/config"));
    // The configs earlier versions left under "<prefix>_<name>" are this line's to remove,
    // unless that id could be another line's now.
    EXPECT_EQ(earlierNodeId({"pjline", "booth"}), "pjline_booth");
    EXPECT_EQ(earlierNodeId(names), "site_av_hall");
    EXPECT_EQ(earlierNodeId({"a_", "b"}), std::nullopt);
    EXPECT_TRUE(ownConfigTopic(names, options, "ha/sensor/site_av_hall/p1_input/config"));
    EXPECT_FALSE(ownConfigTopic({"a_", "b"}, options, "ha/sensor/a__b/p1_input/config") &&
                 ownConfigTopic({"a", "b"}, options, "ha/sensor/a__b/p1_input/config"));
    const json line = json::parse(lineConfigs(names, options).front().payload);
    EXPECT_EQ(line["device"]["identifiers"], json::array({"site_2fav__hall_line"}));
    EXPECT_EQ(line["state_topic"], "site/av/hall/line");
}

}  // namespace
}  // namespace pj::line
