// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
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
};

// The line server's side on an MQTT broker: the projectors' state, polled gently through
// LineAccess, as retained JSON; their commands; and Home Assistant discovery.
//
// Topics, where P is a projector's address (0 for the one without an address):
//   PREFIX/NAME/status   "online", retained, on every connection; the will, and the bridge's
//                        going away, leave "offline".
//   PREFIX/NAME/P/state  retained JSON of the projector's state (see stateJson), published
//                        when it changes and the first time.
//   PREFIX/NAME/P/set    "ON" / "OFF" switch the projector's power on / off; any other
//                        payload of printable ASCII, 1..1024 characters, is sent as the
//                        command text with the projector's address. Anything else, retained
//                        messages (a command left on the broker would run at each connection)
//                        and projectors not configured are refused with a log line. After a
//                        command the projector is polled at once, so its state follows.
//   homeassistant/<component>/<node>/<object>/config   see discoveryConfigs.
// After every (re)connection "online", the discovery configs and the last states are
// published again, since a broker that restarted may have lost its retained messages.
//
// Everything runs on `loop`: the client's socket is watched there, connecting never blocks
// on the connection's setup (a broker named by host name is looked up synchronously by
// libmosquitto; give an address to avoid that), and a lost or refused connection is tried
// again after 1 s, 2 s, 4 s ... up to 30 s. One line is logged per event through `log`.
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

  private:
    static void onConnect(mosquitto* client, void* self, int rc);
    static void onDisconnect(mosquitto* client, void* self, int rc);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);

    void connect();
    void scheduleReconnect();
    void sync();
    void ready(short revents);
    void connectionUp();
    void command(const mosquitto_message& message);
    void statePolled(int address, const ProjectorState& state);
    void publish(const std::string& topic, const std::string& payload);
    void say(std::string_view line) const;

    posix::EventLoop& loop_;
    LineAccess& line_;
    MqttSettings settings_;
    Log log_;
    TopicNames names_;

    mosquitto* client_ = nullptr;
    int watchedFd_ = -1;
    posix::EventLoop::WatchId watch_ = 0;
    posix::LoopTimer misc_;
    posix::LoopTimer reconnect_;
    int reconnectWaitMs_;
    bool connected_ = false;

    posix::LoopTimer pollRound_;
    posix::LoopTimer pollRetry_;
    std::unique_ptr<Poller> poller_;
    std::map<int, std::string> states_;  // the last state JSON, by address
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace pj::line
