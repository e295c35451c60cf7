// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>

#include "core/clock.h"

namespace pj {

class SteadyClock final : public Clock {
  public:
    SteadyClock() { timer_.start(); }
    std::int64_t nowUs() const override { return timer_.nsecsElapsed() / 1000; }

  private:
    QElapsedTimer timer_;
};

}  // namespace pj
