// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace pj {

// A monotonic clock, for pacing frames by the time they take on the wire.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t nowUs() const = 0;
};

}  // namespace pj
