// SPDX-License-Identifier: Apache-2.0
// The Home Assistant discovery configs, read back as JSON field by field.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "json_check.h"
#include "line/discovery.h"
#include "line/projector_state.h"

namespace pj::line {
namespace {

using test::Json;
using test::JsonReader;

struct EntityRow {
    const char* topic;
    const char* name;
    const char* unit;  // "<absent>" when none
    const char* deviceClass;
};

TEST(Discovery, ASwitchAndSensorsPerProjectorReadingTheStateJson) {
    const TopicNames names{"pjline", "booth"};
    const EntityRow rows[] = {
        {"homeassistant/switch/pjline_booth/p1_power/config", "Power", "<absent>", "<absent>"},
        {"homeassistant/sensor/pjline_booth/p1_operating_state/config", "Operating state",
         "<absent>", "<absent>"},
        {"homeassistant/sensor/pjline_booth/p1_input/config", "Input", "<absent>", "<absent>"},
        {"homeassistant/sensor/pjline_booth/p1_lamp_hours/config", "Lamp hours", "h", "duration"},
        {"homeassistant/sensor/pjline_booth/p1_lamp_mode/config", "Lamp mode", "<absent>",
         "<absent>"},
        {"homeassistant/binary_sensor/pjline_booth/p1_lamp_1/config", "Lamp 1", "<absent>",
         "light"},
        {"homeassistant/binary_sensor/pjline_booth/p1_lamp_2/config", "Lamp 2", "<absent>",
         "light"},
        {"homeassistant/sensor/pjline_booth/p1_temperature_1/config", "Temperature S1",
         "\xC2\xB0"
         "C",
         "temperature"},
        {"homeassistant/sensor/pjline_booth/p1_temperature_2/config", "Temperature S2",
         "\xC2\xB0"
         "C",
         "temperature"},
        {"homeassistant/sensor/pjline_booth/p1_temperature_3/config", "Temperature S3",
         "\xC2\xB0"
         "C",
         "temperature"},
        {"homeassistant/sensor/pjline_booth/p1_temperature_4/config", "Temperature S4",
         "\xC2\xB0"
         "C",
         "temperature"},
        {"homeassistant/binary_sensor/pjline_booth/p1_video_mute/config", "Video mute", "<absent>",
         "<absent>"},
        {"homeassistant/binary_sensor/pjline_booth/p1_audio_mute/config", "Audio mute", "<absent>",
         "<absent>"},
        {"homeassistant/sensor/pjline_booth/p1_signal/config", "Signal", "<absent>", "<absent>"},
    };
    const std::vector<RetainedMessage> configs = discoveryConfigs(names, 1);
    ASSERT_EQ(configs.size(), std::size(rows));

    ProjectorState known;
    known.operatingState = OperatingState::On;
    const std::optional<Json> state = JsonReader::parse(stateJson(known));
    ASSERT_TRUE(state);

    std::set<std::string> uniqueIds;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const EntityRow& row = rows[i];
        SCOPED_TRACE(row.topic);
        EXPECT_EQ(configs[i].topic, row.topic);
        const std::optional<Json> config = JsonReader::parse(configs[i].payload);
        ASSERT_TRUE(config) << configs[i].payload;
        EXPECT_EQ(config->str("name"), row.name);
        EXPECT_EQ(config->str("unit_of_measurement"), row.unit);
        EXPECT_EQ(config->str("device_class"), row.deviceClass);
        EXPECT_EQ(config->str("state_topic"), "pjline/booth/1/state");
        EXPECT_EQ(config->str("availability_topic"), "pjline/booth/status");
        EXPECT_EQ(config->str("payload_available"), "online");
        EXPECT_EQ(config->str("payload_not_available"), "offline");
        EXPECT_EQ(config->str("device.name"), "booth projector 1");
        const Json* identifiers = config->at("device.identifiers");
        ASSERT_TRUE(identifiers != nullptr && identifiers->items.size() == 1);
        EXPECT_EQ(identifiers->items[0].text, "pjline_booth_p1");
        uniqueIds.insert(config->str("unique_id"));

        // The template reads a key the state JSON has.
        const std::string value = config->str("value_template");
        const std::size_t at = value.find("value_json.");
        ASSERT_NE(at, std::string::npos) << value;
        const std::size_t start = at + 11;
        const std::size_t end =
            value.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_.", start);
        EXPECT_NE(state->at(value.substr(start, end - start)), nullptr) << value;

        const bool isSwitch = std::string(row.topic).find("/switch/") != std::string::npos;
        EXPECT_EQ(config->str("command_topic"), isSwitch ? "pjline/booth/1/set" : "<absent>");
        EXPECT_EQ(config->str("payload_on"), isSwitch ? "ON" : "<absent>");
        EXPECT_EQ(config->str("payload_off"), isSwitch ? "OFF" : "<absent>");
    }
    EXPECT_EQ(uniqueIds.size(), configs.size());
    EXPECT_TRUE(uniqueIds.contains("pjline_booth_p1_power"));
}

TEST(Discovery, NamesFollowTheAddressPrefixAndLine) {
    struct Row {
        TopicNames names;
        int address;
        const char* topic;  // of the power switch
        const char* deviceName;
        const char* stateTopic;
    };
    const Row rows[] = {
        {{"pjline", "hall"},
         0,
         "homeassistant/switch/pjline_hall/p0_power/config",
         "hall projector",
         "pjline/hall/0/state"},
        {{"site/av", "room 2"},
         4,
         "homeassistant/switch/site_av_room_2/p4_power/config",
         "room 2 projector 4",
         "site/av/room 2/4/state"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.topic);
        const std::vector<RetainedMessage> configs = discoveryConfigs(row.names, row.address);
        ASSERT_FALSE(configs.empty());
        EXPECT_EQ(configs[0].topic, row.topic);
        const std::optional<Json> config = JsonReader::parse(configs[0].payload);
        ASSERT_TRUE(config);
        EXPECT_EQ(config->str("device.name"), row.deviceName);
        EXPECT_EQ(config->str("state_topic"), row.stateTopic);
    }
}

}  // namespace
}  // namespace pj::line
