// SPDX-License-Identifier: Apache-2.0
#include "posix/device_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace pj::posix {

namespace fs = std::filesystem;

namespace {

std::string programName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool alive(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

std::string realDevice(const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

std::string deviceLockFile(const std::string& device, const std::string& dir) {
    std::string name = realDevice(device);
    if (name.starts_with("/dev/")) {
        name.erase(0, 5);
    }
    std::replace(name.begin(), name.end(), '/', '_');
    return dir + "/LCK.." + name;
}

DeviceHolder lockFileHolder(const std::string& lockFile) {
    // Read whole and small: ASCII digits (perhaps padded, perhaps followed by more lines), or
    // the old binary form of four bytes.
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return {};
    }
    std::array<char, 64> text{};
    const ssize_t got = ::read(fd, text.data(), text.size() - 1);
    ::close(fd);
    int pid = 0;
    if (got == 4) {
        std::memcpy(&pid, text.data(), 4);
    }
    if (got > 0 && (got != 4 || pid <= 0 || pid > 4194304)) {
        pid = static_cast<int>(std::strtol(text.data(), nullptr, 10));
    }
    if (!alive(pid)) {
        return {};
    }
    return {pid, programName(pid)};
}

std::vector<DeviceHolder> deviceHolders(const std::string& device) {
    std::vector<DeviceHolder> holders;
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) {
        return holders;
    }
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code unreadable;  // another user's process, or one that just ended
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
            struct stat info {};
            if (::stat(fd.path().c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
                info.st_rdev == target.st_rdev) {
                const int number = std::stoi(pid);
                holders.push_back({number, programName(number)});
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string holdersText(const std::vector<DeviceHolder>& holders) {
    std::string text;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) {
            text += i + 1 == holders.size() ? " and " : ", ";
        }
        text += "pid " + std::to_string(holders[i].pid) +
                (holders[i].name.empty() ? "" : " (" + holders[i].name + ")");
    }
    return text;
}

DeviceLock::~DeviceLock() {
    release();
}

DeviceLock::DeviceLock(DeviceLock&& other) noexcept {
    *this = std::move(other);
}

DeviceLock& DeviceLock::operator=(DeviceLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        device_ = std::move(other.device_);
        lockFile_ = std::move(other.lockFile_);
        ownsLockFile_ = std::exchange(other.ownsLockFile_, false);
        holders_ = std::move(other.holders_);
    }
    return *this;
}

std::string DeviceLock::refuse(int error, std::string detail) {
    error_ = error;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    std::string text = std::strerror(error);
    if (!detail.empty()) {
        text += ": " + detail;
    }
    return text;
}

std::string DeviceLock::take(const std::string& path) {
    release();
    holders_.clear();
    error_ = 0;
    device_ = realDevice(path);
    lockFile_ = deviceLockFile(device_);
    // Another program's lock file first: the device is not even opened under it.
    if (const DeviceHolder holder = lockFileHolder(lockFile_); holder.pid != 0) {
        if (holder.pid != ::getpid()) {
            holders_.push_back(holder);
            return refuse(EBUSY,
                          "held by " + holdersText(holders_) + ", as " + lockFile_ + " says");
        }
    } else if (::access(lockFile_.c_str(), F_OK) == 0) {
        // Its process is gone: the lock is stale.
        ::unlink(lockFile_.c_str());
    }
    fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        if (error == EBUSY) {
            holders_ = deviceHolders(device_);
        }
        return refuse(error, holders_.empty() ? "" : "held by " + holdersText(holders_));
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        holders_ = deviceHolders(device_);
        std::erase_if(holders_, [](const DeviceHolder& h) { return h.pid == ::getpid(); });
        return refuse(error, holders_.empty() ? "" : "held by " + holdersText(holders_));
    }
    return {};
}

std::string DeviceLock::complete() {
    if (fd_ < 0) {
        return std::strerror(EBADF);
    }
    // Ours unless one holding our own PID is there (the panel's serial port writes its own).
    if (lockFileHolder(lockFile_).pid != ::getpid()) {
        const int fd = ::open(lockFile_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            std::array<char, 16> text{};
            const int size = std::snprintf(text.data(), text.size(), "%10d\n", ::getpid());
            const bool written = ::write(fd, text.data(), static_cast<std::size_t>(size)) == size;
            ::close(fd);
            ownsLockFile_ = written;
            if (!written) {
                ::unlink(lockFile_.c_str());
            }
        } else if (errno == EEXIST) {
            // Made between our look and now by another program.
            holders_ = {lockFileHolder(lockFile_)};
            release();
            error_ = EBUSY;
            return std::string(std::strerror(EBUSY)) + ": " + lockFile_ + " was taken meanwhile";
        }
        // A lock directory this user may not write to leaves the flock and the exclusive mode.
    }
    if (::ioctl(fd_, TIOCEXCL) != 0) {
        const int error = errno;
        release();
        error_ = error;
        return std::strerror(error);
    }
    return {};
}

void DeviceLock::release() {
    if (ownsLockFile_) {
        ::unlink(lockFile_.c_str());
        ownsLockFile_ = false;
    }
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace pj::posix
