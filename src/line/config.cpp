// SPDX-License-Identifier: Apache-2.0
#include "line/config.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

#include <arpa/inet.h>

#include "link/bounded_file.h"
#include "link/tcp_endpoint.h"
#include "protocol/frame.h"

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

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
}

// A name that is safe in a topic, a file name and a log line.
bool safeName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

Error setPath(std::string& field, std::string_view value) {
    if (value.empty() || value.front() != '/') {
        return "an absolute path";
    }
    field = std::string(value);
    return std::nullopt;
}

// A port alone is on the loopback interface.
Error setListen(std::optional<ListenAddress>& field, std::string_view value) {
    field = hostPort(value, false, 0);
    if (field && field->host.empty()) {
        field->host = "127.0.0.1";
    }
    return field ? Error{} : "[HOST:]PORT with a port from 1 to 65535";
}

Error setYesNo(bool& field, std::string_view value) {
    if (value != "yes" && value != "no") {
        return "yes or no";
    }
    field = value == "yes";
    return std::nullopt;
}

Error setCount(std::size_t& field, std::string_view value) {
    const auto n = number(value, 1, 1024);
    if (!n) {
        return "a number from 1 to 1024";
    }
    field = static_cast<std::size_t>(*n);
    return std::nullopt;
}

// "TEXT" for every projector, or "P:TEXT;P:TEXT" by address.
Error setByProjector(std::map<int, std::string>& field, std::string_view value) {
    constexpr std::string_view kWhat =
        "TEXT for every projector, or ADDRESS:TEXT;... (addresses 0 to 4, texts of at most 64 "
        "printable characters)";
    std::map<int, std::string> by;
    const bool perAddress = value.size() > 1 && value[1] == ':';
    std::stringstream in{std::string(value)};
    for (std::string item; std::getline(in, item, ';');) {
        int address = kEveryProjector;
        std::string text = trim(item);
        if (perAddress) {
            const auto n =
                text.size() > 1 && text[1] == ':' ? number(text.substr(0, 1), 0, 4) : std::nullopt;
            if (!n || by.contains(static_cast<int>(*n))) {
                return std::string(kWhat);
            }
            address = static_cast<int>(*n);
            text = trim(text.substr(2));
        }
        const bool ok =
            !text.empty() && text.size() <= 64 &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c < 127; });
        if (!ok || (!perAddress && !by.empty())) {
            return std::string(kWhat);
        }
        by[address] = text;
    }
    if (by.empty()) {
        return std::string(kWhat);
    }
    field = std::move(by);
    return std::nullopt;
}

struct Option {
    std::string_view key;  // as the file writes it; the command line's is --key, '_' as '-'
    std::string_view argument;
    std::string_view help;
    Error (*apply)(LineConfig& config, std::string_view value);
};

