// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/headless_rig.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/posix_serial_control.h"

namespace pj::posix {

// The line with no toolkit: the POSIX serial control and timers on the event loop, and the
// steady clock; `loop` turns when its caller runs it.
struct LoopLine {
    EventLoop loop;
    PosixSerialControl serial{loop};
    LoopFormTimers timers{loop};
    MonotonicClock clock;
};

// The core headless on the event loop, as pjctl runs it.
using HeadlessRig = pj::HeadlessRig<LoopLine>;

}  // namespace pj::posix
