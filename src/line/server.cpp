// SPDX-License-Identifier: Apache-2.0
#include "line/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "link/tcp_endpoint.h"
#include "posix/device_lock.h"
#include "posix/serial_device_transport.h"
#include "posix/tcp_transport.h"

namespace pj::line {
namespace {

std::string errnoText(std::string_view what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Who is at the other end of a local connection, by its process, for the log.
std::string localPeer(int fd, std::size_t serial) {
    ucred cred{};
    socklen_t size = sizeof cred;
    std::string name = "local client " + std::to_string(serial);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.pid > 0) {
        std::ifstream comm("/proc/" + std::to_string(cred.pid) + "/comm");
        std::string program;
        std::getline(comm, program);
        name += " (" + (program.empty() ? std::string("pid") : program + " pid") + " " +
                std::to_string(cred.pid) + ")";
    }
    return name;
}

std::string tcpPeer(const sockaddr_storage& address, std::size_t serial) {
    return "tcp client " + std::to_string(serial) + " (" + peerAddress(address) + ")";
}

// A socket of `type` bound to `where` (listening, for a stream), or -1 with `error` said.
int boundSocket(const ListenAddress& where, int type, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(where.port);
    const int looked = getaddrinfo(where.host.empty() ? nullptr : where.host.c_str(), port.c_str(),
                                   &hints, &found);
    if (looked != 0) {
        error = "cannot listen on " + where.host + ":" + port + ": " + gai_strerror(looked);
        return -1;
    }
    int bound = -1;
    std::string why;
    for (const addrinfo* a = found; a != nullptr && bound < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int yes = 1;
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            ::bind(fd, a->ai_addr, a->ai_addrlen) == 0 &&
            (type != SOCK_STREAM || ::listen(fd, 16) == 0)) {
            bound = fd;
        } else {
            why = std::strerror(errno);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    freeaddrinfo(found);
    if (bound < 0) {
        error = "cannot listen on " +
                (where.host.empty() ? std::string("port ") : where.host + ":") + port + ": " + why;
    }
    return bound;
}

}  // namespace

int listenTcpOn(const ListenAddress& where, std::string& error) {
    return boundSocket(where, SOCK_STREAM, error);
}

int bindUdpOn(const ListenAddress& where, std::string& error) {
    return boundSocket(where, SOCK_DGRAM, error);
}

std::string peerAddress(const sockaddr_storage& peer) {
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, host, sizeof host, port,
                sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(host) + ":" + port;
}

bool allowedPeer(const std::vector<AddressRange>& allow, const sockaddr_storage& peer) {
    if (allow.empty()) {
        return true;
    }
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    if (peer.ss_family == AF_INET) {
        bytes = reinterpret_cast<const std::uint8_t*>(
            &reinterpret_cast<const sockaddr_in&>(peer).sin_addr);
        size = 4;
    } else if (peer.ss_family == AF_INET6) {
        bytes = reinterpret_cast<const std::uint8_t*>(
            &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr);
        size = 16;
    }
    return bytes != nullptr &&
           std::any_of(allow.begin(), allow.end(),
                       [&](const AddressRange& range) { return range.contains(bytes, size); });
}

void tuneTcpClient(int fd) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &yes, sizeof yes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &Server::kKeepIdleS, sizeof Server::kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &Server::kKeepIntervalS,
                 sizeof Server::kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &Server::kKeepCount, sizeof Server::kKeepCount);
}

