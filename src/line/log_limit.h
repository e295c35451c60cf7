// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "core/clock.h"

namespace pj::line {

// Keeps a flood of one kind of event from flooding the log. Lines of one cause (the line with
// its numbers left out, so that "tcp client 7 ..." and "tcp client 8 ..." are one cause) pass,
// at most `burst` in each window from the first of them; the rest are counted, and when the
// window has passed one line says how many there were: "<the last of them> ... 812 more in
// the last 10 s". The count is said on the next line of any cause or the next tick(), so a
// caller ticks now and then. Time comes from `clock` alone.
class LogLimiter {
  public:
    using Sink = std::function<void(std::string_view line)>;

    static constexpr int kWindowMs = 10000;
    static constexpr std::size_t kBurst = 5;
    // Causes followed at once; lines of further causes are counted under one more.
    static constexpr std::size_t kCauses = 256;

    LogLimiter(const Clock& clock, Sink sink, int windowMs = kWindowMs, std::size_t burst = kBurst);

    void log(std::string_view line);
    // Says the counts of windows that have passed.
    void tick();

    // The cause a line counts under.
    static std::string causeOf(std::string_view line);

  private:
    struct Window {
        std::int64_t startUs = 0;
        std::size_t passed = 0;
        std::size_t held = 0;
        std::string last;  // the last line held back
    };

    // Ends the windows that have passed, saying what each held back.
    void close(std::int64_t nowUs);

    const Clock& clock_;
    Sink sink_;
    std::int64_t windowUs_;
    std::size_t burst_;
    std::map<std::string, Window> windows_;
};

}  // namespace pj::line
