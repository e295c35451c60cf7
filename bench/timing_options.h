// SPDX-License-Identifier: Apache-2.0
#pragma once

// What a pjtiming run measures and for how long, as its command line sets it.

#include <string>

namespace pj::bench {

// The timers behind the panel's repeat and its line pacer on the line: the program's own
// (QtTimer), or the sleep-the-rest timer (bench/sleep_rest_timer.h), to measure what it would
// change.
enum class RepeatTimer { Qt, SleepRest };

struct Options {
    int runs = 3;
    int presses = 1000;
    int holdMs = 10'000;
    int saturationMs = 5'000;
    int floorMs = 5'000;
    int processRuns = 3;
    int idleMs = 10'000;
    int settleMs = 1'000;
    bool line = true;
    bool process = true;
    RepeatTimer repeatTimer = RepeatTimer::Qt;  // --repeat-timer qt|sleep
    std::string panel;
    std::string bare;
};

}  // namespace pj::bench
