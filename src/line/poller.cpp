// SPDX-License-Identifier: Apache-2.0
#include "line/poller.h"

#include <algorithm>
#include <memory>

#include "protocol/frame.h"

namespace pj::line {

std::optional<std::string> projectorFrame(int address, std::string_view command) {
    const AddressOption* option = address == kEveryAddress ? nullptr : findAddress(address);
    if (option == nullptr) {
        return std::nullopt;
    }
    return std::string(option->prefix) + std::string(command);
}

Poller::Poller(LineAccess& line, Timer& roundTimer, Timer& retryTimer, std::vector<int> addresses,
               Timing timing, Publish publish)
    : line_(line),
      roundTimer_(roundTimer),
      retryTimer_(retryTimer),
      addresses_(std::move(addresses)),
      timing_(timing),
      publish_(std::move(publish)) {
    roundTimer_.setEnabled(false);
    roundTimer_.setInterval(std::max(1, timing_.pollSeconds) * 1000);
    roundTimer_.setOnTimer([this] { startRound(); });
    retryTimer_.setEnabled(false);
    retryTimer_.setInterval(std::max(1, timing_.retryMs));
    retryTimer_.setOnTimer([this] {
        retryTimer_.setEnabled(false);
        step();
    });
}

Poller::~Poller() {
    *alive_ = false;
    roundTimer_.setEnabled(false);
    roundTimer_.setOnTimer({});
    retryTimer_.setEnabled(false);
    retryTimer_.setOnTimer({});
}

void Poller::start() {
    roundTimer_.setEnabled(true);
    startRound();
}

void Poller::pollSoon(int address) {
    if (std::find(addresses_.begin(), addresses_.end(), address) == addresses_.end()) {
        return;
    }
    enqueue(address, true);
    forced_.insert(address);
    step();
}

const ProjectorState* Poller::published(int address) const {
    const auto found = published_.find(address);
    return found == published_.end() ? nullptr : &found->second;
}

void Poller::startRound() {
    for (const int address : addresses_) {
        enqueue(address, false);
    }
    step();
}

void Poller::enqueue(int address, bool ahead) {
    const auto queued = std::find(pending_.begin(), pending_.end(), address);
    if (queued != pending_.end()) {
        if (!ahead) {
            return;
        }
        pending_.erase(queued);
    } else if (!ahead && current_ == address) {
        // Being polled now: the round has it.
        return;
    }
    if (ahead) {
        pending_.push_front(address);
    } else {
        pending_.push_back(address);
    }
}

void Poller::step() {
    if (inFlight_ || retryTimer_.enabled()) {
        return;
    }
    if (!current_) {
        if (pending_.empty()) {
            return;
        }
        current_ = pending_.front();
        pending_.pop_front();
        nextQuery_ = 0;
        working_ = known_[*current_];
        anyAnswer_ = false;
    }
    if (!line_.lineUp()) {
        // Nothing can answer: the projector is silent this round, as far as anyone can tell.
        finishProjector();
        step();
        return;
    }
    if (!line_.quiet()) {
        retryTimer_.setEnabled(true);
        return;
    }
    const StatusQuery& query = *polledQueries()[nextQuery_];
    std::optional<std::string> frame = projectorFrame(*current_, query.command);
    if (!frame) {
        // Not an address a frame can carry: nothing to ask.
        current_.reset();
        step();
        return;
    }
    inFlight_ = true;
    line_.transact(std::move(*frame), timing_.windowMs,
                   [this, alive = alive_](const std::optional<std::string>& answer) {
                       if (*alive) {
                           answered(answer);
                       }
                   });
}

void Poller::answered(const std::optional<std::string>& answer) {
    inFlight_ = false;
    if (answer) {
        anyAnswer_ = true;
        applyAnswer(*polledQueries()[nextQuery_], *answer, working_);
    }
    if (++nextQuery_ == polledQueries().size()) {
        finishProjector();
    }
    step();
}

void Poller::finishProjector() {
    const int address = *current_;
    current_.reset();
    working_.responding = anyAnswer_;
    known_[address] = working_;
    const auto last = published_.find(address);
    const bool forced = forced_.erase(address) > 0;
    if (last != published_.end() && last->second == working_ && !forced) {
        return;
    }
    published_[address] = working_;
    if (publish_) {
        publish_(address, working_);
    }
}

}  // namespace pj::line
