// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/form_events.h"
#include "core/form_observer.h"
#include "core/timer.h"
#include "core/window.h"
#include "link/line_pacer.h"
#include "link/serial_control.h"
#include "panel/expanded_view.h"
#include "panel/manual_entry.h"
#include "panel/one_shot.h"
#include "panel/port_panel.h"
#include "panel/repeater.h"
#include "panel/transaction.h"

namespace pj {

// The window's state record, read as one whole. Each part keeps its own share of it.
struct WindowState {
    std::uint8_t RepeatCode = 0;
    std::uint8_t AwaitingReply = 0;
    std::uint8_t ArrowPadMode = 0;
    std::string LastCommand;
    std::string RxBuffer;
    std::int16_t PressureValue = 0;
    std::int16_t CloseUnlocked = 0;
    std::string ManualCommand;
    std::string LineSettings;
    std::string AddressPrefix;
};

// The outer size the window is designed at, used to centre it at start-up.
inline constexpr int kDesignOuterWidth = 9615;
inline constexpr int kDesignOuterHeight = kHeightFull;

// The window's timers: the four of the window, and two of the core's own.
struct FormTimers {
    Timer& Timer1;  // repeat of the press-and-hold buttons
    Timer& Timer2;  // reply window
    Timer& Timer3;  // hides the port panel
    Timer& Timer4;  // display hold
    // Holds a repeat back until the line has room for it; not a window control.
    Timer& LinePacer;
    // Retries, once a second, a port whose device went away; not a window control.
    Timer& Reconnect;
};

// The window's core: a thin front over its parts that keeps the window's own names (Load,
// Hyouji, the handlers of each control's events). It reaches the world only through the
// window, serial control and timer interfaces.
class Form final : public FormEvents {
  public:
    Form(Window& window, SerialControl& serial, FormTimers timers, const Clock& clock);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    void Load();
    void Hyouji(std::string_view text, std::uint8_t mode) { transaction_.Hyouji(text, mode); }
    // Frames `command` with the selected address and sends it, as every button does.
    void send(std::string_view command) { transaction_.send(command); }

    bool Click(ControlId control) override;
    void MouseDown(ControlId control) override;
    void MouseUp(ControlId control) override;
    void KeyDown(int keyCode, int shift) override;
    void DblClick(ControlId control) override;
    void Change(ControlId control, std::string_view text) override;

    void MSComm1_OnComm(const CommEvent& event);

    WindowState state() const;
    bool unloaded() const { return unloaded_; }
    // Told of every frame, arrival, readout and port error; may be null.
    void setObserver(FormObserver* observer);

    LinePacer& linePacer() { return pacer_; }
    // Every send waits `ms` for its reply, whatever its button's own reply window.
    void fixReplyWindow(int ms) { transaction_.fixReplyWindow(ms); }
    // Ends the reply window now, as its timer would: for a headless run that has taken its
    // answer and goes on to the next command with a clean receive buffer.
    void endReplyWindow() {
        if (transaction_.replyWindowOpen()) {
            transaction_.Timer2_Timer();
        }
    }

  private:
    void end();

    Window& window_;
    SerialControl& serial_;
    LinePacer pacer_;
    Transaction transaction_;
    PortPanel portPanel_;
    Repeater repeater_;
    OneShotButtons oneShots_;
    ExpandedView view_;
    ManualEntry manualEntry_;
    bool unloaded_ = false;
};

}  // namespace pj
