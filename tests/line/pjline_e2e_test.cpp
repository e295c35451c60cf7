// SPDX-License-Identifier: Apache-2.0
// pjline as a process between a simulated projector and its clients: the panel's core over
// TCP, pjctl over the local socket and plain clients, sharing one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "line/line_process_support.h"
#include "line/posix_rig.h"
#include "sim/line_server.h"
#include "support/mosquitto.h"

namespace pj::line::test {
namespace {

using namespace std::string_literals;

constexpr double kZoomPeriodMs = 105;

// What the three clients did on the line together, and what reached it.
struct Shared {
    Hold hold;
    std::map<std::string, int> onTheLine;  // frames by their text
    std::vector<sim::ReceivedFrame> frames;
    int queries = 0, wrongReplies = 0, rawFrames = 0;
    std::string firstWrong;
};

class PjlineOnLine : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ASSERT_FALSE(sim.start());
        startServer();
    }
    void TearDown() override {
        server.reset();
        sim.stop();
        std::filesystem::remove_all(dir);
    }

    void startServer(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{PJ_LINE_BIN,
                                      "--device",
                                      dir + "/tty",
                                      "--socket",
                                      socket,
                                      "--listen",
                                      "127.0.0.1:" + std::to_string(port),
                                      "--name",
                                      "test"};
        args.insert(args.end(), extra.begin(), extra.end());
        server = std::make_unique<Process>(args, dir + "/pjline");
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(waitFor([&] { return server->errSays("the line is open"); })) << server->err();
    }

    Ran pjctl(std::vector<std::string> args) {
        args.insert(args.begin(), {PJ_CTL_BIN, "--port", "unix:" + socket});
        return runToEnd(args, dir + "/pjctl");
    }

    Shared shareTheLine(int holdMs);

