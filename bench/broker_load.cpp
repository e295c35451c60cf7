// SPDX-License-Identifier: Apache-2.0
// The broker's side of a building of line servers: N MQTT connections, one a room, each doing
// what one pjline's MQTT bridge does with a broker, with the bridge's own topics and payloads
// (its status with a will, the discovery of one projector, its state JSON when it changes, a
// subscription to its commands, all at QoS 1, retained, with the bridge's keep-alive and
// reconnection backoff), and one subscriber, in a thread of its own, that sees everything as a
// home-automation hub would. Measures the time for all rooms to be known after a cold start,
// the end-to-end latency and the message rate of the state at the designed rate (or faster),
// the broker's CPU and memory from /proc, and the time for all rooms to be back after the
// broker restarts. Starts its own mosquitto on 127.0.0.1 unless told to use one.
//
// Not part of the test run; docs/SCALE.md has its figures and the command that made them.
// Usage: pjbrokerload [--rooms N] [--port P] [--mosquitto PATH] [--broker-pid PID]
//                     [--poll S] [--speed X] [--changes F] [--duration S] [--down S]
//                     [--qos 0|1] [--keepalive S]
#include <mosquitto.h>

#include "line/discovery.h"
#include "line/mqtt_bridge.h"
#include "line/projector_state.h"
#include "support/mosquitto.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// The projector of a room's line: the one spoken to without an address.
constexpr int kAddress = 0;

struct Options {
    int rooms = 200;
    int port = 18830;
    std::string mosquitto = "/usr/sbin/mosquitto";
    int brokerPid = 0;  // a broker already running on --port: no start, no restart
    double poll = 30;
    double speed = 1;
    double changes = 1;  // the share of polling rounds that change a projector's state
    double duration = 60;
    double down = 1;  // how long the broker stays down when restarted
    int qos = 1;
    int keepalive = pj::line::MqttSettings{}.keepaliveSeconds;
};

// The states' time stamps: microseconds since the program started, a short number.
const Clock::time_point kEpoch = Clock::now();

std::int64_t stampUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kEpoch).count();
}

double since(Clock::time_point start) {
    return Seconds(Clock::now() - start).count();
}

// One MQTT connection, driven by the poll loop of the thread that owns it: connects, and after
// a loss or a refusal tries again after `backoff`, doubling up to `maxBackoff`.
class Connection {
  public:
    using Connected = std::function<void(Connection&)>;

    Connection(std::string id, int port, int keepalive, double firstBackoff, double maxBackoff)
        : id_(std::move(id)),
          port_(port),
          keepalive_(keepalive),
          first_(firstBackoff),
          max_(maxBackoff),
          backoff_(firstBackoff) {
        mosq_ = mosquitto_new(id_.c_str(), true, this);
        if (mosq_ == nullptr) {
            std::perror("mosquitto_new");
            std::exit(1);
        }
        mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
            static_cast<Connection*>(self)->onConnect(rc);
        });
        mosquitto_disconnect_callback_set(
            mosq_, [](mosquitto*, void* self, int) { static_cast<Connection*>(self)->lost(); });
        mosquitto_message_callback_set(mosq_,
                                       [](mosquitto*, void* self, const mosquitto_message* m) {
                                           auto* c = static_cast<Connection*>(self);
                                           if (c->message_) {
                                               c->message_(*m);
                                           }
                                       });
    }
    ~Connection() { mosquitto_destroy(mosq_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    mosquitto* mosq() { return mosq_; }
    bool connected() const { return state_ == State::connected; }
    void onConnected(Connected callback) { connected_ = std::move(callback); }
    void onMessage(std::function<void(const mosquitto_message&)> callback) {
        message_ = std::move(callback);
    }

    // One turn of the loop: due connection attempts, then the poll entry of the socket.
    void prepare(std::vector<pollfd>& fds, std::vector<Connection*>& owners) {
        if (state_ == State::idle && Clock::now() >= retryAt_) {
            int rc = started_ ? mosquitto_reconnect_async(mosq_)
                              : mosquitto_connect_async(mosq_, "127.0.0.1", port_, keepalive_);
            started_ = true;
            if (rc == MOSQ_ERR_SUCCESS) {
                state_ = State::connecting;
            } else {
                lost();
            }
        }
        int fd = mosquitto_socket(mosq_);
        if (state_ != State::idle && fd >= 0) {
            auto events = static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0));
            fds.push_back(pollfd{fd, events, 0});
            owners.push_back(this);
        }
    }

    void service(short revents) {
        if ((revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            mosquitto_loop_read(mosq_, 16);
        }
        if ((revents & POLLOUT) != 0 && state_ != State::idle) {
            mosquitto_loop_write(mosq_, 16);
        }
        housekeeping();
    }

    void housekeeping() {
        if (state_ != State::idle) {
            mosquitto_loop_misc(mosq_);
            if (mosquitto_socket(mosq_) < 0) {
                lost();
            }
        }
    }

  private:
    enum class State { idle, connecting, connected };

    void onConnect(int rc) {
        if (rc != 0) {
            lost();
            return;
        }
        state_ = State::connected;
        backoff_ = first_;
        if (connected_) {
            connected_(*this);
        }
    }

    void lost() {
        if (state_ == State::idle && started_ && retryAt_ > Clock::now()) {
            return;  // already waiting for the next attempt
        }
        state_ = State::idle;
        retryAt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(backoff_));
        backoff_ = std::min(backoff_ * 2, max_);
    }

    std::string id_;
    int port_;
    int keepalive_;
    double first_;
    double max_;
    double backoff_;
    mosquitto* mosq_ = nullptr;
    State state_ = State::idle;
    bool started_ = false;
    Clock::time_point retryAt_{};
    Connected connected_;
    std::function<void(const mosquitto_message&)> message_;
};

