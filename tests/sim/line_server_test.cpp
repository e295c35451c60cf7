// SPDX-License-Identifier: Apache-2.0
#include "sim/line_server.h"
#include "sim/replay.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace pj::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The panel's end of the line: opened and made raw as a serial port would be.
class PanelEnd {
  public:
    explicit PanelEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~PanelEnd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PanelEnd(const PanelEnd&) = delete;
    PanelEnd& operator=(const PanelEnd&) = delete;

    // A client of the line served at "tcp://127.0.0.1:PORT".
    static PanelEnd connectTo(const std::string& url) {
        const auto port = static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return PanelEnd(-1);
        }
        return PanelEnd(fd);
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool write(std::string_view bytes) const {
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes have come or `timeout` has passed.
    std::string read(std::size_t count, std::chrono::milliseconds timeout = 2000ms) const {
        std::string got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = std::chrono::ceil<Millis>(deadline - Clock::now());
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || (p.revents & POLLIN) == 0) {
                break;
            }
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // True once the far end has gone away.
    bool hungUp(std::chrono::milliseconds timeout) const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0 &&
               (p.revents & (POLLHUP | POLLERR)) != 0;
    }

    // True once the far end has closed the connection.
    bool closedByPeer(std::chrono::milliseconds timeout) const {
        pollfd p{fd_, POLLIN, 0};
        char c = 0;
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0 && ::read(fd_, &c, 1) == 0;
    }

  private:
    explicit PanelEnd(int fd) : fd_(fd) {}

    int fd_;
};

class LineServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pjsim-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string link() const { return (dir_ / "projector").string(); }
    LineOptions linked() const {
        LineOptions options;
        options.link = link();
        return options;
    }

    std::filesystem::path dir_;
};

TEST_F(LineServerTest, AnswersOverAPseudoTerminalThroughItsLink) {
    LineServer server(linked());
    ASSERT_FALSE(server.start().has_value());
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), server.path());

    PanelEnd panel(link());
    ASSERT_TRUE(panel.isOpen());
    const Millis before = LineServer::clock();
    ASSERT_TRUE(panel.write("CR0\r"));
    EXPECT_EQ(panel.read(3), "00\r");

    // Another projector's frame is ignored; ours are acted on, in order.
    ASSERT_TRUE(panel.write("A002C06\rC07\rCR1\r"));
    EXPECT_EQ(panel.read(3),
              "\x06"
              "3\r");
    EXPECT_EQ(panel.read(1, 100ms), "") << "nothing more was due";
    const Millis after = LineServer::clock();

    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].text, "CR0");
    EXPECT_EQ(frames[1].text, "A002C06");
    for (const ReceivedFrame& f : frames) {
        EXPECT_GE(f.at, before);
        EXPECT_LE(f.at, after);
    }

    server.stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link())));
}

TEST_F(LineServerTest, DeliversDelayedAnswersPieceByPiece) {
    LineServer server(LineOptions{});
    server.withProjector([](Projector& p) {
        p.settings().replyDelay = 50ms;
        p.settings().splitSize = 1;
        p.settings().splitGap = 40ms;
    });
    ASSERT_FALSE(server.start().has_value());
    PanelEnd panel(server.path());
    ASSERT_TRUE(panel.isOpen());

    const auto sent = Clock::now();
    ASSERT_TRUE(panel.write("CR0\r"));
    EXPECT_EQ(panel.read(1), "0");
    const auto first = Clock::now();
    EXPECT_EQ(panel.read(2), "0\r");
    const auto last = Clock::now();
    // Never before their time (a busy machine may only make them later, and so bring two
    // pieces to a late reader at once): the first after the delay, the last two gaps on.
    EXPECT_GE(first - sent, 45ms);
    EXPECT_GE(last - sent, 45ms + 2 * 40ms);
}

