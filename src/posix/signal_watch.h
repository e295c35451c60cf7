// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <csignal>
#include <functional>
#include <initializer_list>
#include <vector>

#include "posix/event_loop.h"

namespace pj::posix {

// Signals turned into a wake-up of an event loop: the handler only writes a byte to a pipe
// and the loop, seeing its read end readable, calls `onSignal` on its next turn. A signal
// whose disposition was to be ignored (as nohup leaves SIGHUP) stays ignored. One at a time
// in a process; the dispositions before it come back when it is destroyed.
//
// On this event loop, give the loop; on another (Qt's), watch fd() for reading there and call
// takeSignals() when it is readable. The forms given a function of the signal are told which
// came, once for each signal that came since the last turn.
class SignalWatch {
  public:
    SignalWatch(EventLoop& loop, std::initializer_list<int> taken, std::function<void()> onSignal);
    SignalWatch(EventLoop& loop, std::initializer_list<int> taken,
                std::function<void(int signal)> onSignal);
    SignalWatch(std::initializer_list<int> taken, std::function<void()> onSignal);
    SignalWatch(std::initializer_list<int> taken, std::function<void(int signal)> onSignal);
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;
    ~SignalWatch();

    // The pipe's read end, readable once a signal came; -1 when there is none (the signals
    // then keep their own dispositions).
    int fd() const { return readFd_; }
    // Empties the pipe and calls `onSignal` for each signal that came.
    void takeSignals();
    // Whether one of the signals came, whether or not the loop has turned since.
    bool caught() const;

  private:
    struct Previous {
        int signal;
        struct sigaction action;
    };

    EventLoop* loop_ = nullptr;
    std::function<void(int signal)> onSignal_;
    int readFd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::vector<Previous> previous_;
};

}  // namespace pj::posix
