// SPDX-License-Identifier: Apache-2.0
#include "link/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pj {

FileText readBoundedFile(const std::string& path, std::size_t limit) {
    // Opened without blocking, so that a FIFO named by mistake does not hang the program;
    // the check that follows is on what was opened, not on the name.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return FileRefused{path + ": " + std::strerror(errno)};
    }
    struct stat info {};
    std::string refusal;
    if (::fstat(fd, &info) != 0) {
        refusal = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        refusal = path + ": not a regular file";
    } else if (static_cast<std::size_t>(info.st_size) > limit) {
        refusal = path + ": larger than " + std::to_string(limit) + " bytes";
    }
    std::string text;
    while (refusal.empty()) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            refusal = path + ": " + std::strerror(errno);
        } else if (got == 0) {
            break;
        } else if (text.size() + static_cast<std::size_t>(got) > limit) {
            refusal = path + ": larger than " + std::to_string(limit) + " bytes";
        } else {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    if (!refusal.empty()) {
        return FileRefused{std::move(refusal)};
    }
    return text;
}

}  // namespace pj
