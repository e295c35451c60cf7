// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

namespace pj {

// An interval timer as the window uses it. While enabled it raises its event every
// interval. Enabling it, or giving a running timer a new interval, starts the period
// afresh from that moment. The event handler switches the timer off itself when it is
// meant to fire once.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
    virtual void setOnTimer(std::function<void()> handler) = 0;
};

}  // namespace pj
