// SPDX-License-Identifier: Apache-2.0
#pragma once

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
