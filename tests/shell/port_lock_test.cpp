// SPDX-License-Identifier: Apache-2.0
// The panel's serial port and pjctl on one device by two names: the device is the panel's
// alone, and the doctor names it as the holder without touching the line.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "posix/device_lock.h"
#include "qtio/serial_port_transport.h"
#include "sim/line_server.h"

namespace pj {
namespace {

struct Ran {
    int status;
    std::string output;
};

Ran run(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(PortLock, ThePanelsPortIsItsOwnUnderAnyNameAndTheDoctorNamesItAndLeavesIt) {
    const std::string dir = ::testing::TempDir() + "port-lock-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    sim::LineOptions options;
    options.link = dir + "/tty";
    sim::LineServer line(options);
    ASSERT_FALSE(line.start());
    std::filesystem::create_symlink(dir + "/tty", dir + "/alias");
    // Opened before the panel's port, only to read the line's speed as it goes.
    const int watch = ::open((dir + "/tty").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watch, 0);

    SerialPortTransport panel(QString::fromStdString(dir + "/alias"));
    ASSERT_FALSE(panel.open().failed());
    const auto speed = [watch] {
        termios tio{};
        ::tcgetattr(watch, &tio);
        return ::cfgetospeed(&tio);
    };
    ASSERT_EQ(speed(), B19200);
    // The conventional lock file names the panel, for programs that look only there.
    const std::string lockFile = posix::deviceLockFile(dir + "/alias");
    EXPECT_EQ(posix::lockFileHolder(lockFile).pid, ::getpid());

    const std::string held = "pid " + std::to_string(::getpid());
    const Ran query = run(std::string(PJ_CTL_BIN) + " --port " + dir + "/tty query status");
    EXPECT_NE(query.status, 0);
    EXPECT_NE(query.output.find(held), std::string::npos) << query.output;

    const Ran doctor = run(std::string(PJ_CTL_BIN) + " doctor --port " + dir + "/tty");
    EXPECT_NE(doctor.status, 0);
    EXPECT_NE(doctor.output.find("is in use by " + held), std::string::npos) << doctor.output;
    EXPECT_EQ(doctor.output.find("Tries:"), std::string::npos) << doctor.output;
    EXPECT_EQ(speed(), B19200);

    // Once the panel lets it go, pjctl has it.
    panel.close();
    EXPECT_FALSE(std::filesystem::exists(lockFile));
    const Ran after = run(std::string(PJ_CTL_BIN) + " --port " + dir + "/alias query status");
    EXPECT_EQ(after.status, 0) << after.output;
    ::close(watch);
    line.stop();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pj
