// SPDX-License-Identifier: Apache-2.0
// pjctl's event loop and transports on real descriptors: timers against the steady clock, a
// pseudo-terminal as the serial device, sockets on the loopback interface and a line
// server's local socket. Every wait is
// for an event, given up only after seconds; only lower bounds of time are checked, so a
// loaded machine makes a run slower, not wrong.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/line_wire.h"
#include "loop_wait.h"
#include "posix/event_loop.h"
#include "posix/local_socket_transport.h"
#include "posix/loop_timer.h"
#include "posix/posix_serial_control.h"
#include "posix/serial_device_transport.h"
#include "posix/tcp_transport.h"

namespace pj::posix {
namespace {

using std::chrono::milliseconds;
using Kind = CommEvent::Kind;
using namespace std::string_literals;
using test::runUntil;

milliseconds since(EventLoop::TimePoint from, EventLoop::TimePoint to) {
    return std::chrono::duration_cast<milliseconds>(to - from);
}

enum class Change { None, Reenable, NewInterval, Disable };

struct TimerRow {
    const char* name;
    int intervalMs;
    Change change;  // done by another timer `changeAtMs` after the start
    int changeAtMs;
    int newIntervalMs;
};

TEST(LoopTimer, ASecondEnablingOrANewIntervalStartsThePeriodAfresh) {
    const TimerRow rows[] = {
        {"one period from enabling", 60, Change::None, 0, 0},
        {"enabled again while running", 150, Change::Reenable, 30, 0},
        {"a new interval while running", 150, Change::NewInterval, 30, 100},
        {"disabled before it is due", 60, Change::Disable, 20, 0},
    };
    for (const TimerRow& row : rows) {
        SCOPED_TRACE(row.name);
        EventLoop loop;
        LoopTimer timer(loop);
        LoopTimer changer(loop);
        std::optional<EventLoop::TimePoint> fired;
        std::optional<EventLoop::TimePoint> changed;
        timer.setOnTimer([&] {
            fired = EventLoop::now();
            timer.setEnabled(false);
            loop.quit();
        });
        changer.setOnTimer([&] {
            changer.setEnabled(false);
            changed = EventLoop::now();
            if (row.change == Change::Reenable) {
                timer.setEnabled(true);
            } else if (row.change == Change::NewInterval) {
                timer.setInterval(row.newIntervalMs);
            } else {
                timer.setEnabled(false);
            }
        });
        const EventLoop::TimePoint start = EventLoop::now();
        timer.setInterval(row.intervalMs);
        timer.setEnabled(true);
        if (row.change != Change::None) {
            changer.setInterval(row.changeAtMs);
            changer.setEnabled(true);
        }

        if (row.change == Change::Disable) {
            // Given three of its periods, it must stay silent.
            EXPECT_FALSE(runUntil(
                loop, [&] { return fired.has_value(); }, 3 * row.intervalMs));
            EXPECT_TRUE(changed.has_value());
            continue;
        }
        ASSERT_TRUE(runUntil(loop, [&] { return fired.has_value(); }));
        EXPECT_FALSE(timer.enabled());
        if (row.change == Change::None) {
            EXPECT_GE(since(start, *fired).count(), row.intervalMs);
            continue;
        }
        ASSERT_TRUE(changed.has_value());
        // Only a machine so loaded that the change came after the first period cannot tell.
        if (*fired > *changed) {
            const int period =
                row.change == Change::NewInterval ? row.newIntervalMs : row.intervalMs;
            EXPECT_GE(since(*changed, *fired).count(), period);
        }
    }
}

TEST(LoopTimer, FiresEveryPeriodUntilDisabledWithoutDrifting) {
    EventLoop loop;
    LoopTimer timer(loop);
    LoopTimer after(loop);
    constexpr int kPeriodMs = 10;
    constexpr int kFirings = 5;
    std::vector<EventLoop::TimePoint> firings;
    bool settled = false;
    timer.setInterval(kPeriodMs);
    timer.setOnTimer([&] {
        firings.push_back(EventLoop::now());
        if (firings.size() == kFirings) {
            timer.setEnabled(false);
            after.setEnabled(true);
        }
    });
    after.setInterval(6 * kPeriodMs);
    after.setOnTimer([&] {
        settled = true;
        loop.quit();
    });
    const EventLoop::TimePoint start = EventLoop::now();
    timer.setEnabled(true);
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    ASSERT_EQ(firings.size(), static_cast<std::size_t>(kFirings));
    for (std::size_t i = 0; i < firings.size(); ++i) {
        // Each period counted from the one before, never from when the handler ran.
        EXPECT_GE(since(start, firings[i]).count(), static_cast<long>((i + 1) * kPeriodMs));
    }
}

TEST(EventLoop, QuitLeavesWhatIsStillDueForTheNextRun) {
    EventLoop loop;
    std::vector<int> ran;
    int owner = 0;
    loop.post(nullptr, [&] {
        ran.push_back(1);
        loop.quit();
    });
    loop.post(nullptr, [&] {
        ran.push_back(2);
        // Posted now: runs on a later turn, after the one before it.
        loop.post(nullptr, [&] {
            ran.push_back(3);
            loop.quit();
        });
    });
    loop.post(&owner, [&] { ran.push_back(4); });
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1}));
    loop.cancelPosted(&owner);
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

