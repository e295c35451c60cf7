// SPDX-License-Identifier: Apache-2.0
#include "line_runs.h"

#include <cstdio>

namespace pj::bench {

LineRun lineRun(const Options& o, int run) {
    LineRun r;
    std::fprintf(stderr, "run %d: press to wire, pseudo-terminal...\n", run);
    r.pty = pressToWire(false, o.presses, o.repeatTimer);
    std::fprintf(stderr,
                 "  p50 %.3f p99 %.3f max %.3f ms; floor p50 %.3f p99 %.3f ms; press handled "
                 "p50 %.3f p99 %.3f ms\n",
                 r.pty.p50, r.pty.p99, r.pty.max, r.pty.floorP50, r.pty.floorP99, r.pty.handledP50,
                 r.pty.handledP99);
    std::fprintf(stderr, "run %d: press to wire, 19200 baud...\n", run);
    r.throttled = pressToWire(true, o.presses, o.repeatTimer);
    std::fprintf(stderr,
                 "  p50 %.3f p99 %.3f max %.3f ms; floor p50 %.3f p99 %.3f ms; press handled "
                 "p50 %.3f p99 %.3f ms\n",
                 r.throttled.p50, r.throttled.p99, r.throttled.max, r.throttled.floorP50,
                 r.throttled.floorP99, r.throttled.handledP50, r.throttled.handledP99);
    std::fprintf(stderr, "run %d: holds of %d ms at every period...\n", run, o.holdMs);
    r.holds = holdPeriods(o.holdMs, o.repeatTimer);
    r.timerFloor = timerFloor(5, o.floorMs, false);
    r.sleepFloor = timerFloor(5, o.floorMs, true);
    const auto show = [](const char* what, const HoldFigures& h) {
        std::fprintf(stderr,
                     "  %s %3d ms: frames %.0f ideal %.0f (held %.1f ms), %d skipped, mean "
                     "interval %.3f ms, |error| p50 %.3f p99 %.3f max %.3f ms",
                     what, h.period, h.frames, h.ideal, h.heldMs, h.skipped, h.meanInterval, h.p50,
                     h.p99, h.max);
    };
    for (const HoldFigures& h : r.holds) {
        show("panel", h);
        std::fprintf(stderr,
                     "; repeat timer events |error| p99 %.3f ms; event to frame read p50 %.3f "
                     "p99 %.3f ms\n",
                     h.timerP99, h.lagP50, h.lagP99);
    }
    show("bare QTimer", r.timerFloor);
    std::fprintf(stderr, "\n");
    show("QTimer woken early, then a sleep", r.sleepFloor);
    std::fprintf(stderr, "\n");
    for (const int baud : {9600, 19200}) {
        std::fprintf(stderr, "run %d: saturation at %d baud...\n", run, baud);
        const SaturationFigures s = saturation(baud, o.saturationMs, o.repeatTimer);
        std::fprintf(stderr,
                     "  frames %.0f of %.0f in %.1f ms, busy %.2f%% (possible %.2f%%), "
                     "release to silence %.2f ms (frame %.2f ms)\n",
                     s.frames, s.ceiling, s.heldMs, 100 * s.busy, 100 * s.possible,
                     s.releaseToSilenceMs, s.frameMs);
        (baud == 9600 ? r.at9600 : r.at19200) = s;
    }
    return r;
}

}  // namespace pj::bench
