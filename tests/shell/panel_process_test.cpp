// SPDX-License-Identifier: Apache-2.0
// The panel as a process: ended by a signal, it still closes its port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/process.h"

namespace pj {
namespace {

using namespace std::chrono_literals;
using test::waitFor;

// Whether the terminal at `path` is held exclusively by its opener.
bool heldExclusively(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return errno == EBUSY;
    }
    int exclusive = 0;
    const bool held = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    ::close(fd);
    return held;
}

// The panel with `args`, on the offscreen platform, its errors read by the test.
test::Launch panelLaunch(const std::vector<std::string>& args) {
    std::vector<std::string> all{PJ_PANEL_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return std::move(
        test::Launch(all).errors(test::Stream::pipe()).environment("QT_QPA_PLATFORM=offscreen"));
}

TEST(PanelProcess, EndedBySignalItClosesItsPortAndLeavesNoLockBehind) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        std::array<char, 128> name{};
        ASSERT_EQ(::grantpt(master) | ::unlockpt(master) | ::ptsname_r(master, name.data(), 128),
                  0);
        const std::string slave = name.data();

        test::Process panel(panelLaunch({"--port1", slave}));
        ASSERT_TRUE(panel.started());
        ASSERT_TRUE(waitFor([&] { return heldExclusively(slave); }, 20s)) << "never opened";

        ASSERT_EQ(::kill(panel.pid(), signal), 0);
        // Exited of itself (not killed by the signal), with status 0.
        EXPECT_EQ(panel.waitFor(), 0);
        EXPECT_FALSE(heldExclusively(slave));
        ::close(master);
    }
}

std::string contents(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PanelProcess, WithLogItRecordsWhatTheLineCarriesAndALogItCannotWriteStopsItAtOnce) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    std::array<char, 128> name{};
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master) | ::ptsname_r(master, name.data(), 128), 0);
    const std::string slave = name.data();
    const std::string log = ::testing::TempDir() + "/pjpanel-log.jsonl";
    std::remove(log.c_str());

    test::Process panel(panelLaunch({"--port1", slave, "--log", log}));
    ASSERT_TRUE(panel.started());
    ASSERT_TRUE(waitFor([&] { return heldExclusively(slave); }, 20s)) << "never opened";
    // The port is exclusive as soon as it is open, a little before the panel has set it up
    // and emptied what waited in it: an arrival in between is rightly dropped, so the line
    // says it again until one is recorded.
    const std::string arrival = R"("dir":"in","hex":"38 30 0D","ascii":"80\r"})";
    EXPECT_TRUE(waitFor(
        [&] {
            if (contents(log).find(arrival) != std::string::npos) {
                return true;
            }
            return ::write(master, "80\r", 3) == 3 &&
                   waitFor([&] { return contents(log).find(arrival) != std::string::npos; }, 500ms);
        },
        20s))
        << contents(log);
    ASSERT_EQ(::kill(panel.pid(), SIGTERM), 0);
    EXPECT_EQ(panel.waitFor(), 0);
    EXPECT_EQ(contents(log).rfind(R"({"log":"pjpanel line log","version":1,"program":"pjpanel",)"
                                  R"("port":")" +
                                      slave + R"(","baud":19200,)",
                                  0),
              0u)
        << contents(log);
    ::close(master);

    const test::Ran refused =
        test::runToEnd(panelLaunch({"--log", "/nonexistent/dir/pjpanel.jsonl"}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(
        refused.err.starts_with("pjpanel: cannot write the log /nonexistent/dir/pjpanel.jsonl: "));
}

}  // namespace
}  // namespace pj
