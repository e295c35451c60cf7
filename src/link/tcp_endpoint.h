// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pj {

// Where a port is reached on the network: a serial device server in raw TCP mode, named
// "tcp://HOST:PORT" ("tcp://[::1]:4001" for an IPv6 address).
struct TcpEndpoint {
    std::string host;
    std::uint16_t port = 0;
};

// How long a connection to a network port may take to be made, the name's lookup included,
// before it is given up; the same on every stack and for every program.
inline constexpr int kTcpConnectTimeoutMs = 5000;
// What a connection given up that way reports.
inline constexpr std::string_view kTcpConnectTimedOut = "the connection timed out";

// True when `device` names a network port rather than a serial device.
bool isTcpDevice(std::string_view device);
// The endpoint a "tcp://HOST:PORT" name stands for, or a description of what is wrong with it.
std::optional<TcpEndpoint> parseTcpDevice(std::string_view device, std::string* error = nullptr);
// "HOST:PORT", with an IPv6 address in brackets.
std::string endpointName(const TcpEndpoint& endpoint);

}  // namespace pj
