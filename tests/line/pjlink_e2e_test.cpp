// SPDX-License-Identifier: Apache-2.0
// pjline's PJLink endpoints as a PJLink tool meets them: two projectors on one simulated line,
// each on a port of its own, with authentication, beside the line's other clients.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "line/pjlink.h"
#include "line/posix_rig.h"
#include "line_process_support.h"
#include "sim/bus.h"
#include "sim/line_server.h"

namespace pj::line::test {
namespace {

constexpr std::string_view kPassword = "JBMIAProjectorLink";

// A PJLink class 1 client: the greeting, the digest of the random number and the password
// in front of the first command, then one command line and one answer line at a time.
class PjlinkClient {
  public:
    PjlinkClient(int port, std::string password) : raw_(RawClient::tcp(port)) {
        if (!raw_.connected() || !line(greeting_)) {
            return;
        }
        if (greeting_.rfind("PJLINK 1 ", 0) == 0 && greeting_.size() == 17) {
            digest_ = pjlink::md5Hex(greeting_.substr(9) + password);
        }
    }
    const std::string& greeting() const { return greeting_; }

    // Sends "%1COMMAND PARAMETER" and returns the answer line, without its carriage return;
    // empty when none came or the server closed the connection.
    std::string ask(std::string_view command) {
        sendRaw(std::exchange(digest_, {}) + std::string(command) + "\r");
        std::string answer;
        line(answer);
        return answer;
    }
    void sendRaw(std::string_view bytes) { raw_.send(bytes); }
    bool line(std::string& out) {
        const std::size_t start = consumed_;
        if (!raw_.readUntil(
                [start](const std::string& h) { return h.find('\r', start) != h.npos; })) {
            return false;
        }
        const std::size_t end = raw_.heard.find('\r', start);
        out = raw_.heard.substr(start, end - start);
        consumed_ = end + 1;
        return true;
    }
    bool closedByServer() { return raw_.closedByServer(); }

  private:
    RawClient raw_;
    std::string greeting_;
    std::string digest_;
    std::size_t consumed_ = 0;
};

class PjlinkOnLine : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/password") << kPassword << "\n";
        ASSERT_FALSE(sim.start());
        for (std::size_t i = 0; i < 2; ++i) {
            sim.withProjector(i, [](sim::Projector& p) { p.state().power = "80"; });
        }
        std::vector<std::string> args{
            PJ_LINE_BIN,
            "--device",
            dir + "/tty",
            "--socket",
            dir + "/line.sock",
            "--listen",
            std::to_string(panelPort),
            "--name",
            "hall",
            "--projectors",
            "1,2",
            "--pjlink",
            "1=" + std::to_string(ports[0]) + ",2=127.0.0.1:" + std::to_string(ports[1]),
            "--pjlink-password-file",
            dir + "/password",
            "--pjlink-search",
            std::to_string(searchPort),
            "--line-log",
            dir + "/line.jsonl"};
        server = std::make_unique<Process>(args, dir + "/pjline");
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(waitFor([&] {
            return server->errSays("the line is open") &&
                   server->errSays("PJLink clients reach projector 2");
        })) << server->err();
    }
    void TearDown() override {
        server.reset();
        sim.stop();
        std::filesystem::remove_all(dir);
    }

    PjlinkClient client(int index) { return PjlinkClient(ports[index], std::string(kPassword)); }

    static std::string testDir() {
        return ::testing::TempDir() + "pjlink-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    static sim::LineOptions simOptions() {
        sim::LineOptions o;
        o.link = testDir() + "/tty";
        return o;
    }

    const std::string dir = testDir();
    const std::array<int, 2> ports{freePort(), freePort()};
    const int searchPort = freePort();
    const int panelPort = freePort();
    sim::LineServer sim{simOptions(), sim::Bus::withAddresses({1, 2}, sim::ProjectorSettings{})};
    std::unique_ptr<Process> server;
};

