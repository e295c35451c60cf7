// SPDX-License-Identifier: Apache-2.0
#include "line/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace pj::line {
namespace {

Parsed parse(const std::vector<std::string>& words) {
    const std::vector<std::string_view> args(words.begin(), words.end());
    return parseConfig(args);
}

std::string errorOf(const Parsed& parsed) {
    const auto* error = std::get_if<ConfigError>(&parsed);
    return error != nullptr ? error->message : "";
}

TEST(LineConfig, TheCommandLineOverTheFileAndTheDefaultsFromTheLinesName) {
    const std::string path = ::testing::TempDir() + "booth.conf";
    std::ofstream(path) << "# the booth's projectors\n"
                           "device = /dev/ttyUSB0   # the adapter\n"
                           "  baud=9600\n"
                           "\n"
                           "listen = 4001\n"
                           "mqtt = [::1]:1884\n"
                           "projectors = 1,3\n"
                           "hold = 900\n"
                           "mqtt_discovery_prefix = ha\n"
                           "mqtt_manufacturer = Acme Corp\n"
                           "mqtt_model = 1:PJ-100; 3:PJ 200\n";
    const Parsed parsed = parse({"--config", path, "--baud=19200", "--poll", "5"});
    ASSERT_TRUE(std::holds_alternative<LineConfig>(parsed)) << errorOf(parsed);
    const auto& c = std::get<LineConfig>(parsed);
    EXPECT_EQ(c.name, "booth");
    EXPECT_EQ(c.device, "/dev/ttyUSB0");
    EXPECT_EQ(c.baud, 19200);
    EXPECT_EQ(c.socket, "/run/pjline/booth.sock");
    ASSERT_TRUE(c.listen);
    // A port alone listens on loopback: the network takes an address and an allow-list.
    EXPECT_EQ(c.listen->host, "127.0.0.1");
    EXPECT_EQ(c.listen->port, 4001);
    ASSERT_TRUE(c.mqtt);
    EXPECT_EQ(c.mqtt->host, "::1");
    EXPECT_EQ(c.mqtt->port, 1884);
    EXPECT_EQ(c.projectors, (std::vector<int>{1, 3}));
    EXPECT_EQ(c.hub.holdMs, 900);
    EXPECT_EQ(c.hub.settleMs, 300);
    EXPECT_EQ(c.pollSeconds, 5);
    EXPECT_TRUE(c.mqttDiscovery);
    EXPECT_EQ(c.mqttDiscoveryPrefix, "ha");
    EXPECT_EQ(c.mqttManufacturer, (std::map<int, std::string>{{kEveryProjector, "Acme Corp"}}));
    EXPECT_EQ(c.mqttModel, (std::map<int, std::string>{{1, "PJ-100"}, {3, "PJ 200"}}));
    std::remove(path.c_str());
}

TEST(LineConfig, EachBadValueIsRefusedNamingItsOption) {
    struct Case {
        std::vector<std::string> args;
        std::string error;  // the message begins with this
    };
    const std::vector<Case> cases{
        {{}, "no line: give --device"},
        {{"--device"}, "--device needs a value"},
        {{"--device", "tcp://host"}, "--device: "},
        {{"--device", "/dev/x", "--baud", "38400"}, "--baud: 19200 or 9600"},
        {{"--device", "/dev/x", "--socket", "run/x.sock"}, "--socket: an absolute path"},
        {{"--device", "/dev/x", "--listen", "host:"}, "--listen: [HOST:]PORT"},
        {{"--device", "/dev/x", "--listen", "70000"}, "--listen: [HOST:]PORT"},
        {{"--device", "/dev/x", "--mqtt", ":1883"}, "--mqtt: HOST"},
        {{"--device", "/dev/x", "--mqtt", "::1"}, "--mqtt: HOST"},
        {{"--device", "/dev/x", "--name", "booth/2"}, "--name: letters, digits"},
        {{"--device", "/dev/x", "--mqtt-prefix", "a/+/b"}, "--mqtt-prefix: printable"},
        {{"--device", "/dev/x", "--projectors", "1,1"}, "--projectors: none, or"},
        {{"--device", "/dev/x", "--projectors", "5"}, "--projectors: none, or"},
        {{"--device", "/dev/x", "--projectors", "1,"}, "--projectors: none, or"},
        {{"--device", "/dev/x", "--settle", "0"}, "--settle: milliseconds from 1"},
        {{"--device", "/dev/x", "--poll", "1s"}, "--poll: seconds from 1"},
        {{"--device", "/dev/x", "--mqtt_prefix", "p"}, "unknown option --mqtt_prefix"},
        {{"--device", "/dev/x", "extra"}, "unexpected argument \"extra\""},
        {{"--config", "/nonexistent/booth.conf"}, "/nonexistent/booth.conf: No such file"},
        // Read only when a regular file, and never past its bound.
        {{"--config", "/dev/zero"}, "/dev/zero: not a regular file"},
        {{"--config", "/tmp"}, "/tmp: not a regular file"},
        {{"--device", "/dev/x", "--listen", "0.0.0.0:4001"}, "--listen 0.0.0.0 takes clients"},
        {{"--device", "/dev/x", "--listen", "[::]:4001"}, "--listen :: takes clients"},
        {{"--device", "/dev/x", "--allow", "10.0.0.0/33"}, "--allow: addresses or networks"},
        {{"--device", "/dev/x", "--allow", "10.0.0.1,"}, "--allow: addresses or networks"},
        {{"--device", "/dev/x", "--max-tcp-clients", "0"}, "--max-tcp-clients: a number"},
        {{"--device", "/dev/x", "--tcp-idle", "0"}, "--tcp-idle: seconds from 1"},
        // The password only ever from a file.
        {{"--device", "/dev/x", "--mqtt-password", "secret"}, "unknown option --mqtt-password"},
        {{"--device", "/dev/x", "--mqtt-password-file", "/etc/x"}, "--mqtt-password-file needs"},
        {{"--device", "/dev/x", "--mqtt-user", "u", "--mqtt-password-file", "/dev/zero"},
         "/dev/zero: not a regular file"},
        {{"--device", "/dev/x", "--mqtt-certfile", "/c.pem"}, "--mqtt-certfile and --mqtt-keyfile"},
        {{"--device", "/dev/x", "--mqtt-certfile", "/c", "--mqtt-keyfile", "/k"},
         "a client certificate needs TLS"},
        {{"--device", "/dev/x", "--mqtt-raw", "1"}, "--mqtt-raw: yes or no"},
        {{"--device", "/dev/x", "--pjlink", "4352"}, "--pjlink: ADDRESS=[HOST:]PORT"},
        {{"--device", "/dev/x", "--pjlink", "all=4352"}, "--pjlink: ADDRESS=[HOST:]PORT"},
        {{"--device", "/dev/x", "--pjlink", "1=4352,1=4353"}, "--pjlink: ADDRESS=[HOST:]PORT"},
        {{"--device", "/dev/x", "--pjlink", "1=4352"}, "--pjlink names a projector the line"},
        {{"--device", "/dev/x", "--projectors", "1", "--pjlink", "1=0.0.0.0:4352"},
         "--pjlink on 0.0.0.0 takes clients"},
        {{"--device", "/dev/x", "--pjlink-password-file", "/dev/zero"}, "/dev/zero: not a"},
        {{"--device", "/dev/x", "--pjlink-search", "4352"}, "--pjlink-search answers for PJLink"},
        {{"--device", "/dev/x", "--projectors", "1", "--pjlink", "1=4352", "--pjlink-search",
          "0.0.0.0:4352"},
         "--pjlink-search on 0.0.0.0 hears the network"},
        {{"--device", "/dev/x", "--mqtt-discovery", "off"}, "--mqtt-discovery: yes or no"},
        {{"--device", "/dev/x", "--mqtt-discovery-prefix", "/ha"}, "--mqtt-discovery-prefix: "},
        {{"--device", "/dev/x", "--mqtt-model", "1:A;1:B"}, "--mqtt-model: TEXT for every"},
        {{"--device", "/dev/x", "--mqtt-model", "1:A;B"}, "--mqtt-model: TEXT for every"},
        {{"--device", "/dev/x", "--mqtt-model", "5:A"}, "--mqtt-model: TEXT for every"},
        {{"--device", "/dev/x", "--mqtt-manufacturer", "A;B"}, "--mqtt-manufacturer: TEXT for"},
    };
    for (const Case& c : cases) {
        const std::string error = errorOf(parse(c.args));
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << "got: " << error;
    }
}

TEST(LineConfig, TheNetworkTakesAnAllowListAndTheBrokerAPasswordFromAFile) {
    const std::string secret = ::testing::TempDir() + "broker.pass";
    std::ofstream(secret) << "s3cret word\nignored\n";
    const Parsed parsed =
        parse({"--device", "/dev/x", "--listen", "192.0.2.1:4001", "--allow",
               "192.0.2.0/24, 10.1.2.3,fd00::/8", "--mqtt", "broker", "--mqtt-user", "pj",
               "--mqtt-password-file", secret, "--mqtt-cafile", "/etc/ssl/ca.pem"});
    ASSERT_TRUE(std::holds_alternative<LineConfig>(parsed)) << errorOf(parsed);
    const auto& c = std::get<LineConfig>(parsed);
    EXPECT_EQ(c.mqttPassword, "s3cret word");
    EXPECT_EQ(c.mqttCaFile, "/etc/ssl/ca.pem");
    EXPECT_FALSE(c.mqttRaw);
    ASSERT_EQ(c.allow.size(), 3u);
    std::remove(secret.c_str());

    // PJLink: each projector on its own address and port, the password of at most 32.
    std::ofstream(secret) << "pj\n";
    const Parsed pjlink =
        parse({"--device", "/dev/x", "--projectors", "1,3", "--allow", "192.0.2.0/24", "--pjlink",
               "1=4352, 3=192.0.2.9:4352", "--pjlink-password-file", secret, "--pjlink-search",
               "0.0.0.0:4352"});
    ASSERT_TRUE(std::holds_alternative<LineConfig>(pjlink)) << errorOf(pjlink);
    const auto& p = std::get<LineConfig>(pjlink);
    ASSERT_EQ(p.pjlink.size(), 2u);
    EXPECT_EQ(p.pjlink[0].listen.host, "127.0.0.1");
    EXPECT_EQ(p.pjlink[1].address, 3);
    EXPECT_EQ(p.pjlink[1].listen.host, "192.0.2.9");
    EXPECT_EQ(p.pjlinkPassword, "pj");
    ASSERT_TRUE(p.pjlinkSearch);
    EXPECT_EQ(p.pjlinkSearch->port, 4352);
    std::ofstream(secret) << std::string(33, 'p') << "\n";
    EXPECT_EQ(errorOf(parse({"--device", "/dev/x", "--pjlink-password-file", secret})),
              secret + ": no password of 1 to 32 characters on its first line");
    std::remove(secret.c_str());

    struct Row {
        const char* address;
        bool in;
    };
    const Row rows[] = {{"192.0.2.77", true},      {"192.0.3.1", false}, {"10.1.2.3", true},
                        {"10.1.2.4", false},       {"fd12::5", true},    {"fe80::1", false},
                        {"::ffff:192.0.2.9", true}};
    for (const Row& row : rows) {
        const auto one = AddressRange::parse(row.address);
        ASSERT_TRUE(one) << row.address;
        const std::size_t size = one->v6 ? 16 : 4;
        const bool in = std::any_of(c.allow.begin(), c.allow.end(), [&](const AddressRange& r) {
            return r.contains(one->bytes.data(), size);
        });
        EXPECT_EQ(in, row.in) << row.address;
    }
}

TEST(LineConfig, TheBrokerIsAHostAndAnOptionalPort) {
    struct Row {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    };
    const Row rows[] = {
        {"broker", "broker", 1883},
        {"10.0.0.5:1884", "10.0.0.5", 1884},
        {"[::1]:8883", "::1", 8883},
        {"[fe80::1]", "fe80::1", 1883},
        {"broker:65535", "broker", 65535},
        {"", nullptr, 0},
        {"::1", nullptr, 0},  // an IPv6 address goes in brackets
        {":1883", nullptr, 0},
        {"broker:", nullptr, 0},
        {"broker:0", nullptr, 0},
        {"broker:65536", nullptr, 0},
        {"broker:18x", nullptr, 0},
        {"[::1", nullptr, 0},
        {"[::1]x", nullptr, 0},
        {"bro ker", nullptr, 0},
    };
    for (const Row& row : rows) {
        const Parsed parsed = parse({"--device", "/dev/x", "--mqtt", row.text});
        const auto* config = std::get_if<LineConfig>(&parsed);
        ASSERT_EQ(config != nullptr, row.host != nullptr) << row.text << ": " << errorOf(parsed);
        if (config != nullptr) {
            EXPECT_EQ(config->mqtt->host, row.host);
            EXPECT_EQ(config->mqtt->port, row.port);
        }
    }
}

TEST(LineConfig, AFilesErrorsNameItsLine) {
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases{
        {"device /dev/x\n", "f:1: expected key = value"},
        {"\n# note\nspeed = 9600\n", "f:3: unknown key \"speed\""},
        {"device = /dev/x\nmqtt-prefix = p\n", "f:2: unknown key \"mqtt-prefix\""},
        {"quiet = -1\n", "f:1: quiet: milliseconds from 0"},
    };
    for (const Case& c : cases) {
        LineConfig config;
        const auto error = readConfigText(c.text, "f", config);
        ASSERT_TRUE(error) << c.text;
        EXPECT_EQ(error->message.substr(0, c.error.size()), c.error) << error->message;
    }
}

}  // namespace
}  // namespace pj::line
