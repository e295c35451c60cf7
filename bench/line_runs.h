// SPDX-License-Identifier: Apache-2.0
#pragma once

// One run on the line: (a) press to wire, (b) repeat periods and their floors, (c) saturation,
// in that order, each on a panel of its own.

#include <vector>

#include "press_to_wire.h"
#include "repeat_periods.h"
#include "saturation.h"
#include "timing_options.h"

namespace pj::bench {

struct LineRun {
    PressFigures pty;
    PressFigures throttled;
    std::vector<HoldFigures> holds;
    HoldFigures timerFloor;
    HoldFigures sleepFloor;
    SaturationFigures at9600;
    SaturationFigures at19200;
};

// Run number `run`; its progress and figures go to standard error.
LineRun lineRun(const Options& o, int run);

}  // namespace pj::bench
