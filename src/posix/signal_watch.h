// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <csignal>
#include <functional>
#include <initializer_list>
#include <vector>

#include "posix/event_loop.h"

namespace pj::posix {

// Signals taken in by the event loop: the handler only writes a byte to a pipe the loop
// watches, and on its next turn the loop calls `onSignal`. A signal whose disposition was to
// be ignored (as nohup leaves SIGHUP) stays ignored. One at a time in a process; the
// dispositions before it come back when it is destroyed.
class SignalWatch {
  public:
    SignalWatch(EventLoop& loop, std::initializer_list<int> signals,
                std::function<void()> onSignal);
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;
    ~SignalWatch();

    // Whether one of the signals came, whether or not the loop has turned since.
    bool caught() const;

  private:
    struct Previous {
        int signal;
        struct sigaction action;
    };

    EventLoop& loop_;
    std::function<void()> onSignal_;
    int readFd_ = -1;
    EventLoop::WatchId watch_ = 0;
    std::vector<Previous> previous_;
};

}  // namespace pj::posix
