// Press-and-hold adjustment: send on the press, repeat while held, stop on the release.
//
// Repeats are paced by the line's own time. Every frame written keeps the line busy for its
// length in character times, counted from when the line was last free. A repeat that comes
// due while the line is still busy waits in here, not in the operating system's or the
// adapter's buffers, and goes out the moment the line is free; a second repeat that comes
// due meanwhile is dropped. So at most one frame waits, the line stays full when the repeat
// outruns it, and the traffic ends with the frame on the wire when the button is released.
#include "app/form.h"
#include "link/line_settings.h"
#include "panel/hold.h"

namespace pj {

void Form::noteWritten(std::size_t bytes) {
    const auto params = parseLineSettings(state.LineSettings);
    const std::int64_t characterUs = characterTimeUs(params ? *params : LineParams{19200});
    lineTime_.written(bytes, characterUs, clock_.nowUs());
}

void Form::MouseDown(std::string_view control) {
    const HoldButton* button = findHoldButton(control);
    if (unloaded_ || button == nullptr) {
        return;
    }
    repeatWaiting_ = false;
    timers_.LinePacer.setEnabled(false);

    if (button->timing == TimingClass::Cursor) {
        if (const PadModePeriods* pad = findPadModePeriods(state.ArrowPadMode)) {
            timers_.Timer2.setInterval(pad->replyWindow);
            timers_.Timer4.setInterval(pad->displayHold);
        }
        state.RepeatCode = button->code;
        sendCommand(button->command);
        timers_.Timer1.setEnabled(true);
        return;
    }

    state.RepeatCode = button->code;
    sendCommand(button->command);
    const ClassPeriods* periods = findClassPeriods(button->timing);
    timers_.Timer1.setInterval(periods->repeat);
    timers_.Timer2.setInterval(periods->replyWindow);
    timers_.Timer4.setInterval(periods->displayHold);
    timers_.Timer1.setEnabled(true);
}

void Form::Timer1_Timer() {
    if (unloaded_ || state.RepeatCode == 0) {
        return;
    }
    const int waitMs = lineTime_.waitMs(clock_.nowUs());
    if (waitMs == 0) {
        sendRepeat();
        return;
    }
    if (!repeatWaiting_) {
        repeatWaiting_ = true;
        timers_.LinePacer.setInterval(waitMs);
        timers_.LinePacer.setEnabled(true);
    }
}

void Form::LinePacer_Timer() {
    timers_.LinePacer.setEnabled(false);
    if (unloaded_ || !repeatWaiting_) {
        return;
    }
    if (state.RepeatCode != 0) {
        sendRepeat();
    }
}

void Form::sendRepeat() {
    // Whatever repeat was waiting for the line, this one takes its place.
    repeatWaiting_ = false;
    timers_.LinePacer.setEnabled(false);
    if (const HoldButton* button = findRepeatCode(state.RepeatCode)) {
        // The frame is built anew with the address selected now.
        sendCommand(button->command);
    }
}

void Form::MouseUp(std::string_view control) {
    const HoldButton* button = findHoldButton(control);
    if (unloaded_ || button == nullptr) {
        return;
    }
    state.RepeatCode = 0;
    repeatWaiting_ = false;
    timers_.LinePacer.setEnabled(false);
    timers_.Timer1.setEnabled(false);
    timers_.Timer2.setEnabled(false);
    timers_.Timer4.setEnabled(true);
    window_.setCaption("Label11", "");
    window_.setCaption("Label12", "");
    timers_.Timer2.setInterval(kTimer2Design);
    timers_.Timer4.setInterval(kTimer4Design);
    state.RxBuffer.clear();
    if (button->digitalZoom) {
        timers_.Timer1.setInterval(kDigitalZoomReleaseRepeat);
        state.ArrowPadMode = kDigitalZoomReleasePadMode;
    }
}

}  // namespace pj