// A client's connection: what it sends goes to the hub, what the line brings is written to it
// as fast as it reads, and a client that falls too far behind is let go.
class Server::Connection final : public ClientLink {
  public:
    Connection(Server& server, int fd, std::string name, bool local)
        : server_(server), fd_(fd), name_(std::move(name)), local_(local), idle_(server.loop_) {
        watch_ = server_.loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
        id_ = server_.hub_.attach(*this, name_);
        // A TCP client that says nothing for the idle time is let go: a slot held by a
        // client that forgot the line is a slot lost to everyone else.
        if (!local_) {
            idle_.setInterval(server_.config_.tcpIdleSeconds * 1000);
            idle_.setOnTimer([this] {
                idle_.setEnabled(false);
                leave("it sent nothing for " + std::to_string(server_.config_.tcpIdleSeconds) +
                      " s");
            });
            idle_.setEnabled(true);
        }
    }
    ~Connection() override {
        server_.loop_.cancelPosted(this);
        server_.loop_.unwatch(watch_);
        ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Hub::ClientId id() const { return id_; }
    bool local() const { return local_; }

    void deliver(std::string_view bytes) override {
        if (leaving_) {
            return;
        }
        if (pending_.size() + bytes.size() > kClientBacklog) {
            leave("it left " + std::to_string(kClientBacklog / 1024) + " kB unread");
            return;
        }
        pending_ += bytes;
        flush();
    }

    void finish(std::string why) override {
        finishing_ = std::move(why);
        flush();
    }

  private:
    void ready(short revents) {
        if ((revents & POLLOUT) != 0) {
            flush();
        }
        if (leaving_) {
            return;
        }
        if (sentAll_) {
            // Its side is closed; a hang-up or an error now is the whole connection's end.
            if ((revents & (POLLHUP | POLLERR)) != 0) {
                leave("it closed the connection");
            }
            return;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            return;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            if (!local_) {
                idle_.setEnabled(true);
            }
            server_.hub_.fromClient(id_, std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n == 0) {
            // Its writing side is closed (or the whole connection): what it sent before is
            // still written and answered, and the answers go out before the connection
            // closes.
            sentAll_ = true;
            server_.loop_.setEvents(watch_, pending_.empty() ? 0 : POLLOUT);
            server_.hub_.clientDone(id_);
        } else if (errno != EAGAIN && errno != EINTR) {
            leave(errnoText("reading"));
        }
    }

    void flush() {
        while (!pending_.empty()) {
            const ssize_t n =
                ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                if (errno != EINTR) {
                    leave(errnoText("writing"));
                    return;
                }
                continue;
            }
            pending_.erase(0, static_cast<std::size_t>(n));
        }
        if (pending_.empty() && finishing_) {
            leave(*finishing_);
            return;
        }
        const short reading = sentAll_ ? 0 : POLLIN;
        server_.loop_.setEvents(watch_, pending_.empty() ? reading : reading | POLLOUT);
    }

    // Lets the client go on a later turn: the hub may be handing out the line's bytes now.
    void leave(std::string why) {
        leaving_ = true;
        server_.loop_.post(this, [this, why = std::move(why)] { server_.close(this, why); });
    }

    Server& server_;
    int fd_;
    std::string name_;
    bool local_;
    posix::LoopTimer idle_;
    posix::EventLoop::WatchId watch_ = 0;
    Hub::ClientId id_ = 0;
    std::string pending_;
    bool leaving_ = false;
    bool sentAll_ = false;                  // the client closed its writing side
    std::optional<std::string> finishing_;  // the hub is done with it: why
};

// The line's device, open or being reopened.
class Server::Line final : public LineLink {
  public:
    explicit Line(Server& server) : server_(server), reopen_(server.loop_) {
        const std::string& device = server_.config_.device;
        if (isTcpDevice(device)) {
            transport_ =
                std::make_unique<posix::TcpTransport>(server_.loop_, *parseTcpDevice(device));
        } else {
            transport_ = std::make_unique<posix::SerialDeviceTransport>(server_.loop_, device);
        }
        transport_->setOnEvent([this](const CommEvent& event) { take(event); });
        reopen_.setInterval(kReopenMs);
        reopen_.setOnTimer([this] {
            reopen_.setEnabled(false);
            open();
        });
    }

    // Why the line did not open, when that is known at once.
    std::optional<std::string> open() {
        LineParams params;
        params.baud = server_.config_.baud;
        if (const SerialResult set = transport_->applySettings(params); set.failed()) {
            failed(set.error());
            starting_ = false;
            return set.error();
        }
        const SerialResult result = transport_->open();
        if (result.failed()) {
            failed(result.error());
            starting_ = false;
            return result.error();
        }
        if (result.outcome() == SerialResult::Outcome::Done) {
            opened();
        }
        starting_ = false;
        return std::nullopt;
    }

    bool write(std::string_view frame) override {
        if (transport_->write(frame).failed()) {
            return false;
        }
        if (server_.lineLog_) {
            server_.lineLog_->sent(frame);
        }
        return true;
    }

  private:
    void take(const CommEvent& event) {
        switch (event.kind) {
            case CommEvent::Kind::Receive:
                if (server_.lineLog_) {
                    server_.lineLog_->received(event.data, {});
                }
                server_.hub_.fromLine(event.data);
                break;
            case CommEvent::Kind::Opened:
                opened();
                break;
            case CommEvent::Kind::OpenFailed:
                failed(event.data);
                break;
            case CommEvent::Kind::DeviceLost:
                if (server_.lineLog_) {
                    server_.lineLog_->portError(event.data);
                }
                server_.hub_.lineLost(event.data);
                lastFailure_.clear();
                reopen_.setEnabled(true);
                break;
            case CommEvent::Kind::LineError:
                server_.log_("the line reports " + event.data);
                break;
            case CommEvent::Kind::Written:
                break;
        }
    }

    void opened() {
        lastFailure_.clear();
        server_.log_("the line is open: " + server_.config_.device + " at " +
                     std::to_string(server_.config_.baud) + " baud");
        if (server_.lineLog_) {
            server_.lineLog_->portReady();
        }
        server_.hub_.lineOpened(*this);
    }

    // Said once until it changes: a line left unplugged overnight is tried every second.
    // Held by another at start, it is not tried again: the server ends.
    void failed(const std::string& why) {
        if (starting_ && why == std::strerror(EBUSY)) {
            return;
        }
        if (why != lastFailure_) {
            lastFailure_ = why;
            if (server_.lineLog_) {
                server_.lineLog_->portError(why);
            }
            server_.log_("cannot open the line " + server_.config_.device + ": " + why +
                         "; trying again every second");
        }
        reopen_.setEnabled(true);
    }