TEST_F(LineServerTest, ServesEveryProjectorOfABusEachReachedByItsIndex) {
    LineServer server(LineOptions{}, Bus::withAddresses({1, 2, 3}, ProjectorSettings{}));
    server.withProjector(1, [](Projector& p) { p.state().input = 4; });
    server.withProjector(2, [](Projector& p) {
        p.state().input = 5;
        p.settings().replyDelay = 40ms;
    });
    EXPECT_THROW(server.withProjector(3, [](Projector&) {}), std::out_of_range);
    ASSERT_FALSE(server.start().has_value());
    PanelEnd panel(server.path());
    ASSERT_TRUE(panel.isOpen());

    ASSERT_TRUE(panel.write("A002CR1\r"));
    EXPECT_EQ(panel.read(2), "4\r");
    ASSERT_TRUE(panel.write("A003CR1\rA001CR1\r"));
    EXPECT_EQ(panel.read(4), "1\r5\r") << "projector 3 later, on its own delay";
    // The first projector is still the one withProjector(f) reaches.
    EXPECT_EQ(server.withProjector([](Projector& p) { return p.settings().address; }), 1);
    EXPECT_EQ(server.frameCount(), 3u) << "frames the line carried, once each";

    LineServer replaying(LineOptions{}, std::make_unique<Replay>(Recording{}));
    EXPECT_THROW(replaying.withProjector([](Projector&) {}), std::logic_error);
}

TEST_F(LineServerTest, ThrottleTakesBytesAtTheLineRate) {
    LineOptions options;
    options.baud = 9600;
    options.throttle = true;
    LineServer server(options);
    ASSERT_FALSE(server.start().has_value());
    PanelEnd panel(server.path());
    ASSERT_TRUE(panel.isOpen());

    // 100 bytes at 9600 baud, ten bits each: about 104 ms on a real line.
    const Millis sent = LineServer::clock();
    ASSERT_TRUE(panel.write(std::string(99, 'x') + "\r"));
    EXPECT_EQ(panel.read(2), "?\r");
    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GE(frames[0].at - sent, 95ms);
    EXPECT_LT(frames[0].at - sent, 1000ms);
}

TEST_F(LineServerTest, DropAndReopenIsAnUnplugAndReplug) {
    LineServer server(linked());
    ASSERT_FALSE(server.start().has_value());
    {
        PanelEnd panel(link());
        ASSERT_TRUE(panel.isOpen());
        ASSERT_TRUE(panel.write("C07\r"));
        EXPECT_EQ(panel.read(1), "\x06");

        server.dropLine();
        EXPECT_TRUE(panel.hungUp(1000ms));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link())));
        EXPECT_FALSE(PanelEnd(link()).isOpen());
    }

    ASSERT_FALSE(server.reopen().has_value());
    EXPECT_EQ(std::filesystem::read_symlink(link()).string(), server.path());
    PanelEnd panel(link());
    ASSERT_TRUE(panel.isOpen());
    ASSERT_TRUE(panel.write("CR1\r"));
    EXPECT_EQ(panel.read(2), "3\r") << "the same projector is behind the new line";
}

TEST_F(LineServerTest, RefusesToReplaceAFileWithItsLink) {
    { std::ofstream(link()) << "keep"; }
    LineServer server(linked());
    EXPECT_TRUE(server.start().has_value());
    EXPECT_FALSE(server.running());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(link())));
}

TEST_F(LineServerTest, ServesAgainWhenThePanelOpensTheLineAfterAHangUp) {
    LineServer server(LineOptions{});
    ASSERT_FALSE(server.start().has_value());
    // Open and close once, so the terminal reports a hang-up from now on.
    {
        PanelEnd panel(server.path());
        ASSERT_TRUE(panel.write("CR0\r"));
        EXPECT_EQ(panel.read(3), "00\r");
    }
    // (What the hung-up wait costs in processor time is measured by `pjsoak idle`.)
    // The panel opens the port again: the line serves as before.
    PanelEnd panel(server.path());
    ASSERT_TRUE(panel.write("CR1\r"));
    EXPECT_EQ(panel.read(2), "1\r");
    EXPECT_EQ(server.frameCount(), 2u);
}

