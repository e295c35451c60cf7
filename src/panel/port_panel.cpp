// SPDX-License-Identifier: Apache-2.0
#include "panel/port_panel.h"

#include "link/port_target.h"

namespace pj {

PortPanel::PortPanel(Window& window, SerialControl& serial, Timer& hide, Timer& reconnect,
                     LinePacer& pacer)
    : window_(window), serial_(serial), hide_(hide), reconnect_(reconnect), pacer_(pacer) {
    hide_.setEnabled(false);
    hide_.setInterval(kTimer3Design);
    hide_.setOnTimer([this] { Timer3_Timer(); });
    reconnect_.setEnabled(false);
    reconnect_.setInterval(kReconnectPeriod);
    reconnect_.setOnTimer([this] { Reconnect_Timer(); });
}

std::string PortPanel::portName(int port) const {
    return "COM" + std::to_string(port);
}

std::string PortPanel::portName() const {
    return portName(serial_.commPort());
}

void PortPanel::portError(const std::string& message) {
    window_.setPortNotice(message);
    if (observer_ != nullptr) {
        observer_->portError(message);
    }
}

void PortPanel::open() {
    lineSettings_ = kSettings19200;
    pacer_.setLineSettings(lineSettings_);
    // A failure here is met again, and reported, by the selection of "COM1" that follows.
    static_cast<void>(serial_.setCommPort(1));
    static_cast<void>(serial_.setSettings(lineSettings_));
    if (serial_.setPortOpen(true).outcome() == SerialResult::Outcome::UnderWay) {
        opening_ = Opening::Chosen;
        openingPort_ = 1;
    }
}

void PortPanel::close() {
    static_cast<void>(serial_.setPortOpen(false));
    opening_ = Opening::None;
    hide_.setEnabled(false);
    reconnect_.setEnabled(false);
}

void PortPanel::show() {
    window_.setVisible(ControlId::Frame8, true);
    hide_.setEnabled(true);
}

void PortPanel::selectPort(int port) {
    // The operator's choice takes over from any retry of a lost port.
    reconnect_.setEnabled(false);

    // The port already open, or being opened, stays as it is: choosing it again must not
    // drop it and open it a second time.
    const bool same = serial_.commPort() == port;
    if (same && (serial_.portOpen() || opening_ == Opening::Chosen)) {
        window_.setPortNotice(serial_.portOpen() ? "" : portName(port) + " is connecting");
        window_.setVisible(ControlId::Frame8, false);
        return;
    }

    // An opening still under way is given up along with an open port.
    const bool busy = serial_.portOpen() || opening_ != Opening::None;
    opening_ = Opening::None;
    SerialResult result = SerialResult::done();
    if (busy) {
        result = serial_.setPortOpen(false);
    }
    if (!result.failed()) {
        result = serial_.setCommPort(port);
    }
    // The chosen port is always opened, whether or not the previous one was: a closed port
    // must never be reported as chosen.
    if (!result.failed()) {
        result = serial_.setPortOpen(true);
    }
    if (result.failed()) {
        selectionFailed(port, result.error());
        return;
    }
    if (result.outcome() == SerialResult::Outcome::UnderWay) {
        opening_ = Opening::Chosen;
        openingPort_ = port;
        window_.setPortNotice(portName(port) + " is connecting");
    } else {
        window_.setPortNotice("");
    }
    window_.setVisible(ControlId::Frame8, false);
}

void PortPanel::selectionFailed(int port, std::string_view why) {
    window_.warningBox(why, kAppTitle);
    static_cast<void>(serial_.setCommPort(port == 1 ? 2 : 1));
    window_.setPortNotice(portName(port) + " is not open");
    if (observer_ != nullptr) {
        observer_->portError(portName(port) + " is not open: " + std::string(why));
    }
}

void PortPanel::selectSpeed(std::string_view settings) {
    lineSettings_ = settings;
    pacer_.setLineSettings(lineSettings_);
    static_cast<void>(serial_.setSettings(lineSettings_));
    window_.setVisible(ControlId::Frame8, false);
}

void PortPanel::deviceLost(std::string_view how, bool sameDeviceKnown) {
    opening_ = Opening::None;
    // A line server says why its line went away; a device only that it did.
    const std::string why = how.substr(0, kLineServerSays.size()) == kLineServerSays
                                ? std::string(how)
                                : std::string("the device went away");
    if (!sameDeviceKnown) {
        // Whatever appears next under that name may be another device: only the operator
        // can say it is the projector's line again.
        portError(portName() + " lost: " + why + "; choose the port again");
        return;
    }
    // Nothing is written into a vanished port; it is tried again until it comes back.
    portError(portName() + " lost: " + why);
    reconnect_.setEnabled(true);
}

void PortPanel::back() {
    reconnect_.setEnabled(false);
    if (onBack_) {
        onBack_();
    }
    window_.setPortNotice(portName() + " is back");
    if (observer_ != nullptr) {
        observer_->portReady();
    }
}

void PortPanel::opened() {
    const Opening was = opening_;
    opening_ = Opening::None;
    if (was == Opening::Retry) {
        back();
    } else if (was == Opening::Chosen) {
        window_.setPortNotice("");
        if (observer_ != nullptr) {
            observer_->portReady();
        }
    }
}

void PortPanel::openFailed(std::string_view why) {
    const Opening was = opening_;
    opening_ = Opening::None;
    if (was == Opening::Chosen) {
        selectionFailed(openingPort_, why);
    }
    // A retry that failed is tried again on the next tick.
}

void PortPanel::Reconnect_Timer() {
    if (serial_.portOpen()) {
        reconnect_.setEnabled(false);
        return;
    }
    if (opening_ == Opening::Retry) {
        return;  // the last try is still under way
    }
    const SerialResult result = serial_.setPortOpen(true);
    if (result.outcome() == SerialResult::Outcome::UnderWay) {
        opening_ = Opening::Retry;
    } else if (!result.failed()) {
        back();
    }
}

void PortPanel::Timer3_Timer() {
    window_.setVisible(ControlId::Frame8, false);
    hide_.setEnabled(false);
}

}  // namespace pj
