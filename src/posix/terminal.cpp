// SPDX-License-Identifier: Apache-2.0
#include "posix/terminal.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace pj::posix {

namespace {

constexpr std::pair<int, speed_t> kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

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

std::optional<speed_t> speedOf(int baud) {
    for (const auto& [rate, speed] : kSpeeds) {
        if (rate == baud) {
            return speed;
        }
    }
    return std::nullopt;
}

int baudOf(speed_t speed) {
    for (const auto& [rate, termiosSpeed] : kSpeeds) {
        if (termiosSpeed == speed) {
            return rate;
        }
    }
    return 0;
}

SerialResult setRawLine(int fd, const LineParams& params) {
    const std::optional<speed_t> speed = speedOf(params.baud);
    if (!speed) {
        return SerialResult::failed("Unsupported baud rate");
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return SerialResult::failed(std::strerror(errno));
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag |= dataBits(params.dataBits);
    if (params.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    switch (params.parity) {
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
    if (params.parity != 'N') {
        tio.c_iflag |= INPCK;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return SerialResult::failed(std::strerror(errno));
    }
    return SerialResult::done();
}

}  // namespace pj::posix