    std::vector<sim::ReceivedFrame> framesSince(std::size_t first) const {
        const auto all = sim.frames();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    static std::string testDir() {
        return ::testing::TempDir() + "pjline-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    static sim::LineOptions simOptions() {
        sim::LineOptions o;
        o.link = testDir() + "/tty";
        return o;
    }

    const std::string dir = testDir();
    const std::string socket = dir + "/line.sock";
    int port = freePort();
    sim::LineServer sim{simOptions()};
    std::unique_ptr<Process> server;
};

struct Periods {
    std::size_t count = 0;
    double meanMs = 0;
    double meanErrorMs = 0;  // mean distance from the nominal period
    double worstErrorMs = 0;
};

Periods periodsOf(const std::vector<sim::ReceivedFrame>& frames) {
    std::vector<double> at;
    for (const auto& f : frames) {
        if (f.text == kZoomInFrame) {
            at.push_back(static_cast<double>(f.at.count()));
        }
    }
    Periods p;
    if (at.size() < 2) {
        return p;
    }
    p.count = at.size() - 1;
    for (std::size_t i = 1; i < at.size(); ++i) {
        const double error = std::abs(at[i] - at[i - 1] - kZoomPeriodMs);
        p.meanErrorMs += error / static_cast<double>(p.count);
        p.worstErrorMs = std::max(p.worstErrorMs, error);
    }
    p.meanMs = (at.back() - at.front()) / static_cast<double>(p.count);
    return p;
}

// The panel holds zoom + for `holdMs` through pjline's TCP port while a pjctl loop queries
// the status on its local socket and a raw TCP client types its frames a byte at a time.
Shared PjlineOnLine::shareTheLine(int holdMs) {
    const std::size_t mark = sim.frameCount();
    std::atomic<bool> done{false};
    std::atomic<int> queries{0}, wrongReplies{0}, rawFrames{0};
    Shared run;
    std::thread ctlLoop([&] {
        while (!done) {
            const Ran r = pjctl({"--json", "query", "status"});
            ++queries;
            if ((r.status != 0 || r.out.find("\"readout\":\" Power ON\"") == std::string::npos) &&
                wrongReplies++ == 0) {
                run.firstWrong = std::to_string(r.status) + " " + r.out + r.err;
            }
        }
    });
    std::thread raw([&] {
        RawClient client = RawClient::tcp(port);
        ASSERT_TRUE(client.connected());
        while (!done) {
            // Typed a byte at a time, so its frames are in pieces among the others'.
            for (const char c : std::string_view("CR3\r")) {
                client.send(std::string_view(&c, 1));
                std::this_thread::sleep_for(3ms);
            }
            ++rawFrames;
            client.readUntil([](const std::string&) { return false; }, 150ms);
        }
    });
    run.hold = holdZoomOnThePanel(port, holdMs);
    done = true;
    ctlLoop.join();
    raw.join();
    run.queries = queries;
    run.wrongReplies = wrongReplies;
    run.rawFrames = rawFrames;
    run.frames = framesSince(mark);
    for (const auto& f : run.frames) {
        ++run.onTheLine[f.text];
    }
    return run;
}

// Every frame of the three reaches the line whole and once, and every pjctl reply is its own.
void expectWholeFramesAndEveryReply(Shared& run) {
    EXPECT_EQ(run.onTheLine.size(), 3u) << ::testing::PrintToString(run.onTheLine);
    EXPECT_EQ(static_cast<std::size_t>(run.onTheLine[std::string(kZoomInFrame)]), run.hold.sent);
    EXPECT_EQ(run.onTheLine["CR0"], run.queries);
    EXPECT_EQ(run.onTheLine["CR3"], run.rawFrames);
    EXPECT_EQ(run.wrongReplies, 0) << run.firstWrong;
    EXPECT_GT(run.queries, 0);
    // One at the press, then one a period: never more than the hold had room for.
    EXPECT_GT(run.hold.sent, 1u);
    EXPECT_LE(static_cast<double>(run.hold.sent), 1 + std::floor(run.hold.heldMs / kZoomPeriodMs));
}

TEST_F(PjlineOnLine, ThePanelAPjctlLoopAndARawClientShareTheLineFrameByFrame) {
    Shared run = shareTheLine(4000);
    expectWholeFramesAndEveryReply(run);
}

// The machine's load average over 1, 5 and 15 minutes.
std::string loadAverage() {
    std::istringstream fields(readFile("/proc/loadavg"));
    std::string one, five, fifteen;
    fields >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The long run of scripts/soak_line.sh (left out of the test run): the same three for
// PJ_SHARE_SECONDS (default 600), and the hold's period shared against the panel's alone on
// the same line, a tenth of the run first, with the machine's load beside them.
TEST_F(PjlineOnLine, SoakTheHoldKeepsItsPeriodOnASharedLine) {
    const char* text = std::getenv("PJ_SHARE_SECONDS");
    const int seconds = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 600;
    const int holdMs = seconds * 1000;
    const std::size_t mark = sim.frameCount();
    holdZoomOnThePanel(port, std::max(3000, holdMs / 10));
    const Periods alone = periodsOf(framesSince(mark));
    ASSERT_GT(alone.count, 20u);

    Shared run = shareTheLine(holdMs);
    expectWholeFramesAndEveryReply(run);
    const Periods shared = periodsOf(run.frames);
    // The hold keeps its period: the mean within a millisecond of the panel's alone, its
    // mean error within two (the frames' times are whole milliseconds), and a frame never a
    // repeat late.
    EXPECT_NEAR(shared.meanMs, alone.meanMs, 1.0);
    EXPECT_NEAR(shared.meanErrorMs, alone.meanErrorMs, 2.0);
    EXPECT_LT(shared.worstErrorMs, kZoomPeriodMs);
    std::printf(
        "hold alone: %zu periods, mean %.2f ms, mean error %.2f ms, worst %.1f ms\n"
        "shared:     %zu periods, mean %.2f ms, mean error %.2f ms, worst %.1f ms\n"
        "frames on the line: %zu (zoom + %d, pjctl %d of %d queries, raw %d of %d), "
        "pjctl replies wrong or lost: %d\n"
        "load average (1, 5, 15 min) at the end: %s\n",
        alone.count, alone.meanMs, alone.meanErrorMs, alone.worstErrorMs, shared.count,
        shared.meanMs, shared.meanErrorMs, shared.worstErrorMs, run.frames.size(),
        run.onTheLine[std::string(kZoomInFrame)], run.onTheLine["CR0"], run.queries,
        run.onTheLine["CR3"], run.rawFrames, run.wrongReplies, loadAverage().c_str());
}

TEST_F(PjlineOnLine, AnUnpluggedLineIsReopenedAndTheClientsThatTalkAreTold) {
    RawClient talking = RawClient::local(socket);
    RawClient quiet = RawClient::local(socket);
    ASSERT_TRUE(talking.connected() && quiet.connected());
    ASSERT_TRUE(talking.greet(msg("hold") + wire::dataRecord("CR0\r")));
    ASSERT_TRUE(talking.hearsData("00\r"));

    sim.stop();
    ASSERT_TRUE(talking.hearsMessage("lost the device hung up"));
    ASSERT_TRUE(talking.send(wire::dataRecord("C00\r")));
    ASSERT_TRUE(talking.hearsMessage("refused the line is down"));
    ASSERT_FALSE(sim.start());
    ASSERT_TRUE(talking.hearsMessage("back"));
    ASSERT_TRUE(quiet.send("CR1\r"));
    ASSERT_TRUE(quiet.hears("\r"));
    EXPECT_EQ(quiet.heard.find('\0'), std::string::npos) << "a raw client hears only the line";
    EXPECT_TRUE(server->errSays("the line went away"));
}

TEST_F(PjlineOnLine, AClientThatNeverReadsIsLetGoAndTheLineGoesOn) {
    // Long answers, so the line's bytes pile up fast behind a client that reads nothing.
    sim.withProjector([](sim::Projector& p) { p.settings().noise.assign(4000, 'x'); });
    RawClient sleeper = RawClient::local(socket);
    const int small = 4096;
    ::setsockopt(sleeper.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    RawClient worker = RawClient::local(socket);
    int answered = 0;
    while (!server->errSays("unread") && answered < 2000) {
        ASSERT_TRUE(worker.send("CR0\r"));
        ASSERT_TRUE(worker.hears("00\r")) << "answer " << answered;
        worker.heard.clear();
        ++answered;
    }
    EXPECT_TRUE(server->errSays("went away: it left 64 kB unread")) << server->err();
    EXPECT_TRUE(sleeper.closedByServer());
    ASSERT_TRUE(worker.send("CR0\r"));
    EXPECT_TRUE(worker.hears("00\r"));
}

TEST_F(PjlineOnLine, AServerKilledAndStartedAgainServesTheSameSocket) {
    ASSERT_EQ(pjctl({"query", "status"}).out, " Power ON\n");
    ASSERT_EQ(server->stop(SIGKILL), -1);  // leaves its socket behind
    ASSERT_TRUE(std::filesystem::exists(socket));
    startServer();
    const Ran again = pjctl({"query", "status"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, " Power ON\n");

    // A second server for the same socket is turned away while the first serves it.
    const Ran second =
        runToEnd({PJ_LINE_BIN, "--device", dir + "/tty", "--socket", socket}, dir + "/second");
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("another pjline has this line"), std::string::npos) << second.err;
    EXPECT_EQ(server->stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(PjlineOnLine, NothingFromTheLineIsReadAsPjlinesWord) {
    // A line that brings a NUL and noise before its answer is answered through pjline as
    // directly.
    sim.withProjector([](sim::Projector& p) { p.settings().noise = "\0\x01noise"s; });
    const Ran noisy = pjctl({"query", "status"});
    EXPECT_EQ(noisy.status, 0) << noisy.err;

    // On a loopback plug, a client sending what looked like pjline's word makes no other
    // client fail.
    sim.stop();
    sim::LineOptions plug = simOptions();
    plug.loopback = true;
    sim::LineServer loopback(plug);
    ASSERT_FALSE(loopback.start());
    ASSERT_TRUE(waitFor([&] {
        return server->err().find("the line is open") != server->err().rfind("the line is open");
    })) << server->err();
    std::atomic<bool> done{false};
    std::thread spoofer([&] {
        RawClient spoof = RawClient::local(socket);
        while (!done && spoof.send("X\0lost spoofed\r"s)) {
            spoof.readUntil([](const std::string& h) { return h.find('\r') != h.npos; }, 200ms);
            spoof.heard.clear();
        }
    });
    int failed = 0;
    for (int i = 0; i < 10; ++i) {
        const Ran sent = pjctl({"send", "C00"});
        failed += sent.status != 0 ? 1 : 0;
        EXPECT_EQ(sent.err.find("spoofed"), std::string::npos) << sent.err;
    }
    done = true;
    spoofer.join();
    EXPECT_EQ(failed, 0);
    loopback.stop();
}

TEST_F(PjlineOnLine, AClientThatClosesItsSideIsAnsweredAllItSent) {
    const std::size_t mark = sim.frameCount();
    RawClient client = RawClient::tcp(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send("C00\rCR0\rCR1\rCR3\r"));
    ::shutdown(client.fd(), SHUT_WR);
    EXPECT_TRUE(client.closedByServer());
    std::vector<std::string> written;
    for (const auto& f : framesSince(mark)) {
        written.push_back(f.text);
    }
    EXPECT_EQ(written, (std::vector<std::string>{"C00", "CR0", "CR1", "CR3"}));
    // An ACK, then three answers each ending in a carriage return.
    EXPECT_EQ(client.heard.find('\x06'), 0u) << client.heard;
    EXPECT_EQ(std::count(client.heard.begin(), client.heard.end(), '\r'), 3) << client.heard;
}

TEST_F(PjlineOnLine, PjctlsReplyWindowStartsWhenItsFrameGoesOut) {
    // Another client holds the line for as long as it may with a frame nobody answers (no
    // projector has address 4),
    // longer than the query's reply window.
    RawClient holder = RawClient::local(socket);
    ASSERT_TRUE(holder.greet(msg("hold 60000") + wire::dataRecord("A004CR0\r")));
    ASSERT_TRUE(holder.hearsMessage("sent"));
    const auto asked = Clock::now();
    const Ran waited = pjctl({"query", "status"});
    std::printf(
        "pjctl waited %lld ms for its turn\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count()));
    EXPECT_EQ(waited.status, 0) << waited.err;
    EXPECT_EQ(waited.out, " Power ON\n");
}

TEST_F(PjlineOnLine, ASecondServerForAHeldLineEndsNamingTheHolder) {
    Process second({PJ_LINE_BIN, "--device", dir + "/tty", "--socket", dir + "/second.sock"},
                   dir + "/second");
    ASSERT_TRUE(waitFor([&] { return second.errSays("is held by"); })) << second.err();
    EXPECT_EQ(second.wait(), 1);
    EXPECT_TRUE(second.errSays("is held by pid ")) << second.err();
    EXPECT_TRUE(second.errSays("(pjline)")) << second.err();
}

// A broker of the test's own on the loopback interface, forgetting everything when restarted,
// and mosquitto_sub writing what it hears to a file.
class Broker {
    pj::test::Mosquitto broker_;  // before `port`, which is its

  public:
    explicit Broker(const std::string& dir) : dir_(dir) {}
    void start() {
        ASSERT_TRUE(broker_.start());
        // The subscriber starts over with the broker; until the broker listens it fails.
        ASSERT_TRUE(waitFor([&] {
            subscriber_ = std::make_unique<Process>(
                std::vector<std::string>{"mosquitto_sub", "-h", "127.0.0.1", "-p",
                                         std::to_string(port), "-F", "%t %p", "-t", "pjline/#",
                                         "-t", "homeassistant/#"},
                dir_ + "/sub");
            return !waitFor([&] { return subscriber_->errSays("rror"); }, 300ms);
        }));
    }
    void stop() {
        subscriber_.reset();
        broker_.stop();
    }
    // Whether the subscriber heard `topic` with a payload that holds `text`.
    bool heard(const std::string& topic, const std::string& text = {}) const {
        std::istringstream lines(subscriber_->out());
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(topic + " ") && line.find(text, topic.size()) != line.npos) {
                return true;
            }
        }
        return false;
    }
    // The payloads the subscriber heard on `topic`, in order.
    std::vector<std::string> payloads(const std::string& topic) const {
        std::vector<std::string> all;
        std::istringstream lines(subscriber_->out());
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(topic + " ")) {
                all.push_back(line.substr(topic.size() + 1));
            }
        }
        return all;
    }
    // Whether the last payload heard on `topic` is `payload`.
    bool last(const std::string& topic, const std::string& payload) const {
        const auto all = payloads(topic);
        return !all.empty() && all.back() == payload;
    }
    void publish(const std::string& topic, const std::string& payload, bool retain = false) const {
        std::vector<std::string> argv{
            "mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-t",
            topic,           "-m", payload};
        if (retain) {
            argv.push_back("-r");
        }
        runToEnd(argv, dir_ + "/pub");
    }

    const int port = broker_.port();

  private:
    std::string dir_;
    std::unique_ptr<Process> subscriber_;
};

TEST_F(PjlineOnLine, TheProjectorIsOnTheBrokerPolledOnlyWhileNoButtonIsHeldAndTakesCommands) {
    Broker broker(dir);
    broker.start();
    server.reset();
    startServer(
        {"--mqtt", "127.0.0.1:" + std::to_string(broker.port), "--poll", "1", "--quiet", "1000"});
    const std::string status = "pjline/test/status";
    const std::string state = "pjline/test/0/state";
    const std::string power = "homeassistant/switch/pjline__test/p0_power/config";
    ASSERT_TRUE(waitFor([&] {
        return broker.heard(status, "online") && broker.heard(power, "\"command_topic\"") &&
               broker.heard(state, "\"power\":\"on\"");
    })) << server->err();

    // While the operator holds zoom +, nothing but its repeats goes out.
    const std::size_t mark = sim.frameCount();
    holdZoomOnThePanel(port, 2500);
    const auto frames = framesSince(mark);
    const auto first = std::find_if(frames.begin(), frames.end(),
                                    [](const auto& f) { return f.text == kZoomInFrame; });
    const auto last = std::find_if(frames.rbegin(), frames.rend(), [](const auto& f) {
                          return f.text == kZoomInFrame;
                      }).base();
    ASSERT_LT(first, last);
    EXPECT_TRUE(std::all_of(first, last, [](const auto& f) { return f.text == kZoomInFrame; }));

    // A command from the broker reaches the projector, and the state follows.
    broker.publish("pjline/test/0/set", "OFF");
    EXPECT_TRUE(waitFor([&] { return broker.heard(state, "\"power\":\"off\""); }));

    // A broker that restarts empty is given everything again.
    broker.stop();
    broker.start();
    EXPECT_TRUE(waitFor([&] {
        return broker.heard(status, "online") && broker.heard(power, "\"command_topic\"") &&
               broker.heard(state, "\"power\":\"off\"");
    })) << server->err();
}

// Two projectors on a simulated line, pjline between them and a broker, watched as Home
// Assistant sees them.
class PjlineInHomeAssistant : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ASSERT_FALSE(sim.start());
    }
    void TearDown() override {
        server.reset();
        sim.stop();
        std::filesystem::remove_all(dir);
    }
    void startServer(const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{PJ_LINE_BIN,
                                      "--device",
                                      dir + "/tty",
                                      "--socket",
                                      dir + "/line.sock",
                                      "--name",
                                      "test",
                                      "--projectors",
                                      "1,2",
                                      "--poll",
                                      "1",
                                      "--mqtt",
                                      "127.0.0.1:" + std::to_string(broker.port),
                                      "--mqtt-raw",
                                      "yes",
                                      "--mqtt-manufacturer",
                                      "Acme",
                                      "--mqtt-model",
                                      "1:PJ-100;2:PJ-200"};
        args.insert(args.end(), more.begin(), more.end());
        server = std::make_unique<Process>(args, dir + "/pjline");
        ASSERT_TRUE(server->started());
    }
    bool silent(std::size_t index, bool on) {
        return sim.withProjector(index,
                                 [on](sim::Projector& p) { return p.settings().silent = on; });
    }

