// SPDX-License-Identifier: Apache-2.0
#include "line/pjlink_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "line/poller.h"
#include "line/server.h"
#include "posix/loop_timer.h"

namespace pj::line {
namespace {

// What a PJLink client may leave unread before it is let go: answers are short.
constexpr std::size_t kBacklog = 16 * 1024;
// Searches answered in a second, at most: each brings a datagram from every endpoint, and
// a search's sender can be forged, so a flood of them must not become a bigger one.
constexpr int kSearchesPerSecond = 10;

std::string randomHex() {
    static std::random_device device;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(device()));
    return text;
}

// Sends `datagram` to `to`, from `from` when that is one address of `to`'s family rather than
// every one: a tool that searched finds each projector at the address its endpoint listens on,
// though one socket answers for all of them.
void sendFrom(int fd, std::string_view datagram, const sockaddr_storage& to, socklen_t toSize,
              const sockaddr_storage& from) {
    iovec part{const_cast<char*>(datagram.data()), datagram.size()};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_storage*>(&to);
    message.msg_namelen = toSize;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    const auto sourceIs = [&](int level, int type, const auto& info) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof info);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = level;
        header->cmsg_type = type;
        header->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    };
    if (to.ss_family == AF_INET && from.ss_family == AF_INET) {
        in_pktinfo info{};
        info.ipi_spec_dst = reinterpret_cast<const sockaddr_in&>(from).sin_addr;
        if (info.ipi_spec_dst.s_addr != htonl(INADDR_ANY)) {
            sourceIs(IPPROTO_IP, IP_PKTINFO, info);
        }
    } else if (to.ss_family == AF_INET6 && from.ss_family == AF_INET6) {
        in6_pktinfo info{};
        info.ipi6_addr = reinterpret_cast<const sockaddr_in6&>(from).sin6_addr;
        if (!IN6_IS_ADDR_UNSPECIFIED(&info.ipi6_addr)) {
            sourceIs(IPPROTO_IPV6, IPV6_PKTINFO, info);
        }
    }
    if (::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
        message.msg_control != nullptr) {
        // That address cannot send to the searcher: the kernel chooses one.
        ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), toSize);
    }
}

std::string projectorName(int address) {
    return address == 0 ? std::string("projector") : "projector " + std::to_string(address);
}

}  // namespace

// One PJLink client: its bytes go to its session, the session's answers to its socket; the
// idle close is looked at every second.
class PjlinkServer::Connection {
  public:
    Connection(PjlinkServer& server, int fd, Endpoint& endpoint, std::string name)
        : server_(server),
          fd_(fd),
          name_(std::move(name)),
          tick_(server.loop_),
          session_(
              {server.config_.pjlinkPassword, randomHex()}, server.nowMs(),
              [this](std::string_view bytes) { write(bytes); },
              [this, &endpoint](const pjlink::Request& r,
                                std::function<void(pjlink::Result)> done) {
                  server_.carryOut(endpoint, r, std::move(done));
              },
              [this](std::string_view text) { server_.log_(name_ + ": " + std::string(text)); },
              [this](std::string why) { leave(std::move(why)); }) {
        watch_ = server_.loop_.watch(fd_, POLLIN, [this](short revents) { ready(revents); });
        tick_.setInterval(1000);
        tick_.setOnTimer([this] { session_.idleCheck(server_.nowMs()); });
        tick_.setEnabled(true);
        server_.log_(name_ + ": connected");
        session_.open();
    }
    ~Connection() {
        server_.loop_.cancelPosted(this);
        server_.loop_.unwatch(watch_);
        ::close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

  private:
    void ready(short revents) {
        if ((revents & POLLOUT) != 0) {
            flush();
        }
        if (leaving_ || (revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            return;
        }
        char buffer[512];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            session_.take(std::string_view(buffer, static_cast<std::size_t>(n)), server_.nowMs());
        } else if (n == 0) {
            leave("it closed the connection");
        } else if (errno != EAGAIN && errno != EINTR) {
            leave("reading failed");
        }
    }

    void write(std::string_view bytes) {
        if (pending_.size() + bytes.size() > kBacklog) {
            leave("it left its answers unread");
            return;
        }
        pending_ += bytes;
        flush();
    }

    void flush() {
        while (!pending_.empty()) {
            const ssize_t n =
                ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    pending_.clear();
                    leave("writing failed");
                }
                break;
            }
            pending_.erase(0, static_cast<std::size_t>(n));
        }
        if (pending_.empty() && closing_) {
            server_.loop_.post(this, [this, why = *closing_] { server_.close(this, why); });
            return;
        }
        server_.loop_.setEvents(watch_, leaving_ ? (pending_.empty() ? 0 : POLLOUT)
                                                 : (pending_.empty() ? POLLIN : POLLIN | POLLOUT));
    }

    // What was written goes out first (the ERRA, say); the connection closes on a later turn.
    void leave(std::string why) {
        if (leaving_) {
            return;
        }
        leaving_ = true;
        tick_.setEnabled(false);
        server_.log_(name_ + ": closed: " + why);
        closing_ = std::move(why);
        flush();
    }

    PjlinkServer& server_;
    int fd_;
    std::string name_;
    posix::LoopTimer tick_;
    posix::EventLoop::WatchId watch_ = 0;
    std::string pending_;
    bool leaving_ = false;
    std::optional<std::string> closing_;
    pjlink::Session session_;
};

PjlinkServer::PjlinkServer(posix::EventLoop& loop, LineAccess& line, const LineConfig& config,
                           Log log, Changed changed)
    : loop_(loop),
      line_(line),
      config_(config),
      log_(std::move(log)),
      changed_(std::move(changed)) {}

