// SPDX-License-Identifier: Apache-2.0
#pragma once

// Serves a simulated projector on a serial line: by default on a fresh pseudo-terminal, whose
// slave side (path()) the panel opens as its serial port; or on an existing serial device; or
// on a TCP port, as a serial device server in raw TCP mode would (path() is then
// "tcp://HOST:PORT"). Over TCP one client is served at a time: a client that connects while
// the line has one is told that the line is in use and let go; a client that stops reading is
// dropped once its unread answers pass a bound. On a pseudo-terminal of its own, an opener
// that was ended without letting go of its exclusive lock does not lock out the next one: a
// fresh terminal takes the old one's place behind the link.
// The line is served by a thread of the server's own. Its far end is a model: projectors on
// a bus (one by default), or a replay of a recorded one; the projectors are shared with the
// caller through withProjector(), under the server's lock.
//
// The model's clock is the steady clock in milliseconds (clock()), so frame times recorded
// by the model can be compared with the caller's own steady clock readings.
//
// stop() is the line going away as a device does when unplugged: the terminal closes, the
// panel's end sees a hang-up and the link disappears. A later start() is the replug: a fresh
// terminal, the link pointed at it, the same projector (its state, settings and recorded
// frames) behind it. Over TCP, stop() closes the client's connection and stops listening, and
// start() listens again on the same port.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sim/bus.h"
#include "sim/far_end.h"
#include "sim/projector.h"

namespace pj::sim {

struct LineOptions {
    std::string device;  // empty: a fresh pseudo-terminal
    int baud = 19200;    // 19200 or 9600: the device's line rate, and the throttle's
    std::string link;    // a symbolic link to the line, made by start() and removed by stop()
    // Serve TCP instead of a terminal: listen on this port (0: any free one) and address.
    std::optional<int> listenPort;
    std::string listenAddress = "127.0.0.1";  // IPv4, in dotted form
    // Takes bytes from the line no faster than `baud` allows (ten bits a byte), so a writer
    // that outruns the line meets backpressure as on a real port.
    bool throttle = false;
    // A loopback plug instead of a projector: every byte taken from the line is written back
    // at once.
    bool loopback = false;
    // On a pseudo-terminal of its own: the speed the opener set on its side is read at each
    // transfer, and when it is not `baud`, the bytes both ways come out as a UART at the
    // other speed makes of them (the carriage return passes, so that frames still end).
    bool strictBaud = false;
    // Called on the server's thread: '<' with each frame received (without its carriage
    // return), '>' with each piece of bytes written to the line.
    std::function<void(char direction, std::string_view bytes)> trace;
};

// Empty on success; otherwise what went wrong.
using LineError = std::optional<std::string>;

class LineServer {
  public:
    explicit LineServer(LineOptions options, Projector projector = Projector{});
    LineServer(LineOptions options, Bus bus);
    // Any far end, such as a replay.
    LineServer(LineOptions options, std::unique_ptr<FarEnd> farEnd);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Opens the line, makes the link and starts serving. Does nothing while running.
    LineError start();
    // Stops serving, closes the line and removes the link. Does nothing while stopped.
    void stop();
    bool running() const { return running_.load(); }
    // The path the panel opens: the terminal's slave side, the device, or "tcp://HOST:PORT";
    // empty when stopped.
    std::string path() const;
    // Whether a TCP client is connected now.
    bool clientConnected() const { return clientConnected_.load(); }

    // The device vanishes / comes back (see above).
    void dropLine() { stop(); }
    LineError reopen() { return start(); }

    // Runs `f` with the (first) projector under the server's lock, for reading or changing
    // its state and settings, queueing noise, or reading what it received.
    template <class F>
    decltype(auto) withProjector(F&& f) {
        return withProjector(0, std::forward<F>(f));
    }
    // The same with projector `index` of the bus, in its order. Throws std::out_of_range
    // for a projector the bus does not have, std::logic_error when the far end is no bus.
    template <class F>
    decltype(auto) withProjector(std::size_t index, F&& f) {
        std::lock_guard lock(mutex_);
        if (bus_ == nullptr) {
            throw std::logic_error("the line's far end has no projectors");
        }
        return std::forward<F>(f)(bus_->projector(index));
    }

    // The frames the line carried.
    std::vector<ReceivedFrame> frames() const;
    std::size_t frameCount() const;

    static Millis clock();

  private:
    LineError openLine();
    LineError openListener();
    LineError makeLink();
    void removeLink();
    void serve();
    // Over TCP: takes a waiting client on as the line, closing the one before.
    void acceptClient();
    void dropClient();
    // The terminal was hung up by its last opener.
    void hungUp();
    // Whether the terminal's last opener left it exclusive.
    bool leftLocked() const;
    // A fresh pseudo-terminal in place of the one served, the link pointed at it.
    void renewTerminal();
    // The opener's speed, when strictBaud applies and it is not the line's own; else 0.
    int mismatchedBaud() const;

    LineOptions options_;
    mutable std::mutex mutex_;
    std::unique_ptr<FarEnd> farEnd_;
    Bus* bus_ = nullptr;  // the far end when it is a bus of projectors
    std::string path_;
    int fd_ = -1;             // the line: terminal, device or TCP client; -1 while no client
    int listenFd_ = -1;       // TCP only
    int boundPort_ = 0;       // TCP only: kept across stop() and start()
    std::string outbox_;      // bytes written by the projector, not yet taken by the line
    bool foundFree_ = false;  // the terminal, hung up, was looked at and found free
    std::optional<std::chrono::steady_clock::time_point> hungUpSince_;
    std::thread thread_;
    std::atomic<bool> clientConnected_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
};

}  // namespace pj::sim
