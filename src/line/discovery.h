// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pj::line {

// Where a bridge's topics live: PREFIX/NAME/...
struct TopicNames {
    std::string prefix;  // "pjline"
    std::string name;    // the line's name, "booth"

    std::string base() const { return prefix + "/" + name; }
    // "online" / "offline": the bridge itself.
    std::string status() const { return base() + "/status"; }
    // "up" / "down": whether the line's device is open.
    std::string line() const { return base() + "/line"; }
    std::string projector(int address) const { return base() + "/" + std::to_string(address); }
    std::string state(int address) const { return projector(address) + "/state"; }
    std::string set(int address) const { return projector(address) + "/set"; }
    // "online" / "offline": whether the projector answered its last poll.
    std::string availability(int address) const { return projector(address) + "/availability"; }
    // What became of the last command from the broker.
    std::string result(int address) const { return projector(address) + "/result"; }
};

// One retained message.
struct RetainedMessage {
    std::string topic;
    std::string payload;
};

// What Home Assistant is told of the line and its projectors.
struct DiscoveryOptions {
    std::string prefix = "homeassistant";  // Home Assistant's discovery prefix
    std::string swVersion;                 // pjline's version, shown as the software version
};

// A projector as its device block shows it; empty texts are left out.
struct ProjectorDevice {
    int address = 0;
    std::string manufacturer;
    std::string model;
};

// The node id of a line: "<prefix>__<name>", each written with letters, digits and '-' as
// they are and every other byte as '_' and its two hex digits, so that two different
// prefix and name pairs never give the same node (Home Assistant takes only [A-Za-z0-9_-]).
std::string nodeId(const TopicNames& names);

// The discovery configs of the line's own device: a connectivity binary sensor of the line.
std::vector<RetainedMessage> lineConfigs(const TopicNames& names, const DiscoveryOptions& options);

// The discovery configs of one projector, one per row of the entity table (see discovery.cpp
// and the README), each on <discovery prefix>/<component>/<node>/p<P>_<object>/config.
// Every entity is available while the bridge is online and the projector answered its last
// poll (availability_mode all); a text or enum sensor also while its field is known. The
// device is "NAME projector P" ("NAME projector" at address 0), via the line's device.
std::vector<RetainedMessage> projectorConfigs(const TopicNames& names,
                                              const DiscoveryOptions& options,
                                              const ProjectorDevice& device);

// Every config topic the bridge publishes for these projectors, the line's included.
std::vector<std::string> configTopics(const TopicNames& names, const DiscoveryOptions& options,
                                      std::span<const int> addresses);

// The node id earlier versions of pjline gave the line ("<prefix>_<name>", every character
// but letters, digits, '_' and '-' made '_'), so that their configs can be removed; nothing
// when it has "__" in it, as it might then be another line's node id now.
std::optional<std::string> earlierNodeId(const TopicNames& names);

// Whether `topic` is a discovery config topic of this line's node, or of its earlier node,
// whatever its projector.
bool ownConfigTopic(const TopicNames& names, const DiscoveryOptions& options,
                    std::string_view topic);

}  // namespace pj::line
