// SPDX-License-Identifier: Apache-2.0
// The pjctl program itself on real descriptors: standard input and output that fail, a
// signal in the middle of a hold on a pseudo-terminal, and a line server's local socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/line_wire.h"
#include "support/process.h"

namespace {

namespace wire = pj::wire;

constexpr int kWaitMs = 20000;

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

// pjctl with `args`, its standard input and output on the descriptors given, its errors
// read by the test.
class Pjctl : public pj::test::Process {
  public:
    Pjctl(const std::vector<std::string>& args, int in, int out)
        : Process(pj::test::Launch(withProgram(args))
                      .input(pj::test::Stream::descriptor(in))
                      .output(pj::test::Stream::descriptor(out))
                      .errors(pj::test::Stream::pipe())) {}

    // Its standard error to the end, and how it ended; killed if it is not over in time.
    Ended end() {
        Ended ended;
        ended.err = readErrToEnd(std::chrono::milliseconds(kWaitMs));
        const std::optional<int> status = waitFor(std::chrono::milliseconds(kWaitMs));
        ended.status = status ? *status : stop(SIGKILL);
        return ended;
    }

  private:
    static std::vector<std::string> withProgram(const std::vector<std::string>& args) {
        std::vector<std::string> all{PJ_CTL_BIN};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
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

TEST(PjctlProgram, TheDoctorOnALineOfGarbageKeepsAndPrintsLittleAndShowsEachTryAsItEnds) {
    // A line that sends bytes without end, as fast as the terminal takes them.
    const Fd line(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    ASSERT_GE(line.fd, 0);
    ASSERT_EQ(::grantpt(line.fd), 0);
    ASSERT_EQ(::unlockpt(line.fd), 0);
    const std::string port = ::ptsname(line.fd);
    std::atomic<bool> flooding{true};
    std::atomic<int> queries{0};  // the status queries the doctor wrote to the line
    std::thread flood([&] {
        std::string heard;
        std::array<char, 4096> garbage{};
        for (std::size_t i = 0; i < garbage.size(); ++i) {
            garbage[i] = static_cast<char>(0x80 + i % 0x7F);
        }
        while (flooding) {
            pollfd p{line.fd, POLLIN | POLLOUT, 0};
            ::poll(&p, 1, 10);
            if ((p.revents & POLLIN) != 0) {
                std::array<char, 4096> sink{};
                const ssize_t got = ::read(line.fd, sink.data(), sink.size());
                heard.append(sink.data(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
                for (std::size_t at; (at = heard.find("CR0\r")) != std::string::npos;) {
                    heard.erase(0, at + 4);
                    ++queries;
                }
                if (heard.size() > 16) {
                    heard.erase(0, heard.size() - 16);
                }
            }
            if ((p.revents & POLLOUT) != 0) {
                [[maybe_unused]] const ssize_t put =
                    ::write(line.fd, garbage.data(), garbage.size());
            }
        }
    });
    // Its report on a terminal of the test's.
    const Fd screen(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_EQ(::grantpt(screen.fd), 0);
    ASSERT_EQ(::unlockpt(screen.fd), 0);
    std::string report;
    int queriesAtTheFirstTry = 0;
    {
        const Fd terminal(::open(::ptsname(screen.fd), O_RDWR | O_NOCTTY | O_CLOEXEC));
        const Fd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        Pjctl pjctl({"--port", port, "doctor"}, nothing.fd, terminal.fd);
        ASSERT_TRUE(pjctl.started());
        std::array<char, 4096> chunk{};
        for (pollfd p{screen.fd, POLLIN, 0}; ::poll(&p, 1, kWaitMs) > 0;) {
            const ssize_t got = ::read(screen.fd, chunk.data(), chunk.size());
            if (got <= 0) {
                break;
            }
            report.append(chunk.data(), static_cast<std::size_t>(got));
            if (report.find("garbage") != std::string::npos && queriesAtTheFirstTry == 0) {
                queriesAtTheFirstTry = queries;
            }
            // The end of the report, or far more of it than its tries can make.
            if (report.find("Next:") != std::string::npos || report.size() > 1024 * 1024) {
                break;
            }
        }
        const int status = pjctl.end().status;
        EXPECT_TRUE(status == 4 || report.size() > 1024 * 1024) << status;
    }
    flooding = false;
    flood.join();
    // The first try was shown while the others were still to be sent.
    EXPECT_GT(queriesAtTheFirstTry, 0);
    EXPECT_LT(queriesAtTheFirstTry, queries.load());
    EXPECT_NE(report.find("bytes in all"), std::string::npos) << report.substr(0, 2000);
    EXPECT_NE(report.find("Verdict:  bytes came back"), std::string::npos)
        << report.substr(0, 2000);
    // Ten tries of a few lines each, however much the line sent.
    EXPECT_LT(report.size(), 16u * 1024) << report.substr(0, 2000);
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
        {"answered",
         wire::message(wire::kSent) + wire::message(wire::kBack) + wire::dataRecord("\x06"), 0,
         " ACK \n", ""},
        // The reply window starts when the frame goes out, however long it waited.
        {"answered after a wait longer than the reply window", "wait"s + wire::dataRecord("\x06"),
         0, " ACK \n", ""},
        {"the line went away", wire::message(wire::kLost, "/dev/ttyUSB0 unplugged"), 3, "",
         ": pjline: /dev/ttyUSB0 unplugged\n"},
        // pjline never says it went out: after its wait, the line is busy.
        {"the line is busy", "", 6, "", ": pjline: the line is busy: no turn within 10 s\n"},
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
            // The hello and the hold asked for first; once it is taken (others' ACK before
            // that is not pjctl's), the frame.
            std::string hello(wire::kHelloSize + 7, '\0');
            ASSERT_EQ(::recv(peer.fd, hello.data(), hello.size(), MSG_WAITALL),
                      static_cast<ssize_t>(hello.size()));
            EXPECT_EQ(wire::checkHello(hello), wire::HelloCheck::Complete);
            EXPECT_EQ(hello.substr(wire::kHelloSize), wire::message(wire::kHold));
            const std::string held = "\x06"s + hello.substr(0, wire::kHelloSize) +
                                     wire::dataRecord("\x06") + wire::message(wire::kHeld);
            ASSERT_EQ(::send(peer.fd, held.data(), held.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(held.size()));
            std::string frame(7, '\0');
            ASSERT_EQ(::recv(peer.fd, frame.data(), frame.size(), MSG_WAITALL), 7);
            EXPECT_EQ(frame, wire::dataRecord("C00\r"));
            std::string answer = c.answer;
            if (answer.starts_with("wait")) {
                // Others' frames had the line for longer than pjctl's reply window.
                std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                answer = wire::message(wire::kSent) + answer.substr(4);
            }
            ASSERT_EQ(::send(peer.fd, answer.data(), answer.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(answer.size()));
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