const auto kOptions = std::to_array<Option>({
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
    {"listen", "[HOST:]PORT",
     "also take clients over TCP; on 127.0.0.1 without HOST, on the network only with --allow",
     [](LineConfig& c, std::string_view v) { return setListen(c.listen, v); }},
    {"allow", "CIDR,...", "the TCP clients taken, as 192.168.10.0/24,10.1.2.3 (every one)",
     [](LineConfig& c, std::string_view v) -> Error {
         std::vector<AddressRange> ranges;
         std::stringstream in{std::string(v)};
         for (std::string item; std::getline(in, item, ',');) {
             const auto range = AddressRange::parse(trim(item));
             if (!range) {
                 return "addresses or networks, as 192.168.10.0/24,10.1.2.3,fd00::/8";
             }
             ranges.push_back(*range);
         }
         if (ranges.empty() || v.back() == ',') {
             return "addresses or networks, as 192.168.10.0/24,10.1.2.3,fd00::/8";
         }
         c.allow = std::move(ranges);
         return std::nullopt;
     }},
    {"max_local_clients", "N", "local socket clients at once (32)",
     [](LineConfig& c, std::string_view v) { return setCount(c.maxLocalClients, v); }},
    {"max_tcp_clients", "N", "TCP clients at once, counted apart from the local ones (16)",
     [](LineConfig& c, std::string_view v) { return setCount(c.maxTcpClients, v); }},
    {"tcp_idle", "S", "let a TCP client go that sent nothing for this long (600)",
     [](LineConfig& c, std::string_view v) -> Error {
         const auto s = number(v, 1, 86400);
         if (!s) {
             return "seconds from 1 to 86400";
         }
         c.tcpIdleSeconds = static_cast<int>(*s);
         return std::nullopt;
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
    {"line_log", "FILE",
     "add a record of the line's traffic to the end of FILE, JSON Lines as pjctl's (none)",
     [](LineConfig& c, std::string_view v) { return setPath(c.lineLog, v); }},
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
    {"mqtt_user", "USER", "log in to the broker as USER",
     [](LineConfig& c, std::string_view v) -> Error {
         if (v.empty() || !printable(v)) {
             return "printable characters, without spaces";
         }
         c.mqttUser = std::string(v);
         return std::nullopt;
     }},
    {"mqtt_password_file", "FILE", "the broker password: the first line of FILE",
     [](LineConfig& c, std::string_view v) { return setPath(c.mqttPasswordFile, v); }},
    {"mqtt_cafile", "FILE", "speak TLS to the broker, trusting the CA certificates in FILE",
     [](LineConfig& c, std::string_view v) { return setPath(c.mqttCaFile, v); }},
    {"mqtt_certfile", "FILE", "with TLS, this client certificate (with --mqtt-keyfile)",
     [](LineConfig& c, std::string_view v) { return setPath(c.mqttCertFile, v); }},
    {"mqtt_keyfile", "FILE", "with TLS, the client certificate's key",
     [](LineConfig& c, std::string_view v) { return setPath(c.mqttKeyFile, v); }},
    {"mqtt_raw", "yes|no", "take command text from the broker, not only named commands (no)",
     [](LineConfig& c, std::string_view v) { return setYesNo(c.mqttRaw, v); }},
    {"mqtt_discovery", "yes|no", "publish Home Assistant discovery configs (yes)",
     [](LineConfig& c, std::string_view v) { return setYesNo(c.mqttDiscovery, v); }},
    {"mqtt_discovery_prefix", "PREFIX", "Home Assistant's discovery prefix (homeassistant)",
     [](LineConfig& c, std::string_view v) -> Error {
         const bool ok = !v.empty() && v.front() != '/' && v.back() != '/' &&
                         std::all_of(v.begin(), v.end(), [](char ch) {
                             return ch > ' ' && ch < 127 && ch != '+' && ch != '#';
                         });
         if (!ok) {
             return "printable, without spaces, '+', '#' or a '/' at either end";
         }
         c.mqttDiscoveryPrefix = std::string(v);
         return std::nullopt;
     }},
    {"mqtt_manufacturer", "TEXT|P:TEXT;...", "the projectors' manufacturer in Home Assistant",
     [](LineConfig& c, std::string_view v) { return setByProjector(c.mqttManufacturer, v); }},
    {"mqtt_model", "TEXT|P:TEXT;...", "the projectors' model in Home Assistant",
     [](LineConfig& c, std::string_view v) { return setByProjector(c.mqttModel, v); }},
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
    {"pjlink", "A=[HOST:]PORT,...",
     "serve projector A (1 to 4, or single) over PJLink, as 1=4352,2=4353",
     [](LineConfig& c, std::string_view v) -> Error {
         constexpr std::string_view kWanted =
             "ADDRESS=[HOST:]PORT items, as 1=4352,2=192.168.10.5:4352 (ADDRESS 1 to 4, or "
             "single), each address once";
         std::vector<LineConfig::PjlinkEndpoint> endpoints;
         std::stringstream in{std::string(v)};
         for (std::string item; std::getline(in, item, ',');) {
             const auto equals = item.find('=');
             if (equals == std::string::npos) {
                 return std::string(kWanted);
             }
             const std::string name = trim(item.substr(0, equals));
             const AddressOption* address = findAddress(name);
             auto listen = hostPort(trim(item.substr(equals + 1)), false, 0);
             if (address == nullptr || address->number == kEveryAddress || !listen ||
                 std::any_of(endpoints.begin(), endpoints.end(),
                             [&](const auto& e) { return e.address == address->number; })) {
                 return std::string(kWanted);
             }
             if (listen->host.empty()) {
                 listen->host = "127.0.0.1";
             }
             endpoints.push_back({address->number, *listen});
         }
         if (endpoints.empty() || v.back() == ',') {
             return std::string(kWanted);
         }
         c.pjlink = std::move(endpoints);
         return std::nullopt;
     }},
    {"pjlink_password_file", "FILE", "PJLink clients authenticate with its first line (none)",
     [](LineConfig& c, std::string_view v) { return setPath(c.pjlinkPasswordFile, v); }},
    {"pjlink_search", "[HOST:]PORT",
     "answer PJLink searches (UDP), as 0.0.0.0:4352 to hear broadcasts (off)",
     [](LineConfig& c, std::string_view v) { return setListen(c.pjlinkSearch, v); }},
});

const Option* findOption(std::string_view key) {
    for (const Option& o : kOptions) {
        if (o.key == key) {
            return &o;
        }
    }
    return nullptr;
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

// What options ask of one another, and the password file's reading.
std::optional<ConfigError> checkTogether(LineConfig& config) {
    if (config.listen && !loopbackHost(config.listen->host) && config.allow.empty()) {
        return ConfigError{"--listen " + config.listen->host +
                           " takes clients from the network: name them with --allow CIDR,... "
                           "(allow = in the configuration file)"};
    }
    for (const auto& endpoint : config.pjlink) {
        const bool served = config.projectors.empty()
                                ? endpoint.address == 0
                                : std::find(config.projectors.begin(), config.projectors.end(),
                                            endpoint.address) != config.projectors.end();
        if (!served) {
            return ConfigError{"--pjlink names a projector the line does not have (--projectors)"};
        }
        if (!loopbackHost(endpoint.listen.host) && config.allow.empty()) {
            return ConfigError{"--pjlink on " + endpoint.listen.host +
                               " takes clients from the network: name them with --allow "
                               "CIDR,... (allow = in the configuration file)"};
        }
    }
    if (config.pjlinkSearch) {
        if (config.pjlink.empty()) {
            return ConfigError{"--pjlink-search answers for PJLink endpoints: give --pjlink"};
        }
        if (!loopbackHost(config.pjlinkSearch->host) && config.allow.empty()) {
            return ConfigError{"--pjlink-search on " + config.pjlinkSearch->host +
                               " hears the network: name who may search with --allow "
                               "CIDR,... (allow = in the configuration file)"};
        }
    }
    if (!config.pjlinkPasswordFile.empty()) {
        const FileText text = readBoundedFile(config.pjlinkPasswordFile, kLongestPasswordFile);
        if (const auto* refused = std::get_if<FileRefused>(&text)) {
            return ConfigError{refused->message};
        }
        const std::string& whole = std::get<std::string>(text);
        config.pjlinkPassword = whole.substr(0, whole.find_first_of("\r\n"));
        // PJLink passwords are at most 32 characters.
        if (config.pjlinkPassword->empty() || config.pjlinkPassword->size() > 32) {
            return ConfigError{config.pjlinkPasswordFile +
                               ": no password of 1 to 32 characters on its first line"};
        }
    }
    if (config.mqttCertFile.empty() != config.mqttKeyFile.empty()) {
        return ConfigError{"--mqtt-certfile and --mqtt-keyfile go together"};
    }
    if (!config.mqttCertFile.empty() && config.mqttCaFile.empty()) {
        return ConfigError{"a client certificate needs TLS: give --mqtt-cafile"};
    }
    if (!config.mqttPasswordFile.empty()) {
        if (config.mqttUser.empty()) {
            return ConfigError{"--mqtt-password-file needs --mqtt-user"};
        }
        const FileText text = readBoundedFile(config.mqttPasswordFile, kLongestPasswordFile);
        if (const auto* refused = std::get_if<FileRefused>(&text)) {
            return ConfigError{refused->message};
        }
        const std::string& whole = std::get<std::string>(text);
        config.mqttPassword = whole.substr(0, whole.find_first_of("\r\n"));
        if (config.mqttPassword.empty()) {
            return ConfigError{config.mqttPasswordFile + ": no password on its first line"};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<AddressRange> AddressRange::parse(std::string_view text) {
    const auto slash = text.find('/');
    const std::string address(text.substr(0, slash));
    AddressRange range;
    if (::inet_pton(AF_INET, address.c_str(), range.bytes.data()) == 1) {
        range.prefix = 32;
    } else if (::inet_pton(AF_INET6, address.c_str(), range.bytes.data()) == 1) {
        range.v6 = true;
        range.prefix = 128;
    } else {
        return std::nullopt;
    }
    if (slash != std::string_view::npos) {
        const auto n = number(text.substr(slash + 1), 0, range.prefix);
        if (!n) {
            return std::nullopt;
        }
        range.prefix = static_cast<int>(*n);
    }
    return range;
}

bool AddressRange::contains(const std::uint8_t* address, std::size_t size) const {
    static constexpr std::array<std::uint8_t, 12> kMapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (size == 16 && !v6 && std::equal(kMapped.begin(), kMapped.end(), address)) {
        address += 12;
        size = 4;
    }
    if (size != (v6 ? 16U : 4U)) {
        return false;
    }
    const int whole = prefix / 8;
    if (!std::equal(bytes.begin(), bytes.begin() + whole, address)) {
        return false;
    }
    const int rest = prefix % 8;
    const auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return rest == 0 || (bytes[static_cast<std::size_t>(whole)] & mask) == (address[whole] & mask);
}

bool loopbackHost(std::string_view host) {
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

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
        const FileText text = readBoundedFile(*configFile, kLongestConfigFile);
        if (const auto* refused = std::get_if<FileRefused>(&text)) {
            return ConfigError{refused->message};
        }
        if (auto error = readConfigText(std::get<std::string>(text), *configFile, config)) {
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
    if (auto error = checkTogether(config)) {
        return *error;
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
        "                          such as /etc/pjline/NAME.conf (a regular file of at most\n"
        "                          64 KiB); the command line wins. SIGHUP reads it again.\n";
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
