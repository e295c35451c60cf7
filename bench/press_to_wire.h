// SPDX-License-Identifier: Apache-2.0
#pragma once

// (a) Press to wire: "Zoom" "+" pressed and released, one press at a time, on the panel on a
// simulated line; against the floor of the same frame written straight into the same kind of
// line.

#include "timing_options.h"

namespace pj::bench {

struct PressFigures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double floorP50 = 0;
    double floorP99 = 0;
    // From the press to the press's delivery returning: the handler has written the frame
    // by then (and the button has repainted itself), so this bounds the panel's own share.
    double handledP50 = 0;
    double handledP99 = 0;
};

// `presses` presses, on a bare pseudo-terminal (no wire time) or, `throttled`, with the
// simulator taking bytes no faster than 19200 baud; the floor is as many direct writes.
PressFigures pressToWire(bool throttled, int presses, RepeatTimer repeatTimer);

}  // namespace pj::bench
