// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

#include "app/form.h"
#include "app/headless_rig.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/posix_serial_control.h"

// The window's core on the POSIX line, for the tests that run a panel beside the line
// server without Qt. The programs themselves reach the line through the line session.
namespace pj::posix {

// The core's timers, each on the loop.
struct LoopFormTimers {
    explicit LoopFormTimers(EventLoop& loop)
        : timer1(loop), timer2(loop), timer3(loop), timer4(loop), pacer(loop), reconnect(loop) {}

    LoopTimer timer1, timer2, timer3, timer4, pacer, reconnect;

    FormTimers all() { return {timer1, timer2, timer3, timer4, pacer, reconnect}; }
};

// The line with no toolkit: the POSIX serial control and timers on the event loop, and the
// steady clock; `loop` turns when its caller runs it.
struct LoopLine {
    EventLoop loop;
    PosixSerialControl serial{loop};
    LoopFormTimers timers{loop};
    MonotonicClock clock;
};

// The core headless on the event loop.
using HeadlessRig = pj::HeadlessRig<LoopLine>;

}  // namespace pj::posix

namespace pj::line::test {

// The held button: zoom + repeats every 105 ms.
constexpr ControlId kZoomIn = ControlId::Command15;
constexpr std::string_view kZoomInFrame = "C47";

// A hold of zoom + on the panel.
struct Hold {
    double heldMs = 0;     // from the press to the release, on the steady clock
    std::size_t sent = 0;  // frames the panel sent meanwhile
};

// The panel's core, as the window runs it, on the line through pjline's TCP port: presses
// zoom + for `holdMs` once it is connected, and ends after the release.
inline Hold holdZoomOnThePanel(int port, int holdMs) {
    using Steady = std::chrono::steady_clock;
    struct Count final : FormObserver {
        void sent(std::string_view) override { ++frames; }
        std::size_t frames = 0;
    } count;
    posix::HeadlessRig rig;
    rig.form.setObserver(&count);
    posix::LoopTimer press(rig.loop), release(rig.loop), end(rig.loop);
    Steady::time_point pressed;
    Hold hold;
    press.setInterval(20);
    press.setOnTimer([&] {
        if (rig.serial.portOpen()) {
            press.setEnabled(false);
            pressed = Steady::now();
            rig.form.MouseDown(kZoomIn);
            release.setEnabled(true);
        }
    });
    release.setInterval(holdMs);
    release.setOnTimer([&] {
        release.setEnabled(false);
        rig.form.MouseUp(kZoomIn);
        hold.heldMs = std::chrono::duration<double, std::milli>(Steady::now() - pressed).count();
        hold.sent = count.frames;
        end.setEnabled(true);
    });
    end.setInterval(500);
    end.setOnTimer([&] { rig.loop.quit(); });
    rig.load("tcp://127.0.0.1:" + std::to_string(port));
    press.setEnabled(true);
    rig.loop.run();
    EXPECT_EQ(count.frames, hold.sent) << "the panel sent after the release";
    return hold;
}

}  // namespace pj::line::test
