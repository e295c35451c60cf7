// SPDX-License-Identifier: Apache-2.0
#include "posix/monotonic_clock.h"

#include <chrono>

namespace pj::posix {

namespace {
std::int64_t steadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

MonotonicClock::MonotonicClock() : startUs_(steadyUs()) {}

std::int64_t MonotonicClock::nowUs() const {
    return steadyUs() - startUs_;
}

}  // namespace pj::posix
