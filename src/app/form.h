#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/clock.h"
#include "app/form_events.h"
#include "app/timer.h"
#include "app/window.h"
#include "link/line_time.h"
#include "link/serial_control.h"

namespace pj {

struct CatalogueEntry;

// The window's state record: one instance, shared by every handler.
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

// Modes of Hyouji.
inline constexpr std::uint8_t kHyoujiSend = 1;
inline constexpr std::uint8_t kHyoujiReceived = 2;

// Timer periods as the window is designed, in milliseconds.
inline constexpr int kTimer1Design = 200;
inline constexpr int kTimer2Design = 500;
inline constexpr int kTimer3Design = 5000;
inline constexpr int kTimer4Design = 1000;

// Window heights in twips.
inline constexpr int kHeightCompact = 5350;
inline constexpr int kHeightData = 6645;
inline constexpr int kHeightUnlocked = 7200;
inline constexpr int kHeightFull = 9100;
// The outer size the window is designed at, used to centre it at start-up.
inline constexpr int kDesignOuterWidth = 9615;
inline constexpr int kDesignOuterHeight = kHeightFull;

inline constexpr std::string_view kSettings19200 = "19200,N,8,1";
inline constexpr std::string_view kSettings9600 = "9600,N,8,1";
inline constexpr std::string_view kAppTitle = "VELDAKON";
inline constexpr std::string_view kNoReplyMark = " X X X X";

// The most the receive buffer holds; older characters give way to newer ones.
inline constexpr std::size_t kRxBufferCap = 1024;

// How often a port whose device went away is tried again, in milliseconds.
inline constexpr int kReconnectPeriod = 1000;

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

// The window's core: its state record and all its handlers, reaching the world only
// through the window, serial control and timer interfaces.
class Form final : public FormEvents {
  public:
    Form(Window& window, SerialControl& serial, FormTimers timers, const Clock& clock);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    WindowState state;

    void Load();
    void Hyouji(std::string_view text, std::uint8_t mode);

    bool Click(std::string_view control) override;
    void MouseDown(std::string_view control) override;
    void MouseUp(std::string_view control) override;
    void KeyDown(int keyCode, int shift) override;
    void DblClick(std::string_view control) override;

    void MSComm1_OnComm();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void LinePacer_Timer();
    void Reconnect_Timer();

    bool unloaded() const { return unloaded_; }

  private:
    // Builds the frame for `command` into LastCommand and sends it.
    void sendCommand(std::string_view command);
    void sendRepeat();
    // Keeps the time at which the line will have sent everything written so far.
    void noteWritten(std::size_t bytes);
    void sendOneShot(const CatalogueEntry& entry);
    void showPortPanel();
    void toggleDataDisplay();
    void sendManual();
    void clearManual();
    void selectPort(int port);
    void selectSpeed(std::string_view settings);
    void end();
    void decodeStatus();
    std::string portName() const;

    Window& window_;
    SerialControl& serial_;
    FormTimers timers_;
    const Clock& clock_;
    bool unloaded_ = false;
    LineTime lineTime_;
    bool repeatWaiting_ = false;
};

}  // namespace pj
