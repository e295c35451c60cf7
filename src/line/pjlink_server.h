// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/config.h"
#include "line/line_access.h"
#include "line/pjlink.h"
#include "posix/event_loop.h"
#include "posix/monotonic_clock.h"

namespace pj::line {

// pjline's PJLink endpoints: one TCP listener for each projector configured with --pjlink,
// each connection a pjlink::Session on that projector's pjlink::Face. The faces ask through
// the line's queue (LineAccess), as the MQTT bridge does, so that their frames never
// interleave with a client's. Connections come from the addresses --allow takes only. With
// --pjlink-search, PJLink searches over UDP from those addresses are answered for each
// endpoint.
class PjlinkServer {
  public:
    using Log = std::function<void(std::string_view line)>;
    // Called with a projector's address once a setting made through PJLink was taken, so
    // that the other ways in learn the projector's new state at once.
    using Changed = std::function<void(int address)>;

    PjlinkServer(posix::EventLoop& loop, LineAccess& line, const LineConfig& config, Log log,
                 Changed changed = {});
    ~PjlinkServer();
    PjlinkServer(const PjlinkServer&) = delete;
    PjlinkServer& operator=(const PjlinkServer&) = delete;

    // Takes the ports; an error when one cannot be had.
    std::optional<std::string> start();

  private:
    class Connection;
    struct Endpoint {
        int address;
        ListenAddress where;
        std::unique_ptr<pjlink::Face> face;
        int fd = -1;
        posix::EventLoop::WatchId watch = 0;
        sockaddr_storage local{};  // the address the endpoint's socket is bound to
    };

    void accept(Endpoint& endpoint);
    void carryOut(Endpoint& endpoint, const pjlink::Request& request,
                  std::function<void(pjlink::Result)> done);
    void search();
    void close(Connection* connection, std::string_view why);
    std::int64_t nowMs() const { return clock_.nowUs() / 1000; }

    posix::EventLoop& loop_;
    LineAccess& line_;
    const LineConfig& config_;
    Log log_;
    Changed changed_;
    posix::MonotonicClock clock_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    int searchFd_ = -1;
    posix::EventLoop::WatchId searchWatch_ = 0;
    // Searches answered in the second that began at searchSecondMs_.
    std::int64_t searchSecondMs_ = 0;
    int searchesAnswered_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::size_t seen_ = 0;
};

}  // namespace pj::line
