// SPDX-License-Identifier: Apache-2.0
#include "panel/repeater.h"

#include "protocol/hold.h"

namespace pj {

Repeater::Repeater(Transaction& transaction, LinePacer& pacer, Timer& repeat)
    : transaction_(transaction), pacer_(pacer), repeat_(repeat) {
    repeat_.setEnabled(false);
    repeat_.setInterval(kTimer1Design);
    repeat_.setOnTimer([this] { Timer1_Timer(); });
}

bool Repeater::press(ControlId control) {
    const HoldButton* button = findHoldButton(control);
    if (stopped_ || button == nullptr) {
        return false;
    }
    pacer_.cancel();

    if (button->timing == TimingClass::Cursor) {
        if (const PadModePeriods* pad = findPadModePeriods(arrowPadMode_)) {
            transaction_.setReplyWindow(pad->replyWindow);
            transaction_.setDisplayHold(pad->displayHold);
        }
        repeatCode_ = button->code;
        transaction_.send(button->command);
        repeat_.setEnabled(true);
        return true;
    }

    repeatCode_ = button->code;
    transaction_.send(button->command);
    const ClassPeriods* periods = findClassPeriods(button->timing);
    repeat_.setInterval(periods->repeat);
    transaction_.setReplyWindow(periods->replyWindow);
    transaction_.setDisplayHold(periods->displayHold);
    repeat_.setEnabled(true);
    return true;
}

void Repeater::Timer1_Timer() {
    if (stopped_ || repeatCode_ == 0) {
        return;
    }
    pacer_.due([this] { sendRepeat(); });
}

void Repeater::sendRepeat() {
    if (stopped_ || repeatCode_ == 0) {
        return;
    }
    if (const HoldButton* button = findRepeatCode(repeatCode_)) {
        // The frame is built anew with the address selected now.
        transaction_.send(button->command);
    }
}

bool Repeater::release(ControlId control) {
    const HoldButton* button = findHoldButton(control);
    if (stopped_ || button == nullptr) {
        return false;
    }
    repeatCode_ = 0;
    pacer_.cancel();
    repeat_.setEnabled(false);
    transaction_.release();
    if (button->digitalZoom) {
        repeat_.setInterval(kDigitalZoomReleaseRepeat);
        arrowPadMode_ = kDigitalZoomReleasePadMode;
    }
    return true;
}

void Repeater::interrupt() {
    repeatCode_ = 0;
    pacer_.cancel();
    repeat_.setEnabled(false);
}

void Repeater::stop() {
    stopped_ = true;
    repeatCode_ = 0;
    pacer_.cancel();
    repeat_.setEnabled(false);
}

}  // namespace pj
