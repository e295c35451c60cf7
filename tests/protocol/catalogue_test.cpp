// SPDX-License-Identifier: Apache-2.0
#include "protocol/catalogue.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "support/fakes.h"

namespace pj {
namespace {

// Every row, under a few addresses: the click sends exactly its frame and leaves its
// family's periods and cursor-pad mode behind.
TEST(Catalogue, EveryButtonSendsItsFrameAndLeavesItsFamilysSettings) {
    for (const ControlId option : {ControlId::Option3, ControlId::Option4, ControlId::Option6}) {
        for (const CatalogueEntry& entry : kCatalogue) {
            test::Rig rig;
            rig.load();
            rig.form.Click(option);
            const std::string prefix = rig.form.state().AddressPrefix;
            SCOPED_TRACE(std::string(controlName(entry.control)) + " under '" + prefix + "'");

            ASSERT_TRUE(rig.form.Click(entry.control));
            ASSERT_EQ(rig.serial.writes.size(), 1u);
            EXPECT_EQ(rig.serial.writes[0], prefix + std::string(entry.command) + "\r");
            EXPECT_EQ(rig.form.state().LastCommand, rig.serial.writes[0]);

            const bool adjust = entry.family == SendFamily::AdjustMode;
            const std::map<SendFamily, std::pair<int, int>> windows{
                {SendFamily::Plain, {500, 1000}},
                {SendFamily::AdjustMode, {500, 1000}},
                {SendFamily::PictureMode, {2000, 2500}},
                {SendFamily::InputSelect, {5000, 5500}}};
            EXPECT_EQ(rig.Timer2.interval(), windows.at(entry.family).first);
            EXPECT_EQ(rig.Timer4.interval(), windows.at(entry.family).second);
            EXPECT_EQ(rig.form.state().ArrowPadMode, adjust ? 1 : 0);
            EXPECT_FALSE(rig.Timer1.enabled());
        }
    }
}

TEST(Catalogue, FamiliesHaveTheirSizesAndControlsAreUnique) {
    std::map<SendFamily, int> sizes;
    std::set<ControlId> controls;
    for (const CatalogueEntry& entry : kCatalogue) {
        ++sizes[entry.family];
        EXPECT_TRUE(controls.insert(entry.control).second) << entry.control;
    }
    EXPECT_EQ(sizes[SendFamily::Plain], 23);
    EXPECT_EQ(sizes[SendFamily::PictureMode], 7);
    EXPECT_EQ(sizes[SendFamily::InputSelect], 18);
    EXPECT_EQ(sizes[SendFamily::AdjustMode], 2);
}

// Rows where the caption and the command part ways.
TEST(Catalogue, CaptionsThatDifferFromTheirCommands) {
    const std::map<ControlId, std::pair<std::string_view, std::string_view>> rows{
        {ControlId::Command42, {"CUSTAM4", "CF IMAGE CUSTOM4"}},
        {ControlId::Command31, {"Nopmal", "C0F"}},
        {ControlId::Command71, {"DVI", "CF INPUT2 DIGITAL"}},
        {ControlId::Command80, {"RGB", "CF INPUT3 ANALOG"}},
        {ControlId::Command68, {"S-VIDEO", "CF INPUT1 S-VIDEO"}},
        {ControlId::Command23, {"ON", "C1C"}},
    };
    for (const auto& [control, row] : rows) {
        const CatalogueEntry* entry = findCatalogueEntry(control);
        ASSERT_NE(entry, nullptr) << control;
        EXPECT_EQ(entry->caption, row.first);
        EXPECT_EQ(entry->command, row.second);
    }
}

TEST(Catalogue, IntervalsStickUntilAnotherFamilySetsThem) {
    test::Rig rig;
    rig.load();
    rig.form.Click(ControlId::Command64);  // input select
    rig.form.Click(ControlId::Command18);  // "POWER" "OFF", plain
    rig.clock.advance(4999);
    EXPECT_EQ(rig.label(ControlId::Label12), "");
    rig.clock.advance(1);
    EXPECT_EQ(rig.label(ControlId::Label12), " X X X X");
    rig.clock.advance(500);
    EXPECT_EQ(rig.label(ControlId::Label11), "");

    rig.form.Click(ControlId::Command10);  // picture mode
    rig.form.Click(ControlId::Command18);
    EXPECT_EQ(rig.Timer2.interval(), 2000);
    EXPECT_EQ(rig.Timer4.interval(), 2500);
}

TEST(Catalogue, MenuOnSetsTheRepeatPeriodAndPadModeAndMenuOffLeavesThem) {
    test::Rig rig;
    rig.load();
    rig.Timer1.setInterval(105);
    rig.form.Click(ControlId::Command24);
    EXPECT_EQ(rig.Timer1.interval(), 105);
    EXPECT_EQ(rig.form.state().ArrowPadMode, 0);
    rig.form.Click(ControlId::Command23);
    EXPECT_EQ(rig.Timer1.interval(), 200);
    EXPECT_EQ(rig.form.state().ArrowPadMode, 1);
}

TEST(Catalogue, ComShowsThePortPanelForFiveSecondsAndSendsNothing) {
    test::Rig rig;
    rig.load();
    rig.form.Click(ControlId::Command17);
    const std::string sentEcho = rig.label(ControlId::Label11);
    rig.clock.advance(100);

    ASSERT_TRUE(rig.form.Click(ControlId::Command33));
    EXPECT_TRUE(rig.window.visible(ControlId::Frame8));
    EXPECT_EQ(rig.serial.writes.size(), 1u);
    EXPECT_EQ(rig.form.state().LastCommand, "C00\r");
    EXPECT_EQ(rig.label(ControlId::Label11), sentEcho);
    EXPECT_EQ(rig.Timer2.interval(), 500);

    rig.clock.advance(4999);
    EXPECT_TRUE(rig.window.visible(ControlId::Frame8));
    rig.clock.advance(1);
    EXPECT_FALSE(rig.window.visible(ControlId::Frame8));
    EXPECT_FALSE(rig.Timer3.enabled());
}

TEST(Catalogue, TwoQuickClicksSendTwoFramesAndTheSecondOwnsTheReply) {
    test::Rig rig;
    rig.load();
    rig.form.Click(ControlId::Command44);  // "STATUS" query
    rig.form.Click(ControlId::Command17);
    rig.serial.arrive("00\r");
    EXPECT_EQ(rig.serial.wire(), "CR0\rC00\r");
    EXPECT_EQ(rig.label(ControlId::Label12), " 0 0 CR ");
    EXPECT_EQ(rig.label(ControlId::Label22), "");  // the query's reply is no longer decoded
}

}  // namespace
}  // namespace pj