// Runs the loop of a set of connections for up to `timeoutMs`.
void serviceOnce(const std::vector<Connection*>& connections, int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<Connection*> owners;
    fds.reserve(connections.size());
    for (Connection* c : connections) {
        c->prepare(fds, owners);
    }
    ::poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        owners[i]->service(fds[i].revents);
    }
}

// One room's line server, as its broker sees it: what the bridge publishes, from the
// library's own discovery and state JSON.
struct Room {
    pj::line::TopicNames names;
    std::unique_ptr<Connection> connection;
    std::vector<pj::line::RetainedMessage> discovery;
    pj::line::ProjectorState projector;
    Clock::time_point nextPoll;
    int qos = 1;
    int seq = 0;

    // The projector on, as a round finds it; the lamp hours and the temperatures move with
    // each round that changes the state.
    void polled() {
        projector.operatingState = pj::OperatingState::On;
        projector.input = pj::InputMode{1};
        projector.lampHours = pj::LampHours{1234 + seq};
        projector.lamps = pj::Lamps{{true, false}, pj::LampMode::Dual};
        projector.temperatures =
            pj::Temperatures{{25.0 + seq % 3, 30.5, 40.0 + 0.5 * (seq % 4), 35.2}};
        projector.mute = pj::MuteAndSignal{false, false, pj::Signal::Present};
        projector.responding = true;
    }

    // The bridge's state JSON with a time stamp for the hub's latency: {"t":US,...}.
    std::string state() const {
        std::string json = pj::line::stateJson(projector);
        json.insert(1, "\"t\":" + std::to_string(stampUs()) + ",");
        return json;
    }

    void publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(connection->mosq(), nullptr, topic.c_str(),
                          static_cast<int>(payload.size()), payload.data(), qos, true);
    }

    void publishState() {
        ++seq;
        polled();
        publish(names.state(kAddress), state());
    }

    // What the bridge does on every connection: the commands' subscription, then status,
    // discovery and the last state.
    void announce() {
        const std::string commands = names.base() + "/+/set";
        mosquitto_subscribe(connection->mosq(), nullptr, commands.c_str(), 1);
        publish(names.status(), "online");
        for (const auto& config : discovery) {
            publish(config.topic, config.payload);
        }
        publish(names.state(kAddress), state());
    }
};

