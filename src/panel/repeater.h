// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "core/control_id.h"
#include "core/timer.h"
#include "link/line_pacer.h"
#include "panel/transaction.h"

namespace pj {

// The repeat period as the window is designed, in milliseconds.
inline constexpr int kTimer1Design = 200;

// Press-and-hold adjustment: send on the press, repeat while held (Timer1), stop on the
// release. The repeat is open-loop, paced only by the line's own time.
class Repeater {
  public:
    Repeater(Transaction& transaction, LinePacer& pacer, Timer& repeat);
    Repeater(const Repeater&) = delete;
    Repeater& operator=(const Repeater&) = delete;

    // False for a control that is no press-and-hold button.
    bool press(ControlId control);
    bool release(ControlId control);
    // Ends the repeat of a button still held; pressing it again starts it afresh.
    void interrupt();
    // Switches the repeat off for good.
    void stop();

    // Left by the one-shot buttons of the adjustment menus: the cursor pad's timing.
    void setRepeatPeriod(int ms) { repeat_.setInterval(ms); }
    void setArrowPadMode(std::uint8_t mode) { arrowPadMode_ = mode; }

    void Timer1_Timer();

    std::uint8_t repeatCode() const { return repeatCode_; }
    std::uint8_t arrowPadMode() const { return arrowPadMode_; }

  private:
    void sendRepeat();

    Transaction& transaction_;
    LinePacer& pacer_;
    Timer& repeat_;
    bool stopped_ = false;
    std::uint8_t repeatCode_ = 0;
    std::uint8_t arrowPadMode_ = 0;
};

}  // namespace pj
