// SPDX-License-Identifier: Apache-2.0
#pragma once

// Several addressed projectors sharing one serial line, each with its own state and settings
// (address, reply delay, ...). Every frame reaches every projector, and each decides by the
// frame's address whether to act and answer (see projector.h):
//   "A00N"      acted on and answered by projector N only;
//   "AFFF"      acted on by all, answered by none;
//   no address  acted on and answered by all: with more than one projector their answers
//               collide on the line.
// What goes out is the projectors' answers in the order they fell due; pieces that fall due
// at the same moment go out together, their bytes interleaved one by one, as on a shared line
// where two transmitters talk at once. One projector's own bytes never change order.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/far_end.h"
#include "sim/projector.h"

namespace pj::sim {

class Bus final : public FarEnd {
  public:
    // One projector with the default settings.
    Bus();
    // At least one projector: an empty list gets one with the default settings.
    explicit Bus(std::vector<Projector> projectors);
    // One projector for each address, in this order, all with `common`'s other settings.
    static Bus withAddresses(const std::vector<int>& addresses, const ProjectorSettings& common);

    std::size_t size() const { return projectors_.size(); }
    // Projector `index` in the bus's order (0 is the first); throws std::out_of_range.
    Projector& projector(std::size_t index) { return projectors_.at(index); }
    const Projector& projector(std::size_t index) const { return projectors_.at(index); }

    void feed(std::string_view bytes, Millis now) override;
    void advance(Millis now) override;
    std::string pollOutput(Millis now) override;
    std::optional<Millis> nextDue() const override;

    // Every projector hears every frame: the first one keeps the line's record.
    const std::vector<ReceivedFrame>& frames() const override { return projectors_[0].frames(); }
    std::size_t frameCount() const override { return projectors_[0].frameCount(); }
    void setFrameObserver(std::function<void(const ReceivedFrame&)> observer) override {
        projectors_[0].setFrameObserver(std::move(observer));
    }

  private:
    std::vector<Projector> projectors_;
};

}  // namespace pj::sim
