// SPDX-License-Identifier: Apache-2.0
#include "ctl/command_file.h"

#include <gtest/gtest.h>

#include <string>

namespace pj::ctl {
namespace {

TEST(CommandFile, OneCommandALineWithWaitsCommentsAndBlankLinesPassedOver) {
    std::string error;
    const auto steps = parseCommandFile(
        "# nightly\n\nC01\r\n  wait 1500  \n\tCR PRESSURE\nwait\t20\nwaiting\nA002CR0", error);
    ASSERT_TRUE(steps) << error;
    const std::vector<std::tuple<int, Step::Kind, std::string, int>> want{
        {3, Step::Kind::Send, "C01", 0},         {4, Step::Kind::Wait, "", 1500},
        {5, Step::Kind::Send, "CR PRESSURE", 0}, {6, Step::Kind::Wait, "", 20},
        {7, Step::Kind::Send, "waiting", 0},     {8, Step::Kind::Send, "A002CR0", 0},
    };
    ASSERT_EQ(steps->size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const Step& s = (*steps)[i];
        EXPECT_EQ(std::tie(s.line, s.kind, s.text, s.waitMs), want[i]) << i;
        EXPECT_EQ(s.command, nullptr);
    }

    // A command's name stands for its command.
    const auto named = parseCommandFile("picture.cinema\n", error);
    ASSERT_TRUE(named) << error;
    ASSERT_NE((*named)[0].command, nullptr);
    EXPECT_EQ((*named)[0].command->text, "CF IMAGE CINEMA");
}

TEST(CommandFile, AMistakeAnywhereNamesItsLineAndNothingIsTaken) {
    const struct {
        std::string content;
        std::string says;
    } cases[] = {
        {"C00\nwait\n", "line 2: wait takes 1 to 3600000 milliseconds"},
        {"wait 0", "line 1: wait takes"},
        {"wait 10ms", "line 1: wait takes"},
        {"wait 3600001", "line 1: wait takes"},
        {"C00\n\nC\xC3\xA9", "line 3: a command may contain printable ASCII characters only"},
        {"C0\x01", "line 1: a command may contain printable"},
        {std::string(1025, 'C'), "line 1: a command may be at most 1024 characters"},
        {"# only a comment\n\n", "no command in the file"},
        {"power.on\nshutter.clos",
         "line 2: unknown command name \"shutter.clos\": did you mean shutter.close?"},
        {"", "no command in the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::string error;
        EXPECT_FALSE(parseCommandFile(c.content, error));
        EXPECT_EQ(error.rfind(c.says, 0), 0u) << error;
    }
}

}  // namespace
}  // namespace pj::ctl
