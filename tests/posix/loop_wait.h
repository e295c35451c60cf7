// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

#include "posix/event_loop.h"
#include "posix/loop_timer.h"

namespace pj::posix::test {

// Turns the loop until `done` holds, looking again at each quit() and every few
// milliseconds; false if that took longer than `giveUpMs`.
inline bool runUntil(EventLoop& loop, const std::function<bool()>& done, int giveUpMs = 20000) {
    bool late = false;
    LoopTimer guard(loop);
    guard.setInterval(giveUpMs);
    guard.setOnTimer([&] {
        late = true;
        loop.quit();
    });
    guard.setEnabled(true);
    LoopTimer look(loop);
    look.setInterval(10);
    look.setOnTimer([&] { loop.quit(); });
    look.setEnabled(true);
    while (!done() && !late) {
        loop.run();
    }
    return !late;
}

}  // namespace pj::posix::test
