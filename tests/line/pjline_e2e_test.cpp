// SPDX-License-Identifier: Apache-2.0
// pjline as a process between a simulated projector and its clients: the panel's core over
// TCP, pjctl over the local socket and plain clients, sharing one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "line/line_process_support.h"
#include "posix/headless_rig.h"
#include "sim/line_server.h"

namespace pj::line::test {
namespace {

// The held button: zoom + repeats every 105 ms.
constexpr ControlId kZoomIn = ControlId::Command15;
constexpr std::string_view kZoomInFrame = "C47";
constexpr double kZoomPeriodMs = 105;

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

// The panel's core, as the window runs it, on the line through pjline's TCP port: presses
// zoom + for `holdMs` once it is connected, and ends after the release.
void holdZoomOnThePanel(int port, int holdMs) {
    posix::HeadlessRig rig;
    posix::LoopTimer press(rig.loop), release(rig.loop), end(rig.loop);
    press.setInterval(20);
    press.setOnTimer([&] {
        if (rig.serial.portOpen()) {
            press.setEnabled(false);
            rig.form.MouseDown(kZoomIn);
            release.setEnabled(true);
        }
    });
    release.setInterval(holdMs);
    release.setOnTimer([&] {
        release.setEnabled(false);
        rig.form.MouseUp(kZoomIn);
        end.setEnabled(true);
    });
    end.setInterval(500);
    end.setOnTimer([&] { rig.loop.quit(); });
    rig.load("tcp://127.0.0.1:" + std::to_string(port));
    press.setEnabled(true);
    rig.loop.run();
}

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

// How long the shared part of the run lasts: PJ_SHARE_SECONDS, else a few seconds.
int shareSeconds() {
    const char* text = std::getenv("PJ_SHARE_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 6;
}

TEST_F(PjlineOnLine, ThePanelAPjctlLoopAndARawClientShareTheLineFrameByFrame) {
    // The panel alone: the hold's own period, as the yardstick; a tenth of a long run.
    const int holdMs = shareSeconds() * 1000;
    std::size_t mark = sim.frameCount();
    holdZoomOnThePanel(port, std::max(3000, holdMs / 10));
    const Periods alone = periodsOf(framesSince(mark));
    ASSERT_GT(alone.count, 20u);

    // Then all three at once for the shared run.
    mark = sim.frameCount();
    std::atomic<bool> done{false};
    std::atomic<int> queries{0}, wrongReplies{0};
    std::string firstWrong;
    std::thread ctlLoop([&] {
        while (!done) {
            const Ran r = pjctl({"--json", "query", "status"});
            ++queries;
            if ((r.status != 0 || r.out.find("\"readout\":\" Power ON\"") == std::string::npos) &&
                wrongReplies++ == 0) {
                firstWrong = std::to_string(r.status) + " " + r.out + r.err;
            }
        }
    });
    std::atomic<int> rawFrames{0};
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
    holdZoomOnThePanel(port, holdMs);
    done = true;
    ctlLoop.join();
    raw.join();

    const auto frames = framesSince(mark);
    std::map<std::string, int> counts;
    for (const auto& f : frames) {
        ++counts[f.text];
    }
    // Nothing on the line but whole frames of the three.
    EXPECT_EQ(counts.size(), 3u) << ::testing::PrintToString(counts);
    EXPECT_EQ(counts["CR0"], queries.load());
    EXPECT_EQ(counts["CR3"], rawFrames.load());
    EXPECT_EQ(wrongReplies.load(), 0) << firstWrong;
    EXPECT_GT(queries.load(), 5);

    const Periods shared = periodsOf(frames);
    EXPECT_GT(shared.count, static_cast<std::size_t>(holdMs / 105 - 5));
    // The hold keeps its period: the mean within a millisecond of the panel's alone, its
    // mean error within two (the frames' times are whole milliseconds, and a loaded machine
    // under the sanitizers adds most of one), and a frame never a repeat late.
    EXPECT_NEAR(shared.meanMs, alone.meanMs, 1.0);
    EXPECT_NEAR(shared.meanErrorMs, alone.meanErrorMs, 2.0);
    EXPECT_LT(shared.worstErrorMs, kZoomPeriodMs);
    std::printf(
        "hold alone: %zu periods, mean %.2f ms, mean error %.2f ms, worst %.1f ms\n"
        "shared:     %zu periods, mean %.2f ms, mean error %.2f ms, worst %.1f ms\n"
        "frames on the line: %zu (zoom + %d, pjctl %d of %d queries, raw %d of %d), "
        "pjctl replies wrong or lost: %d\n",
        alone.count, alone.meanMs, alone.meanErrorMs, alone.worstErrorMs, shared.count,
        shared.meanMs, shared.meanErrorMs, shared.worstErrorMs, frames.size(),
        counts[std::string(kZoomInFrame)], counts["CR0"], queries.load(), counts["CR3"],
        rawFrames.load(), wrongReplies.load());
}

TEST_F(PjlineOnLine, AnUnpluggedLineIsReopenedAndTheClientsThatTalkAreTold) {
    RawClient talking = RawClient::local(socket);
    RawClient quiet = RawClient::local(socket);
    ASSERT_TRUE(talking.connected() && quiet.connected());
    ASSERT_TRUE(talking.send(msg("hold") + "CR0\r"));
    ASSERT_TRUE(talking.hears("00\r"));

    sim.stop();
    ASSERT_TRUE(talking.hears(msg("lost the device hung up")));
    ASSERT_TRUE(talking.send("C00\r"));
    ASSERT_TRUE(talking.hears(msg("refused the line is down")));
    ASSERT_FALSE(sim.start());
    ASSERT_TRUE(talking.hears(msg("back")));
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
    ASSERT_TRUE(worker.send(msg("hold")));
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

// A broker of the test's own on the loopback interface, forgetting everything when restarted,
// and mosquitto_sub writing what it hears to a file.
class Broker {
  public:
    explicit Broker(const std::string& dir) : dir_(dir) {
        std::ofstream(dir_ + "/mosquitto.conf")
            << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    }
    void start() {
        broker_ = std::make_unique<Process>(
            std::vector<std::string>{"mosquitto", "-c", dir_ + "/mosquitto.conf"},
            dir_ + "/mosquitto");
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
        broker_.reset();
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
    void publish(const std::string& topic, const std::string& payload) const {
        runToEnd({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port), "-t", topic, "-m",
                  payload},
                 dir_ + "/pub");
    }

    const int port = freePort();

  private:
    std::string dir_;
    std::unique_ptr<Process> broker_, subscriber_;
};

TEST_F(PjlineOnLine, TheProjectorIsOnTheBrokerPolledOnlyWhileNoButtonIsHeldAndTakesCommands) {
    Broker broker(dir);
    broker.start();
    server.reset();
    startServer(
        {"--mqtt", "127.0.0.1:" + std::to_string(broker.port), "--poll", "1", "--quiet", "1000"});
    const std::string status = "pjline/test/status";
    const std::string state = "pjline/test/0/state";
    const std::string power = "homeassistant/switch/pjline_test/p0_power/config";
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

}  // namespace
}  // namespace pj::line::test
