// SPDX-License-Identifier: Apache-2.0
#include "line/config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <sstream>

#include "link/tcp_endpoint.h"

namespace pj::line {
namespace {

constexpr std::size_t kLongestSocketPath = 107;  // sun_path less its terminating NUL
constexpr std::uint16_t kMqttPort = 1883;

using Error = std::optional<std::string>;

std::optional<long> number(std::string_view text, long low, long high) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

Error setMs(int& field, std::string_view value, long low, long high) {
    const auto ms = number(value, low, high);
    if (!ms) {
        return "milliseconds from " + std::to_string(low) + " to " + std::to_string(high);
    }
    field = static_cast<int>(*ms);
    return std::nullopt;
}

bool hostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':';
}

// "HOST[:PORT]" when `hostFirst`, else "[HOST:]PORT"; an IPv6 address in brackets.
std::optional<ListenAddress> hostPort(std::string_view value, bool hostFirst,
                                      std::uint16_t defaultPort) {
    std::string_view host;
    std::string_view port;
    bool bracketed = false;
    bool portWritten = !hostFirst;
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        const std::string_view rest =
            close == std::string_view::npos ? "" : value.substr(close + 1);
        if (close == std::string_view::npos || (!rest.empty() && rest.front() != ':')) {
            return std::nullopt;
        }
        host = value.substr(1, close - 1);
        port = rest.empty() ? rest : rest.substr(1);
        portWritten = portWritten || !rest.empty();
        bracketed = true;
    } else if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
        portWritten = true;
    } else {
        (hostFirst ? host : port) = value;
    }
    const bool hostOk = std::all_of(host.begin(), host.end(), hostCharacter) &&
                        (bracketed || host.find(':') == std::string_view::npos);
    const bool hostGiven = !host.empty() || (!hostFirst && value.find(':') == value.npos);
    if (!hostOk || !hostGiven) {
        return std::nullopt;
    }
    ListenAddress address{std::string(host), defaultPort};
    if (portWritten) {
        const auto n = number(port, 1, 65535);
        if (!n) {
            return std::nullopt;
        }
        address.port = static_cast<std::uint16_t>(*n);
    }
    return address;
}

// A name that is safe in a topic, a file name and a log line.
bool safeName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

struct Option {
    std::string_view key;  // as the file writes it; the command line's is --key, '_' as '-'
    std::string_view argument;
    std::string_view help;
    Error (*apply)(LineConfig& config, std::string_view value);
};

const std::array<Option, 12> kOptions{{
    {"device", "DEV", "the line: a serial device, or tcp://HOST:PORT for a device server",
     [](LineConfig& c, std::string_view v) -> Error {
         if (v.empty()) {
             return "a device path or tcp://HOST:PORT";
         }
         std::string why;
         if (isTcpDevice(v) && !parseTcpDevice(v, &why)) {
             return why;
         }
         c.device = std::string(v);
         return std::nullopt;
     }},
    {"baud", "19200|9600", "the line's speed (19200)",
     [](LineConfig& c, std::string_view v) -> Error {
         if (v != "19200" && v != "9600") {
             return "19200 or 9600";
         }
         c.baud = v == "9600" ? 9600 : 19200;
         return std::nullopt;
     }},
    {"socket", "PATH", "the local socket clients connect to (/run/pjline/NAME.sock)",
     [](LineConfig& c, std::string_view v) -> Error {
         if (v.empty() || v.front() != '/' || v.size() > kLongestSocketPath) {
             return "an absolute path of at most 107 characters";
         }
         c.socket = std::string(v);
         return std::nullopt;
     }},
    {"listen", "[HOST:]PORT", "also take clients over TCP (every interface without HOST)",
     [](LineConfig& c, std::string_view v) -> Error {
         c.listen = hostPort(v, false, 0);
         return c.listen ? Error{} : "[HOST:]PORT with a port from 1 to 65535";
     }},
    {"name", "NAME", "the line's name in logs and topics (the file's name, else \"line\")",
     [](LineConfig& c, std::string_view v) -> Error {
         if (!safeName(v)) {
             return "letters, digits, '-' and '_', at most 64";
         }
         c.name = std::string(v);
         return std::nullopt;
     }},
    {"settle", "MS", "a frame's window for its answer before the next is written (300)",
     [](LineConfig& c, std::string_view v) { return setMs(c.hub.settleMs, v, 1, 60000); }},
    {"hold", "MS", "how long a client that holds the line keeps it a frame (2000)",
     [](LineConfig& c, std::string_view v) { return setMs(c.hub.holdMs, v, 1, 60000); }},
    {"quiet", "MS", "the clients' silence after which polling may go on (3000)",
     [](LineConfig& c, std::string_view v) { return setMs(c.hub.quietMs, v, 0, 3600000); }},
    {"mqtt", "HOST[:PORT]", "publish the projectors to this MQTT broker (port 1883)",
     [](LineConfig& c, std::string_view v) -> Error {
         c.mqtt = hostPort(v, true, kMqttPort);
         return c.mqtt ? Error{} : "HOST or HOST:PORT with a port from 1 to 65535";
     }},
    {"mqtt_prefix", "PREFIX", "the first level of the topics (pjline)",
     [](LineConfig& c, std::string_view v) -> Error {
         const bool ok = !v.empty() && v.front() != '/' && v.back() != '/' &&
                         std::all_of(v.begin(), v.end(), [](char ch) {
                             return ch > ' ' && ch < 127 && ch != '+' && ch != '#';
                         });
         if (!ok) {
             return "printable, without spaces, '+', '#' or a '/' at either end";
         }
         c.mqttPrefix = std::string(v);
         return std::nullopt;
     }},
    {"projectors", "LIST|none", "their addresses, as 1,2,4 (none: one without an address)",
     [](LineConfig& c, std::string_view v) -> Error {
         std::vector<int> list;
         if (v != "none") {
             std::stringstream in{std::string(v)};
             for (std::string item; std::getline(in, item, ',');) {
                 const auto n = number(item, 1, 4);
                 if (!n || std::find(list.begin(), list.end(), *n) != list.end()) {
                     return "none, or addresses from 1 to 4, each once, as 1,2,4";
                 }
                 list.push_back(static_cast<int>(*n));
             }
             if (list.empty() || v.back() == ',') {
                 return "none, or addresses from 1 to 4, each once, as 1,2,4";
             }
         }
         c.projectors = std::move(list);
         return std::nullopt;
     }},
    {"poll", "S", "seconds between rounds of status queries (30)",
     [](LineConfig& c, std::string_view v) -> Error {
         const auto s = number(v, 1, 86400);
         if (!s) {
             return "seconds from 1 to 86400";
         }
         c.pollSeconds = static_cast<int>(*s);
         return std::nullopt;
     }},
}};

