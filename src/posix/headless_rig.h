// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "app/form.h"
#include "app/recording_window.h"
#include "posix/event_loop.h"
#include "posix/loop_timer.h"
#include "posix/monotonic_clock.h"
#include "posix/posix_serial_control.h"

namespace pj::posix {

// The panel's core on a real line, with no screen and no toolkit: the POSIX serial control,
// timers on the event loop and the steady clock, and a window that only records what the
// core shows. pjctl runs the core this way; `loop` turns when its caller runs it.
struct HeadlessRig {
    // Port 1 is `device`; then start-up, as the window's Load.
    void load(const std::string& device) {
        serial.setDevice(1, device);
        form.Load();
    }
    // Types `text` into the command entry, as the operator would.
    void type(std::string_view text) {
        window.setText(ControlId::Text1, text);
        form.Change(ControlId::Text1, text);
    }

    EventLoop loop;
    PosixSerialControl serial{loop};
    LoopFormTimers timers{loop};
    MonotonicClock clock;
    RecordingWindow window;
    Form form{window, serial, timers.all(), clock};
};

}  // namespace pj::posix
