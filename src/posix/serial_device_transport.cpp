// SPDX-License-Identifier: Apache-2.0
#include "posix/serial_device_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "posix/terminal.h"

namespace pj::posix {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace

SerialDeviceTransport::SerialDeviceTransport(EventLoop& loop, std::string device)
    : loop_(loop), device_(std::move(device)) {}

SerialDeviceTransport::~SerialDeviceTransport() {
    setOnEvent(nullptr);
    close();
}

SerialResult SerialDeviceTransport::open() {
    if (fd_ >= 0) {
        return SerialResult::failed("Port is already open");
    }
    // Held for this process alone, as every program here holds a device (see DeviceLock).
    std::string refused = lock_.take(device_);
    if (refused.empty()) {
        refused = lock_.complete();
    }
    if (!refused.empty()) {
        return SerialResult::failed(refused);
    }
    fd_ = lock_.fd();
    if (const SerialResult configured = configure(); configured.failed()) {
        lock_.release();
        fd_ = -1;
        return configured;
    }
    // What waited in the driver before the opening is not this session's.
    ::tcflush(fd_, TCIFLUSH);
    watch_ = loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
    return SerialResult::done();
}

void SerialDeviceTransport::close() {
    pending_.clear();
    if (fd_ < 0) {
        return;
    }
    loop_.unwatch(watch_);
    lock_.release();
    fd_ = -1;
}

SerialResult SerialDeviceTransport::applySettings(const LineParams& params) {
    params_ = params;
    return fd_ >= 0 ? configure() : SerialResult::done();
}

SerialResult SerialDeviceTransport::configure() {
    return setRawLine(fd_, params_);
}

SerialResult SerialDeviceTransport::write(std::string_view bytes) {
    if (fd_ < 0) {
        return SerialResult::failed("the port is not open");
    }
    // Behind bytes still waiting, in order; else handed to the driver now.
    pending_.append(bytes);
    if (pending_.size() == bytes.size()) {
        const ssize_t written = ::write(fd_, pending_.data(), pending_.size());
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            const int error = errno;
            pending_.clear();
            return SerialResult::failed(errorText(error));
        }
        pending_.erase(0, written < 0 ? 0 : static_cast<std::size_t>(written));
        if (!pending_.empty()) {
            loop_.setEvents(watch_, POLLIN | POLLOUT);
        }
    }
    return SerialResult::done();
}

void SerialDeviceTransport::flushOut() {
    while (!pending_.empty()) {
        const ssize_t written = ::write(fd_, pending_.data(), pending_.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                pending_.clear();
            }
            break;
        }
        pending_.erase(0, static_cast<std::size_t>(written));
    }
    if (pending_.empty()) {
        loop_.setEvents(watch_, POLLIN);
    }
}

void SerialDeviceTransport::ready(short revents) {
    if ((revents & POLLOUT) != 0) {
        flushOut();
    }
    // Whatever came before a hang-up is read first; a read that finds the line gone, or a
    // hang-up with nothing left to read, is the device going away.
    std::string data;
    std::optional<std::string> gone;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            // Nothing at all from a line that said it was readable: it hung up.
            if (data.empty()) {
                gone = "the device hung up";
            }
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            gone = errorText(errno);
        }
        break;
    }
    if (!gone && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        gone = "the device hung up";
    }
    const EventLoop::WatchId watch = watch_;
    if (!data.empty()) {
        report({CommEvent::Kind::Receive, std::move(data)});
    }
    // The handler may have closed the port, or closed it and opened it again.
    if (gone && fd_ >= 0 && watch_ == watch) {
        lose(*gone);
    }
}

void SerialDeviceTransport::lose(const std::string& how) {
    // Closed so nothing spins on a dead descriptor, and said once.
    close();
    report({CommEvent::Kind::DeviceLost, how});
}

}  // namespace pj::posix