TEST_F(LineServerTest, ServesOneTcpClientAtATimeAndTellsASecondOneTheLineIsInUse) {
    LineOptions options;
    options.listenPort = 0;
    LineServer server(options);
    ASSERT_FALSE(server.start().has_value());
    ASSERT_EQ(server.path().rfind("tcp://127.0.0.1:", 0), 0u) << server.path();

    PanelEnd first = PanelEnd::connectTo(server.path());
    ASSERT_TRUE(first.isOpen());
    ASSERT_TRUE(first.write("CR0\r"));
    EXPECT_EQ(first.read(3), "00\r");

    // The newcomer is told and let go; the line stays with the first, which is not disturbed.
    for (int attempt = 0; attempt < 3; ++attempt) {
        PanelEnd second = PanelEnd::connectTo(server.path());
        ASSERT_TRUE(second.isOpen());
        EXPECT_EQ(second.read(45), "pjsim: the line is in use by another client\r\n");
        EXPECT_TRUE(second.closedByPeer(1000ms));
    }
    ASSERT_TRUE(first.write("CR1\r"));
    EXPECT_EQ(first.read(2), "1\r");
    EXPECT_TRUE(server.clientConnected());
}

TEST_F(LineServerTest, TcpClientThatNeverReadsIsDroppedAndTheNextGetsOnlyItsOwnAnswers) {
    LineOptions options;
    options.listenPort = 0;
    LineServer server(options);
    ASSERT_FALSE(server.start().has_value());
    // Every answer comes behind a megabyte of noise.
    server.withProjector([](Projector& p) { p.settings().noise = std::string(1 << 20, '?'); });
    {
        PanelEnd deaf = PanelEnd::connectTo(server.path());
        ASSERT_TRUE(deaf.write("CR0\r"));
        // Reads nothing: the server lets it go rather than queue without bound.
        const auto deadline = Clock::now() + 5s;
        while (server.frameCount() == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        while (server.clientConnected() && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_FALSE(server.clientConnected());
    }
    server.withProjector([](Projector& p) { p.settings().noise.clear(); });
    PanelEnd next = PanelEnd::connectTo(server.path());
    ASSERT_TRUE(next.isOpen());
    ASSERT_TRUE(next.write("CR1\r"));
    EXPECT_EQ(next.read(2), "1\r") << "nothing queued for the client before";
}

TEST_F(LineServerTest, EachOpenerOfTheTerminalFindsItFreshBehindTheLink) {
    LineOptions options;
    options.link = link();
    LineServer server(options);
    ASSERT_FALSE(server.start().has_value());
    const std::string first = server.path();
    {
        // An opener that takes the line for itself and ends without giving it back.
        PanelEnd greedy(options.link);
        ASSERT_TRUE(greedy.isOpen());
        ASSERT_EQ(::ioctl(greedy.fd(), TIOCEXCL), 0);
        ASSERT_TRUE(greedy.write("CR0\r"));
        EXPECT_EQ(greedy.read(3), "00\r");
    }
    // The next opener, by the same link, finds a fresh terminal, with no lock left on it.
    const auto linked = [&] { return std::filesystem::read_symlink(options.link).string(); };
    const auto deadline = Clock::now() + 3s;
    while (linked() == first && Clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_NE(linked(), first);
    EXPECT_EQ(linked(), server.path());
    PanelEnd next(options.link);
    ASSERT_TRUE(next.isOpen());
    int exclusive = -1;
    ASSERT_EQ(::ioctl(next.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ASSERT_TRUE(next.write("CR1\r"));
    EXPECT_EQ(next.read(2), "1\r");
}

TEST_F(LineServerTest, TcpStopClosesTheConnectionAndStartListensOnTheSamePortAgain) {
    LineOptions options;
    options.listenPort = 0;
    LineServer server(options);
    ASSERT_FALSE(server.start().has_value());
    const std::string path = server.path();
    {
        PanelEnd panel = PanelEnd::connectTo(path);
        ASSERT_TRUE(panel.write("C07\r"));
        EXPECT_EQ(panel.read(1), "\x06");
        server.dropLine();
        EXPECT_TRUE(panel.closedByPeer(1000ms));
        EXPECT_FALSE(PanelEnd::connectTo(path).isOpen());
    }

    ASSERT_FALSE(server.reopen().has_value());
    EXPECT_EQ(server.path(), path);
    PanelEnd panel = PanelEnd::connectTo(path);
    ASSERT_TRUE(panel.write("CR1\r"));
    EXPECT_EQ(panel.read(2), "3\r") << "the same projector is behind the new connection";
}

}  // namespace
}  // namespace pj::sim
