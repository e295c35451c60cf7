// The port panel: choosing port 1 or 2 and the line speed.
#include <string>

#include "app/form.h"

namespace pj {

std::string Form::portName() const {
    return "COM" + std::to_string(serial_.commPort());
}

void Form::selectPort(int port) {
    const int other = port == 1 ? 2 : 1;
    // The operator's choice takes over from any retry of a lost port.
    timers_.Reconnect.setEnabled(false);

    SerialError error;
    if (serial_.portOpen()) {
        error = serial_.setPortOpen(false);
    }
    if (!error) {
        error = serial_.setCommPort(port);
    }
    // The chosen port is always opened, whether or not the previous one was: a closed port
    // must never be reported as chosen.
    if (!error) {
        error = serial_.setPortOpen(true);
    }
    if (error) {
        window_.warningBox(*error, kAppTitle);
        serial_.setCommPort(other);
        window_.setPortNotice("COM" + std::to_string(port) + " is not open");
        return;
    }
    window_.setPortNotice("");
    window_.setVisible("Frame8", false);
}

void Form::selectSpeed(std::string_view settings) {
    state.LineSettings = settings;
    serial_.setSettings(state.LineSettings);
    window_.setVisible("Frame8", false);
}

void Form::Reconnect_Timer() {
    if (unloaded_ || serial_.portOpen()) {
        timers_.Reconnect.setEnabled(false);
        return;
    }
    if (!serial_.setPortOpen(true)) {
        timers_.Reconnect.setEnabled(false);
        window_.setPortNotice(portName() + " is back");
    }
}

void Form::Timer3_Timer() {
    window_.setVisible("Frame8", false);
    timers_.Timer3.setEnabled(false);
}

}  // namespace pj