const Option* findOption(std::string_view key) {
    for (const Option& o : kOptions) {
        if (o.key == key) {
            return &o;
        }
    }
    return nullptr;
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string fileKey(std::string_view commandLineKey) {
    std::string key(commandLineKey);
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

std::string commandLineKey(std::string_view fileKeyText) {
    std::string key(fileKeyText);
    std::replace(key.begin(), key.end(), '_', '-');
    return "--" + key;
}

// The file's base name less ".conf", when it makes a name.
std::string nameOfFile(std::string_view path) {
    std::string_view base = path.substr(path.find_last_of('/') + 1);
    if (base.size() > 5 && base.substr(base.size() - 5) == ".conf") {
        base.remove_suffix(5);
    }
    return safeName(base) ? std::string(base) : std::string("line");
}

}  // namespace

std::optional<ConfigError> readConfigText(std::string_view text, std::string_view origin,
                                          LineConfig& config) {
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        const std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        const std::string line = trim(raw.substr(0, raw.find('#')));
        if (line.empty()) {
            continue;
        }
        const std::string where = std::string(origin) + ":" + std::to_string(lineNumber);
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            return ConfigError{where + ": expected key = value"};
        }
        const std::string key = trim(std::string_view(line).substr(0, equals));
        const std::string value = trim(std::string_view(line).substr(equals + 1));
        const Option* option = findOption(key);
        if (option == nullptr) {
            return ConfigError{where + ": unknown key \"" + key + "\""};
        }
        if (const Error error = option->apply(config, value)) {
            return ConfigError{where + ": " + key + ": " + *error};
        }
    }
    return std::nullopt;
}

Parsed parseConfig(const std::vector<std::string_view>& args) {
    // Pairs of option and value, the config file read first whatever its place.
    std::vector<std::pair<const Option*, std::string>> given;
    std::optional<std::string> configFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            return Help{};
        }
        if (arg == "--version") {
            return Version{};
        }
        if (arg.substr(0, 2) != "--") {
            return ConfigError{"unexpected argument \"" + std::string(arg) + "\""};
        }
        const auto equals = arg.find('=');
        const std::string_view key =
            arg.substr(2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
        const Option* option = key == "config" ? nullptr : findOption(fileKey(key));
        if (key != "config" && (option == nullptr || key.find('_') != std::string_view::npos)) {
            return ConfigError{"unknown option --" + std::string(key)};
        }
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            value = std::string(args[++i]);
        } else {
            return ConfigError{"--" + std::string(key) + " needs a value"};
        }
        if (option == nullptr) {
            configFile = value;
        } else {
            given.emplace_back(option, value);
        }
    }

    LineConfig config;
    if (configFile) {
        std::ifstream in(*configFile, std::ios::binary);
        if (!in) {
            return ConfigError{"cannot read " + *configFile};
        }
        std::stringstream text;
        text << in.rdbuf();
        if (auto error = readConfigText(text.str(), *configFile, config)) {
            return *error;
        }
    }
    for (const auto& [option, value] : given) {
        if (const Error error = option->apply(config, value)) {
            return ConfigError{commandLineKey(option->key) + ": " + *error};
        }
    }
    if (config.device.empty()) {
        return ConfigError{"no line: give --device, or device = in the configuration file"};
    }
    if (config.name.empty()) {
        config.name = configFile ? nameOfFile(*configFile) : "line";
    }
    if (config.socket.empty()) {
        config.socket = "/run/pjline/" + config.name + ".sock";
    }
    return config;
}

std::string usage() {
    std::string text =
        "Usage: pjline [--config FILE] [OPTION...]\n"
        "Serves one projector line to many clients at once: the panel, pjctl and plain TCP\n"
        "clients. Frames are written whole, one at a time; whatever the projectors send\n"
        "reaches every client.\n\n"
        "  --config FILE           read the options from FILE (key = value, # comments),\n"
        "                          such as /etc/pjline/NAME.conf; the command line wins\n";
    for (const Option& o : kOptions) {
        std::string left = "  " + commandLineKey(o.key) + " " + std::string(o.argument);
        left.resize(std::max<std::size_t>(left.size() + 1, 26), ' ');
        text += left + std::string(o.help) + "\n";
    }
    text +=
        "  --help                  this text\n"
        "  --version               the program's version\n";
    return text;
}

}  // namespace pj::line
