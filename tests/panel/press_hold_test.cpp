// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <optional>

#include <string>

#include "protocol/hold.h"
#include "support/fakes.h"

namespace pj {
namespace {

class PressHold : public ::testing::Test {
  protected:
    void SetUp() override { rig.load(); }
    std::size_t frames() const { return rig.serial.writes.size(); }
    test::Rig rig;
    WindowState state() const { return rig.form.state(); }
};

struct HoldCase {
    ControlId control;
    std::string_view frame;
    int period;
};

class HoldPeriods : public ::testing::TestWithParam<HoldCase> {};

// A hold of n periods sends 1 + n frames, the first at the press; a click shorter than one
// period sends one.
TEST_P(HoldPeriods, HoldOfNPeriodsSendsOnePlusNFrames) {
    const HoldCase& c = GetParam();
    for (const int n : {0, 1, 7}) {
        test::Rig rig;
        rig.load();
        rig.form.MouseDown(c.control);
        EXPECT_EQ(rig.serial.writes.size(), 1u);
        rig.clock.advance(static_cast<std::int64_t>(n) * c.period + c.period / 2);
        rig.form.MouseUp(c.control);
        rig.clock.advance(2000);
        ASSERT_EQ(rig.serial.writes.size(), 1u + static_cast<std::size_t>(n)) << c.control;
        for (const std::string& w : rig.serial.writes) {
            EXPECT_EQ(w, c.frame);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, HoldPeriods,
                         ::testing::Values(HoldCase{ControlId::Command15, "C47\r", 105},   // fast
                                           HoldCase{ControlId::Command61, "C60\r", 105},   // fast
                                           HoldCase{ControlId::Command48, "C30\r", 250},   // slow
                                           HoldCase{ControlId::Command91, "C91\r", 250},   // slow
                                           HoldCase{ControlId::Command6, "C3F\r", 500},    // select
                                           HoldCase{ControlId::Command5, "C3C\r", 200}));  // cursor

TEST(HoldTable, CodesAndControlsAreUniqueAndRoundTrip) {
    for (const HoldButton& b : kHoldButtons) {
        EXPECT_EQ(findHoldButton(b.control), &b);
        EXPECT_EQ(findRepeatCode(b.code), &b);
        EXPECT_NE(b.code, 0);
    }
    EXPECT_EQ(findRepeatCode(14), nullptr);  // never stored by a press
}

TEST_F(PressHold, PressSetsItsClassPeriodsAfterItsOwnSend) {
    rig.form.MouseDown(ControlId::Command50);  // keystone up, slow
    EXPECT_EQ(rig.Timer1.interval(), 250);
    EXPECT_EQ(rig.Timer2.interval(), 200);
    EXPECT_EQ(rig.Timer4.interval(), 245);
    EXPECT_EQ(state().RepeatCode, 19);
    EXPECT_TRUE(rig.Timer1.enabled());
    // The reply window of the first frame already runs with the new period.
    rig.clock.advance(200);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
}

struct CursorCase {
    std::optional<ControlId> before;  // a click or a press-and-release that comes first
    bool isHold;
    int repeat;
    int replyWindow;
    int displayHold;
};

class CursorPad : public ::testing::TestWithParam<CursorCase> {};

TEST_P(CursorPad, TimingFollowsWhatCameBefore) {
    const CursorCase& c = GetParam();
    test::Rig rig;
    rig.load();
    if (c.isHold) {
        rig.form.MouseDown(*c.before);
        rig.form.MouseUp(*c.before);
    } else if (c.before) {
        rig.form.Click(*c.before);
    }
    rig.clock.advance(3000);
    rig.serial.writes.clear();

    rig.form.MouseDown(ControlId::Command8);  // cursor right
    EXPECT_EQ(rig.Timer1.interval(), c.repeat);
    EXPECT_EQ(rig.Timer2.interval(), c.replyWindow);
    EXPECT_EQ(rig.Timer4.interval(), c.displayHold);
    rig.clock.advance(c.repeat * 10);
    EXPECT_EQ(rig.serial.writes.size(), 11u);
    rig.form.MouseUp(ControlId::Command8);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CursorPad,
    ::testing::Values(CursorCase{std::nullopt, false, 200, 500, 1000},         // nothing before
                      CursorCase{ControlId::Command13, false, 200, 150, 190},  // "A-PC Adj"
                      CursorCase{ControlId::Command23, false, 200, 150, 190},  // "MENU" "ON"
                      CursorCase{ControlId::Command49, true, 5, 5, 5},         // "D.Zoom" release
                      CursorCase{ControlId::Command36, true, 105, 500,
                                 1000}));  // after a focus hold

TEST_F(PressHold, ReleaseStopsRestoresAndClearsInOrder) {
    rig.form.Click(ControlId::Command10);  // picture mode: 2000 / 2500
    rig.form.MouseDown(ControlId::Command15);
    rig.serial.arrive("x");
    rig.clock.advance(50);
    rig.form.MouseUp(ControlId::Command15);

    EXPECT_EQ(state().RepeatCode, 0);
    EXPECT_FALSE(rig.Timer1.enabled());
    EXPECT_FALSE(rig.Timer2.enabled());
    EXPECT_TRUE(rig.Timer4.enabled());
    EXPECT_EQ(rig.label(ControlId::Label11), "");
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    EXPECT_EQ(rig.Timer2.interval(), 500);
    EXPECT_EQ(rig.Timer4.interval(), 1000);
    EXPECT_EQ(state().RxBuffer, "");
    EXPECT_EQ(state().AwaitingReply, 0);  // untouched by the release; the reply reset it

    // A reply after the release stands on its own; the hold clears it a second later.
    rig.serial.arrive("00\r");
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 0 CR ");
    rig.clock.advance(1000);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
}

TEST_F(PressHold, RepeatUsesTheAddressSelectedAtThatMoment) {
    rig.form.MouseDown(ControlId::Command36);
    rig.form.Click(ControlId::Option7);
    rig.clock.advance(105);
    rig.form.MouseUp(ControlId::Command36);
    ASSERT_EQ(frames(), 2u);
    EXPECT_EQ(rig.serial.writes[0], "C4B\r");
    EXPECT_EQ(rig.serial.writes[1], "A003C4B\r");
}

TEST_F(PressHold, KeyboardClickOnAHoldButtonSendsNothing) {
    for (const HoldButton& b : kHoldButtons) {
        EXPECT_FALSE(rig.form.Click(b.control)) << b.control;
    }
    EXPECT_EQ(frames(), 0u);
}

TEST_F(PressHold, RepeatWithNoCodeSendsNothing) {
    rig.Timer1.setEnabled(true);
    rig.clock.advance(1000);
    EXPECT_EQ(frames(), 0u);
}

// At 9600 baud an addressed frame takes 8.3 ms on the wire, longer than the fastest repeat.
class Pacing : public PressHold {
  protected:
    void SetUp() override {
        PressHold::SetUp();
        rig.form.Click(ControlId::Option10);  // 9600
        rig.form.Click(ControlId::Option4);   // "ALL": eight-byte frames
        rig.form.MouseDown(ControlId::Command48);
        rig.form.MouseUp(ControlId::Command48);  // cursor pad now repeats every 5 ms
        rig.clock.advance(2000);
        rig.serial.writes.clear();
    }
};

TEST_F(Pacing, FastRepeatKeepsTheLineFullWithoutQueueingBehindIt) {
    const std::int64_t frameUs = 8 * 1042;
    std::int64_t wireFreeUs = 0;  // when the line will have sent everything written
    std::size_t seen = 0;
    auto account = [&] {
        for (; seen < rig.serial.writes.size(); ++seen) {
            const std::int64_t now = rig.clock.nowUs();
            // Whatever is still ahead of a new frame is less than a millisecond of the last.
            EXPECT_LE(wireFreeUs - now, 1000) << "frame " << seen;
            wireFreeUs = std::max(wireFreeUs, now) + frameUs;
        }
    };
    rig.form.MouseDown(ControlId::Command5);
    account();
    for (int ms = 0; ms < 1000; ++ms) {
        rig.clock.advance(1);
        account();
    }
    // About one frame per frame time: the line is kept busy, not flooded.
    EXPECT_GE(frames(), 115u);
    EXPECT_LE(frames(), 122u);
    rig.form.MouseUp(ControlId::Command5);
    const std::size_t atRelease = frames();
    rig.clock.advance(100);
    EXPECT_EQ(frames(), atRelease);  // nothing was left waiting to go out after the release
}

TEST_F(Pacing, PressIsNeverHeldBack) {
    rig.form.MouseDown(ControlId::Command5);
    rig.clock.advance(5);
    rig.form.MouseUp(ControlId::Command5);
    rig.form.MouseDown(ControlId::Command7);
    EXPECT_EQ(rig.serial.writes.back(), "AFFFC3D\r");
}

}  // namespace
}  // namespace pj
