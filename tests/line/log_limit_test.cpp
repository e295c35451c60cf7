// SPDX-License-Identifier: Apache-2.0
#include "line/log_limit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fakes.h"

namespace pj::line {
namespace {

struct LimiterRig {
    test::VirtualClock clock;
    std::vector<std::string> lines;
    LogLimiter limiter{clock, [this](std::string_view l) { lines.emplace_back(l); }, 10000, 3};
};

TEST(LogLimiter, AFloodOfOneCauseIsCountedAndSaidOncePerWindow) {
    LimiterRig rig;
    // 1000 refusals over 5 s, each of another client: one cause.
    for (int i = 0; i < 1000; ++i) {
        rig.limiter.log("tcp client " + std::to_string(i) + ": not sent: too many frames waiting");
        rig.clock.advance(5);
    }
    // Another cause is not held back by the flood.
    rig.limiter.log("the line went away: unplugged");
    ASSERT_EQ(rig.lines.size(), 4u);
    EXPECT_EQ(rig.lines[2], "tcp client 2: not sent: too many frames waiting");
    EXPECT_EQ(rig.lines[3], "the line went away: unplugged");

    // The window passes: the count is said on the tick, once.
    rig.clock.advance(5000);
    rig.limiter.tick();
    rig.limiter.tick();
    ASSERT_EQ(rig.lines.size(), 5u);
    EXPECT_EQ(rig.lines[4],
              "tcp client 999: not sent: too many frames waiting ... 997 more in the last 10 s");

    // A new window lets a few through again.
    rig.limiter.log("tcp client 1000: not sent: too many frames waiting");
    EXPECT_EQ(rig.lines.size(), 6u);
}

TEST(LogLimiter, NumbersMakeNoNewCauseAndTheCausesAreBounded) {
    EXPECT_EQ(LogLimiter::causeOf("tcp client 12 (127.0.0.1:40112) connected"),
              "tcp client # (#.#.#.#:#) connected");
    LimiterRig rig;
    // Ten thousand different texts: the limiter keeps a bounded count of causes, and the
    // lines past it still pass only a few at a time.
    for (int i = 0; i < 10000; ++i) {
        rig.limiter.log("mqtt: refused " + std::string(1 + i % 300, 'x'));
    }
    EXPECT_LE(rig.lines.size(), LogLimiter::kCauses * 3 + 3);
}

}  // namespace
}  // namespace pj::line
