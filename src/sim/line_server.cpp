// SPDX-License-Identifier: Apache-2.0
#include "sim/line_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "posix/terminal.h"

namespace pj::sim {

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

// The longest the serving thread waits before looking at the model and the stop flag again.
constexpr Millis kMaxWait{10};
// The pause after a hang-up: nobody has the terminal's slave side open, and the terminal
// cannot say when someone does; short, so that a new opener is answered at once.
constexpr Millis kHangupPause{1};
// How long a terminal stays hung up before it is looked at for a lock left behind.
constexpr Millis kSettleBeforeLooking{50};
// The most bytes waiting for a TCP client to read them; a client that lets more pile up is
// not reading, and is dropped so that the line is not held up for it.
constexpr std::size_t kMostQueuedBytes = 64 * 1024;
// What a second TCP client is told before its connection is closed.
constexpr std::string_view kLineInUse = "pjsim: the line is in use by another client\r\n";

std::string systemError(std::string_view what) {
    return std::string(what) + ": " + std::strerror(errno);
}

Millis toMillis(Clock::time_point t) {
    return std::chrono::duration_cast<Millis>(t.time_since_epoch());
}

// What a UART receiving at `receiverBaud` makes of bytes sent at `senderBaud`, the two a
// factor of two apart. A receiver at twice the speed sees each sent bit twice, the start bit
// as its own start bit and a first data bit of 0; one at half the speed sees every other
// sent bit, and the stop bit and idle line as ones. A carriage return passes, and no other
// byte comes out as a carriage return or an ACK, so that frames still end where they did.
std::string garbled(std::string_view bytes, int senderBaud, int receiverBaud) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto sent = static_cast<unsigned char>(c);
        unsigned seen = 0;
        if (c == '\r') {
            seen = sent;
        } else if (receiverBaud > senderBaud) {
            // Receiver bits 1..7 are sent bits 0, 0, 1, 1, 2, 2, 3.
            for (unsigned bit = 1; bit < 8; ++bit) {
                seen |= ((sent >> (bit / 2)) & 1U) << bit;
            }
        } else {
            // Receiver bits 0..3 are sent bits 1, 3, 5, 7; then stop bit and idle line.
            for (unsigned bit = 0; bit < 4; ++bit) {
                seen |= ((sent >> (2 * bit + 1)) & 1U) << bit;
            }
            seen |= 0xF0U;
        }
        if (c != '\r' && (seen == '\r' || seen == 0x06)) {
            seen |= 0x80U;
        }
        out += static_cast<char>(seen);
    }
    return out;
}

bool isLinkTo(const std::string& link, const std::string& target) {
    std::array<char, 4096> text{};
    const ssize_t n = ::readlink(link.c_str(), text.data(), text.size() - 1);
    return n >= 0 && std::string_view(text.data(), static_cast<std::size_t>(n)) == target;
}

}  // namespace

LineServer::LineServer(LineOptions options, Projector projector)
    : LineServer(std::move(options), Bus(std::vector<Projector>{std::move(projector)})) {}

LineServer::LineServer(LineOptions options, Bus bus)
    : LineServer(std::move(options), std::make_unique<Bus>(std::move(bus))) {}

LineServer::LineServer(LineOptions options, std::unique_ptr<FarEnd> farEnd)
    : options_(std::move(options)), farEnd_(std::move(farEnd)) {
    bus_ = dynamic_cast<Bus*>(farEnd_.get());
    if (options_.trace) {
        farEnd_->setFrameObserver(
            [trace = options_.trace](const ReceivedFrame& f) { trace('<', f.text); });
    }
}

LineServer::~LineServer() {
    stop();
}

Millis LineServer::clock() {
    return toMillis(Clock::now());
}

std::string LineServer::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::vector<ReceivedFrame> LineServer::frames() const {
    std::lock_guard lock(mutex_);
    return farEnd_->frames();
}

std::size_t LineServer::frameCount() const {
    std::lock_guard lock(mutex_);
    return farEnd_->frameCount();
}

LineError LineServer::start() {
    if (running_.load()) {
        return std::nullopt;
    }
    if (options_.baud != 19200 && options_.baud != 9600) {
        return "line rate must be 19200 or 9600";
    }
    if (options_.listenPort) {
        if (!options_.device.empty() || !options_.link.empty()) {
            return "a line served over TCP has no device and no link";
        }
        if (LineError error = openListener()) {
            return error;
        }
        stopping_.store(false);
        running_.store(true);
        thread_ = std::thread(&LineServer::serve, this);
        return std::nullopt;
    }
    if (LineError error = openLine()) {
        return error;
    }
    if (LineError error = makeLink()) {
        ::close(fd_);
        fd_ = -1;
        std::lock_guard lock(mutex_);
        path_.clear();
        return error;
    }
    stopping_.store(false);
    running_.store(true);
    thread_ = std::thread(&LineServer::serve, this);
    return std::nullopt;
}

