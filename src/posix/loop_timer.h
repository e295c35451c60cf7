// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>

#include "core/timer.h"
#include "posix/event_loop.h"

namespace pj::posix {

// A window timer on the event loop, precise to the millisecond: the repeat periods go down
// to 5 ms. While enabled it fires every interval, each period counted from the one before
// so that repeats do not drift; a period missed altogether is skipped.
class LoopTimer final : public Timer {
  public:
    explicit LoopTimer(EventLoop& loop);
    ~LoopTimer() override;
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    void setInterval(int ms) override;
    int interval() const override { return intervalMs_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void setOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    friend class EventLoop;
    EventLoop::TimePoint due() const { return due_; }
    std::uint64_t serial() const { return serial_; }
    // Called by the loop once the timer is due: sets the next period, then runs the handler.
    void fire(EventLoop::TimePoint now);

    EventLoop& loop_;
    std::function<void()> handler_;
    int intervalMs_ = 0;
    bool enabled_ = false;
    EventLoop::TimePoint due_{};
    std::uint64_t serial_;
};

}  // namespace pj::posix