// What the hub sees: every topic, the latency of the states, the rooms back online.
class Watcher {
  public:
    explicit Watcher(int port, int keepalive)
        : connection_("watcher", port, keepalive, 0.05, 0.05) {
        connection_.onConnected([](Connection& c) {
            mosquitto_subscribe(c.mosq(), nullptr, "pjline/#", 0);
            mosquitto_subscribe(c.mosq(), nullptr, "homeassistant/#", 0);
        });
        connection_.onMessage([this](const mosquitto_message& m) { received(m); });
        thread_ = std::thread([this] {
            std::vector<Connection*> one{&connection_};
            while (!stop_) {
                serviceOnce(one, 20);
            }
        });
    }
    ~Watcher() {
        stop_ = true;
        thread_.join();
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // Starts counting anew: topics seen, rooms online, latencies.
    void reset(bool measureLatency) {
        std::lock_guard lock(mutex_);
        topics_.clear();
        online_.clear();
        latenciesMs_.clear();
        reset_ = Clock::now();
        messages_ = 0;
        bytes_ = 0;
        measuring_ = measureLatency;
    }

    struct Counts {
        std::size_t topics, online, messages, bytes;
        std::vector<double> latenciesMs;
        std::vector<double> onlineAfter;  // each room's first "online", seconds after the reset
    };
    Counts counts() {
        std::lock_guard lock(mutex_);
        std::vector<double> onlineAfter;
        for (const auto& [topic, after] : online_) {
            onlineAfter.push_back(after);
        }
        return {topics_.size(), online_.size(), messages_, bytes_, latenciesMs_, onlineAfter};
    }

  private:
    void received(const mosquitto_message& m) {
        std::int64_t now = stampUs();
        std::string topic = m.topic;
        std::string payload(static_cast<const char*>(m.payload),
                            static_cast<std::size_t>(m.payloadlen));
        std::lock_guard lock(mutex_);
        ++messages_;
        bytes_ += topic.size() + payload.size();
        topics_.insert(topic);
        if (topic.size() > 7 && topic.ends_with("/status") && payload == "online") {
            online_.emplace(topic, since(reset_));
        }
        if (measuring_ && !m.retain && payload.starts_with("{\"t\":")) {
            std::int64_t sent = std::strtoll(payload.c_str() + 5, nullptr, 10);
            latenciesMs_.push_back(static_cast<double>(now - sent) / 1e3);
        }
    }

    Connection connection_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::set<std::string> topics_;
    std::map<std::string, double> online_;  // seconds after the reset
    std::vector<double> latenciesMs_;
    Clock::time_point reset_ = Clock::now();
    std::size_t messages_ = 0;
    std::size_t bytes_ = 0;
    bool measuring_ = false;
};

// The broker: a mosquitto of this program's own on 127.0.0.1 (the tests' own), or one
// already running.
class Broker {
  public:
    Broker(const Options& options) : options_(options) {
        if (options.brokerPid != 0) {
            pid_ = options.brokerPid;
            return;
        }
        pj::test::Mosquitto::Options broker;
        broker.port = options.port;
        broker.program = options.mosquitto;
        broker.config = "log_dest stderr\nlog_type error\nlog_type warning\n";
        broker.err = pj::test::Stream::descriptor(STDERR_FILENO);
        own_ = std::make_unique<pj::test::Mosquitto>(std::move(broker));
        start();
    }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    bool owned() const { return own_ != nullptr; }

    // Up once it takes a connection.
    void start() {
        if (!own_->start(std::chrono::seconds(10))) {
            std::fprintf(stderr, "the broker did not come up on port %d\n", options_.port);
            std::exit(1);
        }
        pid_ = own_->pid();
    }

    void stop() {
        own_->stop();
        pid_ = 0;
    }

