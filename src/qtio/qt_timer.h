// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QTimer>

#include "app/form.h"
#include "core/timer.h"

namespace pj {

// A window timer on QTimer, kept precise: the repeat periods go down to 5 ms.
class QtTimer final : public Timer {
  public:
    QtTimer();
    void setInterval(int ms) override;
    int interval() const override { return timer_.interval(); }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return timer_.isActive(); }
    void setOnTimer(std::function<void()> handler) override;

  private:
    QTimer timer_;
    std::function<void()> handler_;
};

// The core's timers, each on a QTimer.
struct QtFormTimers {
    QtTimer timer1, timer2, timer3, timer4, pacer, reconnect;

    FormTimers all() { return {timer1, timer2, timer3, timer4, pacer, reconnect}; }
};

}  // namespace pj
