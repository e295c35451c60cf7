// SPDX-License-Identifier: Apache-2.0
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace pj {
namespace {

struct AddressCase {
    ControlId option;
    std::string_view frame;  // the power-on command as it goes out
};

class AddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressTest, EveryFrameCarriesTheSelectedAddress) {
    test::Rig rig;
    rig.load();
    ASSERT_TRUE(rig.form.Click(GetParam().option));
    // The click itself sends nothing and touches neither the port nor the labels.
    EXPECT_TRUE(rig.serial.writes.empty());
    EXPECT_EQ(rig.label(ControlId::Label11), "");

    rig.form.send("C00");
    ASSERT_EQ(rig.serial.writes.size(), 1u);
    EXPECT_EQ(rig.serial.writes[0], GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(Options, AddressTest,
                         ::testing::Values(AddressCase{ControlId::Option3, "C00\r"},
                                           AddressCase{ControlId::Option4, "AFFFC00\r"},
                                           AddressCase{ControlId::Option5, "A001C00\r"},
                                           AddressCase{ControlId::Option6, "A002C00\r"},
                                           AddressCase{ControlId::Option7, "A003C00\r"},
                                           AddressCase{ControlId::Option8, "A004C00\r"}));

TEST(Frame, JoinsPrefixAndTextWithNoSeparator) {
    EXPECT_EQ(buildFrame("A003", "CF IMAGE REAL"), "A003CF IMAGE REAL\r");
    EXPECT_EQ(buildFrame("", ""), "\r");
}

TEST(Frame, ChangingTheAddressAppliesFromTheNextFrameAndReclickingChangesNothing) {
    test::Rig rig;
    rig.load();
    rig.form.Click(ControlId::Option5);
    rig.form.Click(ControlId::Option5);
    EXPECT_EQ(rig.form.state().AddressPrefix, "A001");
    rig.form.Click(ControlId::Option3);
    EXPECT_EQ(rig.form.state().AddressPrefix, "");
}

}  // namespace
}  // namespace pj
