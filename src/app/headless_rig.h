// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "app/form.h"
#include "app/recording_window.h"

namespace pj {

// The panel's core on a real line, with no screen: a window that only records what the core
// shows, over the line parts of one stack. `Line` gives them as members: `serial` (a
// SerialControl with setDevice(port, name)), `timers` (the core's timers, all()) and `clock`,
// and whatever they run on, constructed before them. Each stack names its own: HeadlessPanel
// on Qt (qtio/headless_panel.h), posix::HeadlessRig on the event loop (in the tests,
// line/posix_rig.h). The command line, the end-to-end tests, the soak and the timing program run
// the core so.
template <class Line>
struct HeadlessRig : Line {
    // Port 1 is `device`; then start-up, as the window's Load.
    template <class Name>
    void load(const Name& device) {
        this->serial.setDevice(1, device);
        form.Load();
    }
    // Types `text` into the command entry, as the operator would.
    void type(std::string_view text) {
        window.setText(ControlId::Text1, text);
        form.Change(ControlId::Text1, text);
    }

    RecordingWindow window;
    Form form{window, this->serial, this->timers.all(), this->clock};
};

}  // namespace pj
