// SPDX-License-Identifier: Apache-2.0
#include "app/form.h"

#include <array>
#include <utility>

namespace pj {

Form::Form(Window& window, SerialControl& serial, FormTimers timers, const Clock& clock)
    : window_(window),
      serial_(serial),
      pacer_(timers.LinePacer, clock),
      transaction_(window, serial, timers.Timer2, timers.Timer4, pacer_),
      portPanel_(window, serial, timers.Timer3, timers.Reconnect, pacer_),
      repeater_(transaction_, pacer_, timers.Timer1),
      oneShots_(transaction_, repeater_),
      view_(window, portPanel_),
      manualEntry_(window, transaction_) {
    serial_.setOnComm([this](const CommEvent& event) { MSComm1_OnComm(event); });
    // A button held through an outage does not go on by itself into the port come back.
    portPanel_.setOnBack([this] { repeater_.interrupt(); });
}

void Form::Load() {
    transaction_.setAddressPrefix("");

    // Centred at the designed size; the top edge stays there when the window is made
    // compact, so the compact window sits above the middle of the screen.
    window_.move((window_.screenWidth() - kDesignOuterWidth) / 2,
                 (window_.screenHeight() - kDesignOuterHeight) / 2);
    view_.setHeight(kHeightCompact);

    portPanel_.open();

    // Selecting "COM1" in code runs its click, as the operator's choice would.
    window_.selectOption(ControlId::Option1);
    Click(ControlId::Option1);
}

bool Form::Click(ControlId control) {
    if (unloaded_) {
        return false;
    }
    if (oneShots_.click(control)) {
        return true;
    }
    using Handler = void (*)(Form&);
    static constexpr std::array<std::pair<ControlId, Handler>, 9> kHandlers{{
        {ControlId::Command16, [](Form& f) { f.end(); }},
        {ControlId::Command33, [](Form& f) { f.portPanel_.show(); }},
        {ControlId::Command34, [](Form& f) { f.view_.toggleDataDisplay(); }},
        {ControlId::Command95, [](Form& f) { f.manualEntry_.send(); }},
        {ControlId::Command96, [](Form& f) { f.manualEntry_.clear(); }},
        {ControlId::Option1, [](Form& f) { f.portPanel_.selectPort(1); }},
        {ControlId::Option2, [](Form& f) { f.portPanel_.selectPort(2); }},
        {ControlId::Option9, [](Form& f) { f.portPanel_.selectSpeed(kSettings19200); }},
        {ControlId::Option10, [](Form& f) { f.portPanel_.selectSpeed(kSettings9600); }},
    }};
    for (const auto& [id, handler] : kHandlers) {
        if (id == control) {
            handler(*this);
            return true;
        }
    }
    return false;
}

void Form::MouseDown(ControlId control) {
    if (!unloaded_) {
        repeater_.press(control);
    }
}

void Form::MouseUp(ControlId control) {
    if (!unloaded_) {
        repeater_.release(control);
    }
}

void Form::KeyDown(int keyCode, int shift) {
    if (!unloaded_) {
        view_.keyDown(keyCode, shift);
    }
}

void Form::DblClick(ControlId control) {
    if (!unloaded_) {
        view_.dblClick(control);
    }
}

void Form::Change(ControlId control, std::string_view text) {
    if (!unloaded_ && control == ControlId::Text1) {
        manualEntry_.change(text);
    }
}

void Form::MSComm1_OnComm(const CommEvent& event) {
    if (unloaded_) {
        return;
    }
    switch (event.kind) {
        case CommEvent::Kind::Receive:
            transaction_.receive(event.data);
            break;
        case CommEvent::Kind::DeviceLost:
            portPanel_.deviceLost(event.data, event.sameDeviceKnown);
            break;
        case CommEvent::Kind::Opened:
            portPanel_.opened();
            break;
        case CommEvent::Kind::OpenFailed:
            portPanel_.openFailed(event.data);
            break;
        case CommEvent::Kind::LineError:
            // Like the window, the core checks for no line errors: what arrives is shown.
            break;
        case CommEvent::Kind::Written:
            transaction_.written();
            break;
    }
}

WindowState Form::state() const {
    WindowState s;
    s.RepeatCode = repeater_.repeatCode();
    s.AwaitingReply = transaction_.awaitingReply();
    s.ArrowPadMode = repeater_.arrowPadMode();
    s.LastCommand = transaction_.lastCommand();
    s.RxBuffer = transaction_.rxBuffer();
    s.PressureValue = transaction_.pressureValue();
    s.CloseUnlocked = view_.closeUnlocked();
    s.ManualCommand = manualEntry_.manualCommand();
    s.LineSettings = portPanel_.lineSettings();
    s.AddressPrefix = transaction_.addressPrefix();
    return s;
}

void Form::setObserver(FormObserver* observer) {
    transaction_.setObserver(observer);
    portPanel_.setObserver(observer);
}

void Form::end() {
    portPanel_.close();
    repeater_.stop();
    transaction_.stop();
    pacer_.cancel();
    unloaded_ = true;
    window_.unload();
}

}  // namespace pj
