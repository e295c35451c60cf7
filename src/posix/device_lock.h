// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace pj::posix {

// A process that holds a device, as far as this machine tells.
struct DeviceHolder {
    int pid = 0;
    std::string name;  // its program's name, when /proc tells
};

// The one way every program here takes a serial device, so that each excludes the others
// whatever name each gives the device (a link such as /dev/serial/by-id/..., or the device
// itself), as root or not, and so that other programs' conventions are kept too:
//  - the conventional lock file, /run/lock/LCK..NAME (NAME the device's path under /dev,
//    '/' as '_'), holding a live process's PID, keeps the device from us; one whose
//    process is gone is removed; ours holds our PID in ten digits and a newline;
//  - an exclusive flock(2) on the opened device, which root does not pass either;
//  - the terminal's exclusive mode (TIOCEXCL), which turns away other openers that take
//    neither lock.
// take() does the first two and opens the device; complete() writes the lock file and sets
// the exclusive mode. A program that must open the device itself after take() (the panel's
// serial port does) calls complete() once it has.
class DeviceLock {
  public:
    static constexpr const char* kLockDir = "/run/lock";

    DeviceLock() = default;
    ~DeviceLock();
    DeviceLock(DeviceLock&& other) noexcept;
    DeviceLock& operator=(DeviceLock&& other) noexcept;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Opens `path` (read and write, no controlling terminal, not blocking) and locks it; on
    // failure the system's word for it, with the holders named where they can be told, and
    // errorNumber() says which.
    std::string take(const std::string& path);
    std::string complete();
    // Lets the device go: the lock file removed if it is ours, the exclusive mode ended, the
    // descriptor closed.
    void release();

    int fd() const { return fd_; }
    int errorNumber() const { return error_; }
    const std::vector<DeviceHolder>& holders() const { return holders_; }

  private:
    std::string refuse(int error, std::string detail);

    int fd_ = -1;
    int error_ = 0;
    std::string device_;    // links followed
    std::string lockFile_;  // the conventional lock file's path
    bool ownsLockFile_ = false;
    std::vector<DeviceHolder> holders_;
};

// The device behind a name, links followed; the name itself when it cannot be resolved.
std::string realDevice(const std::string& path);

// The conventional lock file of a device (links followed), in `dir`.
std::string deviceLockFile(const std::string& device,
                           const std::string& dir = DeviceLock::kLockDir);

// The process whose PID a lock file holds, when it is alive; PID 0 when the file is not
// there, holds no PID, or its process is gone.
DeviceHolder lockFileHolder(const std::string& lockFile);

// The processes that have the character device `device` open, as far as /proc tells.
std::vector<DeviceHolder> deviceHolders(const std::string& device);

// "pid 123 (pjpanel) and pid 456 (pjline)".
std::string holdersText(const std::vector<DeviceHolder>& holders);

}  // namespace pj::posix
