// SPDX-License-Identifier: Apache-2.0
// The panel as a process: ended by a signal, it still closes its port.
#include <QProcess>
#include <QProcessEnvironment>

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
#include <thread>

namespace pj {
namespace {

using namespace std::chrono_literals;

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

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
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

        QProcess panel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        panel.setProcessEnvironment(environment);
        panel.start(QStringLiteral(PJ_PANEL_BIN),
                    {QStringLiteral("--port1"), QString::fromStdString(slave)});
        ASSERT_TRUE(panel.waitForStarted(10000));
        ASSERT_TRUE(waitFor([&] { return heldExclusively(slave); }, 20s)) << "never opened";

        ASSERT_EQ(::kill(static_cast<pid_t>(panel.processId()), signal), 0);
        ASSERT_TRUE(panel.waitForFinished(20000));
        EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(panel.exitCode(), 0);
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

    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(PJ_PANEL_BIN),
                {QStringLiteral("--port1"), QString::fromStdString(slave), QStringLiteral("--log"),
                 QString::fromStdString(log)});
    ASSERT_TRUE(panel.waitForStarted(10000));
    ASSERT_TRUE(waitFor([&] { return heldExclusively(slave); }, 20s)) << "never opened";
    ASSERT_EQ(::write(master, "80\r", 3), 3);
    const std::string arrival = R"("dir":"in","hex":"38 30 0D","ascii":"80\r"})";
    EXPECT_TRUE(waitFor([&] { return contents(log).find(arrival) != std::string::npos; }, 20s))
        << contents(log);
    ASSERT_EQ(::kill(static_cast<pid_t>(panel.processId()), SIGTERM), 0);
    ASSERT_TRUE(panel.waitForFinished(20000));
    EXPECT_EQ(panel.exitCode(), 0);
    EXPECT_EQ(contents(log).rfind(R"({"log":"pjpanel line log","version":1,"program":"pjpanel",)"
                                  R"("port":")" +
                                      slave + R"(","baud":19200,)",
                                  0),
              0u)
        << contents(log);
    ::close(master);

    QProcess refused;
    refused.setProcessEnvironment(environment);
    refused.start(QStringLiteral(PJ_PANEL_BIN),
                  {QStringLiteral("--log"), QStringLiteral("/nonexistent/dir/pjpanel.jsonl")});
    ASSERT_TRUE(refused.waitForFinished(20000));
    EXPECT_EQ(refused.exitCode(), 2);
    EXPECT_TRUE(refused.readAllStandardError().startsWith(
        "pjpanel: cannot write the log /nonexistent/dir/pjpanel.jsonl: "));
}

}  // namespace
}  // namespace pj