    Server& server_;
    std::unique_ptr<Transport> transport_;
    posix::LoopTimer reopen_;
    std::string lastFailure_;
    bool starting_ = true;  // the first opening is under way
};

Server::Server(posix::EventLoop& loop, LineConfig config, Log log)
    : loop_(loop),
      config_(std::move(config)),
      log_(std::move(log)),
      window_(loop),
      hub_(
          config_.hub, window_, clock_,
          [this](std::function<void()> call) { loop_.post(this, std::move(call)); }, log_) {}

Server::~Server() {
    loop_.cancelPosted(this);
    connections_.clear();
    line_.reset();
    for (const auto& [fd, watch] : {std::pair{localFd_, localWatch_}, {tcpFd_, tcpWatch_}}) {
        if (fd >= 0) {
            loop_.unwatch(watch);
            ::close(fd);
        }
    }
    if (ownsSocketPath_) {
        ::unlink(config_.socket.c_str());
    }
}

std::optional<std::string> Server::start() {
    if (auto error = listenLocal()) {
        return error;
    }
    if (config_.listen) {
        if (auto error = listenTcp()) {
            return error;
        }
    }
    if (!config_.lineLog.empty()) {
        lineLogFile_.open(config_.lineLog, std::ios::app | std::ios::binary);
        if (!lineLogFile_) {
            return "cannot write the line log " + config_.lineLog + ": " + std::strerror(errno);
        }
        lineLog_ = std::make_unique<LineLog>(lineLogFile_, clock_,
                                             LineLogHeader{"pjline", config_.device, config_.baud});
    }
    line_ = std::make_unique<Line>(*this);
    if (const auto why = line_->open(); why && why->starts_with(std::strerror(EBUSY))) {
        // Another program has the line, most likely another pjline: waiting for it would
        // only tell this one's clients that the line is down.
        const std::string holders = posix::holdersText(posix::deviceHolders(config_.device));
        return "the line " + config_.device + " is held by " +
               (holders.empty() ? std::string("another program") : holders) +
               "; one pjline serves a line";
    }
    return std::nullopt;
}

std::optional<std::string> Server::listenLocal() {
    const std::string& path = config_.socket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return "the socket path " + path + " is too long";
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);

    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            return path + " exists and is not a socket";
        }
        // A socket nobody answers on is what a server that was killed leaves behind.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered = probe >= 0 && ::connect(probe, raw, sizeof address) == 0;
        if (probe >= 0) {
            ::close(probe);
        }
        if (answered) {
            return path + " is served already: another pjline has this line";
        }
        ::unlink(path.c_str());
    }

    localFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (localFd_ < 0) {
        return errnoText("socket");
    }
    if (::bind(localFd_, raw, sizeof address) != 0) {
        return errnoText("cannot make the socket " + path);
    }
    ownsSocketPath_ = true;
    // Whoever may use the serial ports (the group) may use the line.
    ::chmod(path.c_str(), 0660);
    if (::listen(localFd_, 16) != 0) {
        return errnoText("listen on " + path);
    }
    localWatch_ = loop_.watch(localFd_, POLLIN, [this](short) { accept(localFd_, true); });
    log_("clients connect to " + path);
    return std::nullopt;
}

std::optional<std::string> Server::listenTcp() {
    const ListenAddress& where = *config_.listen;
    std::string error;
    tcpFd_ = listenTcpOn(where, error);
    if (tcpFd_ < 0) {
        return error;
    }
    tcpWatch_ = loop_.watch(tcpFd_, POLLIN, [this](short) { accept(tcpFd_, false); });
    log_("TCP clients connect to " + where.host + ":" + std::to_string(where.port) +
         (config_.allow.empty() ? "" : ", from the addresses allowed only"));
    return std::nullopt;
}

void Server::accept(int listener, bool local) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ++clientsSeen_;
    const std::string name = local ? localPeer(fd, clientsSeen_) : tcpPeer(peer, clientsSeen_);
    if (!local && !allowed(peer)) {
        log_(name + " refused: its address is not allowed (--allow)");
        ::close(fd);
        return;
    }
    const std::size_t limit = local ? config_.maxLocalClients : config_.maxTcpClients;
    if ((local ? localClients_ : tcpClients_) >= limit) {
        log_(name + " turned away: " + std::to_string(limit) + (local ? " local" : " TCP") +
             " clients are connected");
        ::close(fd);
        return;
    }
    if (!local) {
        tuneTcpClient(fd);
    }
    ++(local ? localClients_ : tcpClients_);
    connections_.push_back(std::make_unique<Connection>(*this, fd, name, local));
}

bool Server::allowed(const sockaddr_storage& peer) const {
    return allowedPeer(config_.allow, peer);
}

void Server::close(Connection* connection, std::string_view why) {
    const auto found = std::find_if(connections_.begin(), connections_.end(),
                                    [connection](const auto& c) { return c.get() == connection; });
    if (found == connections_.end()) {
        return;
    }
    hub_.detach(connection->id(), why);
    --(connection->local() ? localClients_ : tcpClients_);
    connections_.erase(found);
}

}  // namespace pj::line
