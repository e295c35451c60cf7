// SPDX-License-Identifier: Apache-2.0
// pjctl end to end: its whole command line run in this process against the simulator on a
// pseudo-terminal and over TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ctl/ctl.h"
#include "sim/bus.h"
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
              R"("readout":" Stand by","video_mute":null,"audio_mute":null,"signal":"standby"})"
              "\n");
}

TEST_F(PjctlOnLine, CommandsGoByNameAndQueriesGiveTheirValues) {
    const Outcome named = at({"send", "power.on"});
    EXPECT_EQ(named.status, kExitOk) << named.err;
    EXPECT_EQ(named.out, " ACK \n");
    ASSERT_EQ(server.frames().size(), 1u);
    EXPECT_EQ(server.frames()[0].text, "C00");

    const Outcome unknown = at({"send", "power.onn"});
    EXPECT_EQ(unknown.status, kExitBadArgument);
    EXPECT_NE(unknown.err.find("did you mean power.on"), std::string::npos) << unknown.err;
    EXPECT_EQ(server.frames().size(), 1u);

    EXPECT_EQ(at({"--json", "query", "status.lamp-hours"}).out,
              R"({"command":"CR3","frame":"CR3\r","reply":"01234\r","echo":" 0 1 2 3 4 CR ",)"
              R"("readout":" 0 1 2 3 4 CR  Hour Use","lamp_hours":1234})"
              "\n");
    const Outcome list = pjctl({"--json", "commands"});
    EXPECT_EQ(list.status, kExitOk);
    EXPECT_TRUE(list.out.starts_with(
        R"([{"name":"power.on","text":"C00","kind":"one-shot","group":"POWER"},)"))
        << list.out.substr(0, 100);
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
    // 1 + floor(1000 / 105) = 10 on an idle machine (scripts/bench.sh measures the periods);
    // a busy one may stretch the hold or skip a repeat, but a runaway repeat or one that
    // never comes is a fault.
    EXPECT_GE(frames.size(), 2u);
    EXPECT_LE(frames.size(), 15u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.text, "C47");
    }
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

std::vector<std::string> fileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The milliseconds of a line log's line: {"ms":12.345,...}.
double loggedMs(const std::string& line) {
    return std::stod(line.substr(line.find(':') + 1));
}

