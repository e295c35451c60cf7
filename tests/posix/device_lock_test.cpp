// SPDX-License-Identifier: Apache-2.0
#include "posix/device_lock.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pj::posix {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A process that has ended, so that its PID is free.
pid_t deadPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(DeviceLock, OneHolderWhateverTheDeviceIsCalledAndTheLockFileKeptBothWays) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string device = ::ttyname(slave);
    ::close(slave);
    const std::string alias = ::testing::TempDir() + "device-lock-" + std::to_string(::getpid());
    std::filesystem::remove(alias);
    std::filesystem::create_symlink(device, alias);
    const std::string lockFile = deviceLockFile(alias);
    EXPECT_EQ(lockFile, deviceLockFile(device));
    std::filesystem::remove(lockFile);

    {
        DeviceLock first;
        ASSERT_EQ(first.take(device), "");
        ASSERT_EQ(first.complete(), "");
        char pid[16];
        std::snprintf(pid, sizeof pid, "%10d\n", ::getpid());
        EXPECT_EQ(fileText(lockFile), pid);
        // By another name, even as root and even in the same process: refused.
        DeviceLock second;
        EXPECT_NE(second.take(alias), "");
        EXPECT_EQ(second.errorNumber(), EBUSY);
        first.release();
        EXPECT_FALSE(std::filesystem::exists(lockFile));
        EXPECT_EQ(second.take(alias), "");
    }

    // Another program's lock file: honoured while its process lives, removed once it is gone.
    const pid_t other = ::fork();
    if (other == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ofstream(lockFile) << "     " << other << "\n";
    DeviceLock third;
    const std::string refused = third.take(alias);
    EXPECT_NE(refused.find("pid " + std::to_string(other)), std::string::npos) << refused;
    ASSERT_EQ(third.holders().size(), 1u);
    EXPECT_EQ(third.holders()[0].pid, other);
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    std::ofstream(lockFile) << deadPid() << "\n";
    EXPECT_EQ(third.take(alias), "");
    EXPECT_EQ(third.complete(), "");
    EXPECT_EQ(std::stoi(fileText(lockFile)), ::getpid());
    third.release();
    std::filesystem::remove(alias);
    ::close(master);
}

}  // namespace
}  // namespace pj::posix
