// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pj {
namespace {

TEST(Startup, LeavesTheWindowAsDesignedWithPortOneOpenAndNothingSent) {
    test::Rig rig;
    rig.form.Load();
    const WindowState& s = rig.form.state();

    EXPECT_EQ(s.AddressPrefix, "");
    EXPECT_EQ(s.LineSettings, "19200,N,8,1");
    EXPECT_EQ(s.RepeatCode, 0);
    EXPECT_EQ(s.AwaitingReply, 0);
    EXPECT_EQ(s.ArrowPadMode, 0);
    EXPECT_EQ(s.CloseUnlocked, 0);
    EXPECT_EQ(s.RxBuffer, "");
    EXPECT_EQ(s.LastCommand, "");

    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.serial.commPort(), 1);
    EXPECT_EQ(rig.serial.settings, "19200,N,8,1");
    EXPECT_TRUE(rig.serial.writes.empty());

    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_FALSE(rig.window.visible(ControlId::Command34));
    for (const ControlId option : {ControlId::Option1, ControlId::Option9, ControlId::Option3}) {
        EXPECT_TRUE(rig.window.optionSelected(option)) << option;
    }
    for (const ControlId label : {ControlId::Label11, ControlId::Label12, ControlId::Label22}) {
        EXPECT_EQ(rig.label(label), "") << label;
    }
    EXPECT_EQ(rig.window.height(), kHeightCompact);
    EXPECT_TRUE(rig.window.boxes.empty());
    EXPECT_EQ(rig.window.portNotice, "");

    for (const test::FakeTimer* timer : {&rig.Timer1, &rig.Timer2, &rig.Timer3, &rig.Timer4}) {
        EXPECT_FALSE(timer->enabled());
    }
    EXPECT_EQ(rig.Timer1.interval(), 200);
    EXPECT_EQ(rig.Timer2.interval(), 500);
    EXPECT_EQ(rig.Timer3.interval(), 5000);
    EXPECT_EQ(rig.Timer4.interval(), 1000);
}

struct ScreenCase {
    int screenWidth;
    int screenHeight;
    int left;
    int top;
};

class Centring : public ::testing::TestWithParam<ScreenCase> {};

// Centred at the designed size even when the screen is smaller (negative edges).
TEST_P(Centring, CentresTheDesignedWindow) {
    test::Rig rig;
    rig.window.screenWidthTwips = GetParam().screenWidth;
    rig.window.screenHeightTwips = GetParam().screenHeight;
    rig.form.Load();
    EXPECT_EQ(rig.window.left, GetParam().left);
    EXPECT_EQ(rig.window.top, GetParam().top);
}

INSTANTIATE_TEST_SUITE_P(Screens, Centring,
                         ::testing::Values(ScreenCase{15360, 11520, 2872, 1210},
                                           ScreenCase{28800, 16200, 9592, 3550},
                                           ScreenCase{9000, 6000, -307, -1550}));

TEST(Startup, PortOneThatCannotBeOpenedIsReportedOnceAndLeftClosed) {
    test::Rig rig;
    rig.serial.openFailure[1] = "No such file or directory";
    rig.form.Load();
    ASSERT_EQ(rig.window.boxes.size(), 1u);
    EXPECT_EQ(rig.window.boxes[0].text, "No such file or directory");
    EXPECT_EQ(rig.window.boxes[0].title, "VELDAKON");
    EXPECT_FALSE(rig.serial.portOpen());
    EXPECT_EQ(rig.window.portNotice, "COM1 is not open");
}

}  // namespace
}  // namespace pj
