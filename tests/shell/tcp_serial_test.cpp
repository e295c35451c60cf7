// SPDX-License-Identifier: Apache-2.0
// The serial control on a network port: the core on QTcpSocket against the simulator
// serving the line over TCP on loopback, as a serial device server in raw TCP mode would.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "qtio/headless_panel.h"
#include "shell/event_loop.h"
#include "shell/panel_on_line.h"
#include "sim/line_server.h"
#include "support/fakes.h"

namespace pj {
namespace {

using test::runFor;
using test::runUntil;

sim::LineOptions overTcp() {
    sim::LineOptions options;
    options.listenPort = 0;
    return options;
}

class TcpLine : public ::testing::Test, protected HeadlessPanel {
  protected:
    void load(const std::string& device) {
        form.setObserver(&seen);
        HeadlessPanel::load(QString::fromStdString(device));
    }
    void send(std::string_view command) { form.send(command); }

    sim::LineServer server{overTcp()};
    test::Seen seen;
};

TEST_F(TcpLine, FramesGoOutAndRepliesAreDecodedWhateverTheLineSpeed) {
    ASSERT_FALSE(server.start());
    load(server.path());
    // The connection is made in the background; the window is never held up for it.
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); })) << window.portNotice;
    ASSERT_TRUE(window.boxes.empty());

    form.Click(ControlId::Option5);
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.readOut(" Power ON"); }));
    EXPECT_EQ(window.caption(ControlId::Label12), " 0 0 CR ");

    // The reply window ends and the receive buffer is emptied.
    ASSERT_TRUE(runUntil([&] { return form.state().RxBuffer.empty(); }));
    // Speed changes are taken and have no effect on a network port.
    form.Click(ControlId::Option10);
    EXPECT_TRUE(serial.portOpen());
    send("CR PRESSURE");
    ASSERT_TRUE(runUntil([&] { return seen.readOut("650 hPa"); }));

    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].text, "A001CR0");
    EXPECT_EQ(frames[1].text, "A001CR PRESSURE");
}

TEST_F(TcpLine, DroppedConnectionIsALostDeviceAndIsReopenedWhenTheServerIsBack) {
    ASSERT_FALSE(server.start());
    load(server.path());
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); }));

    server.dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    EXPECT_EQ(window.portNotice, "COM1 lost: the device went away");
    runFor(1500);  // a retry or two against a refused connection
    EXPECT_FALSE(serial.portOpen());
    send("C00");
    EXPECT_EQ(window.caption(ControlId::Label11), " NOT SENT - COM1: the port is not open");

    ASSERT_FALSE(server.reopen());
    ASSERT_TRUE(runUntil([&] { return serial.portOpen(); }, 2500));
    EXPECT_EQ(window.portNotice, "COM1 is back");
    EXPECT_TRUE(window.boxes.empty());
    send("CR1");
    ASSERT_TRUE(runUntil([&] { return seen.readOut(" Input mode 1"); }));
}

TEST_F(TcpLine, AddressThatCannotBeReachedIsReportedInTheWarningBox) {
    struct Case {
        std::string device;
        std::string says;
    };
    // The simulator is not started: its port refuses connections.
    const Case cases[] = {
        {"tcp://127.0.0.1:1", "127.0.0.1:1: Connection refused"},
        {"tcp://127.0.0.1", "no port number (1 to 65535) after the host"},
        {"tcp://127.0.0.1:70000", "no port number (1 to 65535) after the host"},
        {"tcp://:4001", "the host is missing"},
        {"tcp://127.0.0.1:4001/x?y", "no port number (1 to 65535) after the host"},
        {"tcp://user@pj:4001", "only a host and a port number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        serial.setDevice(2, QString::fromStdString(c.device));
        window.boxes.clear();
        form.Click(ControlId::Option2);
        ASSERT_TRUE(runUntil([&] { return !window.boxes.empty(); }));
        runFor(50);  // and no second box follows
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_NE(window.boxes[0].text.find(c.says), std::string::npos) << window.boxes[0].text;
        EXPECT_FALSE(serial.portOpen());
    }
}

// A listening socket whose queue of finished handshakes is full and never taken from: the
// handshake of any further connection never completes, like a host that does not answer.
class BlackHole {
  public:
    explicit BlackHole(std::uint16_t port = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 0) == 0;
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        // Fill the queue.
        for (int& filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~BlackHole() {
        for (const int filler : fillers_) {
            ::close(filler);
        }
        ::close(fd_);
    }
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;

    bool bound() const { return bound_; }
    std::string device() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

  private:
    int fd_ = -1;
    std::array<int, 3> fillers_{};
    bool bound_ = false;
    std::uint16_t port_ = 0;
};

// How late the event loop runs a 10 ms tick, at worst, while `ms` pass.
class Lateness {
  public:
    explicit Lateness(int ms) {
        tick_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            worst_ = std::max(worst_, now - last_ - kTickMs);
            last_ = now;
        });
        clock_.start();
        tick_.start(kTickMs);
        until_ = ms;
    }
    // Runs `during` from inside the loop, then keeps the loop turning until the time is up.
    qint64 worstAfter(const std::function<void()>& during) {
        QTimer::singleShot(0, during);
        runFor(static_cast<int>(until_));
        return worst_;
    }

  private:
    static constexpr qint64 kTickMs = 10;
    QTimer tick_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
    qint64 until_ = 0;
};

// A connection made in the foreground would hold the loop for the whole connect time-out
// (seconds); a busy machine delays a tick by tens of milliseconds now and then.
constexpr qint64 kMostLateMs = 500;

TEST_F(TcpLine, HostThatNeverAnswersHoldsTheWindowUpNeitherAtStartUpNorWhileRetrying) {
    BlackHole hole;
    ASSERT_TRUE(hole.bound());
    // Start-up: the port is opened, and "COM1" selected, with the connection under way.
    const qint64 atStartUp = Lateness(1500).worstAfter([&] { load(hole.device()); });
    EXPECT_LE(atStartUp, kMostLateMs);
    ASSERT_FALSE(serial.portOpen()) << "the handshake completed: the test proves nothing";
    EXPECT_EQ(window.portNotice, "COM1 is connecting");
    send("C00");
    EXPECT_EQ(window.caption(ControlId::Label11),
              " NOT SENT - COM1: " + hole.device().substr(6) + ": still connecting");

    // A link that was up, lost, and retried against a host that no longer answers.
    QTcpServer up;
    ASSERT_TRUE(up.listen(QHostAddress::LocalHost));
    const auto port = up.serverPort();
    serial.setDevice(2, QStringLiteral("tcp://127.0.0.1:%1").arg(port));
    form.Click(ControlId::Option2);
    ASSERT_TRUE(runUntil([&] { return serial.portOpen() && up.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> far(up.nextPendingConnection());
    up.close();
    far->abort();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    BlackHole sameAddress(port);
    ASSERT_TRUE(sameAddress.bound());
    const qint64 whileRetrying = Lateness(2500).worstAfter([] {});
    EXPECT_LE(whileRetrying, kMostLateMs);
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(window.portNotice, "COM2 lost: the device went away");
    EXPECT_TRUE(window.boxes.empty());
}

}  // namespace
}  // namespace pj
