// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the line server talks to on the far end of the line: projectors on a bus, or a replay
// of a recorded one. A pure model with no I/O and no clock of its own; every call that
// depends on time is handed the current time.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/projector.h"

namespace pj::sim {

class FarEnd {
  public:
    virtual ~FarEnd() = default;

    // Takes in bytes from the line and handles every frame they complete.
    virtual void feed(std::string_view bytes, Millis now) = 0;
    // Lets time-driven changes whose time has come take place. feed() does this itself.
    virtual void advance(Millis now) = 0;
    // Removes and returns, in the order they go out, every byte due by `now`.
    virtual std::string pollOutput(Millis now) = 0;
    virtual std::optional<Millis> nextDue() const = 0;

    // The frames the line carried (as far as they are kept), and how many there were.
    virtual const std::vector<ReceivedFrame>& frames() const = 0;
    virtual std::size_t frameCount() const = 0;
    // Called once for every complete frame the line carried, before it is handled.
    virtual void setFrameObserver(std::function<void(const ReceivedFrame&)> observer) = 0;
};

}  // namespace pj::sim
