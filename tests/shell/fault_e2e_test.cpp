// SPDX-License-Identifier: Apache-2.0
// Faults of a real line, end to end: what the operator sees, and that nothing goes out
// that should not.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "shell/event_loop.h"
#include "shell/panel_on_line.h"
#include "support/process_memory.h"

namespace pj {
namespace {

using namespace std::chrono_literals;
using test::runFor;
using test::runUntil;

class Faults : public ::testing::Test, protected test::PanelOnLine {
  protected:
    // Answers go out one byte at a time, `gap` apart.
    void bytewise(sim::Millis gap) {
        projector([&](sim::Projector& p) {
            p.settings().splitSize = 1;
            p.settings().splitGap = gap;
        });
    }
};

TEST_F(Faults, DeviceVanishingWhileAReplyArrivesKeepsWhatCameAndSendsNothingMore) {
    start();
    bytewise(150ms);
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 "); }));
    server->dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    EXPECT_EQ(window.portNotice, "COM1 lost: the device went away");
    EXPECT_TRUE(seen.readouts.empty());  // half a code decodes to nothing

    send("CR0");
    EXPECT_EQ(window.caption(ControlId::Label11), " NOT SENT - COM1: the port is not open");
    EXPECT_EQ(server->frameCount(), 1u);
}

TEST_F(Faults, DeviceVanishingWhileAButtonIsHeldStopsTheTrafficNotTheRepeat) {
    start();
    form.MouseDown(ControlId::Command15);  // "Zoom" "+", every 105 ms
    runFor(350);
    const std::size_t sent = server->frameCount();
    EXPECT_GE(sent, 3u);
    server->dropLine();
    runFor(400);
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(window.caption(ControlId::Label11), " NOT SENT - COM1: the port is not open");
    form.MouseUp(ControlId::Command15);
    EXPECT_EQ(form.state().RepeatCode, 0);
    EXPECT_EQ(server->frameCount(), sent);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(Faults, ReplyOneByteAtATimeIsShownGrowingAndDecodedWhenWhole) {
    start();
    bytewise(40ms);
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 "); }));
    EXPECT_TRUE(seen.readouts.empty());
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 0 CR "); }));
    EXPECT_EQ(seen.readouts.back(), " Power ON");
}

TEST_F(Faults, ReplyAfterItsWindowIsMarkedMissingThenShownAndDecoded) {
    start();
    projector([](sim::Projector& p) { p.settings().replyDelay = 700ms; });
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" X X X X"); }));
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 0 CR "); }));
    EXPECT_EQ(seen.readouts.back(), " Power ON");
    EXPECT_EQ(form.state().AwaitingReply, 0);
}

TEST_F(Faults, ReplyThatNeverEndsStaysBoundedAndIsDroppedWithItsWindow) {
    start();
    projector([](sim::Projector& p) {
        p.settings().silent = true;  // nothing but the endless text
        const auto now = sim::LineServer::clock();
        for (int i = 0; i < 40; ++i) {
            p.queueBytes(std::string(100, '7'), now + sim::Millis(10 * i));
        }
    });
    send("CR3");
    ASSERT_TRUE(runUntil([&] { return form.state().RxBuffer.size() == kRxBufferCap; }));
    EXPECT_LE(window.caption(ControlId::Label12).size(), 1 + 2 * kRxBufferCap);
    ASSERT_FALSE(seen.readouts.empty());
    EXPECT_EQ(seen.readouts.back().size(), 38 + std::string(" Hour Use").size());
    ASSERT_TRUE(runUntil([&] { return form.state().RxBuffer.empty(); }));
    EXPECT_TRUE(serial.portOpen());
}

TEST_F(Faults, SpeedChangeInTheMiddleOfAReplyKeepsThePortAndTheRestOfTheReply) {
    start();
    bytewise(100ms);
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.showed(" 0 "); }));
    form.Click(ControlId::Option10);
    EXPECT_EQ(form.state().LineSettings, "9600,N,8,1");
    EXPECT_TRUE(serial.portOpen());
    ASSERT_TRUE(runUntil([&] { return seen.readOut(" Power ON"); }));
    EXPECT_TRUE(window.boxes.empty());
}

// Noise at the full line rate for 30 s: memory stays flat, the panel keeps answering, and
// each arrival costs a bounded time.
TEST_F(Faults, NoiseFloodAtLineRateForThirtySeconds) {
    start();
    constexpr int kSeconds = 30;
    projector([](sim::Projector& p) {
        const auto now = sim::LineServer::clock();
        for (int tick = 0; tick < kSeconds * 100; ++tick) {
            p.queueGarbage(19, now + sim::Millis(10 * tick));  // 1900 bytes/s: 19200 baud
        }
    });

    // A probe timer measures how late the event loop runs it: a busy panel is a late one.
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 last = 0;
    std::vector<qint64> lateness;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = elapsed.elapsed();
        lateness.push_back(now - last - 20);
        last = now;
    });
    probe.start(20);

    runFor(5000);
    const long memoryAtFive = test::residentKb();
    const std::clock_t cpuBefore = std::clock();
    std::size_t clicks = 0;
    for (int second = 5; second < kSeconds; ++second) {
        form.Click(ControlId::Command17);  // "POWER" "ON" goes out through the noise
        ++clicks;
        runFor(1000);
    }
    const double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const long memoryGrowth = test::residentKb() - memoryAtFive;
    // A machine busy with other work can stall any process now and then; the panel's own
    // cost shows in how late the loop runs most of the time.
    std::sort(lateness.begin(), lateness.end());
    const qint64 p99 = lateness[lateness.size() * 99 / 100];
    std::printf(
        "noise flood: %.2f s CPU over %d s, memory %+ld kB, lateness p99 %lld ms, "
        "worst %lld ms\n",
        cpuSeconds, kSeconds - 5, memoryGrowth, static_cast<long long>(p99),
        static_cast<long long>(lateness.back()));

    EXPECT_EQ(server->frameCount(), clicks);
    EXPECT_LE(form.state().RxBuffer.size(), kRxBufferCap);
    EXPECT_LT(memoryGrowth, 2048);
    EXPECT_LT(cpuSeconds, 0.3 * (kSeconds - 5));
    EXPECT_LT(p99, 20);
}

}  // namespace
}  // namespace pj
