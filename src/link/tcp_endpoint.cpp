// SPDX-License-Identifier: Apache-2.0
#include "link/tcp_endpoint.h"

#include <algorithm>
#include <charconv>

namespace pj {

namespace {

constexpr std::string_view kTcpScheme = "tcp://";

// A port number as written after the host: one to five decimal digits and nothing else, no
// sign and no blanks.
std::optional<unsigned> portNumber(std::string_view text) {
    constexpr std::size_t kMostDigits = 5;
    if (text.empty() || text.size() > kMostDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

bool isTcpDevice(std::string_view device) {
    if (device.size() < kTcpScheme.size()) {
        return false;
    }
    return std::equal(kTcpScheme.begin(), kTcpScheme.end(), device.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
    });
}

std::string endpointName(const TcpEndpoint& endpoint) {
    const std::string host =
        endpoint.host.find(':') != std::string::npos ? "[" + endpoint.host + "]" : endpoint.host;
    return host + ":" + std::to_string(endpoint.port);
}

std::optional<TcpEndpoint> parseTcpDevice(std::string_view device, std::string* error) {
    const auto fail = [&](std::string_view why) -> std::optional<TcpEndpoint> {
        if (error != nullptr) {
            *error = "\"" + std::string(device) +
                     "\" is not a network port (tcp://HOST:PORT): " + std::string(why);
        }
        return std::nullopt;
    };
    if (!isTcpDevice(device)) {
        return fail("it does not begin with tcp://");
    }
    std::string_view rest = device.substr(kTcpScheme.size());
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    // An IPv6 address stands in brackets, so that its colons are not taken for the port's.
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos ||
            (close + 1 < rest.size() && rest[close + 1] != ':')) {
            return fail("an IPv6 address is written [ADDRESS]:PORT");
        }
        host = rest.substr(1, close - 1);
        port = close + 1 < rest.size() ? rest.substr(close + 2) : std::string_view();
    } else {
        const std::size_t colon = rest.rfind(':');
        host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
        port = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    if (host.empty()) {
        return fail("the host is missing");
    }
    constexpr std::string_view kNotInHost = "/?#@[] ";
    if (host.find_first_of(kNotInHost) != std::string_view::npos) {
        return fail("only a host and a port number may follow tcp://");
    }
    const std::optional<unsigned> value = portNumber(port);
    if (!value || *value < 1 || *value > 65535) {
        return fail("no port number (1 to 65535) after the host");
    }
    return TcpEndpoint{std::string(host), static_cast<std::uint16_t>(*value)};
}

}  // namespace pj
