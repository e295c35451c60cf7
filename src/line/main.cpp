// SPDX-License-Identifier: Apache-2.0
// pjline: one projector line served to many clients at once.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/config.h"
#include "line/log_limit.h"
#include "line/mqtt_bridge.h"
#include "line/pjlink_server.h"
#include "line/server.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/signal_watch.h"

namespace {

// One line an event on standard error; under systemd the journal takes it, with its level
// in the prefix journald reads.
void logLine(std::string_view text) {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    std::string line = journal ? "<6>" : "pjline: ";
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

pj::line::MqttSettings mqttSettings(const pj::line::LineConfig& config) {
    pj::line::MqttSettings mqtt;
    mqtt.host = config.mqtt->host;
    mqtt.port = config.mqtt->port;
    mqtt.prefix = config.mqttPrefix;
    mqtt.name = config.name;
    if (!config.projectors.empty()) {
        mqtt.projectors = config.projectors;
    }
    mqtt.pollSeconds = config.pollSeconds;
    mqtt.user = config.mqttUser;
    mqtt.password = config.mqttPassword;
    mqtt.caFile = config.mqttCaFile;
    mqtt.certFile = config.mqttCertFile;
    mqtt.keyFile = config.mqttKeyFile;
    mqtt.rawCommands = config.mqttRaw;
    mqtt.discovery = config.mqttDiscovery;
    mqtt.discoveryPrefix = config.mqttDiscoveryPrefix;
    mqtt.swVersion = PJ_VERSION;
    for (const int address : mqtt.projectors) {
        const auto pick = [address](const std::map<int, std::string>& by) {
            auto found = by.find(address);
            if (found == by.end()) {
                found = by.find(pj::line::kEveryProjector);
            }
            return found == by.end() ? std::string() : found->second;
        };
        mqtt.manufacturers[address] = pick(config.mqttManufacturer);
        mqtt.models[address] = pick(config.mqttModel);
    }
    return mqtt;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    pj::line::Parsed parsed = pj::line::parseConfig(args);
    if (std::holds_alternative<pj::line::Help>(parsed)) {
        std::fputs(pj::line::usage().c_str(), stdout);
        return 0;
    }
    if (std::holds_alternative<pj::line::Version>(parsed)) {
        std::printf("pjline %s\n", PJ_VERSION);
        return 0;
    }
    if (const auto* error = std::get_if<pj::line::ConfigError>(&parsed)) {
        std::fprintf(stderr, "pjline: %s\nTry 'pjline --help'.\n", error->message.c_str());
        return 2;
    }
    pj::line::LineConfig config = std::get<pj::line::LineConfig>(std::move(parsed));

    std::signal(SIGPIPE, SIG_IGN);
    pj::posix::EventLoop loop;
    // Every line goes through the limiter: a flood of one kind of event is counted, not
    // written out line by line.
    pj::posix::MonotonicClock clock;
    pj::line::LogLimiter limiter(clock, logLine);
    pj::posix::LoopTimer limiterTick(loop);
    limiterTick.setInterval(1000);
    limiterTick.setOnTimer([&limiter] { limiter.tick(); });
    limiterTick.setEnabled(true);
    const auto log = [&limiter](std::string_view line) { limiter.log(line); };

    // SIGHUP reads the configuration again and, when it is sound, starts the line over with
    // it; one that is not is said and the line goes on as it was.
    std::optional<pj::line::LineConfig> next;
    pj::posix::SignalWatch signals(loop, {SIGTERM, SIGINT, SIGHUP}, [&](int signal) {
        if (signal != SIGHUP) {
            loop.quit();
            return;
        }
        pj::line::Parsed again = pj::line::parseConfig(args);
        if (const auto* error = std::get_if<pj::line::ConfigError>(&again)) {
            log("SIGHUP: the configuration was not taken: " + error->message);
        } else if (auto* fresh = std::get_if<pj::line::LineConfig>(&again)) {
            log("SIGHUP: the configuration read again; starting the line over");
            next = std::move(*fresh);
            loop.quit();
        }
    });
    for (bool first = true;; first = false) {
        pj::line::Server server(loop, config, log);
        if (const auto error = server.start()) {
            log(*error);
            return 1;
        }
        // The bridge hears of settings made through PJLink, to poll that projector at once.
        std::unique_ptr<pj::line::MqttBridge> bridge;
        pj::line::PjlinkServer pjlink(loop, server.hub(), server.config(), log,
                                      [&bridge](int address) {
                                          if (bridge) {
                                              bridge->pollSoon(address);
                                          }
                                      });
        if (const auto error = pjlink.start()) {
            log(*error);
            return 1;
        }
        if (config.mqtt) {
            bridge = std::make_unique<pj::line::MqttBridge>(loop, server.hub(),
                                                            mqttSettings(config), log);
            if (!bridge->start() && first) {
                return 1;
            }
        }
        loop.run();
        if (!next) {
            break;
        }
        config = std::move(*std::exchange(next, std::nullopt));
    }
    limiter.tick();
    log("stopped");
    return 0;
}
