// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/recording_window.h"
#include "core/clock.h"
#include "core/timer.h"
#include "core/window.h"
#include "link/serial_control.h"
#include "support/control_print.h"

namespace pj::test {

class VirtualClock;

// A timer on the virtual clock.
class FakeTimer final : public Timer {
  public:
    explicit FakeTimer(VirtualClock& clock) : clock_(clock) {}
    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void setOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    friend class VirtualClock;
    VirtualClock& clock_;
    int interval_ = 0;
    bool enabled_ = false;
    std::int64_t due_ = 0;
    std::uint64_t generation_ = 0;  // bumped whenever the period starts afresh
    std::function<void()> handler_;
};

// Time that passes only when a test says so. Timers fire in order of their due time,
// ties in the order the timers were made.
class VirtualClock final : public Clock {
  public:
    std::int64_t nowUs() const override { return now_ * 1000; }
    FakeTimer& makeTimer();
    std::int64_t now() const { return now_; }
    // Runs every timer event due up to now + ms, then stops at now + ms.
    void advance(std::int64_t ms);
    // Things other than timers (a reply from the line) scheduled at a moment.
    void at(std::int64_t when, std::function<void()> action);

  private:
    friend class FakeTimer;
    std::int64_t now_ = 0;
    std::vector<std::unique_ptr<FakeTimer>> timers_;
    std::multimap<std::int64_t, std::function<void()>> actions_;
};

// Records everything written and hands the core whatever a test makes arrive.
class FakeSerial final : public SerialControl {
  public:
    SerialResult setCommPort(int port) override;
    int commPort() const override { return port_; }
    SerialResult setSettings(std::string_view settings) override;
    bool portOpen() const override { return open_; }
    SerialResult setPortOpen(bool open) override;
    SerialResult output(std::string_view bytes) override;
    void setOnComm(std::function<void(const CommEvent&)> handler) override {
        onComm_ = std::move(handler);
    }

    // Test side.
    void arrive(std::string_view bytes);  // raises the receive event with these bytes
    void raiseEvent(const CommEvent& event);
    // The device goes away while open, as the control says `how`; it may or may not know
    // the device when it is back.
    void loseDevice(bool sameDeviceKnown = true, const std::string& how = "Input/output error");

    std::vector<std::string> writes;         // one entry per output call
    std::string wire() const;                // everything written, joined
    std::string settings;                    // last settings given
    std::map<int, std::string> openFailure;  // port -> error description on opening
    int opens = 0;
    int closes = 0;

  private:
    int port_ = 1;
    bool open_ = false;
    std::function<void(const CommEvent&)> onComm_;
};

// The tests' window keeps what the core shows, as the command line's does.
using FakeWindow = RecordingWindow;

// A core wired to fakes, as the tests use it.
// The core's timers, all on one virtual clock.
struct FakeTimers {
    VirtualClock clock;
    FakeTimer& Timer1 = clock.makeTimer();
    FakeTimer& Timer2 = clock.makeTimer();
    FakeTimer& Timer3 = clock.makeTimer();
    FakeTimer& Timer4 = clock.makeTimer();
    FakeTimer& LinePacer = clock.makeTimer();
    FakeTimer& Reconnect = clock.makeTimer();

    FormTimers all() { return {Timer1, Timer2, Timer3, Timer4, LinePacer, Reconnect}; }
};

struct Rig : FakeTimers {
    FakeSerial serial;
    FakeWindow window;
    Form form{window, serial, all(), clock};

    // Start-up, then forgets what start-up did on the wire and the port counters.
    void load();
    std::string label(ControlId id) const { return window.caption(id); }
    // The operator types `text` into the entry box: the box shows it and tells the core.
    void type(std::string_view text) {
        window.setText(ControlId::Text1, text);
        form.Change(ControlId::Text1, text);
    }
};

}  // namespace pj::test
