// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/line_wire.h"
#include "link/transport.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"

namespace pj::posix {

// A line server's local socket (AF_UNIX, stream), non-blocking, on the loop's turns. Nothing
// here waits: connecting is under way when open() returns and its end is reported on a later
// turn; closing lets the bytes already handed over go in the background.
//
// It speaks to the line server as a client that takes its messages, in records
// (link/line_wire.h): once connected it sends the hello and asks that its frames hold the
// line until their answers, and is open once the server has said "held"; what the line
// brought before that is others' traffic and dropped. A frame written waits for its turn on
// the line: the write is under way until the server says "sent", which is reported as
// Written, so that the reply window starts when the frame goes out. A frame that waits
// longer than kLineWaitMs is given up: the port then goes as a device gone, saying "the line
// is busy". "lost REASON" and "refused REASON" are the device going away, the connection
// then closed; "back" and messages it does not know are dropped. Records that make no sense,
// and the far end closing the connection, are the device going away too. Line settings are
// the line server's.
class LocalSocketTransport final : public Transport {
  public:
    // `lineWaitMs`: how long a frame may wait for its turn on the line.
    LocalSocketTransport(EventLoop& loop, std::string path, int lineWaitMs = kLineWaitMs);
    ~LocalSocketTransport() override;
    LocalSocketTransport(const LocalSocketTransport&) = delete;
    LocalSocketTransport& operator=(const LocalSocketTransport&) = delete;

    // How long the server may take to answer the hello.
    static constexpr int kHeldTimeoutMs = 5000;
    // How long a frame may wait for its turn on the line before the line is called busy.
    static constexpr int kLineWaitMs = 10000;

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
    // Takes the records out of `bytes`: returns the line's bytes, counts the frames gone
    // out in `written`, and sets `gone` when a message says the device went away (or the
    // records make no sense), stopping there.
    std::string takeRecords(std::string_view bytes, int& written, std::optional<std::string>& gone);
    void lost(const std::string& how);
    void flushPending();
    void dropSocket();

    EventLoop& loop_;
    std::string path_;
    int fd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::string pending_;
    std::unique_ptr<wire::ClientReader> reader_;
    bool open_ = false;
    bool held_ = false;  // the server took the hold
    LoopTimer heldTimeout_;
    int lineWaitMs_;
    int waiting_ = 0;  // frames written that have not gone out on the line yet
    LoopTimer lineWait_;
    bool connecting_ = false;
};

}  // namespace pj::posix
