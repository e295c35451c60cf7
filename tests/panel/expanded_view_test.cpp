// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pj {
namespace {

constexpr std::string_view kShow = "データを表示する";
constexpr std::string_view kHide = "データを表示しない";

class ExpandedView : public ::testing::Test {
  protected:
    void SetUp() override { rig.load(); }
    void ctrlK() { rig.form.KeyDown(kKeyK, kCtrlMask); }
    test::Rig rig;
};

TEST_F(ExpandedView, OnlyCtrlAloneWithKUnlocks) {
    struct KeyCase {
        int key;
        int shift;
        bool unlocks;
    };
    const KeyCase cases[] = {
        {kKeyK, kCtrlMask, true},
        {kKeyK, kCtrlMask | 8, true},  // bits above Alt do not count
        {kKeyK, 0, false},
        {kKeyK, kShiftMask, false},
        {kKeyK, kAltMask, false},
        {kKeyK, kCtrlMask | kShiftMask, false},
        {kKeyK, kCtrlMask | kAltMask, false},
        {kKeyK, kCtrlMask | kShiftMask | kAltMask, false},
        {'J', kCtrlMask, false},
        {'k', kCtrlMask, false},
    };
    for (const KeyCase& c : cases) {
        test::Rig r;
        r.load();
        r.form.KeyDown(c.key, c.shift);
        EXPECT_EQ(r.window.height(), c.unlocks ? 7200 : 5350) << c.key << " " << c.shift;
        EXPECT_EQ(r.form.state().CloseUnlocked, c.unlocks ? 1 : 0);
        EXPECT_EQ(r.window.visible(ControlId::Command34), c.unlocks);
    }
}

TEST_F(ExpandedView, DoubleClickOpensTheFullWindowOnlyWhileUnlocked) {
    rig.form.DblClick(ControlId::Image1);
    EXPECT_EQ(rig.window.height(), 5350);
    EXPECT_FALSE(rig.window.visible(ControlId::Command34));

    ctrlK();
    EXPECT_EQ(rig.label(ControlId::Command34), "CLOSE");
    rig.form.DblClick(ControlId::Image1);
    EXPECT_EQ(rig.window.height(), 9100);
    EXPECT_EQ(rig.form.state().CloseUnlocked, 1);

    ctrlK();  // from full back to 7200, still unlocked
    EXPECT_EQ(rig.window.height(), 7200);
    rig.form.DblClick(ControlId::Image1);
    EXPECT_EQ(rig.window.height(), 9100);

    rig.form.Click(ControlId::Command34);  // "CLOSE"
    EXPECT_EQ(rig.window.height(), 5350);
    EXPECT_EQ(rig.label(ControlId::Command34), kShow);
    EXPECT_TRUE(rig.window.visible(ControlId::Command34));
    EXPECT_EQ(rig.form.state().CloseUnlocked, 0);
    rig.form.DblClick(ControlId::Image1);
    EXPECT_EQ(rig.window.height(), 5350);

    ctrlK();
    EXPECT_EQ(rig.label(ControlId::Command34), "CLOSE");
}

TEST_F(ExpandedView, ToggleSwitchesAroundTheThresholdAndRestartsTimer3) {
    struct ToggleCase {
        int from;
        int to;
        std::string_view caption;
    };
    const ToggleCase cases[] = {
        {5350, 6645, kHide}, {5999, 6645, kHide}, {6000, 5350, kShow},
        {6645, 5350, kShow}, {7200, 5350, kShow}, {9100, 5350, kShow},
    };
    for (const ToggleCase& c : cases) {
        // The view on its own, so that heights between the window's own can be tried.
        test::FakeTimers timers;
        test::FakeSerial serial;
        test::FakeWindow window;
        LinePacer pacer(timers.LinePacer, timers.clock);
        PortPanel portPanel(window, serial, timers.Timer3, timers.Reconnect, pacer);
        pj::ExpandedView view(window, portPanel);
        view.keyDown(kKeyK, kCtrlMask);
        view.setHeight(c.from);
        view.toggleDataDisplay();
        EXPECT_EQ(window.height(), c.to) << c.from;
        EXPECT_EQ(window.caption(ControlId::Command34), c.caption) << c.from;
        EXPECT_EQ(view.closeUnlocked(), 0);
        EXPECT_TRUE(timers.Timer3.enabled());
    }

    // The port panel opened 4 s before the toggle stays a further 5 s from the click.
    rig.form.Click(ControlId::Command33);
    rig.clock.advance(4000);
    rig.form.Click(ControlId::Command34);
    rig.clock.advance(4999);
    EXPECT_TRUE(rig.window.visible(ControlId::Frame8));
    rig.clock.advance(1);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_FALSE(rig.Timer3.enabled());
}

class ManualEntry : public ExpandedView {};

TEST_F(ManualEntry, SendsTheTextExactlyAsTypedWithTheAddress) {
    const std::string_view typed[] = {"CR9", "cr0", "CR0 ", "", " C 0 0", "CF IMAGE REAL"};
    rig.form.Click(ControlId::Option5);
    for (const std::string_view text : typed) {
        rig.type(text);
        ASSERT_TRUE(rig.form.Click(ControlId::Command95));
        EXPECT_EQ(rig.serial.writes.back(), "A001" + std::string(text) + "\r");
        EXPECT_EQ(rig.form.state().ManualCommand, text);
        EXPECT_EQ(rig.window.text(ControlId::Text1), text);  // kept for another send
    }
    EXPECT_EQ(rig.Timer2.interval(), 2000);
    EXPECT_EQ(rig.Timer4.interval(), 2500);
}

TEST_F(ManualEntry, TypedQueriesAreDecodedOnlyWhenExact) {
    struct QueryCase {
        std::string_view typed;
        std::string_view reply;
        std::string_view readout;
    };
    const QueryCase cases[] = {
        {"CR9", "PJ 1\r", " P J   1 CR "},
        {"CR PRESSURE", "512\r", "650 hPa"},
        {"CRA", "03\r", " Video & Audio mute ON"},
        {"cr0", "00\r", ""},
        {"CR0 ", "00\r", ""},
    };
    for (const QueryCase& c : cases) {
        test::Rig r;
        r.load();
        r.form.Click(ControlId::Option5);
        r.type(c.typed);
        r.form.Click(ControlId::Command95);
        r.serial.arrive(c.reply);
        EXPECT_EQ(r.label(ControlId::Label22), c.readout) << c.typed;
    }
}

TEST_F(ManualEntry, TextThatCannotGoOutWholeAsOneCommandIsRefusedAndNothingChanges) {
    struct Refused {
        std::string typed;
        std::string_view why;
    };
    const Refused cases[] = {
        {"C\xC3\xA9"
         "0",
         "ASCII characters only"},  // "Cé0"
        // A pasted line break would end the addressed command early and send the rest to
        // every projector.
        {"CR0\r\nC01", "line break"},
        {"CR0\nC01", "line break"},
        {"C01\r", "line break"},
        {std::string(40000, 'C'), "longer than 1024 characters"},
    };
    rig.form.Click(ControlId::Option6);
    rig.type("CR0");
    rig.form.Click(ControlId::Command95);
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 12));
        rig.window.boxes.clear();
        rig.type(c.typed);
        rig.form.Click(ControlId::Command95);
        EXPECT_EQ(rig.serial.writes.size(), 1u);
        ASSERT_EQ(rig.window.boxes.size(), 1u);
        EXPECT_NE(rig.window.boxes[0].text.find(c.why), std::string::npos);
        EXPECT_EQ(rig.window.boxes[0].title, "VELDAKON");
        EXPECT_EQ(rig.form.state().ManualCommand, "CR0");
        EXPECT_EQ(rig.form.state().LastCommand, "A002CR0\r");
        EXPECT_EQ(rig.window.text(ControlId::Text1), c.typed);  // kept, to be mended
    }
    // The longest command that may go goes whole.
    rig.type(std::string(kManualMostLength, 'C'));
    rig.form.Click(ControlId::Command95);
    EXPECT_EQ(rig.serial.writes.back(), "A002" + std::string(kManualMostLength, 'C') + "\r");
}

TEST_F(ManualEntry, ClsEmptiesTheBoxOnlyAndThenSendSendsABareFrame) {
    rig.form.Click(ControlId::Option4);
    rig.type("C00");
    rig.form.Click(ControlId::Command95);
    rig.serial.arrive("\x06");
    rig.form.Click(ControlId::Command96);
    EXPECT_EQ(rig.window.text(ControlId::Text1), "");
    EXPECT_EQ(rig.form.state().ManualCommand, "C00");
    EXPECT_EQ(rig.label(ControlId::Label12), " ACK ");
    rig.form.Click(ControlId::Command95);
    EXPECT_EQ(rig.serial.writes.back(), "AFFF\r");
}

}  // namespace
}  // namespace pj