    static sim::LineOptions simOptions() {
        sim::LineOptions o;
        o.link = dir_() + "/tty";
        return o;
    }
    static std::string dir_() {
        return ::testing::TempDir() + "pjline-ha-" + std::to_string(::getpid());
    }

    const std::string dir = dir_();
    sim::LineServer sim{simOptions(), sim::Bus::withAddresses({1, 2}, sim::ProjectorSettings{})};
    Broker broker{dir};
    std::unique_ptr<Process> server;
};

TEST_F(PjlineInHomeAssistant, AvailabilitySelectsResultsBirthAndRemovalAsHomeAssistantSeesThem) {
    broker.start();
    // A config left on the broker by a projector 3 that is no longer configured.
    const std::string ghost = "homeassistant/switch/pjline__test/p3_power/config";
    broker.publish(ghost, R"({"name":"Power"})", true);
    // And one an earlier version left under the node id it gave the line.
    const std::string earlier = "homeassistant/sensor/pjline_test/p1_input/config";
    broker.publish(earlier, R"({"name":"Input"})", true);
    startServer();
    const std::string available1 = "pjline/test/1/availability";
    const std::string available2 = "pjline/test/2/availability";
    const std::string power1 = "homeassistant/switch/pjline__test/p1_power/config";
    ASSERT_TRUE(waitFor([&] {
        return broker.last("pjline/test/status", "online") && broker.last(available1, "online") &&
               broker.last(available2, "online") && broker.last("pjline/test/line", "up") &&
               broker.heard(power1, R"("model":"PJ-100")");
    })) << server->err();
    EXPECT_TRUE(broker.heard("homeassistant/select/pjline__test/p2_input/config",
                             R"("manufacturer":"Acme")"));
    // The ghost's config is removed: an empty retained message.
    EXPECT_TRUE(waitFor([&] { return broker.last(ghost, "") && broker.last(earlier, ""); }))
        << server->err();

    // The input select's command reaches projector 1; the state follows, and so does the
    // result of each command.
    const std::string result1 = "pjline/test/1/result";
    broker.publish("pjline/test/1/set", "input.2");
    EXPECT_TRUE(waitFor([&] {
        return broker.last(result1, "ok") && broker.heard("pjline/test/1/state", R"("input":2)");
    })) << server->err();
    EXPECT_EQ(sim.withProjector(0, [](sim::Projector& p) { return p.state().input; }), 2);
    broker.publish("pjline/test/1/set", "ZZZ");
    EXPECT_TRUE(waitFor([&] { return broker.last(result1, "?"); })) << server->err();
    broker.publish("pjline/test/1/set", "power.on", true);
    EXPECT_TRUE(waitFor([&] { return broker.last(result1, "refused retained"); }));
    broker.publish("pjline/test/1/set", "", true);  // the retained command cleared

    // Projector 2 goes silent, then answers again; projector 1 stays available throughout.
    silent(1, true);
    EXPECT_TRUE(waitFor([&] { return broker.last(available2, "offline"); })) << server->err();
    EXPECT_TRUE(broker.last(available1, "online"));
    silent(1, false);
    EXPECT_TRUE(waitFor([&] { return broker.last(available2, "online"); })) << server->err();

    // The line is pulled, and comes back.
    sim.stop();
    EXPECT_TRUE(waitFor([&] {
        return broker.last(available1, "offline") && broker.last(available2, "offline") &&
               broker.last("pjline/test/line", "down");
    })) << server->err();
    ASSERT_FALSE(sim.start());
    EXPECT_TRUE(waitFor([&] {
        return broker.last(available1, "online") && broker.last(available2, "online") &&
               broker.last("pjline/test/line", "up");
    })) << server->err();

    // Home Assistant's birth message has every config published again.
    const std::size_t before = broker.payloads(power1).size();
    broker.publish("homeassistant/status", "online");
    EXPECT_TRUE(waitFor([&] { return broker.payloads(power1).size() > before; })) << server->err();
}

TEST_F(PjlineInHomeAssistant, APjlinkSettingIsOnTheBrokerAtOnce) {
    broker.start();
    const int pjlink = freePort();
    // No round of polls comes within the test: only the setting can have the state asked.
    startServer({"--poll", "86400", "--pjlink", "2=" + std::to_string(pjlink)});
    const std::string state2 = "pjline/test/2/state";
    ASSERT_TRUE(waitFor([&] {
        return broker.heard(state2, R"("input":1)") && server->errSays("PJLink clients reach");
    })) << server->err();
    RawClient c = RawClient::tcp(pjlink);
    c.send("%1INPT 22\r");
    EXPECT_TRUE(c.readUntil([](const std::string& h) { return h.ends_with("%1INPT=OK\r"); }))
        << c.heard;
    EXPECT_TRUE(waitFor([&] { return broker.heard(state2, R"("input":2)"); })) << server->err();
}

}  // namespace
}  // namespace pj::line::test
