// pjctl end to end: its whole command line run in this process against the simulator on a
// pseudo-terminal and over TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ctl/ctl.h"
#include "sim/line_server.h"

namespace pj::ctl {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome pjctl(std::vector<std::string> args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, in, out, err);
    return {status, out.str(), err.str()};
}

class PjctlOnLine : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(server.start()); }

    Outcome at(std::vector<std::string> args) {
        const std::string path = server.path();
        args.insert(args.begin(), {"--port", path});
        return pjctl(std::move(args));
    }

    sim::LineServer server{sim::LineOptions{}};
};

TEST_F(PjctlOnLine, QueryPrintsTheReadoutOfTheProjectorsCurrentState) {
    Outcome status = at({"query", "status"});
    EXPECT_EQ(status.status, kExitOk) << status.err;
    EXPECT_EQ(status.out, " Power ON\n");
    EXPECT_EQ(status.err, "");

    server.withProjector([](sim::Projector& p) { p.state().power = "80"; });
    EXPECT_EQ(at({"query", "CR0"}).out, " Stand by\n");
    EXPECT_EQ(at({"query", "pressure"}).out, "650 hPa\n");

    EXPECT_EQ(at({"--json", "query", "mute"}).out,
              R"({"command":"CRA","frame":"CRA\r","reply":"FF\r","echo":" F F CR ",)"
              R"("readout":" Stand by"})"
              "\n");
}

TEST_F(PjctlOnLine, SendFramesTheTextWithTheAddressAndPrintsTheEchoOfTheReply) {
    const Outcome sent = at({"--address", "1", "--baud", "9600", "send", "C00"});
    EXPECT_EQ(sent.status, kExitOk) << sent.err;
    EXPECT_EQ(sent.out, " ACK \n");
    EXPECT_EQ(at({"send", "NO SUCH"}).out, " ? CR \n");
    // Sent to every projector: acted on, not answered, and that is no failure.
    const Outcome all = at({"--address", "all", "send", "C01"});
    EXPECT_EQ(all.status, kExitOk) << all.err;
    EXPECT_EQ(all.out, "");

    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].text, "A001C00");
    EXPECT_EQ(frames[2].text, "AFFFC01");
}

TEST_F(PjctlOnLine, HoldRepeatsAtItsPeriodUntilReleased) {
    const Outcome held = at({"hold", "C47", "--for", "1000", "--every", "105"});
    EXPECT_EQ(held.status, kExitOk) << held.err;
    const auto frames = server.frames();
    // 1 + floor(1000 / 105) = 10, give or take one for the scheduler.
    EXPECT_GE(frames.size(), 9u);
    EXPECT_LE(frames.size(), 11u);
    EXPECT_EQ(held.out, std::to_string(frames.size()) + " frames sent\n");
}

TEST_F(PjctlOnLine, FailuresHaveTheirOwnExitStatusAndOneLineOnStandardError) {
    server.withProjector([](sim::Projector& p) { p.settings().silent = true; });
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"--port", server.path(), "query", "status"}, kExitNoReply},
        {{"--port", "/nonexistent/tty", "query", "status"}, kExitPortError},
        {{"--port", "/nonexistent/tty\nS0", "query", "status"}, kExitPortError},
        {{"--port", "tcp://127.0.0.1:notaport", "send", "C00"}, kExitBadArgument},
        {{"--port", "tcp://127.0.0.1: 4001", "send", "C00"}, kExitBadArgument},
        {{"--port", server.path(), "query", "lamp"}, kExitBadArgument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Outcome outcome = pjctl(c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, "");
        ASSERT_FALSE(outcome.err.empty());
        EXPECT_EQ(outcome.err.rfind("pjctl: ", 0), 0u) << outcome.err;
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    }
    EXPECT_EQ(server.frameCount(), 1u) << "only the silent projector's query went out";
}

TEST(Pjctl, DecodeReadsTheAnswerFromStandardInput) {
    Outcome decoded = pjctl({"decode", "CR0"}, "00\r");
    EXPECT_EQ(decoded.status, kExitOk);
    EXPECT_EQ(decoded.out, " 0 0 CR \n Power ON\n");
    decoded = pjctl({"decode", "status"}, "99\r");
    EXPECT_EQ(decoded.out, " 9 9 CR \n\n");
    decoded = pjctl({"decode", "status"}, "");
    EXPECT_EQ(decoded.status, kExitNoReply);
    EXPECT_EQ(decoded.out, " X X X X\n\n");
}

TEST(Pjctl, QueryOverTcpAsThroughASerialDeviceServer) {
    sim::LineOptions options;
    options.listenPort = 0;
    sim::LineServer server(options);
    ASSERT_FALSE(server.start());
    const Outcome status = pjctl({"--port", server.path(), "query", "status"});
    EXPECT_EQ(status.status, kExitOk) << status.err;
    EXPECT_EQ(status.out, " Power ON\n");
}

}  // namespace
}  // namespace pj::ctl
