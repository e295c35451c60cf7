// SPDX-License-Identifier: Apache-2.0
// Press-and-hold on the real serial path: QTimer repeats, QSerialPort writes, and the
// simulator counting frames at the far end of a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "shell/event_loop.h"
#include "shell/panel_on_line.h"

namespace pj {
namespace {

using test::runFor;
using test::runUntil;

class HoldEndToEnd : public ::testing::Test, protected test::PanelOnLine {};

TEST_F(HoldEndToEnd, ZoomHeldForOneSecondSendsOneFramePerPeriod) {
    start();
    form.MouseDown(ControlId::Command15);  // "Zoom" "+"
    runFor(1000);
    form.MouseUp(ControlId::Command15);
    ASSERT_TRUE(runUntil([&] { return server->frameCount() >= 10; }, 500));
    runFor(200);
    const auto frames = server->frames();
    // 1 + floor(1000 / 105) = 10, give or take one for the scheduler.
    EXPECT_GE(frames.size(), 9u);
    EXPECT_LE(frames.size(), 11u);
    for (const auto& f : frames) {
        EXPECT_EQ(f.text, "C47");
    }
}

// The cursor pad after a digital-zoom release repeats every 5 ms; an addressed frame takes
// 8.3 ms at 9600 baud, and the simulator takes bytes no faster than that.
TEST_F(HoldEndToEnd, FastestRepeatAt9600KeepsTheLineFullAndStopsWithinAFrameOfTheRelease) {
    sim::LineOptions options;
    options.baud = 9600;
    options.throttle = true;
    start(options);
    form.Click(ControlId::Option10);
    form.Click(ControlId::Option4);  // "ALL": 8-byte frames, no answers
    form.MouseDown(ControlId::Command48);
    form.MouseUp(ControlId::Command48);
    runFor(300);
    const std::size_t before = server->frameCount();

    form.MouseDown(ControlId::Command5);
    runFor(1000);
    form.MouseUp(ControlId::Command5);
    const auto released = sim::LineServer::clock();
    runFor(300);

    const auto frames = server->frames();
    const std::size_t held = frames.size() - before;
    // A frame takes 8.33 ms: about 120 in a second when the line is kept full.
    EXPECT_GE(held, 105u);
    EXPECT_LE(held, 122u);
    const auto lastArrival = frames.back().at;
    const auto afterRelease =
        std::chrono::duration_cast<std::chrono::milliseconds>(lastArrival - released);
    std::printf("held 1000 ms: %zu frames; last frame complete %lld ms after the release\n", held,
                static_cast<long long>(afterRelease.count()));
    // One frame time (8.3 ms) plus the simulator's own reading granularity.
    EXPECT_LE(afterRelease.count(), 12) << "line still busy after the release";
    for (std::size_t i = before; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].text, "AFFFC3C");
    }
}

}  // namespace
}  // namespace pj
