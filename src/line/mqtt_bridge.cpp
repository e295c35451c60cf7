// SPDX-License-Identifier: Apache-2.0
#include "line/mqtt_bridge.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "projector/commands.h"
#include "protocol/reply.h"

namespace pj::line {

namespace {

constexpr std::size_t kLongestCommand = 1024;
constexpr int kQos = 1;
constexpr int kMiscMs = 1000;

// libmosquitto's global set-up, once for the program.
void initLibrary() {
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
}

std::string describe(int rc) {
    if (rc == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return mosquitto_strerror(rc);
}

// The reply window of a command text: the panel's for the same command, or its usual one.
int commandWindowMs(std::string_view text) {
    for (const Command& command : commands()) {
        if (command.text == text) {
            return command.replyWindowMs;
        }
    }
    return kTimer2Design;
}

bool printableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// A topic level a publication can carry.
bool topicLevel(std::string_view text) {
    return !text.empty() && text.find_first_of("+#/") == std::string_view::npos &&
           text.find('\0') == std::string_view::npos;
}

bool topicPrefix(std::string_view text) {
    return !text.empty() && text.find_first_of("+#") == std::string_view::npos &&
           text.find('\0') == std::string_view::npos && text.front() != '/' && text.back() != '/';
}

}  // namespace

std::optional<std::string> namedCommand(std::string_view payload) {
    if (payload == "ON" || payload == "OFF") {
        return std::string(findCommand(payload == "ON" ? "power.on" : "power.off")->text);
    }
    if (const Command* command = findCommand(payload)) {
        return std::string(command->text);
    }
    return std::nullopt;
}

std::string commandResult(std::string_view command, const std::optional<std::string>& answer) {
    if (!answer) {
        return "no reply";
    }
    std::string_view text = *answer;
    if (text.ends_with('\x06')) {
        return "ok";
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    const bool query = std::any_of(commands().begin(), commands().end(), [&](const Command& c) {
        return c.text == command && c.kind == CommandKind::Query;
    });
    if (query && !text.empty() && text.front() != '?') {
        return "ok";
    }
    std::string said;
    for (const char c : text.substr(0, 64)) {
        said += c >= 0x20 && c <= 0x7E ? c : '.';
    }
    return said.empty() ? "no reply" : said;
}

std::string mqttClientId(std::string_view host, std::string_view name) {
    std::string id = "pjline-";
    for (const char c : host.substr(0, 64)) {
        id += topicLevel(std::string_view(&c, 1)) && c > ' ' && c < 127 ? c : '_';
    }
    return id + "-" + std::string(name);
}

MqttBridge::MqttBridge(posix::EventLoop& loop, LineAccess& line, MqttSettings settings, Log log)
    : loop_(loop),
      line_(line),
      settings_(std::move(settings)),
      log_(std::move(log)),
      names_{settings_.prefix, settings_.name},
      discovery_{settings_.discoveryPrefix, settings_.swVersion},
      misc_(loop),
      reconnect_(loop),
      reconnectWaitMs_(settings_.reconnectFirstMs),
      pollRound_(loop),
      pollRetry_(loop) {
    misc_.setInterval(kMiscMs);
    misc_.setOnTimer([this] {
        if (client_ != nullptr && mosquitto_socket(client_) >= 0) {
            mosquitto_loop_misc(client_);
        }
        watchLine();
        sync();
    });
    reconnect_.setOnTimer([this] {
        reconnect_.setEnabled(false);
        connect();
    });
}

MqttBridge::~MqttBridge() {
    *alive_ = false;
    poller_.reset();
    misc_.setEnabled(false);
    reconnect_.setEnabled(false);
    if (probeFd_ >= 0) {
        loop_.unwatch(probeWatch_);
        ::close(probeFd_);
    }
    if (watchedFd_ >= 0) {
        loop_.unwatch(watch_);
    }
    if (client_ != nullptr) {
        if (connected_) {
            // Said at once if the socket takes it; the will says the same otherwise, as the
            // connection closes without a DISCONNECT.
            mosquitto_publish(client_, nullptr, names_.status().c_str(), 7, "offline", 0, true);
            mosquitto_loop_write(client_, 1);
        }
        mosquitto_destroy(client_);
    }
}

bool MqttBridge::start() {
    if (settings_.host.empty()) {
        say("mqtt: no broker given");
        return false;
    }
    if (!topicPrefix(settings_.prefix) || !topicLevel(settings_.name) ||
        !topicPrefix(settings_.discoveryPrefix)) {
        say("mqtt: the prefix \"" + settings_.prefix + "\", the name \"" + settings_.name +
            "\" or the discovery prefix \"" + settings_.discoveryPrefix +
            "\" cannot be part of a topic");
        return false;
    }
    for (const int address : settings_.projectors) {
        if (!projectorFrame(address, "")) {
            say("mqtt: no projector can have the address " + std::to_string(address));
            return false;
        }
    }
    initLibrary();
    std::string clientId = settings_.clientId;
    if (clientId.empty()) {
        std::array<char, 256> host{};
        ::gethostname(host.data(), host.size() - 1);
        clientId = mqttClientId(host.data(), settings_.name);
    }
    client_ = mosquitto_new(clientId.c_str(), true, this);
    if (client_ == nullptr) {
        say(std::string("mqtt: no client: ") + std::strerror(errno));
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!settings_.user.empty()) {
        mosquitto_username_pw_set(
            client_, settings_.user.c_str(),
            settings_.password.empty() ? nullptr : settings_.password.c_str());
    }
    if (!settings_.caFile.empty()) {
        const auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
        const int rc =
            mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr,
                              orNull(settings_.certFile), orNull(settings_.keyFile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            say("mqtt: TLS cannot be set up with " + settings_.caFile + ": " + describe(rc));
            return false;
        }
    }
    const std::string status = names_.status();
    mosquitto_will_set(client_, status.c_str(), 7, "offline", kQos, true);
    mosquitto_connect_callback_set(client_, &MqttBridge::onConnect);
    mosquitto_disconnect_callback_set(client_, &MqttBridge::onDisconnect);
    mosquitto_message_callback_set(client_, &MqttBridge::onMessage);

    Poller::Timing timing;
    timing.pollSeconds = settings_.pollSeconds;
    timing.windowMs = kTimer2Design;
    poller_ = std::make_unique<Poller>(
        line_, pollRound_, pollRetry_, settings_.projectors, timing,
        [this](int address, const ProjectorState& state) { statePolled(address, state); });
    poller_->start();

    misc_.setEnabled(true);
    connect();
    return true;
}

// The broker's port is reached first by a connection of the bridge's own that does not
// block; libmosquitto's, which blocks while it is being made, follows once the port answered.
void MqttBridge::connect() {
    if (probeFd_ >= 0) {
        return;
    }
    const std::string where = settings_.host + ":" + std::to_string(settings_.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(settings_.port);
    if (const int looked = ::getaddrinfo(settings_.host.c_str(), port.c_str(), &hints, &found);
        looked != 0) {
        say("mqtt: cannot connect to " + where + ": " + gai_strerror(looked));
        scheduleReconnect();
        return;
    }
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int rc = fd < 0 ? -1 : ::connect(fd, found->ai_addr, found->ai_addrlen);
    const int error = errno;
    ::freeaddrinfo(found);
    if (fd < 0 || (rc != 0 && error != EINPROGRESS)) {
        say("mqtt: cannot connect to " + where + ": " + std::strerror(error));
        if (fd >= 0) {
            ::close(fd);
        }
        scheduleReconnect();
        return;
    }
    probeFd_ = fd;
    probeWatch_ = loop_.watch(fd, POLLOUT, [this](short revents) { probeReady(revents); });
}

void MqttBridge::probeReady(short /*revents*/) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(probeFd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
    }
    loop_.unwatch(probeWatch_);
    ::close(probeFd_);
    probeFd_ = -1;
    if (error != 0) {
        say("mqtt: cannot connect to " + settings_.host + ":" + std::to_string(settings_.port) +
            ": " + std::strerror(error));
        scheduleReconnect();
        return;
    }
    connectNow();
}

void MqttBridge::connectNow() {
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                 settings_.maxPacketBytes);
    const int rc = mosquitto_connect_bind_v5(client_, settings_.host.c_str(), settings_.port,
                                             settings_.keepaliveSeconds, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS) {
        say("mqtt: cannot connect to " + settings_.host + ":" + std::to_string(settings_.port) +
            ": " + describe(rc));
        scheduleReconnect();
    }
    sync();
}

void MqttBridge::scheduleReconnect() {
    if (reconnect_.enabled()) {
        return;
    }
    reconnect_.setInterval(reconnectWaitMs_);
    reconnect_.setEnabled(true);
    reconnectWaitMs_ = std::min(reconnectWaitMs_ * 2, settings_.reconnectLastMs);
}

// Brings the loop's watch in line with the client's socket: watched for reading, and for
// writing while the client has something to write; when the socket is gone, a reconnection
// is due.
void MqttBridge::sync() {
    if (client_ == nullptr) {
        return;
    }
    const int fd = mosquitto_socket(client_);
    if (fd != watchedFd_ && watchedFd_ >= 0) {
        loop_.unwatch(watch_);
        watchedFd_ = -1;
    }
    if (fd < 0) {
        if (probeFd_ < 0) {
            scheduleReconnect();
        }
        return;
    }
    const short events = static_cast<short>(POLLIN | (mosquitto_want_write(client_) ? POLLOUT : 0));
    if (watchedFd_ < 0) {
        watchedFd_ = fd;
        watch_ = loop_.watch(fd, events, [this](short revents) { ready(revents); });
    } else {
        loop_.setEvents(watch_, events);
    }
}

void MqttBridge::ready(short revents) {
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        mosquitto_loop_read(client_, 1);
    }
    if ((revents & POLLOUT) != 0 && mosquitto_socket(client_) >= 0) {
        mosquitto_loop_write(client_, 1);
    }
    sync();
}

void MqttBridge::onConnect(mosquitto* /*client*/, void* self, int rc) {
    auto* bridge = static_cast<MqttBridge*>(self);
    if (rc != 0) {
        bridge->say("mqtt: " + bridge->settings_.host + ":" +
                    std::to_string(bridge->settings_.port) +
                    " refused the connection: " + mosquitto_reason_string(rc));
        return;
    }
    bridge->connectionUp();
}

void MqttBridge::connectionUp() {
    connected_ = true;
    reconnectWaitMs_ = settings_.reconnectFirstMs;
    say("mqtt: connected to " + settings_.host + ":" + std::to_string(settings_.port));
    const std::string commands = names_.base() + "/+/set";
    // The retain flag kept as published: a retained command is refused also when the broker
    // forwards it the moment it is published.
    mosquitto_subscribe_v5(client_, nullptr, commands.c_str(), kQos,
                           MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    publish(names_.status(), "online");
    lineUp_.reset();
    watchLine();
    if (settings_.discovery) {
        publishConfigs();
        // Home Assistant's birth message, and this node's configs the broker keeps: those of
        // projectors no longer configured, and those under the node id of earlier versions,
        // are removed as they arrive.
        const std::string birth = discovery_.prefix + "/status";
        const std::string configs = discovery_.prefix + "/+/" + nodeId(names_) + "/+/config";
        mosquitto_subscribe_v5(client_, nullptr, birth.c_str(), kQos, 0, nullptr);
        mosquitto_subscribe_v5(client_, nullptr, configs.c_str(), kQos, 0, nullptr);
        if (const auto earlier = earlierNodeId(names_)) {
            const std::string old = discovery_.prefix + "/+/" + *earlier + "/+/config";
            mosquitto_subscribe_v5(client_, nullptr, old.c_str(), kQos, 0, nullptr);
        }
    }
    for (const auto& [address, json] : states_) {
        publish(names_.state(address), json);
        publish(names_.availability(address), responding_[address] ? "online" : "offline");
    }
}

void MqttBridge::publishConfigs() {
    for (const RetainedMessage& config : lineConfigs(names_, discovery_)) {
        publish(config.topic, config.payload);
    }
    for (const int address : settings_.projectors) {
        const auto text = [address](const std::map<int, std::string>& by) {
            const auto found = by.find(address);
            return found == by.end() ? std::string() : found->second;
        };
        const ProjectorDevice device{address, text(settings_.manufacturers),
                                     text(settings_.models)};
        for (const RetainedMessage& config : projectorConfigs(names_, discovery_, device)) {
            publish(config.topic, config.payload);
        }
    }
    const std::vector<std::string> topics =
        configTopics(names_, discovery_, std::span<const int>(settings_.projectors));
    ownConfigs_ = {topics.begin(), topics.end()};
}

void MqttBridge::discoveryMessage(std::string_view topic, std::string_view payload, bool retained) {
    if (topic == discovery_.prefix + "/status") {
        // A birth message kept on the broker comes with every connection, which publishes
        // the configs anyway: only a live one is Home Assistant starting.
        if (payload == "online" && !retained) {
            say("mqtt: Home Assistant is online; its configs published again");
            publishConfigs();
        }
        return;
    }
    if (!payload.empty() && ownConfigTopic(names_, discovery_, topic) &&
        !ownConfigs_.contains(std::string(topic))) {
        say("mqtt: removing " + std::string(topic) +
            " (a projector no longer configured, or an earlier version's)");
        publish(std::string(topic), "");
    }
}

// The line's state on the broker follows the device: checked every second.
void MqttBridge::watchLine() {
    if (!connected_) {
        return;
    }
    const bool up = line_.lineUp();
    if (lineUp_ != up) {
        lineUp_ = up;
        publish(names_.line(), up ? "up" : "down");
    }
}

void MqttBridge::onDisconnect(mosquitto* /*client*/, void* self, int rc) {
    auto* bridge = static_cast<MqttBridge*>(self);
    if (bridge->connected_) {
        bridge->say("mqtt: connection to " + bridge->settings_.host + ":" +
                    std::to_string(bridge->settings_.port) + " lost: " + describe(rc));
    } else {
        bridge->say("mqtt: cannot connect to " + bridge->settings_.host + ":" +
                    std::to_string(bridge->settings_.port) + ": " + describe(rc));
    }
    bridge->connected_ = false;
}

void MqttBridge::onMessage(mosquitto* /*client*/, void* self, const mosquitto_message* message) {
    auto* bridge = static_cast<MqttBridge*>(self);
    const std::string_view topic = message->topic;
    const bool command = topic.starts_with(bridge->names_.base() + "/") && topic.ends_with("/set");
    if (!command && bridge->settings_.discovery) {
        bridge->discoveryMessage(
            topic,
            std::string_view(static_cast<const char*>(message->payload),
                             static_cast<std::size_t>(std::max(0, message->payloadlen))),
            message->retain);
        return;
    }
    bridge->command(*message);
}

void MqttBridge::command(const mosquitto_message& message) {
    const std::string_view topic = message.topic;
    const std::string lead = names_.base() + "/";
    constexpr std::string_view kTail = "/set";
    if (!topic.starts_with(lead) || !topic.ends_with(kTail)) {
        return;
    }
    const std::string_view level =
        topic.substr(lead.size(), topic.size() - lead.size() - kTail.size());
    int address = -1;
    const auto [end, error] = std::from_chars(level.data(), level.data() + level.size(), address);
    const bool known = error == std::errc{} && end == level.data() + level.size() &&
                       std::find(settings_.projectors.begin(), settings_.projectors.end(),
                                 address) != settings_.projectors.end();
    if (!known) {
        say("mqtt: refused a command to " + std::string(topic) + ": no such projector");
        return;
    }
    const std::string_view payload(static_cast<const char*>(message.payload),
                                   static_cast<std::size_t>(std::max(0, message.payloadlen)));
    const std::string where = "mqtt: projector " + std::to_string(address) + ": ";
    if (message.retain) {
        say(where + "refused a retained command (a command is never kept on the broker)");
        result(address, "refused retained");
        return;
    }
    const std::optional<std::string> named = commandOf(payload, where);
    if (!named) {
        result(address, settings_.rawCommands ? "refused not 1..1024 printable characters"
                                              : "refused not a named command");
        return;
    }
    const std::string command = *named;
    // A few commands may wait for one projector; the rest are refused at once, so that a
    // flood from the broker neither grows the queue nor keeps the clients from the line.
    std::size_t& waiting = waiting_[address];
    if (waiting >= settings_.maxWaiting) {
        if (!std::exchange(refusing_[address], true)) {
            say(where + "refusing commands: " + std::to_string(waiting) +
                " are waiting for the line already");
        }
        result(address, "refused busy");
        return;
    }
    refusing_[address] = false;
    ++waiting;
    std::string frame = *projectorFrame(address, command);
    line_.transact(
        std::move(frame), commandWindowMs(command),
        [this, alive = alive_, address, command, where](const std::optional<std::string>& answer) {
            if (!*alive) {
                return;
            }
            --waiting_[address];
            const std::string said = commandResult(command, answer);
            say(where + command + ": " + said);
            result(address, said);
            pollSoon(address);
        });
}

void MqttBridge::pollSoon(int address) {
    if (poller_) {
        poller_->pollSoon(address);
    }
}

std::optional<std::string> MqttBridge::commandOf(std::string_view payload,
                                                 const std::string& where) {
    if (auto named = namedCommand(payload)) {
        return named;
    }
    if (!settings_.rawCommands) {
        say(where + "refused a command of " + std::to_string(payload.size()) +
            " bytes that is not a named one (command text is taken with mqtt_raw = yes only)");
        return std::nullopt;
    }
    if (payload.empty() || payload.size() > kLongestCommand || !printableAscii(payload)) {
        say(where + "refused a command of " + std::to_string(payload.size()) +
            " bytes: commands are 1.." + std::to_string(kLongestCommand) +
            " characters of printable ASCII");
        return std::nullopt;
    }
    return std::string(payload);
}

void MqttBridge::statePolled(int address, const ProjectorState& state) {
    std::string json = stateJson(state);
    states_[address] = json;
    const auto before = responding_.find(address);
    const bool changed = before == responding_.end() || before->second != state.responding;
    responding_[address] = state.responding;
    if (connected_) {
        publish(names_.state(address), json);
        if (changed) {
            publish(names_.availability(address), state.responding ? "online" : "offline");
        }
    }
}

void MqttBridge::result(int address, std::string_view text) {
    if (connected_) {
        publish(names_.result(address), std::string(text), false);
    }
}

void MqttBridge::publish(const std::string& topic, const std::string& payload, bool retain) {
    const int rc =
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        say("mqtt: cannot publish " + topic + ": " + describe(rc));
    }
    sync();
}

void MqttBridge::say(std::string_view line) const {
    if (log_) {
        log_(line);
    }
}

}  // namespace pj::line
