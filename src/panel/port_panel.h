// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/form_observer.h"
#include "core/timer.h"
#include "core/window.h"
#include "link/line_pacer.h"
#include "link/line_settings.h"
#include "link/serial_control.h"

namespace pj {

// How long the port panel stays in view, in milliseconds.
inline constexpr int kTimer3Design = 5000;
// How often a port whose device went away is tried again, in milliseconds.
inline constexpr int kReconnectPeriod = 1000;

// The port panel ("COM", Frame8): port 1 or 2 and the line speed; the port's opening at
// start-up and its closing at the end; a device that goes away and comes back.
class PortPanel {
  public:
    // `hide` is Timer3; `reconnect` retries a lost port and is not a window control.
    PortPanel(Window& window, SerialControl& serial, Timer& hide, Timer& reconnect,
              LinePacer& pacer);
    PortPanel(const PortPanel&) = delete;
    PortPanel& operator=(const PortPanel&) = delete;

    // Start-up: port 1 at 19200 baud, opened before the selection of "COM1" runs.
    void open();
    // "END": the port closed and both timers off.
    void close();

    // "COM": the panel comes into view for a while.
    void show();
    // Starts the panel's time in view afresh, or stops it.
    void setHideTimer(bool on) { hide_.setEnabled(on); }
    void selectPort(int port);
    void selectSpeed(std::string_view settings);

    // What the serial control reports of the port's state.
    void deviceLost(std::string_view how, bool sameDeviceKnown);
    void opened();
    void openFailed(std::string_view why);

    void Timer3_Timer();
    void Reconnect_Timer();

    const std::string& lineSettings() const { return lineSettings_; }
    void setObserver(FormObserver* observer) { observer_ = observer; }
    // Called when a lost port is back, before anything else is sent on it.
    void setOnBack(std::function<void()> onBack) { onBack_ = std::move(onBack); }

  private:
    std::string portName() const;
    std::string portName(int port) const;
    // The operator's choice of `port` could not be opened.
    void selectionFailed(int port, std::string_view why);
    void portError(const std::string& message);

    Window& window_;
    SerialControl& serial_;
    Timer& hide_;
    Timer& reconnect_;
    LinePacer& pacer_;
    void back();

    FormObserver* observer_ = nullptr;
    std::function<void()> onBack_;
    std::string lineSettings_;
    // A port whose opening is under way: the operator's choice, or a lost port being retried.
    enum class Opening { None, Chosen, Retry } opening_ = Opening::None;
    int openingPort_ = 0;
};

}  // namespace pj
