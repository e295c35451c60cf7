// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/tcp_endpoint.h"
#include "link/transport.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"

struct addrinfo;

namespace pj::posix {

// A serial device server over a non-blocking TCP socket. Nothing here waits: the host's
// name is looked up on a thread of its own and connecting is under way when open() returns,
// its end reported; closing lets the bytes already handed over go in the background. A
// connection closed or broken from the far end is reported as a device that went away. Line
// settings are kept by the device server, not here.
class TcpTransport final : public Transport {
  public:
    TcpTransport(EventLoop& loop, TcpEndpoint endpoint);
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool opening() const override { return connecting_; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams&) override { return SerialResult::done(); }

  private:
    struct Lookup;
    struct Address {
        int family;
        std::vector<unsigned char> bytes;  // a sockaddr of `family`
    };

    void lookedUp(const std::shared_ptr<Lookup>& lookup);
    void addresses(const addrinfo* list);
    // Tries the next address; reports the failure when none is left.
    void connectNext();
    void connectReady(short revents);
    void connected();
    void failed(const std::string& why);
    void ready(short revents);
    void lost(const std::string& how);
    void dropSocket();
    void stopLookup();

    EventLoop& loop_;
    TcpEndpoint endpoint_;
    LoopTimer connectTimeout_;
    std::shared_ptr<Lookup> lookup_;
    EventLoop::WatchId lookupWatch_ = 0;
    std::vector<Address> addresses_;
    std::size_t nextAddress_ = 0;
    std::string lastError_;
    int fd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::string pending_;
    bool open_ = false;
    bool connecting_ = false;
};

}  // namespace pj::posix
