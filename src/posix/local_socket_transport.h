// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/transport.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"

namespace pj::posix {

// A line server's local socket (AF_UNIX, stream), non-blocking, on the loop's turns. Nothing
// here waits: connecting is under way when open() returns and its end is reported on a later
// turn; closing lets the bytes already handed over go in the background.
//
// It speaks to the line server as one of its clients: once connected it asks that its
// frames hold the line until their answers ("\0hold\r"), is open once the server has said so
// ("\0held\r": what came before is others' traffic and dropped), and it takes the server's messages
// (a NUL, text, a CR) out of what it hands on. "\0lost REASON\r" and "\0refused REASON\r"
// are the device going away, the connection then closed; "\0back\r" and messages it does not
// know are dropped. A message split across reads is put together first. The far end closing
// the connection is the device going away too. Line settings are the line server's.
class LocalSocketTransport final : public Transport {
  public:
    LocalSocketTransport(EventLoop& loop, std::string path);
    ~LocalSocketTransport() override;
    LocalSocketTransport(const LocalSocketTransport&) = delete;
    LocalSocketTransport& operator=(const LocalSocketTransport&) = delete;

    // What is sent first on each connection; the server's "\0held\r" opens the port.
    static constexpr std::string_view kHello{"\0hold\r", 6};
    // How long the server may take to answer the hello.
    static constexpr int kHeldTimeoutMs = 5000;
    // The longest message taken in; the rest of a longer one, up to its CR, is dropped.
    static constexpr std::size_t kLongestMessage = 512;

    SerialResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool opening() const override { return connecting_; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const LineParams&) override { return SerialResult::done(); }

  private:
    void connectReady();
    void failed(const std::string& why);
    void ready(short revents);
    // Takes the messages out of `bytes`; what is left is the line's. Sets `gone` when a
    // message says the device went away, and stops there.
    std::string takeMessages(std::string_view bytes, std::optional<std::string>& gone);
    void lost(const std::string& how);
    void flushPending();
    void dropSocket();

    EventLoop& loop_;
    std::string path_;
    int fd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::string pending_;
    // A message begun and not yet ended by its CR.
    bool inMessage_ = false;
    std::string message_;
    bool open_ = false;
    bool held_ = false;  // the server took the hold
    LoopTimer heldTimeout_;
    bool connecting_ = false;
};

}  // namespace pj::posix
