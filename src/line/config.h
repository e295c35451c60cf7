// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "line/hub.h"

namespace pj::line {

// Where a listener takes connections: an address (empty: every interface) and a port.
struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;
};

// One line's settings, from its file under /etc/pjline/ and the command line.
struct LineConfig {
    std::string name;    // what the logs and the broker's topics call the line
    std::string device;  // a serial device, or "tcp://HOST:PORT"
    int baud = 19200;
    std::string socket;  // the local socket clients connect to
    std::optional<ListenAddress> listen;
    HubSettings hub;
    std::optional<ListenAddress> mqtt;  // the broker; none: no broker
    std::string mqttPrefix = "pjline";
    // The projectors' addresses, 1 to 4; one projector spoken to without an address when
    // empty.
    std::vector<int> projectors;
    int pollSeconds = 30;
};

// What the command line asks for.
struct Help {};
struct Version {};
struct ConfigError {
    std::string message;
};
using Parsed = std::variant<LineConfig, Help, Version, ConfigError>;

// Reads the command line (argv without the program's name), and the file --config names:
// the file first, the command line over it. Every error names the option or the file's line.
Parsed parseConfig(const std::vector<std::string_view>& args);

// Reads a configuration file's text into `config`; `origin` names it in the errors.
std::optional<ConfigError> readConfigText(std::string_view text, std::string_view origin,
                                          LineConfig& config);

// The --help text.
std::string usage();

}  // namespace pj::line
