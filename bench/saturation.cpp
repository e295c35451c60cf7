// SPDX-License-Identifier: Apache-2.0
#include "saturation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "line_rig.h"
#include "stats.h"

namespace pj::bench {

SaturationFigures saturation(int baud, int holdMs, RepeatTimer repeatTimer) {
    Arrivals arrivals;
    pj::sim::LineOptions options;
    options.baud = baud;
    options.throttle = true;
    PanelOnLine panel(options, arrivals, repeatTimer);
    if (baud == 9600) {
        panel.form().Click(ControlId::Option10);  // "9600" in the port panel
    }
    panel.form().Click(ControlId::Option4);  // "ALL"
    digitalZoomClick(panel, arrivals);

    QWidget* up = panel.button(ControlId::Command5);
    const std::size_t index = arrivals.count();
    const TimePoint pressed = Steady::now();
    press(up);
    runFor(holdMs);
    const TimePoint released = Steady::now();
    release(up);
    runFor(300);

    const auto frames = arrivals.since(index);
    SaturationFigures f;
    f.baud = baud;
    f.frameMs = 8 * characterMs(baud);
    f.heldMs = msBetween(pressed, released);
    TimePoint last = released;
    for (const auto& frame : frames) {
        if (frame.text != "AFFFC3C") {
            std::fprintf(stderr, "  (saturation: %s came too, left out)\n", frame.text.c_str());
            continue;
        }
        if (frame.at <= released) {
            f.frames += 1;
        }
        last = frame.at;
    }
    const double interval = std::max(f.frameMs, 5.0);
    f.ceiling = 1.0 + std::floor(f.heldMs / interval);
    f.busy = f.frames * f.frameMs / f.heldMs;
    f.possible = std::min(1.0, f.frameMs / 5.0);
    f.releaseToSilenceMs = msBetween(released, last);
    return f;
}

}  // namespace pj::bench
