// SPDX-License-Identifier: Apache-2.0
// The bridge against a real mosquitto of the test's own on the loopback interface, watched
// with mosquitto_sub and driven with mosquitto_pub. Every wait is for what is to arrive, given
// up only after many seconds.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "json_check.h"
#include "line/line_process_support.h"
#include "line/mqtt_bridge.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/loop_wait.h"

extern char** environ;

namespace pj::line {
namespace {

using posix::EventLoop;
using posix::LoopTimer;
using posix::test::runUntil;
using test::freePort;
using test::JsonReader;

// Runs `argv`, its output into `outFd` (or nowhere), its errors nowhere.
pid_t spawn(const std::vector<std::string>& argv, int outFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

// A broker with no persistence: a restart forgets every retained message.
class Broker {
  public:
    Broker() : port_(freePort()) {
        char dir[] = "/tmp/pjline-broker-XXXXXX";
        dir_ = ::mkdtemp(dir);
        std::ofstream(dir_ + "/mosquitto.conf")
            << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
    }
    ~Broker() {
        stop(pid_);
        std::remove((dir_ + "/mosquitto.conf").c_str());
        ::rmdir(dir_.c_str());
    }
    bool start() {
        pid_ = spawn({"mosquitto", "-c", dir_ + "/mosquitto.conf"});
        return pid_ > 0;
    }
    void kill() { stop(pid_); }
    int port() const { return port_; }

  private:
    int port_;
    std::string dir_;
    pid_t pid_ = -1;
};

// mosquitto_sub on the bridge's topics, its lines read on the loop: by topic, the last
// payload and whether it came retained.
class Subscriber {
  public:
    struct Message {
        bool retained;
        std::string payload;
    };

    Subscriber(EventLoop& loop, int port) : loop_(loop) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        pid_ = spawn({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-F",
                      "%r %t %p", "-t", "pjline/#", "-t", "homeassistant/#"},
                     fds[1]);
        ::close(fds[1]);
        fd_ = fds[0];
        watch_ = loop_.watch(fd_, POLLIN, [this](short) { read(); });
    }
    ~Subscriber() {
        loop_.unwatch(watch_);
        stop(pid_);
        ::close(fd_);
    }
    const Message* find(const std::string& topic) const {
        const auto found = messages_.find(topic);
        return found == messages_.end() ? nullptr : &found->second;
    }
    std::size_t count(std::string_view lead) const {
        std::size_t n = 0;
        for (const auto& [topic, message] : messages_) {
            n += topic.starts_with(lead) ? 1 : 0;
        }
        return n;
    }
    bool has(const std::string& topic, std::string_view payload) const {
        const Message* message = find(topic);
        return message != nullptr && message->payload == payload;
    }

  private:
    void read() {
        char buffer[4096];
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            loop_.unwatch(watch_);
            return;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            const std::size_t space = line.find(' ', 2);
            if (line.size() > 2 && space != std::string::npos) {
                messages_[line.substr(2, space - 2)] = {line[0] == '1', line.substr(space + 1)};
            }
        }
    }

    EventLoop& loop_;
    pid_t pid_ = -1;
    int fd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::string pending_;
    std::map<std::string, Message> messages_;
};

// The line on the loop: answers each frame on a later turn with its reply, if it has one.
class LoopLine final : public LineAccess {
  public:
    explicit LoopLine(EventLoop& loop) : loop_(loop) {}
    ~LoopLine() override { loop_.cancelPosted(this); }
    void transact(std::string frame, int /*windowMs*/, Answer answer) override {
        frames.push_back(frame);
        std::optional<std::string> reply;
        if (const auto found = replies.find(frame); found != replies.end()) {
            reply = found->second;
        }
        loop_.post(this, [answer, reply] { answer(reply); });
    }
    bool quiet() const override { return true; }
    bool lineUp() const override { return true; }
    bool sent(const std::string& frame) const {
        return std::find(frames.begin(), frames.end(), frame) != frames.end();
    }

    std::vector<std::string> frames;
    std::map<std::string, std::string> replies{
        {"A001CR0", "00\r"}, {"A001CR3", "00042\r"}, {"A001C00", "\x06"}};

  private:
    EventLoop& loop_;
};

void publish(int port, const std::string& topic, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{"mosquitto_pub",      "-h", "127.0.0.1", "-p",
                                  std::to_string(port), "-t", topic};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_t pid = spawn(argv);
    int status = 0;
    ASSERT_GT(pid, 0);
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

std::size_t countLog(const std::vector<std::string>& log, std::string_view piece) {
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [piece](const auto& l) {
        return l.find(piece) != std::string::npos;
    }));
}

