// SPDX-License-Identifier: Apache-2.0
// Press-and-hold on the real serial path: QTimer repeats, QSerialPort writes, and the
// simulator counting frames at the far end of a pseudo-terminal. The frames are counted
// against the hold's own length as measured here; how close the repeats come to their
// period on an idle machine is measured by scripts/bench.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "link/line_pacer.h"
#include "shell/event_loop.h"
#include "shell/panel_on_line.h"

namespace pj {
namespace {

using test::runFor;
using test::runUntil;

class HoldEndToEnd : public ::testing::Test, protected test::PanelOnLine {
  protected:
    // Holds `button` until `frames` frames have gone out since the press; says for how long
    // in milliseconds, on the steady clock the panel paces its frames by.
    double holdFor(ControlId button, std::size_t frames) {
        using Steady = std::chrono::steady_clock;
        const std::size_t before = seen.frames;
        const Steady::time_point pressed = Steady::now();
        form.MouseDown(button);
        const bool repeated = runUntil([&] { return seen.frames - before >= frames; }, 10000);
        form.MouseUp(button);
        const Steady::time_point released = Steady::now();
        EXPECT_TRUE(repeated) << "only " << seen.frames - before << " frames while held";
        return std::chrono::duration<double, std::milli>(released - pressed).count();
    }

    // Nothing goes out once the button is up: no frame for a few periods after the release,
    // and every frame sent reaches the far end whole.
    void expectSilenceAfterTheRelease(int periodMs) {
        const std::size_t atRelease = seen.frames;
        runFor(3 * periodMs);
        EXPECT_EQ(seen.frames, atRelease) << "a frame went out after the release";
        EXPECT_TRUE(runUntil([&] { return server->frameCount() >= atRelease; }))
            << server->frameCount() << " of " << atRelease << " frames reached the far end";
    }
};

TEST_F(HoldEndToEnd, ZoomHeldSendsOneFramePerPeriodAndNothingAfterTheRelease) {
    start();
    const double heldMs = holdFor(ControlId::Command15, 5);  // "Zoom" "+", every 105 ms
    expectSilenceAfterTheRelease(105);
    const auto frames = server->frames();
    // One at the press, then one a period: never more than the hold had room for.
    EXPECT_LE(static_cast<double>(frames.size()), 1 + std::floor(heldMs / 105));
    for (const auto& f : frames) {
        EXPECT_EQ(f.text, "C47");
    }
}

// The cursor pad after a digital-zoom release repeats every 5 ms; an addressed frame takes
// 8.3 ms at 9600 baud, and the simulator takes bytes no faster than that. The panel paces
// the repeats by the line: it never writes faster than the line carries.
TEST_F(HoldEndToEnd, FastestRepeatAt9600IsPacedByTheLineAndStopsAtTheRelease) {
    sim::LineOptions options;
    options.baud = 9600;
    options.throttle = true;
    start(options);
    form.Click(ControlId::Option10);
    form.Click(ControlId::Option4);  // "ALL": 8-byte frames, no answers
    form.MouseDown(ControlId::Command48);
    form.MouseUp(ControlId::Command48);
    ASSERT_TRUE(runUntil([&] { return server->frameCount() == seen.frames; }));
    const std::size_t before = seen.frames;

    const double heldMs = holdFor(ControlId::Command5, 30);
    expectSilenceAfterTheRelease(5);
    const std::size_t held = seen.frames - before;
    // A frame may go out the pacer's slack before the line is free, never earlier.
    constexpr double kFrameMs = 8 * 10 * 1000.0 / 9600;
    constexpr double kSlackMs = LinePacer::kSlackUs / 1000.0;
    EXPECT_LE(static_cast<double>(held), 1 + std::floor((heldMs + kSlackMs) / kFrameMs))
        << "more frames than the line could carry in " << heldMs << " ms";
    const auto frames = server->frames();
    for (std::size_t i = before; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].text, "AFFFC3C");
    }
}

}  // namespace
}  // namespace pj
