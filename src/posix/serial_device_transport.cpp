// SPDX-License-Identifier: Apache-2.0
#include "posix/serial_device_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace pj::posix {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

std::optional<speed_t> toSpeed(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return std::nullopt;
    }
}

tcflag_t dataBits(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
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
    const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return SerialResult::failed(errorText(errno));
    }
    // Held for this process alone: TIOCEXCL turns away other openers, the lock also those
    // that TIOCEXCL lets through (a privileged one, or this process again).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return SerialResult::failed(errorText(error));
    }
    fd_ = fd;
    if (const SerialResult configured = configure(); configured.failed()) {
        ::close(fd_);
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
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

SerialResult SerialDeviceTransport::applySettings(const LineParams& params) {
    params_ = params;
    return fd_ >= 0 ? configure() : SerialResult::done();
}

SerialResult SerialDeviceTransport::configure() {
    const std::optional<speed_t> speed = toSpeed(params_.baud);
    if (!speed) {
        return SerialResult::failed("Unsupported baud rate");
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        return SerialResult::failed(errorText(errno));
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag |= dataBits(params_.dataBits);
    if (params_.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    switch (params_.parity) {
        case 'E':
            tio.c_cflag |= PARENB;
            break;
        case 'O':
            tio.c_cflag |= PARENB | PARODD;
            break;
#ifdef CMSPAR
        case 'M':
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 'S':
            tio.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            break;
    }
    if (params_.parity != 'N') {
        tio.c_iflag |= INPCK;
    }
    // With the descriptor non-blocking, an empty line reads as EAGAIN, a hung-up one as 0.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
        ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        return SerialResult::failed(errorText(errno));
    }
    return SerialResult::done();
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