TEST_F(PjlinkOnLine, EachCommandSetAndQueriedOnEachProjector) {
    for (int index = 0; index < 2; ++index) {
        const std::string n = std::to_string(index + 1);
        PjlinkClient c = client(index);
        ASSERT_EQ(c.greeting().substr(0, 9), "PJLINK 1 ");
        const std::pair<std::string, std::string> exchanges[] = {
            {"%1POWR ?", "%1POWR=0"},
            {"%1POWR 1", "%1POWR=OK"},
            {"%1POWR ?", "%1POWR=1"},
            {"%1INPT 3" + n, "%1INPT=OK"},
            {"%1INPT ?", "%1INPT=3" + n},
            {"%1AVMT 11", "%1AVMT=OK"},
            {"%1AVMT ?", "%1AVMT=11"},
            {"%1AVMT 10", "%1AVMT=OK"},
            {"%1AVMT ?", "%1AVMT=30"},
            {"%1AVMT 21", "%1AVMT=ERR2"},
            {"%1ERST ?", "%1ERST=000000"},
            {"%1LAMP ?", "%1LAMP=1234 1"},
            {"%1INST ?", "%1INST=" + pjlink::inputList()},
            {"%1NAME ?", "%1NAME=hall projector " + n},
            {"%1INF1 ?", "%1INF1=pjline"},
            {"%1INF2 ?", "%1INF2=PJ-SIM VER1.00"},
            {"%1INFO ?", "%1INFO=RS-232C hall projector " + n},
            {"%1CLSS ?", "%1CLSS=1"},
            {"%2FREZ 1", "%2FREZ=OK"},
            {"%2FREZ ?", "%2FREZ=ERR3"},
            {"%1SVOL 1", "%1SVOL=ERR1"},
            {"%1INPT 99", "%1INPT=ERR2"},
        };
        for (const auto& [command, answer] : exchanges) {
            EXPECT_EQ(c.ask(command), answer) << "projector " << n << ": " << command;
        }
        // The setting reached this projector and no other.
        sim.withProjector(static_cast<std::size_t>(index), [&](sim::Projector& p) {
            EXPECT_EQ(p.state().power, "00");
            EXPECT_EQ(p.state().input, index + 1);
            EXPECT_EQ(p.state().signalTypes[static_cast<std::size_t>(index)],
                      sim::SignalType::Digital);
        });
        EXPECT_EQ(c.ask("%1POWR 0"), "%1POWR=OK");
    }
    EXPECT_TRUE(server->errSays("%1INPT 32: OK")) << server->err();
    // The line log has each setting as it went out, and the projector's answers.
    std::ifstream in(dir + "/line.jsonl");
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    for (const std::string_view record :
         {R"("program":"pjline")", R"("dir":"out","hex":"41 30 30 32 43 46 20 49 4E 50 55 54 32 )",
          R"("ascii":"A002CF INPUT2 DIGITAL\r")", R"("dir":"in","hex":"06)"}) {
        EXPECT_NE(log.find(record), std::string::npos) << record << "\n" << log.substr(0, 600);
    }
}

TEST_F(PjlinkOnLine, WrongPasswordBadAndOverlongLines) {
    PjlinkClient wrong(ports[0], "not the password");
    EXPECT_EQ(wrong.ask("%1POWR ?"), "PJLINK ERRA");
    EXPECT_TRUE(wrong.closedByServer());

    PjlinkClient c = client(1);
    EXPECT_EQ(c.ask("%1CLSS ?"), "%1CLSS=1");
    EXPECT_EQ(c.ask("%1NAME " + std::string(500, 'x')), "%1NAME=ERR2");
    EXPECT_EQ(c.ask("%1POWR"), "%1POWR=ERR2");
    c.sendRaw("this is no command\r");  // not answered
    EXPECT_EQ(c.ask("%2POWR ?"), "%2POWR=ERR1");
    EXPECT_EQ(c.ask("%1POWR ?"), "%1POWR=0");
}

