// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/config.h"
#include "line/hub.h"
#include "link/line_log.h"
#include "link/transport.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"

namespace pj::line {

// A listening TCP socket on `where` (non-blocking); -1 with `error` said when none can be had.
int listenTcpOn(const ListenAddress& where, std::string& error);
// The same for datagrams: a UDP socket bound to `where`.
int bindUdpOn(const ListenAddress& where, std::string& error);
// A peer's address and port, as "192.0.2.7:50312", for the log.
std::string peerAddress(const sockaddr_storage& peer);
// Whether a TCP peer is one `allow` takes (every one when it is empty).
bool allowedPeer(const std::vector<AddressRange>& allow, const sockaddr_storage& peer);
// Sets a TCP client's socket to send at once and to find a vanished peer (keepalive).
void tuneTcpClient(int fd);

// pjline's sockets around its hub: the line's device, reopened for as long as it is away; a
// local socket and, when configured, a TCP port that take clients; and each client's
// connection, which the hub hands the line's bytes through without ever waiting for it.
class Server {
  public:
    using Log = std::function<void(std::string_view line)>;

    // What a client may leave unread before it is let go.
    static constexpr std::size_t kClientBacklog = 64 * 1024;
    // A TCP client's connection is probed after this long without traffic, every interval,
    // and given up after the count of probes unanswered: a peer that vanished (its power cut,
    // its cable pulled) is found within about two minutes.
    static constexpr int kKeepIdleS = 60;
    static constexpr int kKeepIntervalS = 10;
    static constexpr int kKeepCount = 6;
    // How soon a line that went away, or would not open, is tried again.
    static constexpr int kReopenMs = 1000;

    Server(posix::EventLoop& loop, LineConfig config, Log log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Takes the socket (and the TCP port) and starts opening the line; an error when a
    // listener cannot be made. Only the line may come later.
    std::optional<std::string> start();

    Hub& hub() { return hub_; }
    const LineConfig& config() const { return config_; }

  private:
    class Connection;
    class Line;

    std::optional<std::string> listenLocal();
    std::optional<std::string> listenTcp();
    void accept(int listener, bool local);
    bool allowed(const sockaddr_storage& peer) const;
    void close(Connection* connection, std::string_view why);

    posix::EventLoop& loop_;
    LineConfig config_;
    Log log_;
    posix::MonotonicClock clock_;
    // With --line-log: the line's traffic, every client's frames and every arrival.
    std::ofstream lineLogFile_;
    std::unique_ptr<LineLog> lineLog_;
    posix::LoopTimer window_;
    Hub hub_;
    std::unique_ptr<Line> line_;
    int localFd_ = -1;
    int tcpFd_ = -1;
    posix::EventLoop::WatchId localWatch_ = 0;
    posix::EventLoop::WatchId tcpWatch_ = 0;
    bool ownsSocketPath_ = false;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::size_t localClients_ = 0;
    std::size_t tcpClients_ = 0;
    std::size_t clientsSeen_ = 0;
};

}  // namespace pj::line
