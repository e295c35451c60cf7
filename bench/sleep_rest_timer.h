// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

#include "core/timer.h"

namespace pj::bench {

// A window timer that keeps its schedule to a fraction of a millisecond. Qt's timers wait in
// whole milliseconds, rounded up from the moment each wait begins, so their ticks wander
// within a millisecond of the due time. This one is woken by Qt up to a millisecond early and
// sleeps the rest of the way; the event loop is held for that last part.
//
// Not used by the panel: pjtiming --repeat-timer sleep puts it behind the repeat timer and
// the line pacer to measure what it would change.
class SleepRestTimer final : public Timer {
  public:
    SleepRestTimer() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { onTimeout(); });
    }

    void setInterval(int ms) override {
        interval_ = ms;
        if (enabled_) {
            start();  // as QTimer does: a running timer starts its period afresh
        }
    }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override {
        enabled_ = enabled;
        if (enabled) {
            start();
        } else {
            timer_.stop();
        }
    }
    bool enabled() const override { return enabled_; }
    void setOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    using Clock = std::chrono::steady_clock;

    void start() {
        due_ = Clock::now() + std::chrono::milliseconds(interval_);
        arm();
    }
    long long microsLeft() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(due_ - Clock::now()).count();
    }
    void arm() { timer_.start(std::max(0, static_cast<int>(microsLeft() / 1000) - 1)); }
    void onTimeout() {
        const long long left = microsLeft();
        if (left > 1500) {
            arm();
            return;
        }
        if (left > 0) {
            QThread::usleep(static_cast<unsigned long>(left));
        }
        // The next tick keeps to the schedule; one that fell a whole period behind is not
        // made up, as with a precise QTimer.
        due_ += std::chrono::milliseconds(interval_);
        if (due_ < Clock::now()) {
            due_ = Clock::now() + std::chrono::milliseconds(interval_);
        }
        arm();
        if (handler_) {
            handler_();
        }
    }

    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = false;
    Clock::time_point due_;
    std::function<void()> handler_;
};

}  // namespace pj::bench
