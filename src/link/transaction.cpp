// The one road by which a command leaves and a reply comes back: Hyouji, the receive
// event, the reply window (Timer2) and the display hold (Timer4).
#include <string>

#include "app/form.h"
#include "link/echo.h"
#include "protocol/frame.h"
#include "status/decode.h"

namespace pj {

void Form::sendCommand(std::string_view command) {
    state.LastCommand = buildFrame(state.AddressPrefix, command);
    Hyouji(state.LastCommand, kHyoujiSend);
}

void Form::Hyouji(std::string_view text, std::uint8_t mode) {
    if (mode == kHyoujiSend) {
        if (const SerialError error = serial_.output(text)) {
            // Nothing went out: say so where the sent echo would stand, and open no reply
            // window. The display hold clears the notice as it would clear an echo.
            window_.setCaption("Label11", " NOT SENT - " + portName() + ": " + *error);
            timers_.Timer4.setEnabled(true);
            return;
        }
        noteWritten(text.size());
        window_.setCaption("Label11", echoText(text));
        timers_.Timer2.setEnabled(true);
        state.AwaitingReply = 1;
        timers_.Timer4.setEnabled(true);
        return;
    }
    window_.setCaption("Label12", echoText(text));
    decodeStatus();
}

void Form::decodeStatus() {
    // The decoding reads the received echo back from its label, as the operator sees it.
    if (auto readout = pj::decodeStatus(state.LastCommand, state.AddressPrefix,
                                        window_.caption("Label12"), state.PressureValue)) {
        window_.setCaption("Label22", *readout);
    }
}

void Form::MSComm1_OnComm() {
    if (unloaded_) {
        return;
    }
    const int event = serial_.commEvent();
    if (event == kCommEvDeviceLost) {
        // Nothing is written into a vanished port; it is tried again until it comes back.
        window_.setPortNotice(portName() + " lost: the device went away");
        timers_.Reconnect.setEnabled(true);
        return;
    }
    if (event != kCommEvReceive) {
        return;
    }
    state.RxBuffer += serial_.input();
    if (state.RxBuffer.size() > kRxBufferCap) {
        // A noisy or wrong-speed line must not grow the buffer (and the work done on each
        // arrival) without bound: the oldest characters give way.
        state.RxBuffer.erase(0, state.RxBuffer.size() - kRxBufferCap);
    }
    state.AwaitingReply = 0;
    Hyouji(state.RxBuffer, kHyoujiReceived);
}

void Form::Timer2_Timer() {
    if (state.AwaitingReply == 1) {
        window_.setCaption("Label12", kNoReplyMark);
    }
    timers_.Timer2.setEnabled(false);
    state.RxBuffer.clear();
    state.AwaitingReply = 0;
}

void Form::Timer4_Timer() {
    for (const std::string_view label : {"Label11", "Label12", "Label22"}) {
        window_.setCaption(label, "");
    }
    timers_.Timer4.setEnabled(false);
}

}  // namespace pj
