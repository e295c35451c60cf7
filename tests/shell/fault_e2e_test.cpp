// SPDX-License-Identifier: Apache-2.0
// Faults of a real line, end to end: what the operator sees, and that nothing goes out
// that should not.
#include <gtest/gtest.h>

#include <chrono>

#include "shell/event_loop.h"
#include "shell/panel_on_line.h"

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
    ASSERT_TRUE(runUntil([&] { return server->frameCount() >= 3; }));
    server->dropLine();
    ASSERT_TRUE(runUntil([&] { return !serial.portOpen(); }));
    const std::size_t sent = server->frameCount();
    // The repeat goes on, and each of its sends says the port is closed.
    ASSERT_TRUE(runUntil([&] {
        return window.caption(ControlId::Label11) == " NOT SENT - COM1: the port is not open";
    }));
    EXPECT_NE(form.state().RepeatCode, 0);
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

// Noise at the full line rate: every frame still goes out whole, the receive buffer stays
// bounded, and once the noise ends a query is answered and decoded as before. The long
// version, with the event loop's lateness, the processor time and memory, is
// `pjsoak noise` (scripts/soak.sh).
TEST_F(Faults, NoiseFloodAtLineRateKeepsFramesGoingAndTheNextReplyDecoded) {
    start();
    constexpr int kTicks = 300;  // 3 s of noise, a tick every 10 ms
    projector([](sim::Projector& p) {
        const auto now = sim::LineServer::clock();
        for (int tick = 0; tick < kTicks; ++tick) {
            p.queueGarbage(19, now + sim::Millis(10 * tick));  // 1900 bytes/s: 19200 baud
        }
    });
    const auto noisy = [&] { return projector([](sim::Projector& p) { return p.nextDue(); }); };
    std::size_t clicks = 0;
    while (noisy() && clicks < 10) {
        form.Click(ControlId::Command17);  // "POWER" "ON" goes out through the noise
        ++clicks;
        ASSERT_TRUE(runUntil([&] { return server->frameCount() == clicks; }));
        ASSERT_TRUE(runUntil([&] { return seen.windows == clicks; }));
        EXPECT_LE(form.state().RxBuffer.size(), kRxBufferCap);
    }
    EXPECT_GE(clicks, 2u) << "the noise ended before the panel sent through it";
    ASSERT_TRUE(runUntil([&] { return !noisy(); }, 10000));
    EXPECT_TRUE(serial.portOpen());

    // The reply window after the noise empties what it left; the next query reads clean.
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.windows == clicks + 1; }));
    seen.readouts.clear();
    send("CR0");
    ASSERT_TRUE(runUntil([&] { return seen.readOut(" Power ON"); }));
    EXPECT_TRUE(window.boxes.empty());
}

}  // namespace
}  // namespace pj
