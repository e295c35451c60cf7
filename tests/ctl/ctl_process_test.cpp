// SPDX-License-Identifier: Apache-2.0
// The pjctl program itself on real descriptors: standard input and output that fail, a
// signal in the middle of a hold on a pseudo-terminal, and a line server's local socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kWaitMs = 10000;

struct Fd {
    explicit Fd(int value = -1) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd;
};

struct Ended {
    int status = -1;  // the exit status; -1 when it did not exit of itself
    std::string err;
};

class Pjctl {
  public:
    // Starts pjctl with `args`, its standard input and output on the descriptors given, the
    // signals it is sent at their default dispositions.
    Pjctl(const std::vector<std::string>& args, int in, int out) {
        std::array<int, 2> errPipe{};
        if (::pipe2(errPipe.data(), O_CLOEXEC) != 0) {
            return;
        }
        err_.fd = errPipe[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t signals;
        sigemptyset(&signals);
        posix_spawnattr_setsigmask(&attributes, &signals);
        for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
            sigaddset(&signals, s);
        }
        posix_spawnattr_setsigdefault(&attributes, &signals);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::vector<char*> argv{const_cast<char*>(PJ_CTL_BIN)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, PJ_CTL_BIN, &actions, &attributes, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(errPipe[1]);
    }
    Pjctl(const Pjctl&) = delete;
    Pjctl& operator=(const Pjctl&) = delete;
    ~Pjctl() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }
    void signal(int s) const { ::kill(pid_, s); }

    // Its standard error to the end, and how it ended; killed if it is not over in time.
    Ended end() {
        Ended ended;
        pollfd readable{err_.fd, POLLIN, 0};
        std::array<char, 256> chunk{};
        while (::poll(&readable, 1, kWaitMs) > 0) {
            const ssize_t got = ::read(err_.fd, chunk.data(), chunk.size());
            if (got <= 0) {
                break;
            }
            ended.err.append(chunk.data(), static_cast<std::size_t>(got));
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return ended;
    }

  private:
    pid_t pid_ = -1;
    Fd err_;
};

TEST(PjctlProgram, StandardInputAndOutputThatFailAreFailures) {
    struct Case {
        std::vector<std::string> args;
        const char* in;
        const char* out;
        std::string err;
    };
    const std::string full =
        "pjctl: cannot write the output: " + std::string(std::strerror(ENOSPC)) + "\n";
    const Case cases[] = {
        {{"decode", "CR0"}, "/", "/dev/null", "pjctl: standard input could not be read\n"},
        {{"--help"}, "/dev/null", "/dev/full", full},
        {{"decode", "status"}, "/dev/null", "/dev/full", full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " -> " + c.out);
        const Fd in(::open(c.in, O_RDONLY | O_CLOEXEC));
        const Fd out(::open(c.out, O_WRONLY | O_CLOEXEC));
        ASSERT_GE(in.fd, 0);
        ASSERT_GE(out.fd, 0);
        Pjctl pjctl(c.args, in.fd, out.fd);
        ASSERT_TRUE(pjctl.started());
        const Ended ended = pjctl.end();
        EXPECT_EQ(ended.status, 1);
        EXPECT_EQ(ended.err, c.err);
    }
}

TEST(PjctlProgram, ASignalEndsAHoldAndLetsThePortGo) {
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(s));
        const Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_GE(master.fd, 0);
        ASSERT_EQ(::grantpt(master.fd), 0);
        ASSERT_EQ(::unlockpt(master.fd), 0);
        const std::string slave = ::ptsname(master.fd);
        // Held open here throughout: the terminal, and any lock left on it, outlive pjctl.
        const Fd watcher(::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        const Fd nothing(::open("/dev/null", O_RDWR | O_CLOEXEC));
        ASSERT_GE(watcher.fd, 0);

        Pjctl pjctl({"--port", slave, "hold", "C47", "--for", "60000", "--every", "105"},
                    nothing.fd, nothing.fd);
        ASSERT_TRUE(pjctl.started());
        // The first frame on the line: pjctl has the port, and holds it exclusively.
        pollfd frame{master.fd, POLLIN, 0};
        ASSERT_EQ(::poll(&frame, 1, kWaitMs), 1);
        int exclusive = -1;
        ASSERT_EQ(::ioctl(watcher.fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);

        pjctl.signal(s);
        const Ended ended = pjctl.end();
        EXPECT_EQ(ended.status, 1);
        EXPECT_EQ(ended.err, "pjctl: interrupted\n");
        ASSERT_EQ(::ioctl(watcher.fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
    }
}

// What pjctl writes on a pipe, read once it has ended.
std::string drain(int fd) {
    std::string text;
    std::array<char, 256> chunk{};
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, 0) > 0) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got <= 0) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
}

TEST(PjctlProgram, OnALineServersSocketHoldsTheLineAndTakesItsWordOnALoss) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string answer;  // the server's, to the frame
        int status;
        std::string out;
        std::string err;  // after "pjctl: " and the port's name
    };
    const Case cases[] = {
        {"answered", "\0back\r\x06"s, 0, " ACK \n", ""},
        {"the line went away", "\0lost /dev/ttyUSB0 unplugged\r"s, 3, "",
         ": pjline: /dev/ttyUSB0 unplugged\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char dir[] = "/tmp/pjctlXXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        const std::string path = std::string(dir) + "/booth.sock";
        const Fd server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(server.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(server.fd, 1), 0);
        std::array<int, 2> outPipe{};
        ASSERT_EQ(::pipe2(outPipe.data(), O_CLOEXEC), 0);
        const Fd out(outPipe[0]);
        const Fd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        const std::string port = "unix:" + path;
        {
            Pjctl pjctl({"--port", port, "send", "C00"}, nothing.fd, outPipe[1]);
            ::close(outPipe[1]);
            ASSERT_TRUE(pjctl.started());
            pollfd connecting{server.fd, POLLIN, 0};
            ASSERT_EQ(::poll(&connecting, 1, kWaitMs), 1);
            const Fd peer(::accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC));
            ASSERT_GE(peer.fd, 0);
            const timeval wait{kWaitMs / 1000, 0};
            ::setsockopt(peer.fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            // The hold asked for first; once it is taken (others' ACK before that is not
            // pjctl's), the frame.
            std::string hello(6, '\0');
            ASSERT_EQ(::recv(peer.fd, hello.data(), hello.size(), MSG_WAITALL), 6);
            EXPECT_EQ(hello, "\0hold\r"s);
            const std::string held = "\x06\0held\r"s;
            ASSERT_EQ(::send(peer.fd, held.data(), held.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(held.size()));
            std::string frame(4, '\0');
            ASSERT_EQ(::recv(peer.fd, frame.data(), frame.size(), MSG_WAITALL), 4);
            EXPECT_EQ(frame, "C00\r");
            ASSERT_EQ(::send(peer.fd, c.answer.data(), c.answer.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(c.answer.size()));
            const Ended ended = pjctl.end();
            EXPECT_EQ(ended.status, c.status);
            EXPECT_EQ(ended.err, c.err.empty() ? "" : "pjctl: " + port + c.err);
        }
        EXPECT_EQ(drain(out.fd), c.out);
        ::unlink(path.c_str());
        ::rmdir(dir);
    }
}

}  // namespace