void LineServer::stop() {
    if (!running_.load()) {
        return;
    }
    stopping_.store(true);
    thread_.join();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
    clientConnected_.store(false);
    removeLink();
    {
        std::lock_guard lock(mutex_);
        path_.clear();
    }
    running_.store(false);
}

LineError LineServer::openLine() {
    std::string path = options_.device;
    int fd = -1;
    if (path.empty()) {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0) {
            return systemError("posix_openpt");
        }
        std::array<char, 256> name{};
        if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 ||
            ::ptsname_r(fd, name.data(), name.size()) != 0) {
            LineError error = systemError("pseudo-terminal");
            ::close(fd);
            return error;
        }
        path = name.data();
    } else {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            return systemError(path);
        }
    }
    // On a pseudo-terminal this sets the line discipline the slave side shares: no echo, no
    // translation of carriage returns, every byte passed on as it comes.
    if (const SerialResult raw = posix::setRawLine(fd, LineParams{options_.baud}); raw.failed()) {
        ::close(fd);
        return "terminal settings: " + raw.error();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    fd_ = fd;
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
    return std::nullopt;
}

LineError LineServer::openListener() {
    // Once bound, the same port is used again after a stop, as a device server keeps its own.
    const int port = boundPort_ != 0 ? boundPort_ : *options_.listenPort;
    if (port < 0 || port > 65535) {
        return "TCP port must be 0 to 65535";
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, options_.listenAddress.c_str(), &address.sin_addr) != 1) {
        return options_.listenAddress + ": not an IPv4 address";
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return systemError("socket");
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    socklen_t length = sizeof address;
    if (::bind(fd, generic, length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, generic, &length) != 0) {
        LineError error = systemError(options_.listenAddress + ":" + std::to_string(port));
        ::close(fd);
        return error;
    }
    boundPort_ = ntohs(address.sin_port);
    listenFd_ = fd;
    fd_ = -1;
    std::lock_guard lock(mutex_);
    path_ = "tcp://" + options_.listenAddress + ":" + std::to_string(boundPort_);
    return std::nullopt;
}

void LineServer::acceptClient() {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) {
        return;
    }
    if (fd_ >= 0) {
        // The line has its client: the newcomer is told so and let go, and the line stays
        // with the one that has it.
        ::send(client, kLineInUse.data(), kLineInUse.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(client);
        return;
    }
    outbox_.clear();
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fd_ = client;
    clientConnected_.store(true);
}

void LineServer::dropClient() {
    if (listenFd_ >= 0 && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        clientConnected_.store(false);
        // What was on its way to the client that left is not the next one's.
        outbox_.clear();
    }
}

void LineServer::renewTerminal() {
    const int old = fd_;
    const std::string oldPath = path();
    fd_ = -1;
    if (openLine() || makeLink()) {
        // No fresh terminal to be had: the old one goes on being served.
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = old;
        std::lock_guard lock(mutex_);
        path_ = oldPath;
        return;
    }
    outbox_.clear();
    ::close(old);
}

LineError LineServer::makeLink() {
    if (options_.link.empty()) {
        return std::nullopt;
    }
    struct stat info {};
    if (::lstat(options_.link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        return options_.link + ": exists and is not a symbolic link";
    }
    // Made beside it and renamed over it, so that the link is never missing for an opener.
    const std::string fresh = options_.link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(path().c_str(), fresh.c_str()) != 0) {
        return systemError(options_.link);
    }
    if (::rename(fresh.c_str(), options_.link.c_str()) != 0) {
        LineError error = systemError(options_.link);
        ::unlink(fresh.c_str());
        return error;
    }
    return std::nullopt;
}

void LineServer::removeLink() {
    if (!options_.link.empty() && isLinkTo(options_.link, path())) {
        ::unlink(options_.link.c_str());
    }
}

void LineServer::hungUp() {
    // The last opener of a terminal of our own has let go of it. One that was ended without
    // closing it may have left it exclusive, and the next opener would be turned away: then
    // a fresh terminal takes its place behind the link. A terminal let go of cleanly stays,
    // so that openers in quick succession never meet one being replaced.
    // It is looked at only once nobody has opened it again for a while, so as not to meet an
    // opener on its way in.
    const Clock::time_point now = Clock::now();
    if (!hungUpSince_) {
        hungUpSince_ = now;
    }
    if (options_.device.empty() && !foundFree_ && now - *hungUpSince_ >= kSettleBeforeLooking) {
        if (leftLocked()) {
            renewTerminal();
            hungUpSince_.reset();
        } else {
            foundFree_ = true;
        }
    }
    std::this_thread::sleep_for(kHangupPause);
}

int LineServer::mismatchedBaud() const {
    if (!options_.strictBaud || !options_.device.empty() || listenFd_ >= 0 || fd_ < 0) {
        return 0;
    }
    // On Linux the master side reads the termios of the slave side, which the opener set.
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        return 0;
    }
    const int baud = posix::baudOf(::cfgetospeed(&t));
    return baud != 0 && baud != options_.baud ? baud : 0;
}

