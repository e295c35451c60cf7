// SPDX-License-Identifier: Apache-2.0
// pjline as a process against careless and hostile clients: idle TCP connections, addresses
// outside the allow-list, and an operator who sends SIGHUP.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "line/line_process_support.h"
#include "sim/line_server.h"

namespace pj::line::test {
namespace {

class PjlineGuard : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        sim::LineOptions options;
        options.link = dir + "/tty";
        sim = std::make_unique<sim::LineServer>(options);
        ASSERT_FALSE(sim->start());
    }
    void TearDown() override {
        server.reset();
        sim->stop();
        std::filesystem::remove_all(dir);
    }

    void startServer(std::vector<std::string> extra) {
        std::vector<std::string> args{PJ_LINE_BIN, "--device", dir + "/tty", "--socket", socket};
        args.insert(args.end(), extra.begin(), extra.end());
        server = std::make_unique<Process>(args, dir + "/pjline");
        ASSERT_TRUE(server->started());
        ASSERT_TRUE(waitFor([&] { return server->errSays("the line is open"); })) << server->err();
    }

    Ran pjctl(std::vector<std::string> args) {
        args.insert(args.begin(), {PJ_CTL_BIN, "--port", "unix:" + socket});
        return runToEnd(args, dir + "/pjctl");
    }

    const std::string dir = ::testing::TempDir() + "pjline-guard-" + std::to_string(::getpid());
    const std::string socket = dir + "/line.sock";
    const int port = freePort();
    std::unique_ptr<sim::LineServer> sim;
    std::unique_ptr<Process> server;
};

TEST_F(PjlineGuard, IdleTcpClientsLockOutNoLocalClientAndAreLetGo) {
    // A port alone: on loopback.
    startServer({"--listen", std::to_string(port)});
    EXPECT_TRUE(server->errSays("TCP clients connect to 127.0.0.1:" + std::to_string(port)));
    std::vector<RawClient> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(RawClient::tcp(port));
    }
    // Those past the TCP clients' limit are turned away; the local ones have their own.
    ASSERT_TRUE(idle.back().closedByServer());
    const Ran local = pjctl({"query", "status"});
    EXPECT_EQ(local.status, 0) << local.err;
    EXPECT_EQ(local.out, " Power ON\n");
    idle.clear();
    server.reset();

    // A TCP client that says nothing for the idle time is let go; one that talks is not.
    startServer({"--listen", std::to_string(port), "--tcp-idle", "1"});
    RawClient quiet = RawClient::tcp(port);
    ASSERT_TRUE(quiet.connected());
    EXPECT_TRUE(quiet.closedByServer());
    EXPECT_TRUE(server->errSays("it sent nothing for 1 s")) << server->err();
}

TEST_F(PjlineGuard, TheNetworkIsTakenOnlyFromTheAllowList) {
    // 127.0.0.1 is not in the list: turned away, and said.
    startServer({"--listen", "127.0.0.1:" + std::to_string(port), "--allow", "192.0.2.0/24"});
    RawClient outsider = RawClient::tcp(port);
    EXPECT_TRUE(outsider.closedByServer());
    EXPECT_TRUE(server->errSays("its address is not allowed")) << server->err();
    server.reset();

    startServer({"--listen", "127.0.0.1:" + std::to_string(port), "--allow", "127.0.0.0/8"});
    RawClient insider = RawClient::tcp(port);
    ASSERT_TRUE(insider.send("CR0\r"));
    EXPECT_TRUE(insider.hears("00\r"));
}

TEST_F(PjlineGuard, AConfigurationThatIsNoRegularFileIsRefusedByName) {
    for (const std::string& path : {std::string("/dev/zero"), dir}) {
        const Ran ran = runToEnd({PJ_LINE_BIN, "--config", path}, dir + "/refused");
        EXPECT_EQ(ran.status, 2);
        EXPECT_EQ(ran.err.rfind("pjline: " + path + ": not a regular file\n", 0), 0u) << ran.err;
    }
}

TEST_F(PjlineGuard, SighupReadsTheConfigurationAgainAndTheServiceGoesOn) {
    const std::string config = dir + "/booth.conf";
    std::ofstream(config) << "device = " << dir << "/tty\nsocket = " << socket << "\n";
    server = std::make_unique<Process>(std::vector<std::string>{PJ_LINE_BIN, "--config", config},
                                       dir + "/pjline");
    ASSERT_TRUE(waitFor([&] { return server->errSays("the line is open"); })) << server->err();

    std::ofstream(config) << "device = " << dir << "/tty\nsocket = " << socket
                          << "\nsettle = 250\n";
    ::kill(server->pid(), SIGHUP);
    ASSERT_TRUE(waitFor([&] { return server->errSays("the configuration read again"); }))
        << server->err();
    const Ran after = pjctl({"query", "status"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(after.out, " Power ON\n");

    // A configuration that does not read is said, and the line goes on as it was.
    std::ofstream(config) << "speed = 9600\n";
    ::kill(server->pid(), SIGHUP);
    ASSERT_TRUE(waitFor([&] { return server->errSays("the configuration was not taken"); }))
        << server->err();
    EXPECT_EQ(pjctl({"query", "status"}).status, 0);
    EXPECT_EQ(server->stop(), 0);
}

}  // namespace
}  // namespace pj::line::test
