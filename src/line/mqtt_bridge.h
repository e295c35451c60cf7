// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "line/discovery.h"
#include "line/line_access.h"
#include "line/poller.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"

struct mosquitto;
struct mosquitto_message;

namespace pj::line {

struct MqttSettings {
    std::string host;  // the broker
    int port = 1883;
    std::string prefix = "pjline";
    std::string name = "line";
    // The projectors on the line: addresses 1..4, or 0 for the one spoken to without one.
    std::vector<int> projectors{0};
    int pollSeconds = 30;
    // The waits before connecting again after the broker went away or could not be reached:
    // the first, doubled each failure up to the last.
    int reconnectFirstMs = 1000;
    int reconnectLastMs = 30000;
    int keepaliveSeconds = 30;
    // The login, when the broker asks for one; the password as read from its file.
    std::string user;
    std::string password;
    // TLS, when a CA file is given; a client certificate and its key, when given.
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    // Whether command text other than a named command is taken.
    bool rawCommands = false;
    // Commands of one projector waiting for the line at once, at most; more are refused.
    std::size_t maxWaiting = 4;
    // The largest packet the broker may send: it drops a larger publication rather than send
    // it, so none reaches this program's memory.
    std::uint32_t maxPacketBytes = 16 * 1024;
    // The connection's client id: "pjline-HOST-NAME" when empty.
    std::string clientId;
    // Home Assistant discovery: whether it is published, under which prefix, and what the
    // devices say of themselves (manufacturer and model by address; empty: left out).
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    std::map<int, std::string> manufacturers;
    std::map<int, std::string> models;
    std::string swVersion;
};

// The command text a payload names, when it names one: "ON" and "OFF" for the power switch,
// or a command by its name ("input.1").
// Every named command is taken; other text only when raw commands are on.
std::optional<std::string> namedCommand(std::string_view payload);

// What became of a command sent to a projector, as its result topic says: "ok" for an
// acknowledgement (or a query's reply), "no reply", or the answer itself, printable ("?").
std::string commandResult(std::string_view command, const std::optional<std::string>& answer);

// The client id of a line's bridge: its host's name and its line's, so that two lines, or
// the same line's name on two hosts, never take each other's session on the broker.
std::string mqttClientId(std::string_view host, std::string_view name);

// The line server's side on an MQTT broker: the projectors' state, polled gently through
// LineAccess, as retained JSON; their commands; and Home Assistant discovery.
//
// Topics, where P is a projector's address (0 for the one without an address):
//   PREFIX/NAME/status   "online", retained, on every connection; the will, and the bridge's
//                        going away, leave "offline".
//   PREFIX/NAME/line     "up" / "down", retained: whether the line's device is open.
//   PREFIX/NAME/P/state  retained JSON of the projector's state (see stateJson), published
//                        when it changes, the first time, and after each command.
//   PREFIX/NAME/P/availability   "online" / "offline", retained: whether the projector
//                        answered its last poll (a line that is down answers nothing).
//   PREFIX/NAME/P/set    "ON" / "OFF" switch the projector's power on / off; a command name
//                        ("input.1", see projector/commands.h) sends its command; with raw
//                        commands on, any other payload of printable ASCII, 1..1024
//                        characters, is sent as the command text with the projector's
//                        address. Anything else, retained messages (a command left on the
//                        broker would run at each connection, and the subscription keeps a
//                        live publication's retain flag), projectors not configured and
//                        commands past the few that may wait for one projector are refused
//                        with a log line (one for a burst of them). After a command the
//                        projector is polled at once, so its state follows.
//   PREFIX/NAME/P/result what became of each command taken from P/set, not retained: "ok",
//                        "refused " and the reason, "no reply", or the projector's own answer
//                        when it was neither an acknowledgement nor a query's reply ("?").
//   DISCOVERY/<component>/<node>/<object>/config   see projectorConfigs and lineConfigs;
//                        when discovery is on. Configs of this node that the broker keeps
//                        for projectors no longer configured are removed (empty retained),
//                        and DISCOVERY/status "online" (Home Assistant starting) has the
//                        configs published again.
// After every (re)connection "online", the discovery configs and the last states are
// published again, since a broker that restarted may have lost its retained messages.
//
// The bridge speaks MQTT 5, so that the broker bounds the packets it sends and keeps the
// retain flag of what it forwards. Everything runs on `loop`: the client's socket is watched
// there, the broker's port is first reached by a connection that does not block, and only
// once it answered does libmosquitto connect (a broker named by host name is looked up
// synchronously by libmosquitto; give an address to avoid that). A lost or refused connection
// is tried again after 1 s, 2 s, 4 s ... up to 30 s. One line is logged per event.
class MqttBridge {
  public:
    using Log = std::function<void(std::string_view line)>;

    MqttBridge(posix::EventLoop& loop, LineAccess& line, MqttSettings settings, Log log);
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;
    // Leaves "offline" on the broker.
    ~MqttBridge();

    // Starts connecting and polling; false (with a log line) when the settings cannot work
    // (no host, a prefix or name that no topic can hold, a projector address outside 0..4).
    bool start();

    // True between the broker's acceptance of the connection and its loss.
    bool connected() const { return connected_; }

    // Another way in (PJLink) changed projector `address`: its state is asked at once.
    void pollSoon(int address);

  private:
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onDisconnect(mosquitto* client, void* self, int rc);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);

    void connect();
    void probeReady(short revents);
    void connectNow();
    void scheduleReconnect();
    void sync();
    void ready(short revents);
    void connectionUp();
    void command(const mosquitto_message& message);
    // The single place a payload becomes a command: a named one, or raw text when allowed.
    std::optional<std::string> commandOf(std::string_view payload, const std::string& where);
    void statePolled(int address, const ProjectorState& state);
    void publishConfigs();
    void discoveryMessage(std::string_view topic, std::string_view payload, bool retained);
    void result(int address, std::string_view text);
    void watchLine();
    void publish(const std::string& topic, const std::string& payload, bool retain = true);
    void say(std::string_view line) const;

    posix::EventLoop& loop_;
    LineAccess& line_;
    MqttSettings settings_;
    Log log_;
    TopicNames names_;
    DiscoveryOptions discovery_;
    std::set<std::string> ownConfigs_;  // the config topics published, to tell the others
    std::optional<bool> lineUp_;        // as last published

    mosquitto* client_ = nullptr;
    int watchedFd_ = -1;
    posix::EventLoop::WatchId watch_ = 0;
    posix::LoopTimer misc_;
    posix::LoopTimer reconnect_;
    int reconnectWaitMs_;
    bool connected_ = false;
    int probeFd_ = -1;
    posix::EventLoop::WatchId probeWatch_ = 0;
    std::map<int, std::size_t> waiting_;  // commands waiting for the line, by address
    std::map<int, bool> refusing_;        // in a burst of refusals, by address

    posix::LoopTimer pollRound_;
    posix::LoopTimer pollRetry_;
    std::unique_ptr<Poller> poller_;
    std::map<int, std::string> states_;  // the last state JSON, by address
    std::map<int, bool> responding_;     // the last availability, by address
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pj::line