PjlinkServer::~PjlinkServer() {
    loop_.cancelPosted(this);
    connections_.clear();
    if (searchFd_ >= 0) {
        loop_.unwatch(searchWatch_);
        ::close(searchFd_);
    }
    for (const auto& endpoint : endpoints_) {
        if (endpoint->fd >= 0) {
            loop_.unwatch(endpoint->watch);
            ::close(endpoint->fd);
        }
    }
}

std::optional<std::string> PjlinkServer::start() {
    for (const LineConfig::PjlinkEndpoint& configured : config_.pjlink) {
        auto endpoint = std::make_unique<Endpoint>();
        endpoint->address = configured.address;
        endpoint->where = configured.listen;
        const int address = configured.address;
        endpoint->face = std::make_unique<pjlink::Face>(
            pjlink::Identity{config_.name + " " + projectorName(address),
                             "RS-232C " + config_.name + " " + projectorName(address)},
            [this, address](std::string_view text, int windowMs,
                            std::function<void(const std::optional<std::string>&)> answer) {
                line_.transact(*projectorFrame(address, text), windowMs, std::move(answer));
            });
        std::string error;
        endpoint->fd = listenTcpOn(endpoint->where, error);
        if (endpoint->fd < 0) {
            return "PJLink for " + projectorName(address) + ": " + error;
        }
        socklen_t localSize = sizeof endpoint->local;
        ::getsockname(endpoint->fd, reinterpret_cast<sockaddr*>(&endpoint->local), &localSize);
        Endpoint& e = *endpoint;
        endpoint->watch = loop_.watch(endpoint->fd, POLLIN, [this, &e](short) { accept(e); });
        log_("PJLink clients reach " + projectorName(address) + " at " + endpoint->where.host +
             ":" + std::to_string(endpoint->where.port) +
             (config_.pjlinkPassword ? ", with authentication" : ", without authentication"));
        endpoints_.push_back(std::move(endpoint));
    }
    if (const auto& where = config_.pjlinkSearch) {
        std::string error;
        searchFd_ = bindUdpOn(*where, error);
        if (searchFd_ < 0) {
            return "PJLink search: " + error;
        }
        searchWatch_ = loop_.watch(searchFd_, POLLIN, [this](short) { search(); });
        log_("PJLink searches are answered on " + where->host + ":" + std::to_string(where->port) +
             " (UDP)");
    }
    return std::nullopt;
}

void PjlinkServer::carryOut(Endpoint& endpoint, const pjlink::Request& request,
                            std::function<void(pjlink::Result)> done) {
    const bool setting = request.parameter != "?";
    endpoint.face->carryOut(
        request, [this, setting, address = endpoint.address, done](const pjlink::Result& result) {
            if (setting && result == "OK" && changed_) {
                changed_(address);
            }
            done(result);
        });
}

// A search is answered with one datagram for each endpoint, from the endpoint's address, sent
// to PJLink's port of the searcher, where a controller hears answers, and to the port it
// searched from when that is another, for tools that listen there.
void PjlinkServer::search() {
    char buffer[64];
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const ssize_t n = ::recvfrom(searchFd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&peer), &size);
    if (n <= 0 || !pjlink::isSearch(std::string_view(buffer, static_cast<std::size_t>(n)))) {
        return;
    }
    if (!allowedPeer(config_.allow, peer)) {
        log_("PJLink search from " + peerAddress(peer) +
             " not answered: its address is not allowed (--allow)");
        return;
    }
    const std::int64_t now = nowMs();
    if (now - searchSecondMs_ >= 1000) {
        searchSecondMs_ = now;
        searchesAnswered_ = 0;
    }
    if (++searchesAnswered_ > kSearchesPerSecond) {
        log_("PJLink searches past " + std::to_string(kSearchesPerSecond) +
             " in a second not answered");
        return;
    }
    in_port_t& port = peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(peer).sin6_port
                                                 : reinterpret_cast<sockaddr_in&>(peer).sin_port;
    std::vector<in_port_t> ports{htons(pjlink::kDefaultPort)};
    if (port != ports.front()) {
        ports.push_back(port);
    }
    const std::string searcher = peerAddress(peer);
    for (const in_port_t to : ports) {
        port = to;
        for (const auto& endpoint : endpoints_) {
            sendFrom(searchFd_,
                     pjlink::searchAnswer(pjlink::endpointMac(config_.name, endpoint->address)),
                     peer, size, endpoint->local);
        }
    }
    log_("PJLink search from " + searcher + ": answered for " + std::to_string(endpoints_.size()) +
         " projectors");
}

void PjlinkServer::accept(Endpoint& endpoint) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd = ::accept4(endpoint.fd, reinterpret_cast<sockaddr*>(&peer), &size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const std::string name = "pjlink " + projectorName(endpoint.address) + " client " +
                             std::to_string(++seen_) + " (" + peerAddress(peer) + ")";
    if (!allowedPeer(config_.allow, peer)) {
        log_(name + " refused: its address is not allowed (--allow)");
        ::close(fd);
        return;
    }
    if (connections_.size() >= config_.maxTcpClients) {
        log_(name + " turned away: " + std::to_string(config_.maxTcpClients) +
             " PJLink clients are connected");
        ::close(fd);
        return;
    }
    tuneTcpClient(fd);
    connections_.push_back(std::make_unique<Connection>(*this, fd, endpoint, name));
}

void PjlinkServer::close(Connection* connection, std::string_view /*why*/) {
    const auto found = std::find_if(connections_.begin(), connections_.end(),
                                    [connection](const auto& c) { return c.get() == connection; });
    if (found != connections_.end()) {
        connections_.erase(found);
    }
}

}  // namespace pj::line