bool LineServer::leftLocked() const {
    const std::string slave = path();
    const int probe = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) {
        return errno == EBUSY;
    }
    int exclusive = 0;
    const bool locked = ::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    ::close(probe);
    return locked;
}

void LineServer::serve() {
    const Nanos byteTime{10'000'000'000LL / options_.baud};
    Clock::time_point nextByteAt = Clock::now();  // when the throttle lets the next byte in
    bool drained = true;  // the line was found empty: the next byte starts a fresh burst
    std::array<char, 4096> buffer{};
    const bool tcp = listenFd_ >= 0;

    while (!stopping_.load()) {
        const Clock::time_point now = Clock::now();
        Millis wait = kMaxWait;
        {
            std::lock_guard lock(mutex_);
            farEnd_->advance(toMillis(now));
            const std::string output = farEnd_->pollOutput(toMillis(now));
            const int openerBaud = output.empty() ? 0 : mismatchedBaud();
            outbox_ += openerBaud != 0 ? garbled(output, options_.baud, openerBaud) : output;
            if (const auto due = farEnd_->nextDue()) {
                wait = std::clamp(*due - toMillis(now), Millis{0}, wait);
            }
        }
        if (!outbox_.empty() && fd_ < 0) {
            outbox_.clear();  // no client on the line: the bytes are lost, as on a wire
        }
        if (tcp && outbox_.size() > kMostQueuedBytes) {
            dropClient();  // a client that does not read
        }
        if (!outbox_.empty()) {
            // A socket must not raise SIGPIPE when its client has just gone.
            const ssize_t n = tcp ? ::send(fd_, outbox_.data(), outbox_.size(), MSG_NOSIGNAL)
                                  : ::write(fd_, outbox_.data(), outbox_.size());
            if (n > 0) {
                if (options_.trace) {
                    options_.trace(
                        '>', std::string_view(outbox_).substr(0, static_cast<std::size_t>(n)));
                }
                outbox_.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                outbox_.clear();  // nobody on the line: the bytes are lost, as on a wire
                if (tcp) {
                    dropClient();
                }
            }
        }

        short events = POLLIN;
        if (options_.throttle && !drained && now < nextByteAt) {
            events = 0;
            wait = std::min(wait, std::chrono::ceil<Millis>(nextByteAt - now));
        }
        if (!outbox_.empty()) {
            events = static_cast<short>(events | POLLOUT);
        }
        // The line first (absent while no client is connected), then the listener.
        std::array<pollfd, 2> polled{pollfd{fd_, events, 0}, pollfd{listenFd_, POLLIN, 0}};
        const int ready = ::poll(polled.data(), tcp ? 2 : 1, static_cast<int>(wait.count()));
        if (ready < 0) {
            continue;
        }
        if (tcp && (polled[1].revents & POLLIN) != 0) {
            acceptClient();
            drained = true;
            continue;
        }
        const pollfd& p = polled[0];
        if (fd_ < 0) {
            continue;
        }
        if ((p.revents & POLLHUP) == 0) {
            // Someone has the line open again.
            foundFree_ = false;
            hungUpSince_.reset();
        }
        if ((p.revents & POLLIN) != 0) {
            const Clock::time_point at = Clock::now();
            std::size_t allowed = buffer.size();
            if (options_.throttle) {
                if (drained) {
                    nextByteAt = at;
                    drained = false;
                }
                const auto owed = std::max<Nanos::rep>((at - nextByteAt) / byteTime, 0) + 1;
                allowed = std::min(allowed, static_cast<std::size_t>(owed));
            }
            const ssize_t got = ::read(fd_, buffer.data(), allowed);
            if (got > 0) {
                const auto count = static_cast<std::size_t>(got);
                nextByteAt += byteTime * got;
                drained = count < allowed;
                const std::string_view bytes(buffer.data(), count);
                if (options_.loopback) {
                    outbox_ += bytes;  // written back on the loop's next turn
                    continue;
                }
                const int openerBaud = mismatchedBaud();
                std::lock_guard lock(mutex_);
                // Rounded up, so that nothing timed from the arrival goes out early.
                farEnd_->feed(openerBaud != 0 ? garbled(bytes, openerBaud, options_.baud)
                                              : std::string(bytes),
                              std::chrono::ceil<Millis>(at.time_since_epoch()));
            } else if (tcp && (got == 0 || (errno != EAGAIN && errno != EINTR))) {
                dropClient();  // the client closed its end, or the connection broke
            } else if (got < 0 && errno == EIO) {
                hungUp();
            }
        } else if (tcp && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            dropClient();
        } else if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            hungUp();
        } else if ((events & POLLIN) != 0) {
            drained = true;
        }
    }
}

}  // namespace pj::sim
