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
    char host[NI_MAXHOST] = "?";
    char port[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host,
                port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    return "tcp client " + std::to_string(serial) + " (" + host + ":" + port + ")";
}

}  // namespace

// A client's connection: what it sends goes to the hub, what the line brings is written to it
// as fast as it reads, and a client that falls too far behind is let go.
class Server::Connection final : public ClientLink {
  public:
    Connection(Server& server, int fd, std::string name)
        : server_(server), fd_(fd), name_(std::move(name)) {
        watch_ = server_.loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
        id_ = server_.hub_.attach(*this, name_);
    }
    ~Connection() override {
        server_.loop_.cancelPosted(this);
        server_.loop_.unwatch(watch_);
        ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Hub::ClientId id() const { return id_; }

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

  private:
    void ready(short revents) {
        if ((revents & POLLOUT) != 0) {
            flush();
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0 || leaving_) {
            return;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            server_.hub_.fromClient(id_, std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n == 0) {
            leave("it closed the connection");
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
        server_.loop_.setEvents(watch_, pending_.empty() ? POLLIN : POLLIN | POLLOUT);
    }

    // Lets the client go on a later turn: the hub may be handing out the line's bytes now.
    void leave(std::string why) {
        leaving_ = true;
        server_.loop_.post(this, [this, why = std::move(why)] { server_.close(this, why); });
    }

    Server& server_;
    int fd_;
    std::string name_;
    posix::EventLoop::WatchId watch_ = 0;
    Hub::ClientId id_ = 0;
    std::string pending_;
    bool leaving_ = false;
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

    void open() {
        LineParams params;
        params.baud = server_.config_.baud;
        if (const SerialResult set = transport_->applySettings(params); set.failed()) {
            failed(set.error());
            return;
        }
        const SerialResult result = transport_->open();
        if (result.failed()) {
            failed(result.error());
        } else if (result.outcome() == SerialResult::Outcome::Done) {
            opened();
        }
    }

    bool write(std::string_view frame) override { return !transport_->write(frame).failed(); }

  private:
    void take(const CommEvent& event) {
        switch (event.kind) {
            case CommEvent::Kind::Receive:
                server_.hub_.fromLine(event.data);
                break;
            case CommEvent::Kind::Opened:
                opened();
                break;
            case CommEvent::Kind::OpenFailed:
                failed(event.data);
                break;
            case CommEvent::Kind::DeviceLost:
                server_.hub_.lineLost(event.data);
                lastFailure_.clear();
                reopen_.setEnabled(true);
                break;
            case CommEvent::Kind::LineError:
                server_.log_("the line reports " + event.data);
                break;
        }
    }

    void opened() {
        lastFailure_.clear();
        server_.log_("the line is open: " + server_.config_.device + " at " +
                     std::to_string(server_.config_.baud) + " baud");
        server_.hub_.lineOpened(*this);
    }

    // Said once until it changes: a line left unplugged overnight is tried every second.
    void failed(const std::string& why) {
        if (why != lastFailure_) {
            lastFailure_ = why;
            server_.log_("cannot open the line " + server_.config_.device + ": " + why +
                         "; trying again every second");
        }
        reopen_.setEnabled(true);
    }

    Server& server_;
    std::unique_ptr<Transport> transport_;
    posix::LoopTimer reopen_;
    std::string lastFailure_;
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
    line_ = std::make_unique<Line>(*this);
    line_->open();
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
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(where.port);
    const int looked = getaddrinfo(where.host.empty() ? nullptr : where.host.c_str(), port.c_str(),
                                   &hints, &found);
    if (looked != 0) {
        return "cannot listen on " + where.host + ":" + port + ": " + gai_strerror(looked);
    }
    std::string error;
    for (const addrinfo* a = found; a != nullptr && tcpFd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int yes = 1;
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            ::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 16) == 0) {
            tcpFd_ = fd;
        } else {
            error = std::strerror(errno);
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    freeaddrinfo(found);
    if (tcpFd_ < 0) {
        return "cannot listen on " +
               (where.host.empty() ? std::string("port ") : where.host + ":") + port + ": " + error;
    }
    tcpWatch_ = loop_.watch(tcpFd_, POLLIN, [this](short) { accept(tcpFd_, false); });
    log_("TCP clients connect to " +
         (where.host.empty() ? std::string("port ") : where.host + ":") + port);
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
    if (connections_.size() >= kMaxClients) {
        log_(name + " turned away: " + std::to_string(kMaxClients) + " clients are connected");
        ::close(fd);
        return;
    }
    if (!local) {
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    connections_.push_back(std::make_unique<Connection>(*this, fd, name));
}

void Server::close(Connection* connection, std::string_view why) {
    const auto found = std::find_if(connections_.begin(), connections_.end(),
                                    [connection](const auto& c) { return c.get() == connection; });
    if (found == connections_.end()) {
        return;
    }
    hub_.detach(connection->id(), why);
    connections_.erase(found);
}

}  // namespace pj::line
