// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "line/hub.h"

namespace pj::line {

// Where a listener takes connections: an address and a port.
struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;
};

// Client addresses a TCP listener takes: an IPv4 or IPv6 network, as 192.168.10.0/24 or
// fd00::/8; an address alone is a network of one.
struct AddressRange {
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};
    int prefix = 0;

    static std::optional<AddressRange> parse(std::string_view text);
    // Whether `address` (4 or 16 bytes, an IPv4-mapped IPv6 one taken as IPv4) is in it.
    bool contains(const std::uint8_t* address, std::size_t size) const;
};

// Whether a listener's host takes connections from this machine only.
bool loopbackHost(std::string_view host);

// One line's settings, from its file under /etc/pjline/ and the command line.
struct LineConfig {
    std::string name;    // what the logs and the broker's topics call the line
    std::string device;  // a serial device, or "tcp://HOST:PORT"
    int baud = 19200;
    std::string socket;  // the local socket clients connect to
    std::optional<ListenAddress> listen;
    // The TCP clients taken; every one when empty (the listener on loopback only).
    std::vector<AddressRange> allow;
    // Local and TCP clients are counted apart, so that TCP clients cannot lock out the
    // local ones; a TCP client that sends nothing for `tcpIdleSeconds` is let go.
    std::size_t maxLocalClients = 32;
    std::size_t maxTcpClients = 16;
    int tcpIdleSeconds = 600;
    HubSettings hub;
    std::optional<ListenAddress> mqtt;  // the broker; none: no broker
    std::string mqttPrefix = "pjline";
    std::string mqttUser;
    std::string mqttPasswordFile;
    std::string mqttPassword;  // read from mqttPasswordFile, never given itself
    std::string mqttCaFile;    // TLS when given
    std::string mqttCertFile;
    std::string mqttKeyFile;
    // Whether command text other than the named commands is taken from the broker.
    bool mqttRaw = false;
    // The projectors' addresses, 1 to 4; one projector spoken to without an address when
    // empty.
    std::vector<int> projectors;
    int pollSeconds = 30;
    // PJLink endpoints: the address of the projector each one is (0: the one without an
    // address) and where it listens; loopback unless a host is named.
    struct PjlinkEndpoint {
        int address = 0;
        ListenAddress listen;
    };
    std::vector<PjlinkEndpoint> pjlink;
    std::string pjlinkPasswordFile;
    std::optional<std::string> pjlinkPassword;  // read from pjlinkPasswordFile
    // A record of the line's traffic is added to the end of this file (none: no record).
    std::string lineLog;
    // Where PJLink searches (class 2, UDP) are answered for the endpoints; none: not at all.
    std::optional<ListenAddress> pjlinkSearch;
    // Home Assistant discovery: on or off, its prefix, and the projectors' manufacturer and
    // model by address (kEveryProjector: every projector without one of its own).
    bool mqttDiscovery = true;
    std::string mqttDiscoveryPrefix = "homeassistant";
    std::map<int, std::string> mqttManufacturer;
    std::map<int, std::string> mqttModel;
};

// The key of a text given for every projector in LineConfig::mqttManufacturer and mqttModel.
constexpr int kEveryProjector = -1;

// What the command line asks for.
struct Help {};
struct Version {};
struct ConfigError {
    std::string message;
};
using Parsed = std::variant<LineConfig, Help, Version, ConfigError>;

// The longest configuration and password files read.
constexpr std::size_t kLongestConfigFile = 64 * 1024;
constexpr std::size_t kLongestPasswordFile = 4096;

// Reads the command line (argv without the program's name), and the file --config names:
// the file first, the command line over it. Every error names the option or the file's line.
// Files are read only when they are regular files within their bound.
Parsed parseConfig(const std::vector<std::string_view>& args);

// Reads a configuration file's text into `config`; `origin` names it in the errors.
std::optional<ConfigError> readConfigText(std::string_view text, std::string_view origin,
                                          LineConfig& config);

// The --help text.
std::string usage();

}  // namespace pj::line
