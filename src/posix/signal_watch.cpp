// SPDX-License-Identifier: Apache-2.0
#include "posix/signal_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace pj::posix {

namespace {

// The pipe's end the handler writes to, and whether a signal came.
volatile std::sig_atomic_t gCaught = 0;
int gWakeFd = -1;

extern "C" void wake(int signal) {
    const int saved = errno;
    gCaught = 1;
    const char byte = static_cast<char>(signal);
    // A full pipe already wakes the loop: the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(gWakeFd, &byte, 1);
    errno = saved;
}

}  // namespace

namespace {

std::function<void(int)> anySignal(std::function<void()> onSignal) {
    return [onSignal = std::move(onSignal)](int) {
        if (onSignal) {
            onSignal();
        }
    };
}

}  // namespace

SignalWatch::SignalWatch(EventLoop& loop, std::initializer_list<int> taken,
                         std::function<void()> onSignal)
    : SignalWatch(loop, taken, anySignal(std::move(onSignal))) {}

SignalWatch::SignalWatch(EventLoop& loop, std::initializer_list<int> taken,
                         std::function<void(int signal)> onSignal)
    : SignalWatch(taken, std::move(onSignal)) {
    if (readFd_ >= 0) {
        loop_ = &loop;
        watch_ = loop.watch(readFd_, POLLIN, [this](short) { takeSignals(); });
    }
}

SignalWatch::SignalWatch(std::initializer_list<int> taken, std::function<void()> onSignal)
    : SignalWatch(taken, anySignal(std::move(onSignal))) {}

SignalWatch::SignalWatch(std::initializer_list<int> taken, std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        return;  // left to the signals' own dispositions
    }
    readFd_ = fds[0];
    gWakeFd = fds[1];
    gCaught = 0;

    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    // Calls under way elsewhere (a toolkit's reads and writes) go on rather than fail.
    action.sa_flags = SA_RESTART;
    for (const int signal : taken) {
        Previous before{signal, {}};
        if (::sigaction(signal, nullptr, &before.action) != 0 ||
            before.action.sa_handler == SIG_IGN) {
            continue;
        }
        if (::sigaction(signal, &action, nullptr) == 0) {
            previous_.push_back(before);
        }
    }
}

SignalWatch::~SignalWatch() {
    for (const Previous& before : previous_) {
        ::sigaction(before.signal, &before.action, nullptr);
    }
    if (readFd_ >= 0) {
        if (loop_ != nullptr) {
            loop_->unwatch(watch_);
        }
        ::close(readFd_);
        ::close(gWakeFd);
        gWakeFd = -1;
    }
}

void SignalWatch::takeSignals() {
    // Each byte is a signal that came; each is told once, however often it came.
    std::array<char, 64> drain{};
    std::vector<int> came;
    for (ssize_t n; (n = ::read(readFd_, drain.data(), drain.size())) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (std::find(came.begin(), came.end(), drain[i]) == came.end()) {
                came.push_back(drain[i]);
            }
        }
    }
    for (const int signal : came) {
        if (onSignal_) {
            onSignal_(signal);
        }
    }
}

bool SignalWatch::caught() const {
    return gCaught != 0;
}

}  // namespace pj::posix
