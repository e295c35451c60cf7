// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/clock.h"

namespace pj::posix {

// The steady clock, counted from when this clock was made.
class MonotonicClock final : public Clock {
  public:
    MonotonicClock();
    std::int64_t nowUs() const override;

  private:
    std::int64_t startUs_;
};

}  // namespace pj::posix
