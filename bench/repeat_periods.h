// SPDX-License-Identifier: Apache-2.0
#pragma once

// (b) Repeat periods: a hold of a press-and-hold button at each period the panel repeats at,
// the frames timed as the simulator reads them; and the floor of a bare QTimer at a period.

#include <vector>

#include "timing_options.h"

namespace pj::bench {

// One hold at one period.
struct HoldFigures {
    int period = 0;
    double heldMs = 0;
    double frames = 0;
    double ideal = 0;
    double p50 = 0;  // |interval - period|
    double p99 = 0;
    double max = 0;
    double meanInterval = 0;
    int skipped = 0;  // intervals longer than 1.5 periods: a repeat fell out
    // Where the error comes from: the intervals at which Qt delivered the repeat timer's
    // events, and the time from each event to its frame being read at the far end.
    double timerP99 = 0;
    double lagP50 = 0;
    double lagP99 = 0;
};

// Every period the panel repeats at, each held for `holdMs`, shortest period first.
std::vector<HoldFigures> holdPeriods(int holdMs, RepeatTimer repeatTimer);

// The floor for the repeat: a bare QTimer of the same kind (precise) at `period`, timed in
// its own handler, in this process with no window, core or line.
//
// With `sleepRest`, the same schedule kept another way: a single-shot QTimer armed to wake up
// to a millisecond early, and a sleep for the rest of the way. Qt's timers wait in whole
// milliseconds, rounded up from the moment the wait begins, so a plain QTimer's ticks wander
// within a millisecond of their due times; this shows what a finer wait would give.
HoldFigures timerFloor(int period, int holdMs, bool sleepRest);

}  // namespace pj::bench
