// SPDX-License-Identifier: Apache-2.0
#pragma once

// pjline and pjctl run as processes beside a simulated projector, for the line server's
// end-to-end tests.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pj::line::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous, for a loaded machine under the sanitizers.
constexpr auto kDeadline = 20s;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits until `done` holds, looking again every few milliseconds, at most `deadline`.
inline bool waitFor(const std::function<bool()>& done, Clock::duration deadline = kDeadline) {
    const auto until = Clock::now() + deadline;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A program run with its standard output and error in files.
class Process {
  public:
    Process(const std::vector<std::string>& args, const std::string& outputs) {
        out_ = outputs + ".out";
        err_ = outputs + ".err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Nothing else of the test's: a terminal's master side kept open in the child would
        // keep the line from hanging up when the test unplugs it.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0) {
            stop(SIGKILL);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    // Sends `signal` and waits for the end: the exit status, or -1 when killed by a signal.
    int stop(int signal = SIGTERM) {
        if (pid_ <= 0) {
            return -1;
        }
        ::kill(pid_, signal);
        return wait();
    }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }
    bool errSays(const std::string& text) const { return err().find(text) != std::string::npos; }

  private:
    pid_t pid_ = -1;
    std::string out_, err_;
};

struct Ran {
    int status;
    std::string out, err;
};

inline Ran runToEnd(const std::vector<std::string>& args, const std::string& outputs) {
    Process p(args, outputs);
    const int status = p.wait();
    return {status, p.out(), p.err()};
}

// A TCP port nobody listens on now.
inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A plain client of the line on a blocking socket: what a script or a device server's
// client would be.
class RawClient {
  public:
    static RawClient local(const std::string& path) {
        RawClient c(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        c.connected_ = ::connect(c.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        return c;
    }
    static RawClient tcp(int port) {
        RawClient c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        c.connected_ = ::connect(c.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        return c;
    }
    RawClient(RawClient&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), connected_(other.connected_) {}
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    bool send(std::string_view bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Reads what comes until `heard` holds of all read so far; false at the deadline or when
    // the server closes the connection.
    bool readUntil(const std::function<bool(const std::string&)>& done,
                   Clock::duration deadline = kDeadline) {
        const auto until = Clock::now() + deadline;
        while (!done(heard)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            heard.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    bool hears(std::string_view text, Clock::duration deadline = kDeadline) {
        return readUntil([text](const std::string& h) { return h.find(text) != h.npos; }, deadline);
    }
    // Whether the server closed the connection.
    bool closedByServer(Clock::duration deadline = kDeadline) {
        return !readUntil([](const std::string&) { return false; }, deadline) && gone();
    }

    std::string heard;

  private:
    explicit RawClient(int fd) : fd_(fd) {}
    bool gone() const {
        char c;
        return ::recv(fd_, &c, 1, MSG_DONTWAIT) == 0;
    }
    int fd_;
    bool connected_ = false;
};

// A message between pjline and a client.
inline std::string msg(std::string_view text) {
    return std::string(1, '\0') + std::string(text) + "\r";
}

}  // namespace pj::line::test