TEST_F(PjlinkOnLine, RefusesPowerAndInputWhileWarmingAndFailsForASilentProjector) {
    sim.withProjector(1, [](sim::Projector& p) { p.settings().warmUp = std::chrono::minutes(5); });
    PjlinkClient c = client(1);
    EXPECT_EQ(c.ask("%1POWR 1"), "%1POWR=OK");
    EXPECT_EQ(c.ask("%1POWR ?"), "%1POWR=3");
    EXPECT_EQ(c.ask("%1INPT 11"), "%1INPT=ERR3");
    EXPECT_EQ(c.ask("%1POWR 0"), "%1POWR=ERR3");

    sim.withProjector(0, [](sim::Projector& p) { p.settings().silent = true; });
    PjlinkClient silent = client(0);
    EXPECT_EQ(silent.ask("%1POWR ?"), "%1POWR=ERR4");
    EXPECT_EQ(silent.ask("%1AVMT 11"), "%1AVMT=ERR4");
}

TEST_F(PjlinkOnLine, ASearchIsAnsweredOnceForEachProjector) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval bound{10, 0};
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound), 0);
    to.sin_port = htons(static_cast<std::uint16_t>(searchPort));
    // A datagram that is no search first: were it answered, its answers would come first.
    for (const std::string_view datagram : {"%2SRCX\r", "%2SRCH\r"}) {
        ASSERT_EQ(::sendto(fd, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(datagram.size()));
    }
    std::multiset<std::string> heard;
    char buffer[64];
    for (ssize_t n = 0; heard.size() < 2 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        heard.emplace(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::multiset<std::string> answers{pjlink::searchAnswer(pjlink::endpointMac("hall", 1)),
                                             pjlink::searchAnswer(pjlink::endpointMac("hall", 2))};
    EXPECT_EQ(heard, answers) << server->err();
}

TEST_F(PjlinkOnLine, TwoPjlinkClientsAPanelAndPjctlShareTheLineWithoutInterleaving) {
    const auto pjlinkRounds = [this](int index) {
        PjlinkClient c = client(index);
        int right = 0;
        for (int i = 0; i < 8; ++i) {
            right += c.ask("%1LAMP ?") == "%1LAMP=1234 0" ? 1 : 0;
            right += c.ask("%1POWR ?") == "%1POWR=0" ? 1 : 0;
        }
        return right;
    };
    const auto pjctlRounds = [this] {
        int right = 0;
        for (int i = 0; i < 4; ++i) {
            const Ran r = runToEnd({PJ_CTL_BIN, "--port", "unix:" + dir + "/line.sock", "--address",
                                    "2", "query", "lamp-time"},
                                   dir + "/pjctl");
            // The readout of 01234 hours.
            right += r.out.find(" 0 1 2 3 4 CR") != std::string::npos ? 1 : 0;
        }
        return right;
    };
    auto first = std::async(std::launch::async, pjlinkRounds, 0);
    auto second = std::async(std::launch::async, pjlinkRounds, 1);
    auto pjctl = std::async(std::launch::async, pjctlRounds);
    // Meanwhile an operator holds zoom + on the panel (a projector without an address).
    const Hold hold = holdZoomOnThePanel(panelPort, 1500);
    EXPECT_EQ(first.get(), 16);
    EXPECT_EQ(second.get(), 16);
    EXPECT_EQ(pjctl.get(), 4);
    // Every frame reached the line whole, each of the panel's once.
    const std::set<std::string> whole{"A001CR0",
                                      "A001CR3",
                                      "A001CR7",
                                      "A002CR0",
                                      "A002CR3",
                                      "A002CR7",
                                      std::string(kZoomInFrame)};
    std::size_t panelFrames = 0;
    for (const sim::ReceivedFrame& frame : sim.frames()) {
        EXPECT_TRUE(whole.contains(frame.text)) << frame.text;
        panelFrames += frame.text == kZoomInFrame ? 1 : 0;
    }
    EXPECT_GT(hold.sent, 0U);
    EXPECT_EQ(panelFrames, hold.sent);
}

}  // namespace
}  // namespace pj::line::test