TEST_F(PjctlOnLine, StatusAllAsksEachAddressInTurnAndTabulatesWhoAnswers) {
    server.withProjector([](sim::Projector& p) { p.settings().address = 2; });
    const Outcome table = at({"--timeout", "300", "status", "--all"});
    EXPECT_EQ(table.status, kExitOk) << table.err;
    std::istringstream rows(table.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(rows, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 5u) << table.out;
    EXPECT_EQ(lines[0], "ADDRESS\tPOWER\tINPUT\tLAMP\tREPLY MS");
    EXPECT_EQ(lines[2].rfind("2\t Power ON\t Input mode 1\t 0 1 2 3 4 CR  Hour Use\t", 0), 0u)
        << lines[2];
    for (const std::size_t absent : {1u, 3u, 4u}) {
        EXPECT_EQ(lines[absent].substr(1), "\tno reply\tno reply\tno reply\t-");
    }
    // Only the first query goes to an address that does not answer it.
    EXPECT_EQ(server.frameCount(), 3u + 3u);

    server.withProjector([](sim::Projector& p) { p.settings().silent = true; });
    EXPECT_EQ(at({"--timeout", "300", "status", "--all"}).status, kExitNoReply);
}

TEST_F(PjctlOnLine, ConfirmAsksEachProjectorWhetherTheCommandToAllTookHold) {
    server.withProjector([](sim::Projector& p) { p.settings().address = 2; });
    const Outcome confirmed =
        at({"--timeout", "300", "--address", "all", "--confirm=2", "send", "C01"});
    EXPECT_EQ(confirmed.status, kExitOk) << confirmed.err;
    EXPECT_EQ(confirmed.out, "2\tconfirmed\t Stand by\n");

    const Outcome partly =
        at({"--timeout", "300", "--address", "all", "--confirm=2,3", "send", "C00"});
    EXPECT_EQ(partly.status, 5);
    EXPECT_EQ(partly.out, "2\tconfirmed\t Power ON\n3\tNOT CONFIRMED\tno reply\n");
    EXPECT_EQ(partly.err, "pjctl: 1 of 2 projectors did not confirm C00\n");
}

TEST_F(PjctlOnLine, RunSendsAFilesCommandsKeepingTheGapAndLogsTheTraffic) {
    const std::string dir = ::testing::TempDir();
    const std::string commands = dir + "/pjctl-run.txt";
    const std::string log = dir + "/pjctl-run.jsonl";
    std::remove(log.c_str());
    std::ofstream(commands) << "# morning\nC00\nwait 20\nCR0\n";
    const Outcome ran = at({"--gap", "150", "--log", log, "run", commands});
    EXPECT_EQ(ran.status, kExitOk) << ran.err;
    EXPECT_EQ(ran.out, "C00\t ACK \nCR0\t 0 0 CR \t Power ON\n");

    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_GE((frames[1].at - frames[0].at).count(), 150) << "the gap after the ACK";

    const std::vector<std::string> lines = fileLines(log);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find(R"("program":"pjctl","port":")" + server.path()), std::string::npos);
    EXPECT_NE(lines[1].find(R"("dir":"out","hex":"43 30 30 0D","ascii":"C00\r")"),
              std::string::npos);
    EXPECT_NE(lines[2].find(R"("dir":"in","hex":"06","ascii":"\u0006")"), std::string::npos);
    EXPECT_NE(lines[3].find(R"("dir":"out","hex":"43 52 30 0D")"), std::string::npos);
    EXPECT_NE(lines[4].find(R"("dir":"in","hex":"30 30 0D")"), std::string::npos);
    EXPECT_GE(loggedMs(lines[3]) - loggedMs(lines[2]), 150.0);

    // A mistake in the file is found before anything is sent.
    std::ofstream(commands) << "C00\nwait soon\n";
    const Outcome refused = at({"run", commands});
    EXPECT_EQ(refused.status, kExitBadArgument);
    EXPECT_EQ(refused.err,
              "pjctl: " + commands + ": line 2: wait takes 1 to 3600000 milliseconds\n");
    EXPECT_EQ(server.frameCount(), 2u);
}

TEST_F(PjctlOnLine, RunStopsAtTheFirstCommandThatFailsAndNamesItsLine) {
    server.withProjector([](sim::Projector& p) { p.settings().silent = true; });
    const Outcome stopped =
        pjctl({"--port", server.path(), "--timeout", "100", "run", "-"}, "C00\nC01\n");
    EXPECT_EQ(stopped.status, kExitNoReply);
    EXPECT_EQ(stopped.err, "pjctl: -:1: no reply from " + server.path() + " to C00\n");
    EXPECT_EQ(server.frameCount(), 1u);
}

TEST_F(PjctlOnLine, TimeoutIsTheReplyWindowOfEveryCommand) {
    server.withProjector([](sim::Projector& p) { p.settings().silent = true; });
    const std::string log = ::testing::TempDir() + "/pjctl-timeout.jsonl";
    std::remove(log.c_str());
    // A typed command's own window is 2 s.
    EXPECT_EQ(at({"--timeout", "100", "--log", log, "send", "C00"}).status, kExitNoReply);
    const std::vector<std::string> lines = fileLines(log);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find(R"("event":"no reply")"), std::string::npos);
    const double window = loggedMs(lines[2]) - loggedMs(lines[1]);
    EXPECT_GE(window, 100.0);
    EXPECT_LT(window, 1500.0);
}

TEST(PjctlOnASharedLine, EveryProjectorIsTabulatedAndEachConfirmsACommandToAll) {
    sim::ProjectorSettings common;
    common.warmUp = sim::Millis{60'000};  // still counting down when asked
    sim::LineServer server(sim::LineOptions{}, sim::Bus::withAddresses({1, 3}, common));
    ASSERT_FALSE(server.start());
    server.withProjector(1, [](sim::Projector& p) { p.state().power = "80"; });
    const auto at = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", server.path(), "--timeout", "300"});
        return pjctl(std::move(args));
    };

    Outcome table = at({"status", "--all"});
    EXPECT_EQ(table.status, kExitOk) << table.err;
    EXPECT_NE(table.out.find("\n1\t Power ON\t"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\n2\tno reply\t"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\n3\t Stand by\t"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\n4\tno reply\t"), std::string::npos) << table.out;

    const Outcome on = at({"--address", "all", "--confirm=1,3", "send", "C00"});
    EXPECT_EQ(on.status, kExitOk) << on.err;
    EXPECT_EQ(on.out, "1\tconfirmed\t Power ON\n3\tconfirmed\t Count down\n");
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
