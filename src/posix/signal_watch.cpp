// SPDX-License-Identifier: Apache-2.0
#include "posix/signal_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace pj::posix {

namespace {

// The pipe's end the handler writes to, and whether a signal came.
volatile std::sig_atomic_t gCaught = 0;
int gWakeFd = -1;

extern "C" void wake(int) {
    const int saved = errno;
    gCaught = 1;
    const char byte = 0;
    // A full pipe already wakes the loop: the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(gWakeFd, &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(EventLoop& loop, std::initializer_list<int> signals,
                         std::function<void()> onSignal)
    : loop_(loop), onSignal_(std::move(onSignal)) {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        return;  // left to the signals' own dispositions
    }
    readFd_ = fds[0];
    gWakeFd = fds[1];
    gCaught = 0;
    watch_ = loop_.watch(readFd_, POLLIN, [this](short) {
        std::array<char, 64> drain{};
        while (::read(readFd_, drain.data(), drain.size()) > 0) {
        }
        if (onSignal_) {
            onSignal_();
        }
    });

    struct sigaction action {};
    action.sa_handler = wake;
    sigemptyset(&action.sa_mask);
    for (const int signal : signals) {
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
        loop_.unwatch(watch_);
        ::close(readFd_);
        ::close(gWakeFd);
        gWakeFd = -1;
    }
}

bool SignalWatch::caught() const {
    return gCaught != 0;
}

}  // namespace pj::posix
