// SPDX-License-Identifier: Apache-2.0
#include "posix/loop_timer.h"

#include <atomic>

namespace pj::posix {

namespace {
std::atomic<std::uint64_t> nextSerial{1};
}  // namespace

LoopTimer::LoopTimer(EventLoop& loop) : loop_(loop), serial_(nextSerial++) {
    loop_.addTimer(this);
}

LoopTimer::~LoopTimer() {
    loop_.removeTimer(this);
}

void LoopTimer::setInterval(int ms) {
    intervalMs_ = ms < 0 ? 0 : ms;
    // A running timer starts its period afresh with the new interval.
    if (enabled_) {
        due_ = EventLoop::now() + std::chrono::milliseconds(intervalMs_);
    }
}

void LoopTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled_) {
        due_ = EventLoop::now() + std::chrono::milliseconds(intervalMs_);
    }
}

void LoopTimer::fire(EventLoop::TimePoint now) {
    due_ += std::chrono::milliseconds(intervalMs_);
    if (due_ < now) {
        due_ = now + std::chrono::milliseconds(intervalMs_);
    }
    if (handler_) {
        // The handler may stop the timer, restart it, or give it a new interval.
        const std::function<void()> handler = handler_;
        handler();
    }
}

}  // namespace pj::posix
