// SPDX-License-Identifier: Apache-2.0
#include "protocol/echo.h"

#include <gtest/gtest.h>

#include <string>

namespace pj {
namespace {

struct EchoCase {
    std::string bytes;
    std::string echo;
};

class EchoTest : public ::testing::TestWithParam<EchoCase> {};

TEST_P(EchoTest, RendersEachCharacterByTheFirstRuleThatHolds) {
    EXPECT_EQ(echoText(GetParam().bytes), GetParam().echo);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EchoTest,
    ::testing::Values(EchoCase{"", " "}, EchoCase{"A001C00\r", " A 0 0 1 C 0 0 CR "},
                      EchoCase{"00\r", " 0 0 CR "}, EchoCase{"\x06", " ACK "},
                      EchoCase{"\r\n", " CR LF "}, EchoCase{"AFFFC00\r", " A F F F C 0 0 CR "},
                      // Code 20 is the one piece without a trailing space.
                      EchoCase{std::string("a\x14"
                                           "b"),
                               " a &b "},
                      // Other control codes, and everything above "z", show as "? ".
                      EchoCase{std::string("\x00\x01\x1f", 3), " ? ? ? "},
                      EchoCase{"{|}~\x7f", " ? ? ? ? ? "}, EchoCase{"\x80\xff", " ? ? "},
                      // A question mark from the projector looks the same as noise.
                      EchoCase{"?", " ? "},
                      // The ends of the printable range.
                      EchoCase{" z", "   z "},
                      EchoCase{"CF IMAGE REAL", " C F   I M A G E   R E A L "}));

TEST(Echo, KeepsTheTwoDigitLayoutTheStatusKeysRelyOn) {
    const std::string echo = echoText("80\r");
    EXPECT_EQ(echo.substr(0, 4), " 8 0");
}

}  // namespace
}  // namespace pj