TEST(MqttBridge, PublishesTakesCommandsAndComesBackAfterTheBrokerRestarts) {
    EventLoop loop;
    Broker broker;
    LoopLine line(loop);
    std::vector<std::string> log;
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.name = "booth";
    settings.projectors = {1};
    settings.reconnectFirstMs = 200;
    auto bridge = std::make_unique<MqttBridge>(loop, line, settings,
                                               [&](std::string_view l) { log.emplace_back(l); });

    // Started before the broker: it keeps trying until the broker is there.
    ASSERT_TRUE(bridge->start());
    ASSERT_TRUE(runUntil(loop, [&] { return countLog(log, "cannot connect") > 0; }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(runUntil(loop, [&] { return bridge->connected(); }));

    const std::string state = "pjline/booth/1/state";
    const std::string status = "pjline/booth/status";
    const std::string power = "homeassistant/switch/pjline_booth/p1_power/config";
    const auto allThere = [&](const Subscriber& sub) {
        return sub.has(status, "online") && sub.find(state) != nullptr &&
               sub.count("homeassistant/") == 10;
    };
    {
        Subscriber sub(loop, broker.port());
        ASSERT_TRUE(runUntil(loop, [&] { return allThere(sub); }));
        EXPECT_TRUE(sub.find(status)->retained);
        EXPECT_TRUE(sub.find(power)->retained);
        const std::optional<test::Json> json = JsonReader::parse(sub.find(state)->payload);
        ASSERT_TRUE(json) << sub.find(state)->payload;
        EXPECT_EQ(json->str("power"), "on");
        EXPECT_EQ(json->at("lamp_hours")->number, 42);
        EXPECT_EQ(JsonReader::parse(sub.find(power)->payload)->str("command_topic"),
                  "pjline/booth/1/set");

        // A command, then the projector is polled at once.
        line.frames.clear();
        publish(broker.port(), "pjline/booth/1/set", {"-m", "OFF"});
        ASSERT_TRUE(runUntil(loop, [&] { return line.sent("A001CRA"); }));
        EXPECT_EQ(line.frames.front(), "A001C01");
        EXPECT_EQ(line.frames[1], "A001CR0");
        line.replies["A001CR0"] = "20\r";  // cooling down now
        line.frames.clear();
        publish(broker.port(), "pjline/booth/1/set", {"-m", "CF VMUTE CLOSE"});
        ASSERT_TRUE(runUntil(
            loop, [&] { return sub.find(state)->payload.find("cooling") != std::string::npos; }));
        EXPECT_EQ(line.frames.front(), "A001CF VMUTE CLOSE");

        // What is not a command is refused, and nothing goes to the line.
        struct Refused {
            std::string topic;
            std::vector<std::string> extra;
        };
        const Refused refused[] = {
            {"pjline/booth/1/set", {"-m", "C00\x01"}},
            {"pjline/booth/1/set", {"-m", std::string(1025, 'C')}},
            {"pjline/booth/1/set", {"-n"}},
            {"pjline/booth/3/set", {"-m", "ON"}},
        };
        line.frames.clear();
        for (const Refused& r : refused) {
            const std::size_t before = countLog(log, "refused");
            publish(broker.port(), r.topic, r.extra);
            EXPECT_TRUE(runUntil(loop, [&] { return countLog(log, "refused") > before; }))
                << r.topic << " " << r.extra.back().substr(0, 10);
        }
        EXPECT_TRUE(line.frames.empty());
    }

    // The broker goes away and comes back empty: the bridge says it all again.
    const std::size_t connections = countLog(log, "connected to");
    broker.kill();
    ASSERT_TRUE(runUntil(loop, [&] { return !bridge->connected(); }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(runUntil(loop, [&] { return countLog(log, "connected to") > connections; }));
    {
        Subscriber sub(loop, broker.port());
        ASSERT_TRUE(runUntil(loop, [&] { return allThere(sub); }));
        EXPECT_NE(sub.find(state)->payload.find(R"("power":"cooling")"), std::string::npos);
    }

    // The bridge gone: offline.
    bridge.reset();
    {
        Subscriber sub(loop, broker.port());
        EXPECT_TRUE(runUntil(loop, [&] { return sub.has(status, "offline"); }));
    }

    // A command left retained on the broker is not run when a bridge subscribes.
    publish(broker.port(), "pjline/booth/1/set", {"-r", "-m", "ON"});
    line.frames.clear();
    bridge = std::make_unique<MqttBridge>(loop, line, settings,
                                          [&](std::string_view l) { log.emplace_back(l); });
    ASSERT_TRUE(bridge->start());
    EXPECT_TRUE(runUntil(loop, [&] { return countLog(log, "refused a retained") > 0; }));
    EXPECT_FALSE(line.sent("A001C00"));
    if (HasFailure()) {
        for (const std::string& l : log) {
            std::cerr << "  log: " << l << "\n";
        }
    }
}

}  // namespace
}  // namespace pj::line
