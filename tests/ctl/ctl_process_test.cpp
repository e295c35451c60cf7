// The pjctl program itself on real descriptors: standard input and output that fail, and a
// signal in the middle of a hold on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
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

}  // namespace
