// SPDX-License-Identifier: Apache-2.0
// pjline: one projector line served to many clients at once.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "line/config.h"
#include "line/mqtt_bridge.h"
#include "line/server.h"
#include "posix/event_loop.h"
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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const pj::line::Parsed parsed = pj::line::parseConfig(args);
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
    const auto& config = std::get<pj::line::LineConfig>(parsed);

    std::signal(SIGPIPE, SIG_IGN);
    pj::posix::EventLoop loop;
    pj::line::Server server(loop, config, logLine);
    if (const auto error = server.start()) {
        logLine(*error);
        return 1;
    }
    std::unique_ptr<pj::line::MqttBridge> bridge;
    if (config.mqtt) {
        pj::line::MqttSettings mqtt;
        mqtt.host = config.mqtt->host;
        mqtt.port = config.mqtt->port;
        mqtt.prefix = config.mqttPrefix;
        mqtt.name = config.name;
        if (!config.projectors.empty()) {
            mqtt.projectors = config.projectors;
        }
        mqtt.pollSeconds = config.pollSeconds;
        bridge = std::make_unique<pj::line::MqttBridge>(loop, server.hub(), mqtt, logLine);
        if (!bridge->start()) {
            return 1;
        }
    }
    pj::posix::SignalWatch stop(loop, {SIGTERM, SIGINT, SIGHUP}, [&loop] { loop.quit(); });
    loop.run();
    logLine("stopped");
    return 0;
}
