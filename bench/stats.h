// SPDX-License-Identifier: Apache-2.0
#pragma once

// Moments on the steady clock, the time a character takes on the line, and the order
// statistics pjtiming gives its figures in.

#include <chrono>
#include <vector>

namespace pj::bench {

using Steady = std::chrono::steady_clock;
using TimePoint = Steady::time_point;

inline double msBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// One character on the line at 8N1: ten bits.
inline double characterMs(int baud) {
    return 10'000.0 / baud;
}

// The nearest-rank percentile `p` (0 to 100); not a number when there are no values.
double percentile(std::vector<double> values, double p);
// Not a number when there are no values.
double median(const std::vector<double>& values);

}  // namespace pj::bench
