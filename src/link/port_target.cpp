// SPDX-License-Identifier: Apache-2.0
#include "link/port_target.h"

#include <algorithm>

#include "link/tcp_endpoint.h"

namespace pj {

namespace {

constexpr std::string_view kUnixScheme = "unix:";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool isLocalSocketName(std::string_view name) {
    return name.size() >= kUnixScheme.size() &&
           std::equal(kUnixScheme.begin(), kUnixScheme.end(), name.begin(),
                      [](char a, char b) { return a == lower(b); });
}

std::optional<std::string> parseLocalSocketName(std::string_view name, std::string* error) {
    const auto fail = [&](std::string_view why) -> std::optional<std::string> {
        if (error != nullptr) {
            *error = "\"" + std::string(name) +
                     "\" is not a local socket (unix:/PATH): " + std::string(why);
        }
        return std::nullopt;
    };
    if (!isLocalSocketName(name)) {
        return fail("it does not begin with unix:");
    }
    const std::string_view path = name.substr(kUnixScheme.size());
    if (path.empty()) {
        return fail("the path is missing");
    }
    if (path.front() != '/') {
        return fail("the path must be absolute, beginning with /");
    }
    return std::string(path);
}

PortTarget portTarget(const std::string& name,
                      const std::function<DeviceFacts(const std::string&)>& examine) {
    using Kind = PortTarget::Kind;
    std::string problem;
    if (isTcpDevice(name)) {
        if (!parseTcpDevice(name, &problem)) {
            return {Kind::Invalid, problem, {}};
        }
        return {Kind::Network, name, {}};
    }
    if (isLocalSocketName(name)) {
        std::optional<std::string> path = parseLocalSocketName(name, &problem);
        if (!path) {
            return {Kind::Invalid, problem, {}};
        }
        return {Kind::LocalSocket, std::move(*path), {}};
    }
    DeviceFacts facts = examine(name);
    return {facts.socket ? Kind::LocalSocket : Kind::Device, name, std::move(facts)};
}

}  // namespace pj
