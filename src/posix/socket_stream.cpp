// SPDX-License-Identifier: Apache-2.0
#include "posix/socket_stream.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pj::posix {

ReadEnd readAvailable(int fd, const std::function<bool(std::string_view chunk)>& take) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (!take({buffer, static_cast<std::size_t>(n)})) {
                return {};
            }
            continue;
        }
        if (n == 0) {
            return {true, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        return {false, errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno};
    }
}

int sendSome(int fd, std::string& pending) {
    if (pending.empty()) {
        return 0;
    }
    const ssize_t sent = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
    if (sent < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
    }
    pending.erase(0, static_cast<std::size_t>(sent));
    return 0;
}

void readyToClose(int fd, const std::string& pending) {
    if (!pending.empty()) {
        static_cast<void>(::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL));
    }
    char buffer[512];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace pj::posix
