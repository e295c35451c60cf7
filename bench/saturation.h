// SPDX-License-Identifier: Apache-2.0
#pragma once

// (c) Saturation: the fastest repeat with an addressed frame on a line that takes bytes no
// faster than its baud rate.

#include "timing_options.h"

namespace pj::bench {

// The cursor pad at 5 ms with frames to all projectors (8 bytes, never answered) on a line
// that takes bytes no faster than `baud`.
struct SaturationFigures {
    int baud = 0;
    double frameMs = 0;
    double heldMs = 0;
    double frames = 0;    // complete by the release
    double ceiling = 0;   // the most frames the line or the repeat allows in that time
    double busy = 0;      // share of the hold the line spent sending
    double possible = 0;  // the share the repeat allows: 1 when it outruns the line
    double releaseToSilenceMs = 0;
};

// One hold of `holdMs` at 9600 or 19200 baud.
SaturationFigures saturation(int baud, int holdMs, RepeatTimer repeatTimer);

}  // namespace pj::bench
