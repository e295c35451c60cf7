// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pj {
namespace {

class PortSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.load();
        rig.window.setVisible(ControlId::Frame8, true);
    }
    test::Rig rig;
};

TEST_F(PortSelection, SwitchingToAWorkingPortReopensItThereAndHidesThePanel) {
    EXPECT_TRUE(rig.form.Click(ControlId::Option2));
    EXPECT_EQ(rig.serial.commPort(), 2);
    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.serial.closes, 1);
    EXPECT_EQ(rig.serial.opens, 1);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_TRUE(rig.window.boxes.empty());
}

TEST_F(PortSelection, FailureShowsOneWarningFallsBackToTheOtherNumberAndKeepsThePanel) {
    rig.serial.openFailure[2] = "Permission denied";
    rig.window.selectOption(ControlId::Option2);
    rig.form.Click(ControlId::Option2);
    ASSERT_EQ(rig.window.boxes.size(), 1u);
    EXPECT_EQ(rig.window.boxes[0].text, "Permission denied");
    EXPECT_EQ(rig.window.boxes[0].title, "VELDAKON");
    EXPECT_EQ(rig.serial.commPort(), 1);
    EXPECT_FALSE(rig.serial.portOpen());
    EXPECT_TRUE(rig.window.visible(ControlId::Frame8));
    EXPECT_TRUE(rig.window.optionSelected(ControlId::Option2));
    EXPECT_EQ(rig.window.portNotice, "COM2 is not open");
}

TEST_F(PortSelection, ChoosingAgainAfterAFailureOpensThePortInsteadOfPretending) {
    rig.serial.openFailure[2] = "Permission denied";
    rig.form.Click(ControlId::Option2);
    rig.form.Click(ControlId::Option1);
    EXPECT_EQ(rig.window.boxes.size(), 1u);
    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.serial.commPort(), 1);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_EQ(rig.window.portNotice, "");

    // And the next command really goes out.
    rig.form.Hyouji("C00\r", kHyoujiSend);
    EXPECT_EQ(rig.serial.wire(), "C00\r");
}

TEST_F(PortSelection, SpeedChangeAppliesToTheOpenPortWithoutReopeningIt) {
    EXPECT_TRUE(rig.form.Click(ControlId::Option10));
    EXPECT_EQ(rig.form.state().LineSettings, "9600,N,8,1");
    EXPECT_EQ(rig.serial.settings, "9600,N,8,1");
    EXPECT_TRUE(rig.serial.portOpen());
    EXPECT_EQ(rig.serial.closes, 0);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));

    rig.form.Click(ControlId::Option9);
    EXPECT_EQ(rig.serial.settings, "19200,N,8,1");
}

TEST_F(PortSelection, PanelHidesItselfWhenTimer3Fires) {
    rig.Timer3.setEnabled(true);
    rig.clock.advance(4999);
    EXPECT_TRUE(rig.window.visible(ControlId::Frame8));
    rig.clock.advance(1);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_FALSE(rig.Timer3.enabled());
}

}  // namespace
}  // namespace pj
