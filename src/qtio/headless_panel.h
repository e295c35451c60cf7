// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <string_view>

#include "app/form.h"
#include "app/recording_window.h"
#include "qtio/qt_clock.h"
#include "qtio/qt_serial_control.h"
#include "qtio/qt_timer.h"

namespace pj {

// The panel's core on a real line, with no screen: the Qt serial control, Qt timers and the
// steady clock, and a window that only records what the core shows. The command line, the
// end-to-end tests, the soak and the timing program all run the core this way. Needs a
// QCoreApplication; makes no widgets.
struct HeadlessPanel {
    // Port 1 is `device`; then start-up, as the window's Load.
    void load(const QString& device) {
        serial.setDevice(1, device);
        form.Load();
    }
    // Types `text` into the command entry, as the operator would.
    void type(std::string_view text) {
        window.setText(ControlId::Text1, text);
        form.Change(ControlId::Text1, text);
    }

    QtSerialControl serial;
    QtFormTimers timers;
    SteadyClock clock;
    RecordingWindow window;
    Form form{window, serial, timers.all(), clock};
};

}  // namespace pj
