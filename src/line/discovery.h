// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pj::line {

// Where a bridge's topics live: PREFIX/NAME/...
struct TopicNames {
    std::string prefix;  // "pjline"
    std::string name;    // the line's name, "booth"

    std::string base() const { return prefix + "/" + name; }
    std::string status() const { return base() + "/status"; }
    std::string state(int address) const {
        return base() + "/" + std::to_string(address) + "/state";
    }
    std::string set(int address) const { return base() + "/" + std::to_string(address) + "/set"; }
};

// One retained message.
struct RetainedMessage {
    std::string topic;
    std::string payload;
};

// The Home Assistant discovery configs of the projector at `address`, one per entity of the
// entity table: a switch for the power (its state read from the state JSON's "power",
// commanded "ON"/"OFF" on PREFIX/NAME/P/set), sensors for the operating state, input, lamp
// hours (h), lamp mode, the four temperatures (°C) and the signal, and binary sensors for
// each lamp lit and for video and audio mute (unknown while the state JSON has null). Each is
// published retained on homeassistant/<component>/<node>/p<P>_<object>/config, where <node>
// is PREFIX_NAME with every character but letters, digits, '_' and '-' made '_'; its
// unique_id is <node>_p<P>_<object>, its device "<node>_p<P>", named "NAME projector P"
// ("NAME projector" for the projector without an address), and all go unavailable with
// PREFIX/NAME/status.
std::vector<RetainedMessage> discoveryConfigs(const TopicNames& names, int address);

}  // namespace pj::line
