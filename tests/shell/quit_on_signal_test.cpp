// SPDX-License-Identifier: Apache-2.0
// The panel's signal watch: the ending signals become one call on the event loop, and a
// signal ignored at start (as nohup leaves SIGHUP) stays ignored, so the panel outlives a
// closed terminal as nohup means it to.
#include <gtest/gtest.h>

#include <csignal>

#include "event_loop.h"
#include "shell/quit_on_signal.h"

namespace pj {
namespace {

using Handler = void (*)(int);

Handler handlerOf(int signal) {
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

TEST(QuitOnSignal, TakesTheEndingSignalsAndLeavesOneIgnoredAtStartIgnored) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction hangUpBefore {};
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &hangUpBefore), 0);
    const Handler terminateBefore = handlerOf(SIGTERM);

    int quits = 0;
    {
        const QuitOnSignal watch([&quits] { ++quits; });
        EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
        EXPECT_NE(handlerOf(SIGTERM), terminateBefore);
        ASSERT_EQ(::raise(SIGTERM), 0);
        EXPECT_TRUE(test::runUntil([&quits] { return quits > 0; }, 20000));
        EXPECT_EQ(quits, 1);
    }
    EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
    EXPECT_EQ(handlerOf(SIGTERM), terminateBefore);
    ::sigaction(SIGHUP, &hangUpBefore, nullptr);
}

}  // namespace
}  // namespace pj