    // CPU seconds used so far (user and system), from /proc/PID/stat.
    double cpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        if (close == std::string::npos) {
            return 0;
        }
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) {
                ticks += std::stod(field);
            }
        }
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

    // A line of /proc/PID/status in kB (VmRSS, VmHWM).
    long memoryKb(const std::string& key) const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(key + ":", 0) == 0) {
                return std::atol(line.c_str() + key.size() + 1);
            }
        }
        return -1;
    }

  private:
    const Options& options_;
    std::unique_ptr<pj::test::Mosquitto> own_;
    pid_t pid_ = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::min(rank == 0 ? 0 : rank - 1, values.size() - 1)];
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--rooms")
            o.rooms = std::stoi(value());
        else if (arg == "--port")
            o.port = std::stoi(value());
        else if (arg == "--mosquitto")
            o.mosquitto = value();
        else if (arg == "--broker-pid")
            o.brokerPid = std::stoi(value());
        else if (arg == "--poll")
            o.poll = std::stod(value());
        else if (arg == "--speed")
            o.speed = std::stod(value());
        else if (arg == "--changes")
            o.changes = std::stod(value());
        else if (arg == "--duration")
            o.duration = std::stod(value());
        else if (arg == "--down")
            o.down = std::stod(value());
        else if (arg == "--qos")
            o.qos = std::stoi(value());
        else if (arg == "--keepalive")
            o.keepalive = std::stoi(value());
        else {
            std::fprintf(stderr,
                         "usage: pjbrokerload [--rooms N] [--port P] [--mosquitto PATH] "
                         "[--broker-pid PID] [--poll S] [--speed X] [--changes F] "
                         "[--duration S] [--down S] [--qos 0|1] [--keepalive S]\n");
            std::exit(arg == "--help" ? 0 : 2);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    mosquitto_lib_init();

    Broker broker(options);
    long idleRssKb = broker.memoryKb("VmRSS");
    Watcher watcher(options.port, options.keepalive);

    std::vector<std::unique_ptr<Room>> rooms;
    std::vector<Connection*> connections;
    std::mt19937 random(1);
    const double period = options.poll / options.speed;
    std::uniform_real_distribution<double> phase(0, period);
    std::uniform_real_distribution<double> chance(0, 1);
    const pj::line::MqttSettings bridge;  // the bridge's defaults: prefix, backoff
    for (int i = 0; i < options.rooms; ++i) {
        auto room = std::make_unique<Room>();
        char name[16];
        std::snprintf(name, sizeof name, "room%03d", i + 1);
        room->names = {bridge.prefix, name};
        room->qos = options.qos;
        room->discovery = pj::line::lineConfigs(room->names, {});
        for (auto& config : pj::line::projectorConfigs(room->names, {}, {kAddress, "", ""})) {
            room->discovery.push_back(std::move(config));
        }
        room->polled();
        room->connection = std::make_unique<Connection>(
            "pjline-" + std::string(name), options.port, options.keepalive,
            bridge.reconnectFirstMs / 1000.0, bridge.reconnectLastMs / 1000.0);
        const std::string status = room->names.status();
        mosquitto_will_set(room->connection->mosq(), status.c_str(), 7, "offline", options.qos,
                           true);
        Room* self = room.get();
        room->connection->onConnected([self](Connection&) { self->announce(); });
        connections.push_back(room->connection.get());
        rooms.push_back(std::move(room));
    }

    // What one room says on each connection: status, discovery, state; topics and payloads.
    const Room& sample = *rooms.front();
    const std::string firstState = sample.state();
    std::size_t discoveryBytes = 0;
    for (const auto& config : sample.discovery) {
        discoveryBytes += config.topic.size() + config.payload.size();
    }
    const std::size_t topicsPerRoom = sample.discovery.size() + 2;
    const std::size_t statusBytes = sample.names.status().size() + 6;
    const std::size_t stateBytes = sample.names.state(kAddress).size() + firstState.size();
    const std::size_t stampBytes = firstState.size() - pj::line::stateJson(sample.projector).size();
    std::printf(
        "each connection: %zu messages, %zu B of topics and payloads (status %zu B, %zu "
        "discovery %zu B, state %zu B of which the time stamp %zu B); keep-alive %d s, "
        "backoff %.0f s to %.0f s\n",
        topicsPerRoom, statusBytes + discoveryBytes + stateBytes, statusBytes,
        sample.discovery.size(), discoveryBytes, stateBytes, stampBytes, options.keepalive,
        bridge.reconnectFirstMs / 1000.0, bridge.reconnectLastMs / 1000.0);

    const std::size_t allTopics = static_cast<std::size_t>(options.rooms) * topicsPerRoom;
    // Runs the rooms until every room is online and every topic seen, or `limit` s.
    auto untilAllBack = [&](Clock::time_point from, double limit) {
        std::optional<double> online, all;
        while (since(from) < limit && !all) {
            serviceOnce(connections, 10);
            auto counts = watcher.counts();
            if (!online && counts.online == static_cast<std::size_t>(options.rooms)) {
                online = since(from);
            }
            if (counts.topics == allTopics && online) {
                all = since(from);
            }
        }
        return std::pair{online, all};
    };
    // When the rooms came back, each: the spread, and how many needed a second try (later
    // than half a second after the first one came).
    auto spread = [&](const char* what) {
        auto after = watcher.counts().onlineAfter;
        if (after.empty()) {
            return;
        }
        double first = percentile(after, 0);
        auto late =
            std::count_if(after.begin(), after.end(), [&](double t) { return t > first + 0.5; });
        std::printf(
            "  %s: each room online after median %.3f s, p90 %.3f s, max %.3f s; %ld of %zu "
            "more than 0.5 s after the first\n",
            what, percentile(after, 0.5), percentile(after, 0.9), percentile(after, 1.0),
            static_cast<long>(late), after.size());
    };
    auto show = [](std::optional<double> s) {
        return s ? std::to_string(*s).substr(0, 5) + " s" : std::string("not within the limit");
    };

    std::printf(
        "rooms %d, poll %.0f s at speed %.0f (a round every %.2f s), state changes "
        "in %.0f%% of rounds, QoS %d\n",
        options.rooms, options.poll, options.speed, period, options.changes * 100, options.qos);

    // Cold start: every room connects at once.
    watcher.reset(false);
    double cpu0 = broker.cpuSeconds();
    auto [coldOnline, coldAll] = untilAllBack(Clock::now(), 120);
    std::printf("cold start: all %d online after %s, all %zu topics after %s, broker CPU %.2f s\n",
                options.rooms, show(coldOnline).c_str(), allTopics, show(coldAll).c_str(),
                broker.cpuSeconds() - cpu0);
    spread("cold start");
    long startedRssKb = broker.memoryKb("VmRSS");

    // Steady state: each room's polling round comes at its own phase of the period.
    auto start = Clock::now();
    for (auto& room : rooms) {
        room->nextPoll =
            start + std::chrono::duration_cast<Clock::duration>(Seconds(phase(random)));
    }
    watcher.reset(true);
    cpu0 = broker.cpuSeconds();
    double own0 = ownCpuSeconds();
    std::size_t published = 0;
    while (since(start) < options.duration) {
        serviceOnce(connections, 5);
        auto now = Clock::now();
        for (auto& room : rooms) {
            if (now >= room->nextPoll) {
                room->nextPoll += std::chrono::duration_cast<Clock::duration>(Seconds(period));
                if (room->connection->connected() && chance(random) < options.changes) {
                    room->publishState();
                    ++published;
                }
            }
        }
    }
    double elapsed = since(start);
    // The last ones in flight.
    for (auto drain = Clock::now(); since(drain) < 0.5;) {
        serviceOnce(connections, 10);
    }
    auto steady = watcher.counts();
    double brokerCpu = broker.cpuSeconds() - cpu0;
    double ownCpu = ownCpuSeconds() - own0;
    std::printf(
        "steady %.0f s: %zu states published, %zu messages received (%.1f/s, %.0f B/s), "
        "latency median %.2f ms, p99 %.2f ms, max %.2f ms\n",
        elapsed, published, steady.messages, static_cast<double>(steady.messages) / elapsed,
        static_cast<double>(steady.bytes) / elapsed, percentile(steady.latenciesMs, 0.5),
        percentile(steady.latenciesMs, 0.99), percentile(steady.latenciesMs, 1.0));
    std::printf(
        "broker: CPU %.2f%% of a core, RSS %ld kB idle, %ld kB with the rooms, %ld kB "
        "after the run (peak %ld kB); this program %.2f%% of a core\n",
        100 * brokerCpu / elapsed, idleRssKb, startedRssKb, broker.memoryKb("VmRSS"),
        broker.memoryKb("VmHWM"), 100 * ownCpu / elapsed);

    if (broker.owned()) {
        // Restart: retained messages go with the broker (no persistence); every room has to
        // say everything again once it is back in.
        auto killed = Clock::now();
        broker.stop();
        watcher.reset(false);
        while (since(killed) < options.down) {
            serviceOnce(connections, 10);
        }
        broker.start();
        auto up = Clock::now();
        double restartCpu0 = broker.cpuSeconds();
        auto [backOnline, backAll] = untilAllBack(killed, 180);
        std::printf(
            "restart (down %.2f s, up again %.2f s after the stop): all %d online %s "
            "after the stop, all %zu topics %s after; the new broker's CPU %.2f s, "
            "RSS %ld kB\n",
            options.down, Seconds(up - killed).count(), options.rooms, show(backOnline).c_str(),
            allTopics, show(backAll).c_str(), broker.cpuSeconds() - restartCpu0,
            broker.memoryKb("VmRSS"));
        spread("restart, from the stop");
    }
    rooms.clear();
    mosquitto_lib_cleanup();
    return 0;
}
