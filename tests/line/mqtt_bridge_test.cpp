// SPDX-License-Identifier: Apache-2.0
// The bridge against a real mosquitto of the test's own on the loopback interface, watched
// with mosquitto_sub and driven with mosquitto_pub. Every wait is for what is to arrive, given
// up only after many seconds.
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "json_check.h"
#include "line/hub.h"
#include "line/line_process_support.h"
#include "line/mqtt_bridge.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/loop_wait.h"
#include "posix/monotonic_clock.h"
#include "support/mosquitto.h"
#include "support/process.h"

namespace pj::line {
namespace {

using posix::EventLoop;
using posix::LoopTimer;
using posix::test::runUntil;
using test::JsonReader;

using Broker = pj::test::Mosquitto;
using pj::test::Launch;
using pj::test::Process;
using pj::test::Stream;

// mosquitto_sub on the bridge's topics, its lines read on the loop: by topic, the last
// payload and whether it came retained.
class Subscriber {
  public:
    struct Message {
        bool retained;
        std::string payload;
    };

    Subscriber(EventLoop& loop, int port)
        : loop_(loop),
          sub_(Launch({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-F",
                       "%r %t %p", "-t", "pjline/#", "-t", "homeassistant/#"})
                   .output(Stream::pipe())) {
        watch_ = loop_.watch(sub_.outFd(), POLLIN, [this](short) { read(); });
    }
    ~Subscriber() {
        loop_.unwatch(watch_);
        sub_.stop(SIGTERM);
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
        const ssize_t got = ::read(sub_.outFd(), buffer, sizeof buffer);
        if (got < 0 && errno == EAGAIN) {
            return;
        }
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
    Process sub_;
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
    Process pub{Launch(argv)};
    ASSERT_TRUE(pub.started());
    EXPECT_EQ(pub.wait(), 0);
}

std::size_t countLog(const std::vector<std::string>& log, std::string_view piece) {
    return static_cast<std::size_t>(std::count_if(log.begin(), log.end(), [piece](const auto& l) {
        return l.find(piece) != std::string::npos;
    }));
}

TEST(MqttBridge, EachCommandsResultSaysWhatTheProjectorAnswered) {
    struct Row {
        const char* command;
        std::optional<std::string> answer;
        const char* result;
    };
    const Row rows[] = {
        {"C00", "\x06", "ok"}, {"C00", std::nullopt, "no reply"}, {"C00", "?\r", "?"},
        {"CR0", "00\r", "ok"},  // a query's reply
        {"CR0", "?\r", "?"},   {"C00", "\x01\x02\r", ".."},       {"C00", "\r", "no reply"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(commandResult(row.command, row.answer), row.result)
            << row.command << " " << row.answer.value_or("(none)");
    }
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
    settings.rawCommands = true;
    auto bridge = std::make_unique<MqttBridge>(loop, line, settings,
                                               [&](std::string_view l) { log.emplace_back(l); });

    // Started before the broker: it keeps trying until the broker is there.
    ASSERT_TRUE(bridge->start());
    ASSERT_TRUE(runUntil(loop, [&] { return countLog(log, "cannot connect") > 0; }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(runUntil(loop, [&] { return bridge->connected(); }));

    const std::string state = "pjline/booth/1/state";
    const std::string status = "pjline/booth/status";
    const std::string power = "homeassistant/switch/pjline__booth/p1_power/config";
    const auto allThere = [&](const Subscriber& sub) {
        return sub.has(status, "online") && sub.find(state) != nullptr &&
               sub.count("homeassistant/") == 31;
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
        const std::string result = "pjline/booth/1/result";
        EXPECT_TRUE(runUntil(loop, [&] { return sub.has(result, "no reply"); }));
        // A command by its name, and the poll that follows it through.
        line.frames.clear();
        publish(broker.port(), "pjline/booth/1/set", {"-m", "input.2"});
        ASSERT_TRUE(runUntil(loop, [&] { return line.sent("A001C06") && line.sent("A001CRA"); }));

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
        EXPECT_TRUE(runUntil(
            loop, [&] { return sub.has(result, "refused not 1..1024 printable characters"); }));
        EXPECT_FALSE(sub.find(result)->retained);
    }

    // The broker goes away and comes back empty: the bridge says it all again.
    const std::size_t connections = countLog(log, "connected to");
    broker.stop();
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

TEST(MqttBridge, WithDiscoveryOffNothingIsPublishedForHomeAssistantEvenAtItsBirth) {
    EventLoop loop;
    Broker broker;
    ASSERT_TRUE(broker.start());
    LoopLine line(loop);
    std::vector<std::string> log;
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.name = "booth";
    settings.projectors = {1};
    settings.discovery = false;
    Subscriber sub(loop, broker.port());
    MqttBridge bridge(loop, line, settings, [&](std::string_view l) { log.emplace_back(l); });
    ASSERT_TRUE(bridge.start());
    ASSERT_TRUE(runUntil(loop, [&] {
        return sub.has("pjline/booth/1/availability", "online") &&
               sub.has("pjline/booth/line", "up");
    }));
    publish(broker.port(), "homeassistant/status", {"-m", "online"});
    publish(broker.port(), "pjline/booth/1/set", {"-m", "ON"});
    ASSERT_TRUE(runUntil(loop, [&] { return sub.has("pjline/booth/1/result", "ok"); }));
    EXPECT_EQ(sub.count("homeassistant/"), 1U);  // the birth message alone
}

bool runs(const std::vector<std::string>& argv) {
    return pj::test::runToEnd(Launch(argv)).status == 0;
}

// The line behind a real hub: each frame answered with an ACK 50 ms after it was written.
struct SlowLine final : LineLink {
    SlowLine(EventLoop& loop, Hub& theHub) : hub(theHub), answer(loop) {
        answer.setInterval(50);
        answer.setOnTimer([this] {
            answer.setEnabled(false);
            this->hub.fromLine("\x06");
        });
    }
    bool write(std::string_view frame) override {
        frames.emplace_back(frame);
        answer.setEnabled(true);
        return true;
    }
    Hub& hub;
    LoopTimer answer;
    std::vector<std::string> frames;
};

struct HeardClient final : ClientLink {
    void deliver(std::string_view bytes) override { heard += bytes; }
    void finish(std::string) override {}
    std::string heard;
};

// The bridge's way to the hub, watched: the most frames waiting after each command it queued.
struct WatchedAccess final : LineAccess {
    explicit WatchedAccess(Hub& theHub) : hub(theHub) {}
    void transact(std::string frame, int windowMs, Answer answer) override {
        frames.push_back(frame);
        hub.transact(std::move(frame), windowMs, std::move(answer));
        mostWaiting = std::max(mostWaiting, hub.queued());
    }
    bool quiet() const override { return hub.quiet(); }
    bool lineUp() const override { return hub.lineUp(); }
    Hub& hub;
    std::vector<std::string> frames;
    std::size_t mostWaiting = 0;
};

TEST(MqttBridge, AFloodOfCommandsWaitsAFewAtATimeAndTheClientsStillReachTheLine) {
    EventLoop loop;
    Broker broker;
    ASSERT_TRUE(broker.start());
    std::vector<std::string> log;
    const auto logged = [&](std::string_view l) { log.emplace_back(l); };
    posix::MonotonicClock clock;
    LoopTimer window(loop);
    Hub hub(
        {}, window, clock, [&](std::function<void()> call) { loop.post(&hub, call); }, logged);
    SlowLine line(loop, hub);
    hub.lineOpened(line);
    WatchedAccess access(hub);
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.projectors = {1, 2};
    settings.pollSeconds = 3600;
    MqttBridge bridge(loop, access, settings, logged);
    ASSERT_TRUE(bridge.start());
    ASSERT_TRUE(runUntil(loop, [&] { return bridge.connected(); }));

    // A thousand commands to projector 1 at once: at 50 ms each, 50 s of the line's time.
    // The bridge's loop runs while they are published, as it does in pjline.
    const auto publishing = [&](const std::string& topic, std::vector<std::string> extra) {
        std::vector<std::string> argv{
            "mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-t", topic};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Process pub{Launch(argv)};
        ASSERT_TRUE(pub.started());
        std::optional<int> status;
        ASSERT_TRUE(runUntil(loop, [&] {
            return (status = pub.waitFor(std::chrono::milliseconds(0))).has_value();
        }));
        EXPECT_EQ(status, 0);
    };
    publishing("pjline/line/1/set", {"-m", "ON", "--repeat", "1000"});
    // One to projector 2 after them: once it is queued, the bridge has had them all.
    publishing("pjline/line/2/set", {"-m", "ON"});
    ASSERT_TRUE(runUntil(loop,
                         [&] {
                             return std::find(access.frames.begin(), access.frames.end(),
                                              "A002C00") != access.frames.end();
                         }))
        << ::testing::PrintToString(log) << access.frames.size();
    EXPECT_LE(access.mostWaiting, 2 * settings.maxWaiting);
    // A client's query now waits behind those few only.
    HeardClient client;
    const Hub::ClientId id = hub.attach(client, "local client");
    hub.fromClient(id, "A002 local query\r");
    EXPECT_TRUE(runUntil(loop, [&] {
        return std::find(line.frames.begin(), line.frames.end(), "A002 local query\r") !=
               line.frames.end();
    }));
    // Refusals are said once a burst, not once a command.
    EXPECT_GE(countLog(log, "refusing commands"), 1u);
    EXPECT_LT(countLog(log, "refusing commands"), 50u);
    hub.detach(id);
    loop.cancelPosted(&hub);
}

TEST(MqttBridge, LogsInOverTlsAndRefusesRetainedAndOversizedCommands) {
    EventLoop loop;
    Broker broker({.config = "password_file DIR/passwd\n"
                             "cafile DIR/ca.pem\ncertfile DIR/server.pem\nkeyfile DIR/server.key\n",
                   .anonymous = false});
    const std::string dir = broker.dir();
    // A CA of the test's own and the broker's certificate for 127.0.0.1, signed by it.
    std::ofstream(dir + "/san.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::vector<std::string> ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                      "-nodes"};
    std::vector<std::string> ca{"openssl", "req", "-x509"};
    ca.insert(ca.end(), ec.begin(), ec.end());
    ca.insert(ca.end(), {"-keyout", dir + "/ca.key", "-out", dir + "/ca.pem", "-days", "2", "-subj",
                         "/CN=pjline test CA"});
    std::vector<std::string> request{"openssl", "req"};
    request.insert(request.end(), ec.begin(), ec.end());
    request.insert(request.end(), {"-keyout", dir + "/server.key", "-out", dir + "/server.csr",
                                   "-subj", "/CN=127.0.0.1"});
    ASSERT_TRUE(runs(ca));
    ASSERT_TRUE(runs(request));
    ASSERT_TRUE(runs({"openssl", "x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem",
                      "-CAkey", dir + "/ca.key", "-CAcreateserial", "-out", dir + "/server.pem",
                      "-days", "2", "-extfile", dir + "/san.ext"}));
    ASSERT_TRUE(runs({"mosquitto_passwd", "-b", "-c", dir + "/passwd", "pj", "s3cret"}));
    // The broker may read them as another user when it leaves root.
    for (const char* file : {"", "/passwd", "/ca.pem", "/server.pem", "/server.key"}) {
        ::chmod((dir + file).c_str(), *file == '\0' ? 0755 : 0644);
    }
    ASSERT_TRUE(broker.start());

    LoopLine line(loop);
    std::vector<std::string> log;
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.name = "booth";
    settings.projectors = {1};
    settings.user = "pj";
    settings.password = "s3cret";
    settings.caFile = dir + "/ca.pem";
    MqttBridge bridge(loop, line, settings, [&](std::string_view l) { log.emplace_back(l); });
    ASSERT_TRUE(bridge.start());
    ASSERT_TRUE(runUntil(loop, [&] { return bridge.connected(); }));

    // A wrong password is refused by the broker, and said.
    MqttSettings wrong = settings;
    wrong.name = "hall";
    wrong.password = "guess";
    MqttBridge intruder(loop, line, wrong, [&](std::string_view l) { log.emplace_back(l); });
    ASSERT_TRUE(intruder.start());
    EXPECT_TRUE(runUntil(loop, [&] { return countLog(log, "refused the connection") > 0; }));
    EXPECT_FALSE(intruder.connected());

    const std::vector<std::string> login{"-u", "pj", "-P", "s3cret", "--cafile", dir + "/ca.pem"};
    const auto send = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), login.begin(), login.end());
        publish(broker.port(), "pjline/booth/1/set", extra);
    };
    // Retained, published while the bridge listens: still refused.
    send({"-r", "-m", "ON"});
    EXPECT_TRUE(runUntil(loop, [&] { return countLog(log, "refused a retained") > 0; }));
    send({"-r", "-n"});  // clears it
    // Past the largest packet: the broker drops it, so nothing of it reaches the bridge;
    // command text is not taken anyway, and a named command after it is.
    send({"-m", std::string(40000, 'C')});
    send({"-m", "CR0"});
    send({"-m", "OFF"});
    ASSERT_TRUE(runUntil(loop, [&] { return line.sent("A001C01"); }));
    EXPECT_FALSE(line.sent("A001C00"));
    EXPECT_EQ(countLog(log, "of 40000 bytes"), 0u);
    EXPECT_EQ(countLog(log, "of 3 bytes that is not a named one"), 1u);
    EXPECT_NE(mqttClientId("hall-a", "booth"), mqttClientId("hall-b", "booth"));
    EXPECT_EQ(mqttClientId("a/b#+", "booth"), "pjline-a_b__-booth");
    if (HasFailure()) {
        for (const std::string& l : log) {
            std::cerr << "  log: " << l << "\n";
        }
    }
}

}  // namespace
}  // namespace pj::line
