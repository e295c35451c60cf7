// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/headless_rig.h"
#include "qtio/qt_clock.h"
#include "qtio/qt_serial_control.h"
#include "qtio/qt_timer.h"

namespace pj {

// The line on Qt: the Qt serial control, Qt timers and the steady clock.
struct QtLine {
    QtSerialControl serial;
    QtFormTimers timers;
    SteadyClock clock;
};

// The core headless on Qt. Needs a QCoreApplication; makes no widgets.
using HeadlessPanel = HeadlessRig<QtLine>;

}  // namespace pj
