// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line/line_access.h"
#include "support/fakes.h"

namespace pj::line::test {

// The line as the poller and the bridge see it, on the virtual clock: every frame is kept,
// answered `delayMs` later with its entry in `replies` (nothing when it has none).
class FakeLine final : public LineAccess {
  public:
    explicit FakeLine(pj::test::VirtualClock& clock) : clock_(clock) {}

    void transact(std::string frame, int windowMs, Answer answer) override {
        frames.push_back(frame);
        windows.push_back(windowMs);
        std::optional<std::string> reply;
        if (const auto found = replies.find(frame); found != replies.end()) {
            reply = found->second;
        }
        clock_.at(clock_.now() + delayMs, [answer, reply] { answer(reply); });
    }
    bool quiet() const override { return quietNow; }
    bool lineUp() const override { return up; }

    std::vector<std::string> frames;
    std::vector<int> windows;
    std::map<std::string, std::string> replies;
    bool quietNow = true;
    bool up = true;
    int delayMs = 40;

  private:
    pj::test::VirtualClock& clock_;
};

}  // namespace pj::line::test