// A socket on the loopback interface at a port of its own choosing; listening if asked,
// else bound only, so that a connection to it is refused.
struct LocalServer {
    explicit LocalServer(bool listening) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            (listening && ::listen(fd, 1) != 0)) {
            ADD_FAILURE() << "no local socket";
        }
        port = ntohs(address.sin_port);
    }
    ~LocalServer() { ::close(fd); }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port); }

    int fd;
    std::uint16_t port = 0;
};

struct Recorder {
    explicit Recorder(EventLoop& l) : loop(l) {}
    std::function<void(const CommEvent&)> handler() {
        return [this](const CommEvent& event) {
            events.push_back(event);
            loop.quit();
        };
    }
    bool has(std::size_t count) const { return events.size() >= count; }

    EventLoop& loop;
    std::vector<CommEvent> events;
};

TEST(TcpTransport, ConnectingIsUnderWayWhenOpenReturnsAndItsEndIsReported) {
    struct Row {
        const char* name;
        bool listening;
        Kind kind;
        std::string says;  // after "HOST:PORT: "
    };
    const Row rows[] = {
        {"nothing listens", false, Kind::OpenFailed, "Connection refused"},
        {"a server listens", true, Kind::Opened, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LocalServer server(row.listening);
        EventLoop loop;
        Recorder seen(loop);
        TcpTransport transport(loop, {"127.0.0.1", server.port});
        transport.setOnEvent(seen.handler());

        EXPECT_EQ(transport.open().outcome(), SerialResult::Outcome::UnderWay);
        EXPECT_TRUE(seen.events.empty()) << "reported inside open()";
        EXPECT_TRUE(transport.opening());
        ASSERT_TRUE(runUntil(loop, [&] { return seen.has(1); }));
        ASSERT_EQ(seen.events.size(), 1u);
        EXPECT_EQ(seen.events[0].kind, row.kind);
        EXPECT_EQ(seen.events[0].data, row.says.empty() ? "" : server.endpoint() + ": " + row.says);
        EXPECT_EQ(transport.isOpen(), row.kind == Kind::Opened);
        EXPECT_FALSE(transport.opening());
    }
}

TEST(TcpTransport, CarriesBothWaysAndTheFarEndClosingIsALoss) {
    const LocalServer server(true);
    EventLoop loop;
    Recorder seen(loop);
    PosixSerialControl serial(loop);
    serial.setOnComm(seen.handler());
    serial.setDevice(1, "tcp://" + server.endpoint());
    ASSERT_EQ(serial.setPortOpen(true).outcome(), SerialResult::Outcome::UnderWay);
    EXPECT_EQ(serial.output("CR0\r").error(), server.endpoint() + ": still connecting");
    ASSERT_TRUE(runUntil(loop, [&] { return seen.has(1); }));
    ASSERT_EQ(seen.events[0].kind, Kind::Opened);

    const int peer = ::accept4(server.fd, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    const timeval wait{5, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ASSERT_FALSE(serial.output("CR0\r").failed());
    char got[8] = {};
    EXPECT_EQ(::recv(peer, got, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(got, 4), "CR0\r");

    ASSERT_EQ(::send(peer, "00\r", 3, MSG_NOSIGNAL), 3);
    std::string received;
    ASSERT_TRUE(runUntil(loop, [&] {
        received.clear();
        for (const CommEvent& e : seen.events) {
            received += e.kind == Kind::Receive ? e.data : "";
        }
        return received == "00\r";
    }));
    ::close(peer);
    ASSERT_TRUE(runUntil(loop, [&] { return seen.events.back().kind == Kind::DeviceLost; }));
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(serial.output("x").error(), "the port is not open");
}

// A local socket in a directory of its own, bound and listening as asked.
struct UnixServer {
    UnixServer(bool bound, bool listening) {
        char dir[] = "/tmp/pjsockXXXXXX";
        directory = ::mkdtemp(dir) != nullptr ? dir : "";
        path = directory + "/line.sock";
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (!bound) {
            return;
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (listening && ::listen(fd, 4) != 0)) {
            ADD_FAILURE() << "no local socket at " << path;
        }
    }
    ~UnixServer() {
        ::close(fd);
        ::unlink(path.c_str());
        ::rmdir(directory.c_str());
    }
    // The next client's connection, its reads given up after seconds.
    int accept() const {
        const int peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        const timeval wait{5, 0};
        ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        return peer;
    }

    std::string directory;
    std::string path;
    int fd;
};

std::string readExactly(int fd, std::size_t count) {
    std::string got(count, '\0');
    const ssize_t n = ::recv(fd, got.data(), count, MSG_WAITALL);
    got.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return got;
}

// Takes the client's hello and its hold, as the line server does, after `before` (others'
// traffic the client is to drop: raw before the greeting, in records after it); the client's
// port is open from the server's answer on.
int acceptHello(EventLoop& loop, const UnixServer& server, std::string_view before = {}) {
    const int peer = server.accept();
    bool readable = false;
    const EventLoop::WatchId watch = loop.watch(peer, POLLIN, [&](short) {
        readable = true;
        loop.quit();
    });
    EXPECT_TRUE(runUntil(loop, [&] { return readable; }));
    loop.unwatch(watch);
    const std::string hello = readExactly(peer, wire::kHelloSize);
    EXPECT_EQ(wire::checkHello(hello), wire::HelloCheck::Complete);
    EXPECT_EQ(readExactly(peer, 7), wire::message(wire::kHold));
    const std::string answer =
        std::string(before) + hello + wire::dataRecord(before) + wire::message(wire::kHeld);
    ::send(peer, answer.data(), answer.size(), MSG_NOSIGNAL);
    return peer;
}

std::vector<std::string> split(const std::string& bytes, std::size_t at) {
    return {bytes.substr(0, at), bytes.substr(at)};
}

std::string receivedIn(const std::vector<CommEvent>& events) {
    std::string received;
    for (const CommEvent& e : events) {
        received += e.kind == Kind::Receive ? e.data : "";
    }
    return received;
}

TEST(LocalSocketTransport, ConnectingIsUnderWayWhenOpenReturnsAndItsEndIsReported) {
    struct Row {
        const char* name;
        bool bound;
        bool listening;
        Kind kind;
        std::string says;  // after "PATH: "
    };
    const Row rows[] = {
        {"no such socket", false, false, Kind::OpenFailed, "No such file or directory"},
        {"nothing listens", true, false, Kind::OpenFailed, "Connection refused"},
        {"a server listens", true, true, Kind::Opened, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const UnixServer server(row.bound, row.listening);
        EventLoop loop;
        Recorder seen(loop);
        LocalSocketTransport transport(loop, server.path);
        transport.setOnEvent(seen.handler());

        EXPECT_EQ(transport.open().outcome(), SerialResult::Outcome::UnderWay);
        EXPECT_TRUE(seen.events.empty()) << "reported inside open()";
        EXPECT_TRUE(transport.opening());
        const int peer = row.listening ? acceptHello(loop, server) : -1;
        ASSERT_TRUE(runUntil(loop, [&] { return seen.has(1); }));
        ASSERT_EQ(seen.events.size(), 1u);
        EXPECT_EQ(seen.events[0].kind, row.kind);
        EXPECT_EQ(seen.events[0].data, row.says.empty() ? "" : server.path + ": " + row.says);
        EXPECT_EQ(transport.isOpen(), row.kind == Kind::Opened);
        EXPECT_FALSE(transport.opening());
        if (peer >= 0) {
            ::close(peer);
        }
    }
}

TEST(LocalSocketTransport, HoldsTheLineTakesOutTheServersMessagesAndTellsALoss) {
    // The line server's bytes in pieces, each read on its own: the line's bytes around
    // messages split anywhere, then how the connection ends.
    struct Row {
        const char* name;
        std::vector<std::string> ending;  // after the line's bytes below
        std::string says;                 // the loss reported
    };
    const Row rows[] = {
        {"the line's device went away", split(wire::message(wire::kLost, "device gone"), 2),
         "pjline: device gone"},
        {"a frame was not written",
         {wire::message(wire::kRefused, "line down") + wire::dataRecord("11\r")},
         "pjline: not sent: line down"},
        {"records that make no sense", {"X\0\0"s}, "the line server's records make no sense"},
        {"the far end closes", {}, "the line server closed the connection"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const UnixServer server(true, true);
        EventLoop loop;
        Recorder seen(loop);
        PosixSerialControl serial(loop);
        serial.setOnComm(seen.handler());
        // A plain path that is a socket: a line server's, the baud no business of it.
        serial.setDevice(1, server.path);
        ASSERT_FALSE(serial.setSettings("9600,N,8,1").failed());
        ASSERT_EQ(serial.setPortOpen(true).outcome(), SerialResult::Outcome::UnderWay);
        // Before the server takes the hold the port is not open, and what it hears is others'.
        const int peer = acceptHello(loop, server, "\x06"s);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(runUntil(loop, [&] { return seen.has(1); }));
        ASSERT_EQ(seen.events[0].kind, Kind::Opened) << seen.events[0].data;
        // The frame waits for its turn: written once the server says it went out.
        EXPECT_EQ(serial.output("CR0\r").outcome(), SerialResult::Outcome::UnderWay);
        EXPECT_EQ(readExactly(peer, 7), wire::dataRecord("CR0\r"));
        const std::string sent = wire::message(wire::kSent);
        ::send(peer, sent.data(), sent.size(), MSG_NOSIGNAL);
        ASSERT_TRUE(runUntil(loop, [&] { return seen.events.back().kind == Kind::Written; }));

        // Each piece ends a data record, so that its arrival is seen; the records are split
        // anywhere else, and the line's bytes look like messages of old.
        const std::string stream = wire::dataRecord("00\r") + wire::message(wire::kBack) +
                                   wire::dataRecord("\0lost x\r"s) + wire::message("what") +
                                   wire::dataRecord("02\r");
        const std::pair<std::string, std::string> pieces[] = {
            {stream.substr(0, 9), "00\r"},
            {stream.substr(9, 16), "00\r\0lost x\r"s},
            {stream.substr(25), "00\r\0lost x\r02\r"s},
        };
        for (const auto& [piece, soFar] : pieces) {
            ASSERT_EQ(::send(peer, piece.data(), piece.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(piece.size()));
            ASSERT_TRUE(runUntil(loop, [&] { return receivedIn(seen.events) == soFar; }))
                << receivedIn(seen.events);
        }
        for (const std::string& piece : row.ending) {
            ASSERT_EQ(::send(peer, piece.data(), piece.size(), MSG_NOSIGNAL),
                      static_cast<ssize_t>(piece.size()));
        }
        if (row.ending.empty()) {
            ::close(peer);
        }
        ASSERT_TRUE(runUntil(loop, [&] { return seen.events.back().kind == Kind::DeviceLost; }));
        EXPECT_NE(seen.events.back().data.find(row.says), std::string::npos)
            << seen.events.back().data;
        // Like a network port: whatever answers there again is the line.
        EXPECT_TRUE(seen.events.back().sameDeviceKnown);
        EXPECT_FALSE(serial.portOpen());
        EXPECT_EQ(receivedIn(seen.events), "00\r\0lost x\r02\r"s);
        if (!row.ending.empty()) {
            // The connection was let go: the server sees its end.
            char byte = 0;
            EXPECT_EQ(::recv(peer, &byte, 1, 0), 0);
            ::close(peer);
        }
    }
}

TEST(LocalSocketTransport, AFrameThatGetsNoTurnInTimeCallsTheLineBusy) {
    const UnixServer server(true, true);
    EventLoop loop;
    Recorder seen(loop);
    LocalSocketTransport transport(loop, server.path, 200);
    transport.setOnEvent(seen.handler());
    ASSERT_EQ(transport.open().outcome(), SerialResult::Outcome::UnderWay);
    const int peer = acceptHello(loop, server);
    ASSERT_TRUE(runUntil(loop, [&] { return transport.isOpen(); }));
    EXPECT_EQ(transport.write("CR0\r").outcome(), SerialResult::Outcome::UnderWay);
    // The server never says it went out.
    ASSERT_TRUE(runUntil(loop, [&] { return seen.events.back().kind == Kind::DeviceLost; }));
    EXPECT_EQ(seen.events.back().data, "pjline: the line is busy: no turn within 0.2 s");
    EXPECT_FALSE(transport.isOpen());
    ::close(peer);
}

// The master side of a fresh pseudo-terminal; the slave's path is the serial device.
struct Terminal {
    Terminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
        }
        const char* name = ::ptsname(master);
        device = name != nullptr ? name : "";
    }
    ~Terminal() { hangUp(); }
    void hangUp() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

    int master;
    std::string device;
};

TEST(SerialDeviceTransport, HeldAloneCarriesBothWaysAndAHangUpIsOneLoss) {
    Terminal line;
    EventLoop loop;
    Recorder seen(loop);
    SerialDeviceTransport port(loop, line.device);
    port.setOnEvent(seen.handler());
    ASSERT_FALSE(port.applySettings({19200, 'N', 8, 1}).failed());
    const SerialResult opened = port.open();
    ASSERT_FALSE(opened.failed()) << opened.error();
    ASSERT_TRUE(port.isOpen());

    SerialDeviceTransport second(loop, line.device);
    EXPECT_TRUE(second.open().failed()) << "a second opener of a port held open";

    ASSERT_FALSE(port.write("CR0\r").failed());
    std::string out(4, '\0');
    EXPECT_EQ(::read(line.master, out.data(), out.size()), 4);
    EXPECT_EQ(out, "CR0\r");

    ASSERT_EQ(::write(line.master, "00\r", 3), 3);
    ASSERT_TRUE(runUntil(loop, [&] { return seen.has(1); }));
    EXPECT_EQ(seen.events[0].kind, Kind::Receive);
    EXPECT_EQ(seen.events[0].data, "00\r");

    line.hangUp();
    ASSERT_TRUE(runUntil(loop, [&] { return seen.events.back().kind == Kind::DeviceLost; }));
    EXPECT_FALSE(port.isOpen());
    // Closed at once: no second report of the same loss.
    LoopTimer later(loop);
    later.setInterval(50);
    later.setOnTimer([&] { loop.quit(); });
    later.setEnabled(true);
    loop.run();
    EXPECT_EQ(seen.events.size(), 2u);
    EXPECT_EQ(port.write("x").error(), "the port is not open");
}

}  // namespace
}  // namespace pj::posix
